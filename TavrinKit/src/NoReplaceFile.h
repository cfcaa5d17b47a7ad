#pragma once

// Private to TavrinKit: a new file that appears under its name only in full and never replaces
// anything.

#include <filesystem>

namespace tavrin {

/// A hidden temporary file beside the final name, created exclusively; commit() moves it into
/// place with a rename that refuses to replace, and destruction without a commit deletes it. So a
/// failed, cancelled or crashed write leaves nothing under the final name, and a name taken
/// meanwhile by another program is never replaced. Failures throw std::system_error with the
/// system's error code (std::errc::file_exists when commit() finds the name taken).
class NoReplaceFile {
public:
    /// Removes stale temporaries of ours from the folder of `finalPath`, then creates a new hidden
    /// temporary there, named after `finalPath`, this machine, the process id and a random suffix.
    explicit NoReplaceFile(const std::filesystem::path& finalPath);
    ~NoReplaceFile();
    NoReplaceFile(const NoReplaceFile&) = delete;
    NoReplaceFile& operator=(const NoReplaceFile&) = delete;

    /// The open descriptor of the temporary, for reading and writing.
    int descriptor() const { return m_fd; }
    const std::filesystem::path& temporaryPath() const { return m_temporary; }

    /// Flushes the temporary to disk, closes it and gives it its final name, unless that name
    /// exists by now.
    void commit();

    /// Deletes temporaries of ours in `folder` left by a process of this machine that is gone, and
    /// those of other machines that nobody has touched for an hour (their process ids cannot be
    /// checked here; the hour spares live writers elsewhere sharing the folder).
    static void removeStaleTemporaries(const std::filesystem::path& folder);

private:
    std::filesystem::path m_final;
    std::filesystem::path m_temporary;
    int m_fd = -1;
    bool m_committed = false;
};

} // namespace tavrin
