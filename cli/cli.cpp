#include "cli/cli.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <functional>
#include <cstdlib>
#include <istream>
#include <memory>
#include <optional>
#include <ostream>
#include <sstream>

#include "core/hex_text.h"
#include "core/messages.h"
#include "core/number_text.h"
#include "core/trace.h"
#include "device/data_log.h"
#include "device/lpt_transport.h"
#include "device/part_info.h"
#include "device/port_access.h"
#include "device/program.h"
#include "device/register_access.h"
#include "device/usb_adapter.h"
#include "device/usb_spi.h"
#include "device/user_register_table.h"
#include "board/board.h"
#include "board/replay_board.h"
#include "sim/sim_port.h"

namespace qvin::cli {

namespace {

constexpr const char* kUsage =
    "Usage: qvin-cli [--sim | --replay FILE] [--lpt ADDR | --usb [N]] COMMAND [ARGS...]\n"
    "\n"
    "Reads and writes the registers of a QVIN27319 on its evaluation board.\n"
    "\n"
    "Options:\n"
    "  --sim        use the simulated evaluation board (also QVIN_BOARD=sim)\n"
    "  --replay FILE  answer from a recording made with QVIN_TRACE=FILE instead of a board\n"
    "               (also QVIN_BOARD=replay:FILE); run the recorded commands again\n"
    "  --lpt ADDR   use the parallel port at hexadecimal address ADDR (378 or 0x378)\n"
    "  --usb [N]    use the USB adapter Ezusb-N (default: the first one found)\n"
    "               Without either, the interface comes from Qvin27319.cfg; the simulated\n"
    "               board uses its USB adapter, a replay the interface it recorded.\n"
    "\n"
    "Commands:\n"
    "  read REG...       read registers (a name such as Supply_Out or INCL_360, in any case,\n"
    "                    or an index 1 to 65)\n"
    "  write REG VALUE   write a 16-bit value (decimal, or hexadecimal with 0x; may be negative)\n"
    "  dump              list the user registers as the register window does\n"
    "  info              the part's name, revision, production date, flash cycles, rotation\n"
    "  adapters          the USB adapters present, as the selection window lists them\n"
    "  registers         all 65 registers: index, name, address, bytes, access, sign, scale, unit\n"
    "  spi [--channel C] [--polarity pos|neg] [--delay US] [--static-bits CS2,CS3,...|none]\n"
    "      [WORD...]     set the USB adapter up as the bench window does (chip-select\n"
    "                    channel 1 to 5, data input polarity, delay between words 1 to 255\n"
    "                    microseconds, static chip-select bits), send up to 16 hexadecimal\n"
    "                    words and print the words clocked back; without words, print the\n"
    "                    adapter's delay and static bits (--negative is --polarity neg)\n"
    "  watch [--count N] [--delay MS] [--log FILE]\n"
    "                    read the five outputs and the status every MS milliseconds (default\n"
    "                    25, at least 10), N times (default until interrupted); --log appends\n"
    "                    each pass to FILE in the data log layout\n"
    "  monitor [COUNT]   the five outputs COUNT times (default 10), 200 ms apart\n"
    "  plot LOG --png OUT [--size WxH]\n"
    "                    draw a data log as the strip chart does into a PNG picture (default\n"
    "                    size 1000x800), without a display; needs no board\n"
    "  -                 read commands from standard input, one per line, on one board\n"
    "\n"
    "Exit status: 0 done, 1 bad input, 2 no usable interface (or a replay asked for what its\n"
    "recording does not hold next), 3 a file cannot be read or written.\n"
    "Environment: QVIN_TRACE=FILE (or -) records every port access, USB transfer and SPI\n"
    "frame; QVIN_SIM_ANGLE=DEG holds the simulated inclination at DEG degrees;\n"
    "QVIN_SIM_FAULTS=RULE[,RULE...] makes the simulated board fail on purpose (for example\n"
    "unplug@200 or send-fail%1, seeded by QVIN_SIM_SEED; see the README).\n";

struct CliError {
    int code;
    std::string message;
};

// Adapter and port messages become lines on standard error.
class StderrMessages final : public MessageService {
public:
    explicit StderrMessages(std::ostream& err) : err_(err) {}
    bool muted = false;
    void Message(std::string_view text, std::string_view title) override {
        if (muted) return;
        std::string t(text);
        for (std::size_t at; (at = t.find("\r\n")) != std::string::npos;) t.replace(at, 2, "\n  ");
        err_ << "qvin-cli: " << (title.empty() ? "" : std::string(title) + ": ") << t << '\n';
    }

private:
    std::ostream& err_;
};

bool AllOf(const std::string& s, int (*pred)(int)) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [pred](char c) { return pred(static_cast<unsigned char>(c)) != 0; });
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string Trimmed(std::string s) {
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

// The output registers as the main window and monitor name them ("SUPPLY_OUT (V)"), by
// the part before the unit.
struct OutputName {
    const char* name;
    const char* unit;
    std::int16_t index;
};
constexpr OutputName kOutputNames[] = {{"SUPPLY_OUT", "V", reg::Supply_Out},   {"AUX_ADC", "V", reg::Aux_ADC},
                                       {"TEMP_OUT", "dgrC", reg::Temp_Out},    {"INCL_360", "dgr", reg::Incl_Out},
                                       {"INCL_180", "dgr", reg::Incl_180_Out}};

std::string OutputColumn(const OutputName& o) { return std::string(o.name) + " (" + o.unit + ")"; }

std::int16_t ParseRegister(const Program& p, const std::string& text) {
    if (AllOf(text, isdigit)) {
        const long index = text.size() <= 3 ? std::strtol(text.c_str(), nullptr, 10) : 0;
        if (RegisterMap::Valid(static_cast<int>(index))) return static_cast<std::int16_t>(index);
        throw CliError{kBadInput, "no register with index " + text + " (indices run from 1 to 65)"};
    }
    const std::string want = Lower(text);
    for (const OutputName& o : kOutputNames)
        if (want == Lower(o.name)) return o.index;
    if (want != "n/a") {
        for (int i = 1; i <= kRegisterCount; ++i) {
            const std::string name = Trimmed(p.map[i].RegName);
            if (!name.empty() && Lower(name) == want) return static_cast<std::int16_t>(i);
        }
    }
    throw CliError{kBadInput, "unknown register '" + text + "' (unnamed registers are read by index)"};
}

// A decimal or 0x-hexadecimal integer, optionally signed, within [lo, hi].
long long ParseInteger(const std::string& text, long long lo, long long hi, const std::string& what) {
    std::string digits = text;
    bool negative = false;
    if (!digits.empty() && (digits[0] == '-' || digits[0] == '+')) {
        negative = digits[0] == '-';
        digits.erase(0, 1);
    }
    int base = 10;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
        digits.erase(0, 2);
    }
    if (!AllOf(digits, base == 16 ? isxdigit : isdigit) || digits.size() > 9) throw CliError{kBadInput, "bad number '" + text + "'"};
    long long v = std::strtoll(digits.c_str(), nullptr, base);
    if (negative) v = -v;
    if (v < lo || v > hi) throw CliError{kBadInput, what + " " + text + " is out of range (" + std::to_string(lo) + " to " + std::to_string(hi) + ")"};
    return v;
}

// Milliseconds between passes: digits with an optional fraction, at most 60000; below 10
// is raised to 10, as the window raises it.
float ParseDelay(const std::string& text) {
    const std::size_t point = text.find('.');
    const std::string whole = text.substr(0, point), fraction = point == std::string::npos ? "" : text.substr(point + 1);
    if (!AllOf(whole, isdigit) || (point != std::string::npos && !AllOf(fraction, isdigit)) || whole.size() > 6)
        throw CliError{kBadInput, "bad delay '" + text + "' (milliseconds, for example 25 or 12.5)"};
    const double ms = std::strtod(text.c_str(), nullptr);
    if (ms > 60000.0) throw CliError{kBadInput, "delay " + text + " is out of range (10 to 60000 ms)"};
    return static_cast<float>(std::max(ms, 10.0));
}

// Up to four hexadecimal digits, as typed into the windows, with an optional 0x.
std::int32_t ParseHexWord(const std::string& text, const char* what) {
    std::string digits = text;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) digits.erase(0, 2);
    if (!AllOf(digits, isxdigit) || digits.size() > 4) throw CliError{kBadInput, std::string("bad ") + what + " '" + text + "' (hexadecimal, up to FFFF)"};
    return HexToInt(digits);
}

