#pragma once

// Private to TavrinKit: a file descriptor that is closed however its scope is left.

#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

namespace tavrin {

/// The descriptor of `path` opened with `flags` (and close-on-exec); negative, with errno set,
/// when it could not be opened.
class OpenFile {
public:
    OpenFile(const std::filesystem::path& path, int flags)
        : m_fd(::open(path.c_str(), flags | O_CLOEXEC)) {}
    ~OpenFile() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;

    int descriptor() const { return m_fd; }

private:
    int m_fd;
};

} // namespace tavrin
