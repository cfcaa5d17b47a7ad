#include "ReportFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace tavrin::cli {

bool saveReport(const std::filesystem::path& path, std::string_view bytes, std::ostream& err) {
    const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : ".";
    std::string temporary = (folder / ("." + path.filename().string() + ".tavrin-XXXXXX")).string();
    const int fd = ::mkstemp(temporary.data());
    auto fail = [&](int error) {
        err << "Couldn’t save the report " << path.string() << " (" << std::strerror(error)
            << ").\n";
        return false;
    };
    if (fd < 0)
        return fail(errno);
    // mkstemp makes the file private; a report is an ordinary document, or keeps the mode of
    // the report it replaces.
    struct stat existing {};
    ::fchmod(fd, ::stat(path.c_str(), &existing) == 0 ? existing.st_mode & 07777 : 0644);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            ::unlink(temporary.c_str());
            return fail(error);
        }
        done += static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0 || std::rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        return fail(error);
    }
    return true;
}

} // namespace tavrin::cli