struct InterfaceChoice {
    std::optional<std::uint16_t> lpt;
    bool usb = false;
    std::optional<int> usbDevice;
};

class Session {
public:
    Session(CliContext& ctx, const std::string& boardName, InterfaceChoice choice)
        : ctx_(ctx), messages_(ctx.err), choice_(choice) {
        std::string why;
        board_ = MakeBoard(boardName, ctx.clock, trace_, &why);
        const bool replay = boardName.rfind("replay:", 0) == 0;
        if (!board_) throw CliError{replay ? kFileError : kBadInput, why};
        if (const ReplayBoard* r = board_->replay(); r && r->Interface().type == 0)
            throw CliError{kFileError, "the recording " + boardName.substr(7) + " holds no exchange with a board"};
        // A replay writes nothing: not even over the recording it reads.
        if (!board_->replay()) trace_.OpenFromEnvironment();
        program_ = std::make_unique<Program>(ctx.clock, board_->port(), board_->usb(), trace_, messages_);
        Program& p = *program_;
        p.timer.ShortStart = true;
        p.timer.FinalTrialMs = ctx.calibrationMs;
        StartProgram(p, ctx.settingsFile);
        if (choice_.lpt) {
            p.settings.InterfaceType = 1;
            p.settings.PortAddress = static_cast<std::int16_t>(*choice_.lpt);
        } else if (choice_.usb || board_->simulated()) {
            p.settings.InterfaceType = 2;
        } else if (const ReplayBoard* replay = board_->replay()) {
            UseRecordedInterface(*replay, p.settings);
        }
    }

