#pragma once

// Private to TavrinKit: a file that appears under its name only in full.

#include <filesystem>

namespace tavrin {

/// A hidden temporary file beside the final name, created exclusively; commit() moves it into
/// place with one rename, and destruction without a commit deletes it. So a failed, cancelled or
/// crashed write leaves nothing under the final name: readers see the old file or the whole new
/// one. Failures throw std::system_error with the system's error code (std::errc::file_exists
/// when commit() finds the name taken and must not replace).
class AtomicFile {
public:
    /// What commit() does when a file of the final name exists by then.
    enum class Existing { keep, replace };

    /// Removes stale temporaries of ours from the folder of `finalPath`, then creates a new hidden
    /// temporary there, named after `finalPath`, this machine, the process id and a random suffix.
    explicit AtomicFile(const std::filesystem::path& finalPath, Existing existing = Existing::keep);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    /// The open descriptor of the temporary, for reading and writing.
    int descriptor() const { return m_fd; }
    const std::filesystem::path& temporaryPath() const { return m_temporary; }

    /// Flushes the temporary to disk, closes it and gives it its final name; a file of that name
    /// is kept (the commit fails) or replaced as chosen at construction.
    void commit();
    /// commit() under `name`, in the same folder; after failing with file_exists it can be tried
    /// again under another name.
    void commit(const std::filesystem::path& name);

    /// Deletes temporaries of ours in `folder` left by a process of this machine that is gone, and
    /// those of other machines that nobody has touched for an hour (their process ids cannot be
    /// checked here; the hour spares live writers elsewhere sharing the folder).
    static void removeStaleTemporaries(const std::filesystem::path& folder);

private:
    std::filesystem::path m_final;
    std::filesystem::path m_temporary;
    Existing m_existing;
    int m_fd = -1;
    bool m_committed = false;
};

} // namespace tavrin
