#include "cli/cli.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cctype>
#include <istream>
#include <ostream>
#include <sstream>

#include "board/replay_board.h"
#include "cli/commands.h"
#include "cli/plot_args.h"
#include "core/excerpt.h"
#include "core/hex_text.h"
#include "core/line_reader.h"
#include "platform/port/ppdev_port.h"
#include "platform/spi/ftdi_mpsse_bus.h"

namespace qvin::cli {

namespace {

constexpr const char* kUsage =
    "Usage: qvin-cli [--sim | --replay FILE] [--lpt ADDR | --usb [N] | --spidev DEV | --ftdi [SERIAL]]\n               COMMAND [ARGS...]\n"
    "\n"
    "Reads and writes the registers of a QVIN27319 on its evaluation board.\n"
    "\n"
    "Options:\n"
    "  --sim        use the simulated evaluation board (also QVIN_BOARD=sim)\n"
    "  --replay FILE  answer from a recording made with QVIN_TRACE=FILE instead of a board\n"
    "               (also QVIN_BOARD=replay:FILE); run the recorded commands again\n"
    "  --lpt ADDR   use the parallel port at hexadecimal address ADDR (378 or 0x378), or\n"
    "               the port behind a device (/dev/parport1)\n"
    "  --usb [N]    use the USB adapter Ezusb-N (default: the first one found)\n"
    "  --spidev DEV use a Linux SPI controller's device (/dev/spidev0.0): SPI mode 1, 1 MHz,\n"
    "               16-bit frames with chip select each\n"
    "  --ftdi [SERIAL]  use an FTDI FT232H, FT2232H or FT4232H (the one with this serial\n"
    "               number, default the first found) as the SPI master: its MPSSE engine on\n"
    "               channel A, chip select on ADBUS3, the same frames and pauses\n"
    "               Without any, the interface comes from Qvin27319.cfg; the simulated\n"
    "               board uses its USB adapter, a replay the interface it recorded.\n"
    "\n"
    "Commands:\n"
    "  read REG...       read registers (a name such as Supply_Out or INCL_360, in any case,\n"
    "                    or an index 1 to 65); several in one exchange, each request\n"
    "                    answered in the next frame\n"
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
    "                    read the five outputs and the status with a loop delay of MS\n"
    "                    milliseconds (default 25, at least 10), paced as the main window's\n"
    "                    loop (MS - 4 ms between passes), N times (default until interrupted);\n"
    "                    --log appends each pass to FILE in the data log layout\n"
    "  monitor [COUNT]   the five outputs COUNT times (default 10), 200 ms apart\n"
    "  capture --count N | --seconds S [--outputs LIST] [--sample-period MS] [--out FILE]\n"
    "                    read the outputs (LIST: incl_360,temp_out,...; default all five) as\n"
    "                    fast as the interface allows and keep each new sample once,\n"
    "                    time-stamped, with the samples missed before it, as CSV (standard\n"
    "                    output without --out); --sample-period sets the part's meanwhile;\n"
    "                    ends with what it kept and missed; Ctrl-C, SIGTERM or SIGHUP end it\n"
    "                    with a complete file; a failed capture leaves FILE as it was\n"
    "  noise FILE [--column NAME] [--run N] [--tau0 S] [--deviation NAME]\n"
    "      [--taus octave|decade|all] [--confidence P] [--png OUT] [--csv OUT]\n"
    "      [--psd OUT] [--json OUT]\n"
    "                    statistics and a deviation (oadev by default; adev, mdev, tdev,\n"
    "                    hdev, ohdev, totdev) of a capture, a data log (its longest run, or\n"
    "                    run N) or a file of one value a line (then --tau0 is needed),\n"
    "                    missing samples left out, with the noise type at each averaging\n"
    "                    time, intervals at confidence P (default 0.683), the noise terms\n"
    "                    (Q, N, B, K, R) with their uncertainties and the spectral floor;\n"
    "                    --png draws the Allan plot, --csv writes its table, --psd the\n"
    "                    spectrum (Welch's method) as CSV, --json all of it as JSON\n"
    "  export-vcd RECORDING --out FILE.vcd\n"
    "                    the SPI bus of a recorded session (QVIN_TRACE) as a Value Change\n"
    "                    Dump for PulseView, sigrok-cli or GTKWave; needs no board\n"
    "  plot LOG --png OUT [--size WxH]\n"
    "                    draw a data log as the strip chart does into a PNG picture (default\n"
    "                    size 1000x800), without a display; needs no board\n"
    "  doctor            what stands between this machine and a first read: libusb, the\n"
    "                    adapters and why one cannot be had, the udev rule, the groups in\n"
    "                    force, ppdev, the parallel ports and their access, the settings\n"
    "                    file; each problem with its fix; status 2 when no board can be\n"
    "                    reached\n"
    "  -                 read commands from standard input, one per line, on one board\n"
    "  COMMAND --help    that command's usage; --version: the version\n"
    "\n"
    "Exit status: 0 done, 1 bad input, 2 no usable interface (or a replay asked for what its\n"
    "recording does not hold next), 3 a file cannot be read or written.\n"
    "Environment: QVIN_TRACE=FILE (or -) records every port access, USB transfer and SPI\n"
    "frame; QVIN_SIM_ANGLE=DEG holds the simulated inclination at DEG degrees;\n"
    "QVIN_SIM_FAULTS=RULE[,RULE...] makes the simulated board fail on purpose (for example\n"
    "unplug@200 or send-fail%1, seeded by QVIN_SIM_SEED); QVIN_SIM_NOISE=off or\n"
    "white=DEG,walk=DEG,drift=DEG,seed=N sets the simulated sensor's noise (see qvin-cli(1)).\n";

using session::Error;

// One command's part of the usage: its line and the lines indented under it.
std::string CommandUsage(const std::string& name) {
    const std::string_view usage = kUsage;
    std::string block;
    bool in = false;
    for (std::size_t start = usage.find("\nCommands:\n"); start < usage.size();) {
        const std::size_t end = usage.find('\n', start + 1);
        const std::string_view line = usage.substr(start + 1, end == std::string_view::npos ? std::string_view::npos : end - start - 1);
        start = end;
        const bool head = line.size() > 2 && line.substr(0, 2) == "  " && line[2] != ' ';
        if (head) in = line.substr(2, name.size()) == name && (line.size() == name.size() + 2 || line[name.size() + 2] == ' ');
        else if (line.empty() || line[0] != ' ') in = false;
        if (in) block.append(line).append(1, '\n');
    }
    return "Usage: qvin-cli [--sim | --replay FILE] [--lpt ADDR | --usb [N] | --spidev DEV | --ftdi [SERIAL]]\n               COMMAND [ARGS...]\n\n" + block;
}

// Adapter and port messages become lines on standard error.
class StderrMessages final : public MessageService {
public:
    explicit StderrMessages(std::ostream& err) : err_(err) {}
    void Message(std::string_view text, std::string_view title) override {
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

std::vector<std::string> Words(const std::string& line) {
    std::vector<std::string> words;
    std::istringstream in(line);
    for (std::string w; in >> w;) {
        if (w[0] == '#') break;
        words.push_back(w);
    }
    return words;
}

const CommandEntry* Find(const std::string& name) {
    for (const CommandEntry& e : Commands())
        if (name == e.name) return &e;
    return nullptr;
}

// A word that starts a command (the table's, plot, or "-" for commands on standard input).
bool IsCommandWord(const std::string& w) { return w == "-" || w == "plot" || Find(w) != nullptr; }

// Every argument is checked before the board is touched: a typing error is bad input,
// whatever state the interface is in.
void Run(session::Session& s, const std::vector<std::string>& words, CliContext& ctx) {
    const CommandEntry* entry = Find(words[0]);
    if (!entry) throw Error(kBadInput, "unknown command '" + words[0] + "' (try --help)");
    Command c{s, words, ctx.out, ctx.err, ctx.allanPng, ctx.settingsFile};
    const Action act = entry->plan(c);
    if (entry->needsBoard) s.Connect();
    act();
}

// A command line is short; a longer one (a file sent by mistake) is refused without being
// held whole.
constexpr std::size_t kMaxCommandLine = 4096;

// A trace cut short by a full disk is a failure of the run, said once at its end.
int TraceClosed(session::Session& s, CliContext& ctx) {
    const std::string why = s.CloseTrace();
    if (s.traceFailed()) return kFileError;  // said when it was found
    if (why.empty()) return kOk;
    ctx.err << "qvin-cli: QVIN_TRACE: the trace is not whole: " << why << '\n';
    return kFileError;
}

// What the words before the command chose: the board and the interface.
struct BoardChoice {
    session::Options options;
    bool simGiven = false, replayGiven = false;
    std::size_t commandAt = 0;  // where the command starts; args.size() when none is given
    bool answered = false;      // --help or --version, answered already
};

// --lpt's address, hexadecimal ("378", "0x378"), or a port device's ("/dev/parport0").
std::uint16_t PortAddressArgument(const std::string& text) {
    // A port by its device (a card's port need not sit at a usual address).
    if (text.find('/') != std::string::npos) {
        std::string why;
        const auto address = PpdevAddressOf(text, why);
        if (!address) throw Error(kBadInput, "--lpt " + why);
        return *address;
    }
    std::string digits = text;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) digits.erase(0, 2);
    if (!AllOf(digits, isxdigit) || digits.size() > 4 || HexToInt(digits) == 0)
        throw Error(kBadInput, "bad port address '" + text + "' (hexadecimal, for example 378 or 0x378)");
    return static_cast<std::uint16_t>(HexToInt(digits));
}

BoardChoice ParseBoardChoice(const std::vector<std::string>& args, CliContext& ctx) {
    BoardChoice b;
    session::Options& options = b.options;
    options.board = ctx.boardName.empty() ? "hardware" : ctx.boardName;
    options.settingsFile = ctx.settingsFile;
    options.calibrationMs = ctx.calibrationMs;
    session::InterfaceChoice& choice = options.interface;
    bool lptGiven = false, usbGiven = false, spidevGiven = false, ftdiGiven = false;
    std::size_t& i = b.commandAt;
    for (; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h" || a == "help") {
            ctx.out << kUsage;
            b.answered = true;
            return b;
        }
        if (a == "--version") {
            ctx.out << "qvin-cli " << ctx.version << '\n';
            b.answered = true;
            return b;
        }
        if (a == "--sim") {
            if (b.replayGiven) throw Error(kBadInput, "choose either --sim or --replay");
            options.board = "sim";
            b.simGiven = true;
        } else if (a == "--replay") {
            if (b.simGiven || b.replayGiven) throw Error(kBadInput, b.simGiven ? "choose either --sim or --replay" : "--replay is given twice");
            if (i + 1 >= args.size() || args[i + 1].empty()) throw Error(kBadInput, "--replay needs the recording's file name");
            options.board = ReplayBoardName(args[++i]);
            b.replayGiven = true;
        } else if (a == "--lpt") {
            if (i + 1 >= args.size()) throw Error(kBadInput, "--lpt needs a hexadecimal address or a port device");
            choice.port = PortAddressArgument(args[++i]);
            lptGiven = true;
        } else if (a == "--spidev") {
            if (i + 1 >= args.size() || args[i + 1].empty()) throw Error(kBadInput, "--spidev needs a device (for example /dev/spidev0.0)");
            spidevGiven = true;
            choice.device = args[++i];
        } else if (a == "--ftdi") {
            // The serial number is optional: a word after it is one unless it is a command.
            ftdiGiven = true;
            std::string serial;
            if (i + 1 < args.size() && !args[i + 1].empty() && args[i + 1][0] != '-' && !IsCommandWord(args[i + 1])) {
                serial = args[++i];
                if (!AllOf(serial, isalnum)) throw Error(kBadInput, "--ftdi '" + Excerpt(serial) + "' is no FTDI serial number (letters and digits)");
            }
            choice.device = kFtdiPrefix + serial;
        } else if (a == "--usb") {
            usbGiven = true;
            if (i + 1 < args.size() && AllOf(args[i + 1], isdigit)) {
                const std::string& n = args[++i];
                if (n.size() > 1 || n[0] > '3') throw Error(kBadInput, "there is no adapter at Ezusb-" + n + " (adapters are Ezusb-0 to Ezusb-3)");
                choice.unit = n[0] - '0';
            }
        } else if (a.size() > 1 && a[0] == '-') {
            throw Error(kBadInput, "unknown option '" + a + "' (try --help)");
        } else {
            break;
        }
    }
    if (lptGiven && usbGiven && !spidevGiven && !ftdiGiven) throw Error(kBadInput, "choose either --lpt or --usb");
    if (lptGiven + usbGiven + spidevGiven + ftdiGiven > 1) throw Error(kBadInput, "choose one of --lpt, --usb, --spidev and --ftdi");
    if (lptGiven) choice.interface = Interface::ParallelPort;
    if (usbGiven) choice.interface = Interface::UsbAdapter;
    // An FTDI adapter's MPSSE engine is an SPI bus like a controller's device, named "ftdi:SERIAL".
    if (spidevGiven || ftdiGiven) choice.interface = Interface::Spidev;
    return b;
}

// Draws a log; no board is needed for it.
int Plot(const std::vector<std::string>& command, CliContext& ctx) {
    if (!ctx.plot) throw Error(kBadInput, "plot is not available: this qvin-cli was built without Qt");
    std::string bad;
    const auto parsed = ParsePlotArgs(std::vector<std::string>(command.begin() + 1, command.end()), bad);
    if (!parsed) throw Error(kBadInput, bad);
    const Outcome drawn = ctx.plot(parsed->log, parsed->png, parsed->width, parsed->height);
    if (drawn.status != kOk) throw Error(drawn.status, drawn.text);
    ctx.out << drawn.text << "\n";
    return kOk;
}

// "-": the commands a line each on standard input, on one board; the first that fails
// ends the run, its error naming the line.
void RunFromInput(session::Session& session, CliContext& ctx) {
    std::string line;
    LineReader reader(ctx.in, kMaxCommandLine);
    for (LineReader::End end; (end = reader.Next(line)) != LineReader::End::None;) {
        const std::size_t number = reader.number();
        if (end == LineReader::End::TooLong)
            throw Error(kBadInput, "line " + std::to_string(number) + " is longer than " + std::to_string(kMaxCommandLine) +
                                       " characters: " + Excerpt(line));
        const std::vector<std::string> words = Words(line);
        if (words.empty()) continue;
        try {
            if (!Find(words[0])) throw Error(kBadInput, "unknown command '" + words[0] + "'");
            Run(session, words, ctx);
        } catch (const Error& e) {
            throw Error(e.code, "line " + std::to_string(number) + ": " + e.what());
        }
    }
}

int RunCommands(const std::vector<std::string>& args, CliContext& ctx) {
    try {
        const BoardChoice b = ParseBoardChoice(args, ctx);
        if (b.answered) return kOk;
        if (b.commandAt >= args.size()) {
            ctx.err << kUsage;
            return kBadInput;
        }
        const std::vector<std::string> command(args.begin() + static_cast<std::ptrdiff_t>(b.commandAt), args.end());
        // A command's own help, whatever else is on the line.
        if (command[0] != "-" && (command[0] == "plot" || Find(command[0])) &&
            std::any_of(command.begin() + 1, command.end(), [](const std::string& w) { return w == "--help" || w == "-h"; })) {
            ctx.out << CommandUsage(command[0]);
            return kOk;
        }
        if (command[0] == "plot") return Plot(command, ctx);
        if (command[0] != "-" && !Find(command[0])) throw Error(kBadInput, "unknown command '" + command[0] + "' (try --help)");

        // A bad QVIN_BOARD is refused where a board would be used, not for the commands that read files only.
        const bool filesOnly = command[0] == "noise" || command[0] == "export-vcd" || command[0] == "registers";
        if (!b.simGiven && !b.replayGiven && !filesOnly && !ctx.boardError.empty()) throw Error(kBadInput, ctx.boardError);
        StderrMessages messages(ctx.err);
        session::Session session(ctx.clock, b.options, messages);
        if (command[0] != "-") {
            Run(session, command, ctx);
            return TraceClosed(session, ctx);
        }
        if (command.size() != 1) throw Error(kBadInput, "'-' takes no arguments; the commands come on standard input");
        RunFromInput(session, ctx);
        return TraceClosed(session, ctx);
    } catch (const Error& e) {
        ctx.out << std::flush;
        ctx.err << "qvin-cli: " << e.what() << '\n';
        return e.code;
    } catch (const ReplayStopped& e) {
        ctx.out << std::flush;
        ctx.err << "qvin-cli: " << e.message << '\n';
        return kNoInterface;
    }
}

}  // namespace

int RunCli(const std::vector<std::string>& args, CliContext& ctx) {
    int code = RunCommands(args, ctx);
    // Output that did not arrive is a failure, whatever the command did: a full disk or a
    // closed pipe behind standard output must not end in success.
    errno = 0;
    ctx.out.flush();
    if (!ctx.out) {
        const int error = errno;
        ctx.err << "qvin-cli: cannot write standard output" << (error ? std::string(": ") + std::strerror(error) : std::string()) << '\n';
        if (code == kOk) code = kFileError;
    }
    return code;
}

}  // namespace qvin::cli