    // Every argument is checked before the board is touched: a typing error is bad
    // input, whatever state the interface is in.
    void Run(const std::vector<std::string>& words) {
        const std::string& cmd = words[0];
        std::function<void()> act;
        bool board = true;
        if (cmd == "adapters") act = Adapters(words), board = false;
        else if (cmd == "registers") act = Registers(words), board = false;
        else if (cmd == "read") act = Read(words);
        else if (cmd == "write") act = Write(words);
        else if (cmd == "dump") act = Dump(words);
        else if (cmd == "info") act = Info(words);
        else if (cmd == "spi") act = Spi(words);
        else if (cmd == "watch") act = Watch(words);
        else if (cmd == "monitor") act = Monitor(words);
        else throw CliError{kBadInput, "unknown command '" + cmd + "' (try --help)"};
        if (board) Connect();
        act();
    }

private:
    // Prepares the selected interface once, as the main window does at start.
    void Connect() {
        Program& p = *program_;
        if (connected_ && (p.settings.InterfaceType != 2 || p.UsbReady())) return;
        connected_ = true;
        if (p.settings.InterfaceType == 1) {
            if (!InstallGiveIO(p)) throw CliError{kNoInterface, "the parallel port at " + FormatHex(static_cast<std::uint16_t>(p.settings.PortAddress)) + " cannot be used"};
            p.GiveIoInstalled = true;
            LptReset(p);
        } else if (p.settings.InterfaceType == 2) {
            FindUsbBoards(p);
            if (choice_.usbDevice) {
                const UsbBoardInfo& b = p.usb.UsbBoards[static_cast<std::size_t>(*choice_.usbDevice)];
                if (!b.Present) throw CliError{kNoInterface, "there is no usable adapter at Ezusb-" + std::to_string(*choice_.usbDevice)};
                p.usb.CurrentBoard = b;
            }
            if (!p.UsbReady()) throw CliError{kNoInterface, "no usable USB adapter"};
            // A newly chosen adapter gets the program's SPI set-up.
            std::uint8_t delay = p.spi.SpiDelay;
            UsbSpiSetup(p, delay);
            UsbSpiSetBits(p, p.spi.SpiStaticBits);
            if (!p.UsbReady()) throw CliError{kNoInterface, "the USB adapter " + p.usb.CurrentBoard.DeviceName + " does not answer"};
        } else {
            throw CliError{kNoInterface, "no interface selected; give --lpt ADDR or --usb"};
        }
    }

    // Register traffic over USB silently stops when the adapter fails; say so.
    void CheckAdapter() {
        const Program& p = *program_;
        if (p.settings.InterfaceType == 2 && !p.UsbReady())
            throw CliError{kNoInterface, "the USB adapter stopped answering"};
    }

