#include "core/file_safety.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <vector>

namespace qvin {

namespace fs = std::filesystem;

namespace {
std::string Why(const fs::path& file, int error) { return file.string() + ": " + std::strerror(error); }

// `file` flushed to the disk; why not, naming `named`, or nothing.
std::string OnDisk(const fs::path& file, const fs::path& named) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    std::string why;
    if (fd < 0 || ::fsync(fd) != 0) why = Why(named, errno);
    if (fd >= 0) ::close(fd);
    return why;
}
}  // namespace

std::string LinkRefusal(const fs::path& file) {
    // Resolved a part at a time: a link anywhere on the way (a folder in /tmp that another
    // user made a link) leads the write as surely as a link in the last part.
    std::vector<fs::path> ahead;
    for (const fs::path& part : file.relative_path()) ahead.push_back(part);
    std::reverse(ahead.begin(), ahead.end());
    fs::path at = file.root_path();
    for (int hops = 0; !ahead.empty();) {
        const fs::path part = std::move(ahead.back());
        ahead.pop_back();
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            // What lies before is free of links, so going up is going up.
            if (at.empty() || at.filename() == "..") at /= part;
            else if (at != at.root_path()) at = at.parent_path();
            continue;
        }
        const fs::path next = at / part;
        struct stat st {};
        if (::lstat(next.c_str(), &st) != 0) return {};  // not there yet: nothing further to follow
        if (!S_ISLNK(st.st_mode)) {
            at = next;
            continue;
        }
        if (st.st_uid != ::geteuid() && st.st_uid != 0)
            return next.string() + " is a link that belongs to another user (uid " + std::to_string(st.st_uid) + "); it is not followed";
        if (++hops > 40) return Why(file, ELOOP);
        std::error_code ec;
        const fs::path to = fs::read_symlink(next, ec);
        if (ec) return Why(next, ec.value());
        if (to.is_absolute()) at = to.root_path();
        std::vector<fs::path> parts;
        for (const fs::path& p : to.relative_path()) parts.push_back(p);
        ahead.insert(ahead.end(), parts.rbegin(), parts.rend());
    }
    return {};
}

std::string NotRegularRefusal(const fs::path& file) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0) return {};  // not there yet (or unreadable: the write says why)
    if (S_ISREG(st.st_mode)) return {};
    return file.string() + (S_ISDIR(st.st_mode) ? " is a folder" : " is not a regular file (a pipe or a device)");
}

std::string WriteRefusal(const fs::path& file) {
    if (std::string why = LinkRefusal(file); !why.empty()) return why;
    return NotRegularRefusal(file);
}

bool SameFile(const fs::path& a, const fs::path& b) {
    struct stat sa {}, sb {};
    const bool hasA = ::stat(a.c_str(), &sa) == 0, hasB = ::stat(b.c_str(), &sb) == 0;
    if (hasA && hasB) return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    if (hasA != hasB) return false;
    // Neither there yet: one name, however written, is one file to come.
    std::error_code ea, eb;
    const fs::path ca = fs::weakly_canonical(fs::absolute(a, ea), ea), cb = fs::weakly_canonical(fs::absolute(b, eb), eb);
    return !ea && !eb && ca == cb;
}

std::string SameFileRefusal(const fs::path& output, const fs::path& input) {
    if (SameFile(output, input)) return output.string() + " is the input " + input.string() + "; it would be overwritten";
    return {};
}

