#include "core/AtomicFile.h"

#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <system_error>
#include <unistd.h>

namespace tavrin {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view marker = ".tavrin-";
constexpr std::string_view ending = ".tmp";
constexpr std::size_t suffixLength = 6;
constexpr std::size_t hostLength = 8;
/// Keeps ".<name>.tavrin-<host>-<pid>-<suffix>.tmp" within the usual 255-byte limit of a file
/// name.
constexpr std::size_t maxNameBytes = 200;
constexpr auto staleAge = std::chrono::hours(1);

[[noreturn]] void throwErrno() {
    throw std::system_error(errno, std::generic_category());
}

/// The first bytes of a UTF-8 name, never cutting a character in two.
std::string shortened(std::string name) {
    if (name.size() <= maxNameBytes)
        return name;
    std::size_t cut = maxNameBytes;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
        --cut;
    name.resize(cut);
    return name;
}

std::string randomSuffix() {
    static constexpr char alphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937 generator{std::random_device{}()};
    std::uniform_int_distribution<std::size_t> pick(0, sizeof alphabet - 2);
    std::string suffix;
    for (std::size_t i = 0; i < suffixLength; ++i)
        suffix.push_back(alphabet[pick(generator)]);
    return suffix;
}

/// Eight hex digits naming this machine (FNV-1a of its host name), so that a temporary tells
/// whether its process id can be checked here or belongs to another machine sharing the folder.
const std::string& hostTag() {
    static const std::string tag = [] {
        char name[256] = {};
        ::gethostname(name, sizeof name - 1);
        std::uint32_t hash = 2166136261u;
        for (const char* c = name; *c != 0; ++c)
            hash = (hash ^ static_cast<unsigned char>(*c)) * 16777619u;
        char hex[hostLength + 1];
        std::snprintf(hex, sizeof hex, "%08x", static_cast<unsigned>(hash));
        return std::string(hex, hostLength);
    }();
    return tag;
}

std::string temporaryName(const fs::path& finalPath) {
    return "." + shortened(finalPath.filename().string()) + std::string(marker) + hostTag() + "-" +
           std::to_string(::getpid()) + "-" + randomSuffix() + std::string(ending);
}

/// Whose a temporary is: the machine's tag and the process id written into its name.
struct Writer {
    std::string_view host;
    pid_t pid;
};

/// The writer named in a temporary name of ours, or nothing when the name is not one of ours.
std::optional<Writer> writerOf(std::string_view name) {
    if (!name.starts_with('.') || !name.ends_with(ending))
        return std::nullopt;
    const std::size_t at = name.rfind(marker);
    if (at == std::string_view::npos || at == 0)
        return std::nullopt;
    std::string_view rest = name.substr(at + marker.size());
    rest.remove_suffix(ending.size());
    if (rest.size() < hostLength + 1 || rest[hostLength] != '-')
        return std::nullopt;
    const std::string_view host = rest.substr(0, hostLength);
    rest.remove_prefix(hostLength + 1);
    const std::size_t dash = rest.find('-');
    if (dash == std::string_view::npos || rest.size() - dash - 1 != suffixLength)
        return std::nullopt;
    pid_t pid = 0;
    const auto [end, error] = std::from_chars(rest.data(), rest.data() + dash, pid);
    if (error != std::errc() || end != rest.data() + dash || pid <= 0)
        return std::nullopt;
    return Writer{host, pid};
}

bool isRunning(pid_t pid) {
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

/// Gives `from` the name `to` unless `to` exists. Where the file system cannot rename that way,
/// a hard link does the same: it also fails on an existing name.
void moveWithoutReplacing(const fs::path& from, const fs::path& to) {
#ifdef RENAME_NOREPLACE
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        throwErrno();
#endif
    if (::link(from.c_str(), to.c_str()) != 0)
        throwErrno();
    ::unlink(from.c_str());
}

} // namespace

AtomicFile::AtomicFile(const fs::path& finalPath, Existing existing)
    : m_final(finalPath), m_existing(existing) {
    const fs::path folder = finalPath.parent_path();
    removeStaleTemporaries(folder);
    for (int attempt = 0; m_fd < 0; ++attempt) {
        m_temporary = folder / temporaryName(finalPath);
        m_fd = ::open(m_temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (m_fd < 0 && (errno != EEXIST || attempt == 100))
            throwErrno();
    }
}

AtomicFile::~AtomicFile() {
    if (m_fd >= 0)
        ::close(m_fd);
    if (!m_committed)
        ::unlink(m_temporary.c_str());
}

void AtomicFile::commit() {
    commit(m_final);
}

void AtomicFile::commit(const fs::path& name) {
    if (m_fd >= 0) {
        if (::fsync(m_fd) != 0)
            throwErrno();
        const int fd = m_fd;
        m_fd = -1;
        if (::close(fd) != 0)
            throwErrno();
    }
    if (m_existing == Existing::keep)
        moveWithoutReplacing(m_temporary, name);
    else if (std::rename(m_temporary.c_str(), name.c_str()) != 0)
        throwErrno();
    m_committed = true;
}

void AtomicFile::removeStaleTemporaries(const fs::path& folder) {
    const auto now = fs::file_time_type::clock::now();
    std::error_code ec;
    fs::directory_iterator entry(folder.empty() ? fs::path(".") : folder, ec);
    for (; !ec && entry != fs::directory_iterator(); entry.increment(ec)) {
        const std::string name = entry->path().filename().string();
        const auto writer = writerOf(name);
        if (!writer)
            continue;
        // A process id is only meaningful on its own machine: there a dead writer is enough;
        // another machine's temporary goes only when nobody has touched it for a while.
        const bool ours = writer->host == hostTag();
        if (ours && isRunning(writer->pid))
            continue;
        std::error_code ignored;
        const auto touched = fs::last_write_time(entry->path(), ignored);
        if (!ignored && (ours || now - touched > staleAge) && entry->is_regular_file(ignored))
            fs::remove(entry->path(), ignored);
    }
}

} // namespace tavrin
