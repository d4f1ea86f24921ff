#include "core/file_safety.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qvin {

namespace fs = std::filesystem;

namespace {
std::string Why(const fs::path& file, int error) { return file.string() + ": " + std::strerror(error); }
}  // namespace

std::string LinkRefusal(const fs::path& file) {
    fs::path at = file;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(at.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return {};
        if (st.st_uid != ::geteuid() && st.st_uid != 0)
            return at.string() + " is a link that belongs to another user (uid " + std::to_string(st.st_uid) +
                   "); it is not followed";
        std::error_code ec;
        const fs::path to = fs::read_symlink(at, ec);
        if (ec) return Why(at, ec.value());
        at = to.is_absolute() ? to : at.parent_path() / to;
    }
    return Why(file, ELOOP);
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

std::string SameFileRefusal(const fs::path& output, const fs::path& input) {
    struct stat out {}, in {};
    if (::stat(output.c_str(), &out) != 0 || ::stat(input.c_str(), &in) != 0) return {};
    if (out.st_dev == in.st_dev && out.st_ino == in.st_ino)
        return output.string() + " is the input " + input.string() + "; it would be overwritten";
    return {};
}

std::string ReplaceFile(const fs::path& file, const std::function<std::string(const fs::path&)>& write, KeepPartial* keep) {
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
    if (::stat(target.c_str(), &st) == 0) {
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
    if (fd < 0) return Why(target, errno);
    const bool moded = ::fchmod(fd, mode) == 0;
    ::close(fd);
    std::string why = moded ? write(temp) : Why(target, errno);
    if (moded && !why.empty()) why = file.string() + ": " + why;
    if (why.empty()) {
        // On disk before it replaces the file, so that a crash leaves the old or the new.
        const int sync = ::open(temp.c_str(), O_RDONLY | O_CLOEXEC);
        if (sync < 0 || ::fsync(sync) != 0) why = Why(target, errno);
        if (sync >= 0) ::close(sync);
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

std::string WriteWholeFile(const fs::path& file, const std::string& contents) {
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
    });
}

}  // namespace qvin
