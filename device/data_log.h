#pragma once
// The data log: a text file with one header block per run and one tab-separated line per
// pass of the read loop, CR LF line ends. Every write goes to the file at once, so a crash
// or a kill loses nothing already written; a write that fails part-way is taken back, so
// the file always ends with a whole line.

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>

namespace qvin {

struct DataLogHeader {
    std::string date;              // DataLogDate of the run's start
    float loopDelayMs = 25.0f;
    std::string samplePeriodText;  // as the sample-period box shows it, e.g. "1.099"
    std::string avgCntText;        // as the averaging box shows it, e.g. "7"
    bool selfTest = false;
    bool reverseRotation = false;
};

// The header block, ending in a line break.
std::string DataLogHeaderText(const DataLogHeader& h);
// One pass: index, the five outputs, new data seen, error seen, the status word.
std::string DataLogLine(std::int32_t index, const std::array<float, 5>& values, bool newData, bool error,
                        std::int32_t status);
// Date and time as the log shows them: M/D/YYYY HH:MM:SS, local time.
std::string DataLogDate(std::chrono::system_clock::time_point t);

class DataLogFile {
public:
    DataLogFile() = default;
    ~DataLogFile() { Close(); }
    DataLogFile(const DataLogFile&) = delete;
    DataLogFile& operator=(const DataLogFile&) = delete;

    // Opens for appending, creating the file when missing. A file that does not end with a
    // line break (a run cut short by other means) gets one, so this run starts on a fresh line.
    bool Open(const std::filesystem::path& file);
    // Writes the whole text; false when it could not, and then nothing of it stays in the file.
    bool Write(const std::string& text);
    void Close();
    bool isOpen() const { return fd_ >= 0; }
    // Why the last Open or Write failed ("No space left on device"), empty when none did.
    const std::string& error() const { return error_; }

private:
    bool Fail(int error);
    int fd_ = -1;
    std::string error_;
};

}  // namespace qvin