    std::function<void()> Read(const std::vector<std::string>& words) {
        if (words.size() < 2) throw CliError{kBadInput, "read: name at least one register"};
        Program& p = *program_;
        std::vector<std::int16_t> indices;
        for (std::size_t i = 1; i < words.size(); ++i) {
            const std::int16_t index = ParseRegister(p, words[i]);
            if (!p.map[index].RegReadable) throw CliError{kBadInput, Label(index) + " cannot be read"};
            indices.push_back(index);
        }
        return [this, indices] { ReadRegisters(indices); };
    }

    void ReadRegisters(const std::vector<std::int16_t>& indices) {
        Program& p = *program_;
        for (const std::int16_t index : indices) {
            const RegisterInfo& r = p.map[index];
            ReadReg(p, index);
            CheckAdapter();
            std::string name = Label(index);
            name.resize(std::max<std::size_t>(name.size(), 13), ' ');
            ctx_.out << name << " raw=" << FormatHex(p.reg.RegRaw, 4) << " count=" << p.reg.RegData
                     << " value=" << FormatGeneral(p.reg.RegValue)
                     << " new=" << (r.RegHasNewData ? (p.reg.NewDataFlag ? "1" : "0") : "-")
                     << " error=" << (r.RegHasError ? (p.reg.ErrorFlag ? "1" : "0") : "-") << '\n';
        }
    }

    std::function<void()> Write(const std::vector<std::string>& words) {
        if (words.size() != 3) throw CliError{kBadInput, "write: give a register and a value"};
        Program& p = *program_;
        const std::int16_t index = ParseRegister(p, words[1]);
        const auto value = static_cast<std::int32_t>(ParseInteger(words[2], -32768, 65535, "value"));
        return [this, index, value] {
            Program& p = *program_;
            if (!p.map[index].RegWritable)
                ctx_.err << "qvin-cli: note: " << Label(index) << " is read-only; the chip may ignore the write\n";
            WriteReg(p, index, value);
            CheckAdapter();
            ctx_.out << Label(index) << " <- " << FormatHex(value & 0xFFFF, 4) << '\n';
        };
    }

    std::function<void()> Dump(const std::vector<std::string>& words) {
        if (words.size() != 1) throw CliError{kBadInput, "dump takes no arguments"};
        return [this] {
            const std::string table = ReadUserRegisterTable(*program_);
            CheckAdapter();
            ctx_.out << table;
        };
    }

    std::function<void()> Info(const std::vector<std::string>& words) {
        if (words.size() != 1) throw CliError{kBadInput, "info takes no arguments"};
        return [this] { ShowInfo(); };
    }

    void ShowInfo() {
        Program& p = *program_;
        ReadPartInfo(p);
        CheckAdapter();
        const PartState& s = p.part;
        ctx_.out << "Part:         " << s.PartName << '\n'
                 << "Revision:     " << FormatFixed(s.PartRevision, 1) << '\n'
                 << "Date:         " << s.PartMonth << '/' << s.PartDay << '/' << s.PartYear << '\n'
                 << "Flash cycles: " << s.FlashCycles << '\n'
                 << "Rotation:     " << (s.ReverseRotation ? "Reverse" : "Normal") << '\n';
    }

    // Every register of the map, as the register window describes it, with its conversion.
    std::function<void()> Registers(const std::vector<std::string>& words) {
        if (words.size() != 1) throw CliError{kBadInput, "registers takes no arguments"};
        return [this] { ListRegisters(); };
    }

    void ListRegisters() {
        const Program& p = *program_;
        auto unit = [](std::int16_t index) -> std::string {
            for (const OutputName& o : kOutputNames)
                if (o.index == index) return o.unit;
            return index == reg::Aux_DAC ? "V" : index == reg::Xaccel_Out || index == reg::Yaccel_Out ? "g" : "";
        };
        ctx_.out << "Index\tName\tAddr\tBytes\tAccess\tSigned\tScale\tUnit\n";
        for (int i = 1; i <= kRegisterCount; ++i) {
            const RegisterInfo& r = p.map[i];
            const std::string access = std::string(r.RegReadable ? "r" : "-") + (r.RegWritable ? "w" : "-");
            ctx_.out << i << '\t' << (r.RegName.empty() ? "-" : Trimmed(r.RegName)) << '\t' << FormatHex(r.RegAddr, 2) << '\t'
                     << int{r.RegBytes} << '\t' << access << '\t' << (r.RegSigned ? "yes" : "no") << '\t'
                     << FormatGeneral(r.RegScale) << (r.RegOffset != 0.0f ? " + " + FormatGeneral(r.RegOffset) : "") << '\t'
                     << unit(static_cast<std::int16_t>(i)) << '\n';
        }
    }

