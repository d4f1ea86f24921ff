#pragma once
// Protocol trace: one line per event that crosses the hardware boundary, real or
// simulated. Enabled with QVIN_TRACE=FILE, or QVIN_TRACE=- for standard error.
//   port-prepare ADDR ok | port-prepare ADDR KIND DEVICE REASON...   (DEVICE "-" when none, spaces as %20)
//   port-out ADDR VALUE   port-in ADDR VALUE
//   usb-open NAME ok|none [CAUSE...]   usb-device BYTES...   usb-string INDEX SIZE BYTES...   usb-pipes BYTES...
//   usb-out PIPE BYTES...   usb-in PIPE BYTES...   (any usb- request may end in "failed")
//   spidev-open DEVICE ok | spidev-open DEVICE failed REASON...
//   spidev-out DELAY WORDS...   spidev-in WORDS... | spidev-in failed REASON...   (DELAY in microseconds)
//   took NS   (after a bulk transfer or an SPI exchange: the nanoseconds it took)
//   spi MOSI MISO   (the simulated chip's frames)
// With a clock set, each line starts with @NS: nanoseconds since the session began.
// Upper-case hex without prefix: addresses 3 digits, bytes 2, words 4; INDEX and SIZE
// decimal, like NS; usb-pipes leaves out its trailing zero bytes. Everything but the spi lines is
// what a replay answers from.

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <span>
#include <optional>
#include <string>
#include <string_view>

#include "core/clock.h"

namespace qvin {

// A name (a device's path) as one word of a line: its spaces and '%' as %20 and %25.
std::string TraceWord(std::string_view text);
std::string FromTraceWord(std::string_view word);

class Trace {
public:
    Trace() = default;  // disabled
    ~Trace();
    Trace(const Trace&) = delete;
    Trace& operator=(const Trace&) = delete;

    // "-" writes to standard error; any other name is a file, truncated on open.
    // Returns false (and stays disabled) when the file cannot be opened.
    bool Open(const std::string& target);
    // Opens the target named by QVIN_TRACE, if set; false (said on standard error) when
    // it was asked for and cannot be written.
    bool OpenFromEnvironment();
    // Closes the trace's own file; why it is not whole (a full disk), or nothing.
    std::string Close();
    // Sends lines to a caller's stream (tests); the stream stays the caller's.
    void Attach(std::FILE* stream);

    // Whether any line goes anywhere: the trace or a recording.
    bool on() const { return on_.load(std::memory_order_relaxed); }
    // Every line from now on starts with "@NS ", the nanoseconds since this call on
    // `clock`, so that a recording can be drawn as it happened (a VCD export).
    void SetClock(const Clock* clock);

    // A recording asked for from the windows: the same lines into `file` as well, each with
    // its time since this call on `clock`, beside whatever the trace writes. Why it could
    // not start (a link, no permission), or nothing.
    std::string StartRecording(const std::string& file, const Clock& clock);
    // Closes the recording; why its file is not whole (a full disk), or nothing.
    std::string StopRecording();
    bool recording() const;
    // How long the recording has run (on its clock) and how large its file is so far.
    struct RecordingSize {
        std::int64_t elapsedNs = 0;
        std::int64_t bytes = 0;
    };
    std::optional<RecordingSize> RecordingProgress() const;

    void PortOut(std::uint16_t addr, std::uint8_t value);
    void PortIn(std::uint16_t addr, std::uint8_t value);
    void Spi(std::uint16_t mosi, std::uint16_t miso);
    void Usb(bool out, int pipe, std::span<const std::uint8_t> bytes);
    // `head` followed by the bytes in hex, each after a space.
    void Bytes(std::string_view head, std::span<const std::uint8_t> bytes);
    void Line(std::string_view text);

private:
    void Write(std::FILE* f, const Clock* clock, std::int64_t startNs, std::string_view text);
    void Update() { on_.store(out_ != nullptr || recording_ != nullptr, std::memory_order_relaxed); }

    const Clock* clock_ = nullptr;
    std::int64_t startNs_ = 0;
    mutable std::mutex mutex_;  // the emulated devices answer on worker threads
    std::FILE* out_ = nullptr;
    bool owned_ = false;
    std::string target_;
    int outError_ = 0;
    std::FILE* recording_ = nullptr;
    std::string recordingFile_;
    const Clock* recordingClock_ = nullptr;
    std::int64_t recordingStartNs_ = 0;
    std::atomic<bool> on_{false};  // read without the lock on every port access
};

}  // namespace qvin
