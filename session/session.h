#pragma once
// A bench session without any toolkit: a board from the board table (simulated, hardware
// through a parallel port or a USB adapter, or a replay), connected as the main window
// connects, and the register map's reads, writes and conversions by name or index, the
// part's information, the user register table, the bench's SPI words and a paced pass of
// the outputs. qvin-cli and the Python module are thin layers over it.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "board/board.h"
#include "core/clock.h"
#include "core/exit_status.h"
#include "core/messages.h"
#include "device/outputs.h"
#include "device/data_log.h"
#include "device/program.h"
#include "session/bench.h"
#include "session/error.h"

namespace qvin::session {

// Which interface to use; none: the settings file's (a replay: the recorded one).
struct InterfaceChoice {
    std::optional<Interface> interface;
    std::optional<std::uint16_t> port;  // the parallel port's base address
    std::optional<int> unit;            // which adapter (Ezusb-N); the first present when not given
    std::string device;                 // the SPI controller's device ("/dev/spidev0.0")
};

struct Options {
    std::string board = "hardware";  // "sim", "hardware" or "replay:FILE"
    InterfaceChoice interface;
    std::string settingsFile = "Qvin27319.cfg";
    float calibrationMs = 300.0f;  // final calibration trial; pauses never end early anyway
    SimSettings sim;  // the simulated board's settings given instead of QVIN_SIM_*
};

// One register as read: the word off the wire, the decoded count, the scaled value and
// the flags where the register has them.
struct Reading {
    std::int16_t index = 0;
    std::string name;
    std::uint16_t raw = 0;
    std::int32_t count = 0;
    float value = 0;
    std::optional<bool> newData, error;
};

struct RegisterRow {
    int index;
    std::string name;  // "-" for the unnamed trailing rows
    int address, bytes;
    bool readable, writable, isSigned;
    float scale, offset;
    std::string unit;
};

struct PartInfo {
    std::string name;
    float revision;
    int day, month, year;
    int flashCycles;
    bool reverseRotation;
};

struct AdapterRow {
    std::string device, kind, descriptor1, descriptor2;
    float revision;
    float speed;
};

// The adapters the last search of `p` found answering; throws Error saying why there is
// none (each adapter that could not be had, with its cause).
std::vector<AdapterRow> AdaptersFound(const Program& p);

// The five outputs and the status, as one pass of the read loop takes them.
struct Pass {
    std::array<float, 5> values{};  // Supply_Out, Aux_ADC, Temp_Out, Incl_Out, Incl_180_Out
    bool newData = false, alarm = false;
    std::int32_t status = 0;
};

// The outputs by the names the main window gives them ("SUPPLY_OUT" ... "INCL_180").
using OutputName = qvin::Output;
inline constexpr const std::array<OutputName, 5>& kOutputs = kPartOutputs;
// "INCL_360 (dgr)": how the programs head an output's column.
std::string OutputColumn(const OutputName& o);

class Session {
public:
    // Makes the board and the program (the settings file read, the register map built);
    // touches no hardware yet. Error kBadInput for a bad board or QVIN_SIM_* value,
    // kFileError for a recording that cannot be read. `messages` hears the adapter's and
    // the port's messages ("Error Writing SPI").
    Session(Clock& clock, const Options& options, MessageService& messages);
    ~Session();

    Program& program() { return *bench_->program; }
    Board& board() { return *bench_->board; }
    const Clock& clock() const { return bench_->clock; }

    // Prepares the chosen interface once, as the main window does at start; again when a
    // USB adapter was lost. Error kNoInterface when it cannot be used.
    void Connect();

    // Why `file` may not be written by a command: it is the recording being replayed or the
    // trace's file (QVIN_TRACE). Nothing when it may.
    std::string OutputRefusal(const std::string& file) const;
    // Ends the trace; why its file is not whole (a full disk), or nothing.
    std::string CloseTrace();
    // The trace was asked for (QVIN_TRACE) and could not be written at all; said on
    // standard error when it was found.
    bool traceFailed() const { return bench_->traceFailed(); }

    // A register by name (in any case, as the register map or the main window name it)
    // or by index 1 to 65 ("13", or "#13" as Label names an unnamed one). Error kBadInput
    // otherwise.
    std::int16_t RegisterIndex(const std::string& text) const;
    // `index` when a register has it, else error kBadInput naming it as `shown`.
    static std::int16_t RegisterAt(long long index, const std::string& shown);
    // The register's name, or "#N" for an unnamed one.
    std::string Label(std::int16_t index) const;

    Reading Read(std::int16_t index);
    void Write(std::int16_t index, std::int32_t value);
    std::string UserRegisterTable();
    PartInfo Info();
    std::vector<RegisterRow> Registers() const;
    // The adapters present, as the selection window lists them. Error kNoInterface when
    // there is none.
    std::vector<AdapterRow> Adapters();
    // The FTDI adapters with MPSSE present (none is no error); error kNoInterface when USB
    // cannot be searched.
    std::vector<AdapterRow> FtdiAdapters();

    // The bench window's operations on the USB adapter.
    void SpiSetUp(std::optional<std::uint8_t> delayUs, std::optional<std::uint8_t> staticBits);
    std::pair<int, std::uint8_t> SpiReadSetUp();  // delay in microseconds, static bits
    std::vector<std::uint16_t> SpiTransfer(const std::vector<std::int32_t>& words, int channel, bool negative);

    // Several registers in one exchange (N + 1 frames), each decoded as Read decodes it.
    std::vector<Reading> ReadMany(const std::vector<std::int16_t>& indexes);
    // The five outputs and the status, in one exchange.
    Pass ReadPass();
    // The outputs kOutputs[which[i]] and the status in one exchange (or, with `burst`
    // false, one single read each, as the windows read).
    struct OutputsRead {
        std::vector<float> values;  // in the order asked
        bool firstNew = false;      // the first output's new-data bit
        bool anyNew = false;        // any output's
        bool alarm = false;         // any output's error bit
        std::int32_t status = 0;
        std::int64_t beforeNs = 0;  // the clock just before the exchange
        std::int64_t takenNs = 0;   // by when the part had taken the first output's request
    };
    OutputsRead ReadOutputs(const std::vector<std::size_t>& which, bool burst = true);
    // What a data log's header shows of the part's set-up, read as the window reads it.
    DataLogHeader LogHeader(float loopDelayMs);
    void Pause(float ms);

private:
    class Relay;
    void CheckAdapter();

    Options options_;
    std::unique_ptr<Relay> relay_;
    // The trace opens with the first exchange: a command may name the file it reads.
    std::unique_ptr<Bench> bench_;
    Program* program_ = nullptr;  // the bench's
    bool connected_ = false;
};

}  // namespace qvin::session