    std::function<void()> Adapters(const std::vector<std::string>& words) {
        if (words.size() != 1) throw CliError{kBadInput, "adapters takes no arguments"};
        return [this] { ListAdapters(); };
    }

    void ListAdapters() {
        Program& p = *program_;
        // The windows' "No USB Buffers Found, Please Verify Setup and Restart" is for a
        // window; a command line says it in its own words below.
        messages_.muted = true;
        FindUsbBoards(p);
        messages_.muted = false;
        if (std::none_of(p.usb.UsbBoards.begin(), p.usb.UsbBoards.end(), [](const UsbBoardInfo& b) { return b.Present; })) {
            if (p.settings.InterfaceType == 2) connected_ = false;
            throw CliError{kNoInterface, p.usb.UsbBoardCount == 0
                                             ? "no USB adapter found (looked at Ezusb-0 to Ezusb-3)"
                                             : "no usable USB adapter: " + std::to_string(p.usb.UsbBoardCount) +
                                                   " found, none answered (is it plugged in firmly, and is its udev rule installed?)"};
        }
        ctx_.out << "Device\tKind\tDescriptor 1\tDescriptor 2\tRev\tSpeed\n";
        for (const UsbBoardInfo& b : p.usb.UsbBoards) {
            if (!b.Present) continue;
            ctx_.out << b.DeviceName << '\t' << b.BoardType << '\t' << b.Descriptor1 << '\t' << b.Descriptor2 << '\t'
                     << FormatFixed(b.FirmwareRev, 1) << '\t' << FormatFixed(LeadingNumber(b.UsbSpeed), 1) << '\n';
        }
        if (p.settings.InterfaceType == 2) connected_ = false;  // the search replaced the current adapter
    }

    std::function<void()> Spi(const std::vector<std::string>& words) {
        Program& p = *program_;
        if (p.settings.InterfaceType != 2) throw CliError{kBadInput, "spi needs the USB adapter (--usb)"};
        std::vector<std::int32_t> sent;
        int channel = 1;
        bool negative = false;
        std::optional<std::uint8_t> delay, bits;
        auto value = [&](std::size_t& i, const char* what) -> const std::string& {
            if (++i >= words.size()) throw CliError{kBadInput, words[i - 1] + " needs " + what};
            return words[i];
        };
        for (std::size_t i = 1; i < words.size(); ++i) {
            const std::string& w = words[i];
            if (w == "--channel") {
                channel = static_cast<int>(ParseInteger(value(i, "a number 1 to 5"), 1, 5, "channel"));
            } else if (w == "--negative") {
                negative = true;
            } else if (w == "--polarity") {
                const std::string& v = Lower(value(i, "pos or neg"));
                if (v != "pos" && v != "neg") throw CliError{kBadInput, "--polarity takes pos or neg, not '" + words[i] + "'"};
                negative = v == "neg";
            } else if (w == "--delay") {
                delay = static_cast<std::uint8_t>(ParseInteger(value(i, "microseconds 1 to 255"), 1, 255, "delay"));
            } else if (w == "--static-bits") {
                bits = ParseStaticBits(value(i, "a list such as CS2,CS5, or none"));
            } else if (w.size() > 1 && w[0] == '-' && w[1] == '-') {
                throw CliError{kBadInput, "spi: unknown option '" + w + "'"};
            } else {
                sent.push_back(ParseHexWord(w, "word"));
            }
        }
        if (sent.size() > 16) throw CliError{kBadInput, "spi: give 1 to 16 words"};
        if (sent.empty() && (channel != 1 || negative)) throw CliError{kBadInput, "spi: the channel and polarity go with words to send"};
        return [this, sent, channel, negative, delay, bits] { SpiExchange(sent, channel, negative, delay, bits); };
    }

