#pragma once
// A board that answers from a recording made with QVIN_TRACE: each request the program
// makes is checked against the next exchange in the file and answered as it was answered
// then. The file is read as the program goes, so a recording of hours costs no memory.
// When the program asks something the recording does not hold next, the replay stops:
// onStop hears why (naming the line), then ReplayStopped is thrown to the caller.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>
#include <string>
#include <string_view>

#include "board/board.h"
#include "core/clock.h"
#include "core/excerpt.h"
#include "core/settings.h"

namespace qvin {

struct ReplayStopped {
    std::string message;
};

// One line of a recording, read strictly: its time ("@NS" first, when the session had a
// clock) and its words, which are a kind the trace writes with fields in their forms.
// Blank lines, notes ('#') and the chip's "spi" frames are lines too: `skip` says so (an
// "spi" line keeps its words, for tools that want the frames).
struct RecordingLine {
    std::optional<std::int64_t> timeNs;
    std::vector<std::string_view> words;  // into the text given
    bool skip = false;
};
// Nothing, and `why`, when the line is none a recording holds.
std::optional<RecordingLine> ParseRecordingLine(std::string_view text, std::string& why);

// The interface the recording was made on, from its first request: the parallel port (at
// `port`, or 0 when the recording does not say), the USB adapter, or none known.
struct RecordedInterface {
    qvin::Interface type = qvin::Interface::None;
    std::string device;  // the SPI controller's device, for a recording made on one
    std::uint16_t port = 0;
};

class ReplayBoard;
// Points the settings at the recorded interface, where the recording says which.
void UseRecordedInterface(const ReplayBoard& board, Settings& settings);

class ReplayBoard final : public Board {
public:
    // nullptr, with `error` saying why, when the recording cannot be read. The time each
    // transfer took then passes on `clock` (none passes without one).
    static std::unique_ptr<ReplayBoard> Open(const std::filesystem::path& file, Clock* clock, std::string& error);
    void SetClock(Clock* clock);
    ~ReplayBoard() override;

    std::string_view name() const override { return "replay"; }
    PortIo& port() override;
    UsbDriver& usb() override;
    SpiBus& spi() override;
    ReplayBoard* replay() override { return this; }

    RecordedInterface Interface() const { return interface_; }
    // The recording's file, as it was named.
    const std::filesystem::path& file() const;
    bool stopped() const;

    // Hears the message before ReplayStopped is thrown; a windowed program shows it and
    // ends there.
    std::function<void(const std::string&)> onStop;

    class Recording;

private:
    explicit ReplayBoard(std::unique_ptr<Recording> recording);
    std::unique_ptr<Recording> recording_;
    std::unique_ptr<PortIo> port_;
    std::unique_ptr<UsbDriver> usb_;
    RecordedInterface interface_;
    std::unique_ptr<SpiBus> spi_;
};

}  // namespace qvin
