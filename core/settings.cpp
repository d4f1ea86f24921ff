#include "core/settings.h"

#include "core/file_safety.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "core/number_text.h"

namespace qvin {

namespace {

// Splits the file into fields the way the settings have always been read: a field ends
// at a comma or a line end, leading blanks are skipped, and a quoted field loses its quotes.
std::vector<std::string> ReadFields(std::string_view text) {
    std::vector<std::string> fields;
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n) {
        while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
        if (i >= n) break;
        if (text[i] == '\r' || text[i] == '\n') {  // an empty line holds no field
            ++i;
            continue;
        }
        std::string field;
        if (text[i] == '"') {
            ++i;
            while (i < n && text[i] != '"' && text[i] != '\r' && text[i] != '\n') field += text[i++];
            if (i < n && text[i] == '"') ++i;
            while (i < n && text[i] != ',' && text[i] != '\r' && text[i] != '\n') ++i;
        } else {
            while (i < n && text[i] != ',' && text[i] != '\r' && text[i] != '\n') field += text[i++];
        }
        if (i < n && text[i] == ',') ++i;
        fields.push_back(std::move(field));
    }
    return fields;
}

// A whole decimal number between blanks that fits 16 bits; anything else is malformed
// (including a number too large for a double, which would otherwise read as infinity).
std::optional<std::int16_t> ParseValue(std::string_view text) {
    const NumberScan scan = ScanLeadingNumber(text);
    if (scan.length == 0 || !std::isfinite(scan.value)) return std::nullopt;
    for (std::size_t i = scan.length; i < text.size(); ++i)
        if (text[i] != ' ' && text[i] != '\t') return std::nullopt;
    const std::int64_t v = RoundHalfEven(scan.value);
    if (v < INT16_MIN || v > INT16_MAX) return std::nullopt;
    return static_cast<std::int16_t>(v);
}

std::string Line(const char* label, std::int16_t v) {
    std::string s = label;
    if (v >= 0) s += ' ';
    s += std::to_string(v);
    s += " \r\n";
    return s;
}

std::string Why(const std::filesystem::path& where, int error) {
    return where.string() + ": " + std::strerror(error);
}

bool WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// The file's first kMaxSettingsBytes, or nothing when it is no regular file or cannot be
// read. A folder, a FIFO or a device in its place must neither stop nor stall the start.
std::optional<std::string> ReadSettingsText(const std::filesystem::path& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    std::optional<std::string> text;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        std::string buffer(kMaxSettingsBytes, '\0');
        std::size_t got = 0;
        while (got < buffer.size()) {
            const ssize_t n = ::read(fd, buffer.data() + got, buffer.size() - got);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            got += static_cast<std::size_t>(n);
        }
        buffer.resize(got);
        text = std::move(buffer);
    }
    ::close(fd);
    return text;
}

}  // namespace

void ReadConfig(Settings& s, const std::filesystem::path& file) {
    if (const std::optional<std::string> text = ReadSettingsText(file)) ParseSettings(s, *text);
}

void ParseSettings(Settings& s, std::string_view text) {
    for (const std::string& field : ReadFields(text)) {
        const std::size_t eq = field.find('=');
        // The key stops one character before "=" (the blank written there) and the value
        // starts one character after it; a field without a key is malformed.
        if (eq == std::string::npos || eq == 0) continue;
        const std::string key = field.substr(0, eq - 1);
        const std::string value = eq + 2 <= field.size() ? field.substr(eq + 2) : std::string();
        std::int16_t* target = nullptr;
        if (key == "Interface") target = &s.InterfaceType;
        else if (key == "Port Address") target = &s.PortAddress;
        else if (key == "Factory") target = &s.FactoryMode;
        if (!target) continue;
        if (const auto v = ParseValue(value)) *target = *v;
    }
}

std::string SaveConfig(const Settings& s, const std::filesystem::path& file) {
    const std::string text = Line("Interface = ", s.InterfaceType) +
                             Line("Port Address = ", s.PortAddress) +
                             Line("Factory = ", s.FactoryMode);
    namespace fs = std::filesystem;
    std::error_code ec;
    // Another user's link is not followed (a shared folder), one's own is.
    if (std::string why = LinkRefusal(file); !why.empty()) return why;
    // A link stays a link: the file it points to is replaced.
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
        if (!S_ISREG(st.st_mode)) return Why(target, S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
        mode = st.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode &= ~mask;
    }

    // A temporary of its own beside the file (two programs saving at once never share
    // one), on disk before it replaces the file, so a reader sees the old or the new.
    fs::path dir = target.parent_path();
    if (dir.empty()) dir = ".";
    std::string temp = (dir / (std::string(1, '.').append(target.filename().string()).append(".XXXXXX"))).string();
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        const int error = errno;
        // A folder this user cannot write, holding a file this user may write: rewrite the
        // file in place, which is the only way left to keep the settings.
        if (exists && (error == EACCES || error == EPERM || error == EROFS)) {
            const int in = ::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
            if (in < 0) return Why(target, errno);
            const bool ok = WriteAll(in, text) && ::fsync(in) == 0;
            const int writeError = errno;
            ::close(in);
            return ok ? std::string() : Why(target, writeError);
        }
        return Why(target, error);
    }
    const bool written = WriteAll(fd, text) && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
    const int writeError = errno;
    ::close(fd);
    if (!written) {
        ::unlink(temp.c_str());
        return Why(target, writeError);
    }
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        const int error = errno;
        ::unlink(temp.c_str());
        return Why(target, error);
    }
    return {};
}

}  // namespace qvin
