#pragma once
// A recording as a Value Change Dump of the SPI bus, for logic-analyser tools (PulseView,
// sigrok-cli, GTKWave): chip select (active low, as on the chip's pin), clock, data to the
// chip and data from it, on a nanosecond time line.
//  - A parallel-port session: the lines as the program drove and read them, at their
//    recorded times, with the port's inversions undone.
//  - A USB adapter session: each transfer's words drawn from the adapter's set-up (delay
//    between words, chip-select channel) at a 1 MHz clock, starting at the transfer's
//    recorded time; the file's header says that this timing is reconstructed.
// Either way data changes as the clock rises and is taken as it falls (clock idle low), and
// chip select rises between words, where the chip takes a frame. Recordings without times
// (made before the trace carried them) are drawn at a microsecond a line. The dump begins a
// microsecond before the first change, at its time in the recording.

#include <cstddef>
#include <filesystem>
#include <iosfwd>
#include <string>

namespace qvin {

struct VcdSummary {
    std::string interface;  // "parallel port 378", "USB adapter, channel 1" or "SPI device /dev/spidev0.0"
    std::size_t frames = 0; // words drawn
    std::size_t failed = 0; // transfers the adapter refused (drawn as nothing), exchanges an SPI device failed
    std::string failedAre = "transfers refused by the adapter";
    bool timed = true;      // the recording held times
};

// Writes the recording's bus to `out`; why it could not, naming the line, or nothing.
// `writer` names the program that wrote it, in the file's $version.
std::string ExportVcd(const std::filesystem::path& recording, std::ostream& out, VcdSummary& summary,
                      const std::string& writer = "qvin-cli export-vcd");

}  // namespace qvin
