#include "device/data_log.h"

#include "core/file_safety.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/number_text.h"

namespace qvin {

std::string DataLogHeaderText(const DataLogHeader& h) {
    std::string t = "QVIN 27319 Datalog File\r\n";
    t += "Date\t" + h.date + "\r\n";
    t += "LoopDelay\t" + FormatGeneral(h.loopDelayMs) + " mS\r\n";
    t += "Smpl Prd\t" + h.samplePeriodText + " mS\r\n";
    t += "Avg Cnt\t" + h.avgCntText + "\r\n";
    if (h.selfTest) t += "Self Test On\r\n";
    if (h.reverseRotation) t += "Reverse Rotate On\r\n";
    t += "Index\tSupply\tADC In\tTemp\tInc360\tInc180\tNew  \tError\tStatus\r\n";
    t += "\tV\tV\tdgrC\tdgr\tdgr\r\n";
    return t;
}

std::string DataLogLine(std::int32_t index, const std::array<float, 5>& values, bool newData, bool error,
                        std::int32_t status) {
    std::string t = std::to_string(index);
    for (float v : values) t.append(1, '\t').append(FormatGeneral(v));
    t += newData ? "\tTrue" : "\tFalse";
    t += error ? "\tTrue" : "\tFalse";
    t.append(1, '\t').append(std::to_string(status)).append("\r\n");
    return t;
}

std::string DataLogDate(std::chrono::system_clock::time_point t) {
    const std::time_t tt = std::chrono::system_clock::to_time_t(t);
    std::tm tm{};
    localtime_r(&tt, &tm);
    char buf[40];
    std::snprintf(buf, sizeof buf, "%d/%d/%d %02d:%02d:%02d", tm.tm_mon + 1, tm.tm_mday, tm.tm_year + 1900, tm.tm_hour,
                  tm.tm_min, tm.tm_sec);
    return buf;
}

bool DataLogFile::Fail(int error) {
    error_ = std::strerror(error);
    return false;
}

bool DataLogFile::Open(const std::filesystem::path& file) {
    Close();
    error_.clear();
    // A file size limit is a failed write to report, not a reason for the program to die.
    static const bool noSizeSignal = std::signal(SIGXFSZ, SIG_IGN) != SIG_ERR;
    (void)noSizeSignal;
    // Another user's link, a pipe (which would hang the loop) or a device is no log.
    if (const std::string why = WriteRefusal(file); !why.empty()) {
        error_ = why;
        return false;
    }
    // Read access only to see how the file ends; a file this user may only write is
    // appended to without the check.
    fd_ = ::open(file.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd_ < 0 && errno == EACCES) fd_ = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd_ < 0) return Fail(errno);
    struct stat st {};
    if (fstat(fd_, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
        char last = '\n';
        if (::pread(fd_, &last, 1, st.st_size - 1) == 1 && last != '\n' && !Write("\r\n")) {
            const std::string why = error_;
            Close();
            error_ = why;
            return false;
        }
    }
    return true;
}

bool DataLogFile::Write(const std::string& text) {
    if (fd_ < 0) return Fail(EBADF);
    struct stat st {};
    const bool regular = fstat(fd_, &st) == 0 && S_ISREG(st.st_mode);
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd_, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : ENOSPC;
            // Take back what went out of this text: the next run must not glue onto it.
            const bool takenBack = !regular || done == 0 || ::ftruncate(fd_, st.st_size) == 0;
            return Fail(takenBack ? error : errno);
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

void DataLogFile::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

}  // namespace qvin