namespace {

// The temporary files being written now, for a signal handler to remove: fixed slots, as a
// handler may not allocate.
struct Pending {
    std::atomic<bool> claimed{false};
    std::atomic<bool> armed{false};  // the path is whole
    char path[4096];
};
Pending gPending[8];

class PendingTemporary {
public:
    explicit PendingTemporary(const std::string& path) {
        if (path.size() >= sizeof gPending[0].path) return;
        for (Pending& p : gPending) {
            bool expected = false;
            if (p.claimed.compare_exchange_strong(expected, true)) {
                std::memcpy(p.path, path.c_str(), path.size() + 1);
                p.armed.store(true);
                slot_ = &p;
                return;
            }
        }
    }
    ~PendingTemporary() {
        if (!slot_) return;
        slot_->armed.store(false);
        slot_->claimed.store(false);
    }
    PendingTemporary(const PendingTemporary&) = delete;
    PendingTemporary& operator=(const PendingTemporary&) = delete;

private:
    Pending* slot_ = nullptr;
};

extern "C" void RemoveTemporariesAndDie(int number) {
    for (Pending& p : gPending)
        if (p.armed.load()) ::unlink(p.path);
    std::signal(number, SIG_DFL);
    std::raise(number);
}

}  // namespace

void RemoveTemporariesOnSignal() {
    struct sigaction sa {};
    sa.sa_handler = RemoveTemporariesAndDie;
    for (const int number : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction old {};
        // A signal the caller ignores (nohup) stays ignored.
        if (::sigaction(number, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        ::sigaction(number, &sa, nullptr);
    }
}

std::string ReplaceFile(const fs::path& file, const std::function<std::string(const fs::path&)>& write, KeepPartial* keep,
                        WhenFolderLocked inPlace) {
    if (std::string why = WriteRefusal(file); !why.empty()) return why;
    std::error_code ec;
    fs::path target = file;
    if (fs::is_symlink(fs::symlink_status(file, ec))) {
        target = fs::weakly_canonical(file, ec);
        if (ec) return Why(file, ec.value());
    }
    // The file keeps its permissions; a new one gets the usual ones for this user.
    mode_t mode = 0666;
    struct stat st {};
    const bool exists = ::stat(target.c_str(), &st) == 0;
    if (exists) {
        mode = st.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode &= ~mask;
    }
    fs::path dir = target.parent_path();
    if (dir.empty()) dir = ".";
    std::string temp = (dir / (std::string(1, '.').append(target.filename().string()).append(".XXXXXX"))).string();
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        const int error = errno;
        if (inPlace == WhenFolderLocked::RewriteInPlace && exists && (error == EACCES || error == EPERM || error == EROFS)) {
            const std::string why = write(target);
            return why.empty() ? OnDisk(target, target) : file.string() + ": " + why;
        }
        return Why(target, error);
    }
    const PendingTemporary pending(temp);
    const bool moded = ::fchmod(fd, mode) == 0;
    ::close(fd);
    std::string why = moded ? write(temp) : Why(target, errno);
    if (moded && !why.empty()) why = file.string() + ": " + why;
    if (why.empty()) {
        // On disk before it replaces the file, so that a crash leaves the old or the new.
        why = OnDisk(temp, target);
    }
    if (why.empty() && ::rename(temp.c_str(), target.c_str()) != 0) why = Why(target, errno);
    if (!why.empty() && keep && keep->wanted) {
        // Never over a file: an existing one stays as it was.
        const fs::path partial = target.string() + ".partial";
        if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) keep->where = file;
        else if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, partial.c_str(), RENAME_NOREPLACE) == 0) keep->where = partial;
        else keep->where = temp;
        return why;
    }
    if (!why.empty()) ::unlink(temp.c_str());
    return why;
}

std::string WriteWholeFile(const fs::path& file, const std::string& contents, WhenFolderLocked inPlace) {
    return ReplaceFile(file, [&contents](const fs::path& temp) -> std::string {
        const int fd = ::open(temp.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        if (fd < 0) return std::strerror(errno);
        std::size_t done = 0;
        while (done < contents.size()) {
            const ssize_t n = ::write(fd, contents.data() + done, contents.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                const int error = n < 0 ? errno : ENOSPC;
                ::close(fd);
                return std::strerror(error);
            }
            done += static_cast<std::size_t>(n);
        }
        return ::close(fd) == 0 ? std::string() : std::strerror(errno);
    }, nullptr, inPlace);
}

}  // namespace qvin
