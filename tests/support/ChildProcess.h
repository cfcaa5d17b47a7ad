#pragma once

// Work that must not touch the test process: resource limits, a changed identity, file systems
// mounted for one test. It runs in a forked child and reports back as a string.

#include <filesystem>
#include <functional>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tavrin::test {

/// Everything up to the end of `fd`, which is then closed.
inline std::string readAll(int fd) {
    std::string all;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
        all.append(buffer, std::size_t(n));
    ::close(fd);
    return all;
}

/// What `body` returns when run in a forked child, so that the limits, identity and mounts it
/// sets end with it.
inline std::string inChild(const std::function<std::string()>& body) {
    int fds[2];
    if (::pipe(fds) != 0)
        return "no pipe";
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        const std::string out = body();
        const ssize_t n = ::write(fds[1], out.data(), out.size());
        ::_exit(n == ssize_t(out.size()) ? 0 : 1);
    }
    ::close(fds[1]);
    std::string out = readAll(fds[0]);
    ::waitpid(pid, nullptr, 0);
    return out;
}

/// What an inChild body returns when it cannot act as an ordinary user on a test folder, so that
/// the test can skip.
inline const std::string noUser = "no ordinary user can reach the test folder here";

/// Inside an inChild body: gives up root, so that file permissions apply to the child as to any
/// user. True when the child is not root (any more) and can still reach `folder`.
inline bool unprivileged(const std::filesystem::path& folder) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
        return false;
    return ::access(folder.c_str(), X_OK) == 0;
}

/// What an inChild body returns when it may not mount file systems here (not root, or in a
/// container without the right), so that the test can skip.
inline const std::string noMounts = "mounting is not allowed here";

/// Inside an inChild body: gives the child mounts of its own, so that what it mounts is seen by
/// no other process and disappears when it exits, even after a crash. False when not allowed.
inline bool ownMounts() {
    return ::geteuid() == 0 && ::unshare(CLONE_NEWNS) == 0 &&
           ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

/// Inside an inChild body after ownMounts(): a RAM file system on `folder` with tmpfs `options`
/// such as "size=64k" (its capacity) or "nr_inodes=1" (no room for a new file).
inline bool mountTmpfs(const std::filesystem::path& folder, const std::string& options) {
    return ::mount("tmpfs", folder.c_str(), "tmpfs", 0, options.c_str()) == 0;
}

} // namespace tavrin::test
