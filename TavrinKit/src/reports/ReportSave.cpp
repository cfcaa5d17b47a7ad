#include "core/AtomicFile.h"
#include "tavrin/reports/Report.h"

#include <cerrno>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace tavrin::Report {

void save(const std::filesystem::path& path, std::string_view bytes) {
    AtomicFile file(path, AtomicFile::Existing::replace);
    // A report replacing an older one keeps that file's permissions.
    struct stat existing {};
    if (::stat(path.c_str(), &existing) == 0)
        ::fchmod(file.descriptor(), existing.st_mode & 07777);
    while (!bytes.empty()) {
        const ssize_t n = ::write(file.descriptor(), bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw std::system_error(errno, std::generic_category());
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    file.commit();
}

} // namespace tavrin::Report