    void SpiExchange(const std::vector<std::int32_t>& sent, int channel, bool negative, std::optional<std::uint8_t> delay,
                     std::optional<std::uint8_t> bits) {
        Program& p = *program_;
        if (bits) UsbSpiSetBits(p, *bits);
        if (delay) UsbSpiSetup(p, *delay);
        CheckAdapter();
        if (sent.empty()) {
            UsbSpiReadSetup(p);
            CheckAdapter();
            ctx_.out << "delay " << int{p.spi.SpiDelay} << " us, static bits";
            for (int cs = 2; cs <= 5; ++cs)
                if (p.spi.SpiStaticBits & (1 << (cs + 1))) ctx_.out << " CS" << cs;
            if ((p.spi.SpiStaticBits & 0x78) == 0) ctx_.out << " none";
            ctx_.out << '\n';
            return;
        }
        p.spi.SpiChannel = static_cast<std::uint8_t>(channel);
        p.spi.SpiDataPolarity = !negative;
        for (std::size_t i = 0; i < sent.size(); ++i) p.spi.SpiWriteWords[i + 1] = sent[i];
        UsbSpiTransfer(p, static_cast<int>(sent.size()));
        p.spi.SpiDataPolarity = true;
        CheckAdapter();
        for (std::size_t i = 0; i < sent.size(); ++i)
            ctx_.out << (i ? " " : "") << FormatHex(p.spi.SpiReadWords[i + 1], 4);
        ctx_.out << '\n';
    }

    // "CS2,CS5" as the static-bits byte (CS2 is bit 3 ... CS5 bit 6); "none" is 0.
    static std::uint8_t ParseStaticBits(const std::string& text) {
        if (Lower(text) == "none") return 0;
        if (text.empty()) throw CliError{kBadInput, "--static-bits needs a list such as CS2,CS5, or none"};
        std::uint8_t bits = 0;
        std::stringstream list(text);
        for (std::string item; std::getline(list, item, ',');) {
            const std::string cs = Lower(item);
            if (cs.size() != 3 || cs[0] != 'c' || cs[1] != 's' || cs[2] < '2' || cs[2] > '5')
                throw CliError{kBadInput, "bad static bit '" + item + "' (CS2, CS3, CS4 or CS5, or none)"};
            bits = static_cast<std::uint8_t>(bits | (1 << (cs[2] - '0' + 1)));
        }
        return bits;
    }

