#include "device/data_log.h"

#include <ctime>

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
    for (float v : values) t += "\t" + FormatGeneral(v);
    t += newData ? "\tTrue" : "\tFalse";
    t += error ? "\tTrue" : "\tFalse";
    t += "\t" + std::to_string(status) + "\r\n";
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

bool DataLogFile::Open(const std::filesystem::path& file) {
    Close();
    f_ = std::fopen(file.c_str(), "ab");
    return f_ != nullptr;
}

bool DataLogFile::Write(const std::string& text) {
    if (!f_) return false;
    const bool whole = std::fwrite(text.data(), 1, text.size(), f_) == text.size();
    return std::fflush(f_) == 0 && whole;
}

void DataLogFile::Close() {
    if (f_) std::fclose(f_);
    f_ = nullptr;
}

}  // namespace qvin