    std::function<void()> Watch(const std::vector<std::string>& words) {
        long long count = -1;
        float delayMs = 25.0f;
        std::string logFile;
        for (std::size_t i = 1; i < words.size(); ++i) {
            const std::string& w = words[i];
            if (i + 1 >= words.size()) throw CliError{kBadInput, "watch: " + w + " needs a value"};
            if (w == "--count") {
                count = ParseInteger(words[++i], 1, 1'000'000'000, "count");
            } else if (w == "--delay") {
                delayMs = ParseDelay(words[++i]);
            } else if (w == "--log") {
                logFile = words[++i];
                if (logFile.empty()) throw CliError{kBadInput, "watch: --log needs a file name"};
            } else {
                throw CliError{kBadInput, "watch: unknown option '" + w + "'"};
            }
        }
        return [this, count, delayMs, logFile] { WatchOutputs(count, delayMs, logFile); };
    }

    void WatchOutputs(long long count, float delayMs, const std::string& logFile) {
        Program& p = *program_;
        DataLogFile log;
        if (!logFile.empty()) {
            // What the log header shows of the part's set-up, read as the window reads it.
            ReadPartInfo(p);
            ReadReg(p, reg::Smpl_Prd);
            const std::int32_t period = std::clamp(p.reg.RegData, 1, 255);
            ReadReg(p, reg::Avg_Cnt);
            const std::int32_t avg = std::min(p.reg.RegData, 8);
            ReadReg(p, reg::Msc_Ctrl);
            DataLogHeader h;
            h.date = DataLogDate(std::chrono::system_clock::now());
            h.loopDelayMs = delayMs;
            h.samplePeriodText = FormatFixed(SmplPrdToMs(period), 3);
            h.avgCntText = std::to_string(avg);
            h.selfTest = p.reg.RegData & kSelfTestBit;
            h.reverseRotation = p.part.ReverseRotation;
            if (!log.Open(logFile) || !log.Write(DataLogHeaderText(h)))
                throw CliError{kFileError, "Error Trying to open file " + logFile + ": " + log.error()};
        }
        // The same column names as monitor and the main window; the log file keeps its own.
        ctx_.out << "Index";
        for (const OutputName& o : kOutputNames) ctx_.out << '\t' << OutputColumn(o);
        ctx_.out << "\tNew\tError\tStatus\n";
        for (long long pass = 1; count < 0 || pass <= count; ++pass) {
            std::array<float, 5> values{};
            bool fresh = false, alarm = false;
            int k = 0;
            for (const std::int16_t index : {reg::Supply_Out, reg::Aux_ADC, reg::Temp_Out, reg::Incl_Out, reg::Incl_180_Out}) {
                ReadReg(p, index);
                values[static_cast<std::size_t>(k++)] = p.reg.RegValue;
                fresh |= p.reg.NewDataFlag > 0;
                alarm |= p.reg.ErrorFlag > 0;
            }
            ReadReg(p, reg::Status);
            CheckAdapter();
            const std::string line = DataLogLine(static_cast<std::int32_t>(pass), values, fresh, alarm, p.reg.RegData);
            ctx_.out << line.substr(0, line.size() - 2) << '\n' << std::flush;
            if (log.isOpen() && !log.Write(line))
                throw CliError{kFileError, "Error Trying to open file " + logFile + ": " + log.error()};
            if (count < 0 || pass < count) p.Delay(delayMs);
        }
    }

    std::function<void()> Monitor(const std::vector<std::string>& words) {
        if (words.size() > 2) throw CliError{kBadInput, "monitor: at most one count"};
        const long long count = words.size() == 2 ? ParseInteger(words[1], 1, 1'000'000, "count") : 10;
        return [this, count] { MonitorOutputs(count); };
    }

    void MonitorOutputs(long long count) {
        Program& p = *program_;
        // Columns as the main window labels them, padded so a terminal lines them up.
        auto column = [](const std::string& text) { return text + std::string(text.size() < 16 ? 16 - text.size() : 1, ' '); };
        for (const OutputName& o : kOutputNames) ctx_.out << column(OutputColumn(o));
        ctx_.out << column("Data") << "Alarm\n";
        for (long long n = 0; n < count; ++n) {
            if (n > 0) p.Delay(200.0f);
            bool fresh = false, alarm = false;
            std::string line;
            for (const std::int16_t index : {reg::Supply_Out, reg::Aux_ADC, reg::Temp_Out, reg::Incl_Out, reg::Incl_180_Out}) {
                ReadReg(p, index);
                fresh |= p.reg.NewDataFlag > 0;
                alarm |= p.reg.ErrorFlag > 0;
                line += column(FormatFixed(p.reg.RegValue, index < reg::Temp_Out ? 3 : 2));
            }
            CheckAdapter();
            line += column(fresh ? "New" : "Old");
            line += alarm ? "Alarm" : "OK";
            ctx_.out << line << '\n' << std::flush;
        }
    }

    std::string Label(std::int16_t index) const {
        const std::string name = Trimmed(program_->map[index].RegName);
        return name.empty() || name == "N/A" ? "#" + std::to_string(index) : name;
    }

    CliContext& ctx_;
    StderrMessages messages_;
    InterfaceChoice choice_;
    Trace trace_;
    std::unique_ptr<Board> board_;
    std::unique_ptr<Program> program_;
    bool connected_ = false;
};

std::vector<std::string> Words(const std::string& line) {
    std::vector<std::string> words;
    std::istringstream in(line);
    for (std::string w; in >> w;) {
        if (w[0] == '#') break;
        words.push_back(w);
    }
    return words;
}

// A command line is short; a longer one (a file sent by mistake) is refused without being
// held whole.
constexpr std::size_t kMaxCommandLine = 4096;

// One line into `line`, keeping at most one character past kMaxCommandLine of it.
bool ReadBoundedLine(std::istream& in, std::string& line) {
    line.clear();
    std::streambuf* buf = in.rdbuf();
    int c = buf->sbumpc();
    if (c == std::char_traits<char>::eof()) return false;
    for (; c != std::char_traits<char>::eof() && c != '\n'; c = buf->sbumpc())
        if (line.size() <= kMaxCommandLine) line += static_cast<char>(c);
    return true;
}

const char* const kCommands[] = {"-", "read", "write", "dump", "info", "adapters", "registers", "spi", "watch", "monitor"};

}  // namespace

int RunCli(const std::vector<std::string>& args, CliContext& ctx) {
    std::string board = ctx.boardName.empty() ? "hardware" : ctx.boardName;
    InterfaceChoice choice;
    std::size_t i = 0;
    try {
        for (; i < args.size(); ++i) {
            const std::string& a = args[i];
            if (a == "--help" || a == "-h" || a == "help") {
                ctx.out << kUsage;
                return kOk;
            }
            if (a == "--sim") {
                board = "sim";
            } else if (a == "--replay") {
                if (i + 1 >= args.size() || args[i + 1].empty()) throw CliError{kBadInput, "--replay needs the recording's file name"};
                board = ReplayBoardName(args[++i]);
            } else if (a == "--lpt") {
                if (i + 1 >= args.size()) throw CliError{kBadInput, "--lpt needs a hexadecimal address"};
                const std::string& text = args[++i];
                std::string digits = text;
                if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) digits.erase(0, 2);
                if (!AllOf(digits, isxdigit) || digits.size() > 4 || HexToInt(digits) == 0)
                    throw CliError{kBadInput, "bad port address '" + text + "' (hexadecimal, for example 378 or 0x378)"};
                choice.lpt = static_cast<std::uint16_t>(HexToInt(digits));
            } else if (a == "--usb") {
                choice.usb = true;
                if (i + 1 < args.size() && AllOf(args[i + 1], isdigit)) {
                    const std::string& n = args[++i];
                    if (n.size() > 1 || n[0] > '3')
                        throw CliError{kBadInput, "there is no adapter at Ezusb-" + n + " (adapters are Ezusb-0 to Ezusb-3)"};
                    choice.usbDevice = n[0] - '0';
                }
            } else if (a.size() > 1 && a[0] == '-') {
                throw CliError{kBadInput, "unknown option '" + a + "' (try --help)"};
            } else {
                break;
            }
        }
        if (choice.lpt && choice.usb) throw CliError{kBadInput, "choose either --lpt or --usb"};
        if (i >= args.size()) {
            ctx.err << kUsage;
            return kBadInput;
        }
        const std::vector<std::string> command(args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
        // Draws a log; no board is needed for it.
        if (command[0] == "plot") {
            if (!ctx.plot) throw CliError{kBadInput, "plot is not available: this qvin-cli was built without Qt"};
            return ctx.plot(std::vector<std::string>(command.begin() + 1, command.end()), ctx.out, ctx.err);
        }
        if (std::find(std::begin(kCommands), std::end(kCommands), command[0]) == std::end(kCommands))
            throw CliError{kBadInput, "unknown command '" + command[0] + "' (try --help)"};

        Session session(ctx, board, choice);
        if (command[0] != "-") {
            session.Run(command);
            return kOk;
        }
        if (command.size() != 1) throw CliError{kBadInput, "'-' takes no arguments; the commands come on standard input"};
        std::string line;
        for (int number = 1; ReadBoundedLine(ctx.in, line); ++number) {
            if (line.size() > kMaxCommandLine)
                throw CliError{kBadInput, "line " + std::to_string(number) + " is longer than " + std::to_string(kMaxCommandLine) +
                                              " characters: " + Excerpt(line)};
            const std::vector<std::string> words = Words(line);
            if (words.empty()) continue;
            try {
                if (std::find(std::begin(kCommands) + 1, std::end(kCommands), words[0]) == std::end(kCommands))
                    throw CliError{kBadInput, "unknown command '" + words[0] + "'"};
                session.Run(words);
            } catch (const CliError& e) {
                throw CliError{e.code, "line " + std::to_string(number) + ": " + e.message};
            }
        }
        return kOk;
    } catch (const CliError& e) {
        ctx.out << std::flush;
        ctx.err << "qvin-cli: " << e.message << '\n';
        return e.code;
    } catch (const ReplayStopped& e) {
        ctx.out << std::flush;
        ctx.err << "qvin-cli: " << e.message << '\n';
        return kNoInterface;
    }
}

}  // namespace qvin::cli
