#include "cli/cli.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <iomanip>
#include <istream>
#include <memory>
#include <optional>
#include <ostream>
#include <sstream>

#include "core/hex_text.h"
#include "core/number_text.h"
#include "core/trace.h"
#include "device/lpt_transport.h"
#include "device/program.h"
#include "device/register_access.h"
#include "device/user_register_table.h"
#include "platform/board.h"
#include "sim/sim_port.h"

namespace qvin::cli {

namespace {

constexpr const char* kUsage =
    "Usage: qvin-cli [--sim] [--lpt ADDR] COMMAND [ARGS...]\n"
    "\n"
    "Reads and writes the registers of a QVIN27319 on its evaluation board.\n"
    "\n"
    "Options:\n"
    "  --sim        use the simulated evaluation board (also QVIN_BOARD=sim)\n"
    "  --lpt ADDR   use the parallel port at hexadecimal address ADDR (for example 378);\n"
    "               without it the interface comes from Qvin27319.cfg, and the simulated\n"
    "               board uses its port at 378\n"
    "\n"
    "Commands:\n"
    "  read REG...       read registers (a name such as Supply_Out, or an index 1 to 65)\n"
    "  write REG VALUE   write a 16-bit value (decimal, or hexadecimal with 0x; may be negative)\n"
    "  dump              list the user registers as the register window does\n"
    "  monitor [COUNT]   read the five outputs COUNT times (default 10), 200 ms apart\n"
    "  -                 read commands from standard input, one per line, on one board\n"
    "\n"
    "Environment: QVIN_TRACE=FILE (or -) records every port access and SPI frame;\n"
    "QVIN_SIM_ANGLE=DEG holds the simulated inclination at DEG degrees.\n";

struct CliError {
    int code;
    std::string message;
};

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string Trimmed(std::string s) {
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

std::int16_t ParseRegister(const Program& p, const std::string& text) {
    if (!text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
        const long index = std::strtol(text.c_str(), nullptr, 10);
        if (text.size() <= 3 && RegisterMap::Valid(static_cast<int>(index))) return static_cast<std::int16_t>(index);
        throw CliError{kBadInput, "no register with index " + text + " (indices run from 1 to 65)"};
    }
    const std::string want = Lower(text);
    if (want != "n/a") {
        for (int i = 1; i <= kRegisterCount; ++i) {
            const std::string name = Trimmed(p.map[i].RegName);
            if (!name.empty() && Lower(name) == want) return static_cast<std::int16_t>(i);
        }
    }
    throw CliError{kBadInput, "unknown register '" + text + "' (unnamed registers are read by index)"};
}

std::int32_t ParseValue(const std::string& text) {
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
    const bool valid = !digits.empty() && std::all_of(digits.begin(), digits.end(), [base](char c) {
        return base == 16 ? std::isxdigit(static_cast<unsigned char>(c)) : std::isdigit(static_cast<unsigned char>(c));
    });
    if (!valid || digits.size() > 8) throw CliError{kBadInput, "bad number '" + text + "'"};
    long long v = std::strtoll(digits.c_str(), nullptr, base);
    if (negative) v = -v;
    if (v < -32768 || v > 65535)
        throw CliError{kBadInput, "value " + text + " does not fit a 16-bit register (-32768 to 65535)"};
    return static_cast<std::int32_t>(v);
}

class Session {
public:
    Session(CliContext& ctx, std::string boardName, std::optional<std::uint16_t> lpt)
        : ctx_(ctx) {
        trace_.OpenFromEnvironment();
        board_ = MakeBoard(boardName, ctx.clock, trace_);
        if (!board_) throw CliError{kBadInput, "unknown board '" + boardName + "'"};
        program_ = std::make_unique<Program>(ctx.clock, board_->port(), trace_);
        Program& p = *program_;
        p.timer.ShortStart = true;
        p.timer.FinalTrialMs = ctx.calibrationMs;
        StartProgram(p, ctx.settingsFile);

        if (lpt) {
            p.settings.InterfaceType = 1;
            p.settings.PortAddress = static_cast<std::int16_t>(*lpt);
        } else if (board_->simulated()) {
            p.settings.InterfaceType = 1;
            p.settings.PortAddress = static_cast<std::int16_t>(sim::kSimPortAddress);
        }
        if (p.settings.InterfaceType == 2)
            throw CliError{kNoInterface, "the USB adapter is not supported by qvin-cli yet; give --lpt ADDR"};
        if (p.settings.InterfaceType != 1)
            throw CliError{kNoInterface, "no interface selected; give --lpt ADDR (for example --lpt 378)"};

        const auto port = static_cast<std::uint16_t>(p.settings.PortAddress);
        if (const PortAccessError e = p.port.Prepare(port))
            throw CliError{kNoInterface, "cannot use the parallel port at " + FormatHex(port) + ": " + e.reason};
        p.GiveIoInstalled = true;
        LptReset(p);
    }

    void Run(const std::vector<std::string>& words) {
        const std::string& cmd = words[0];
        if (cmd == "read") Read(words);
        else if (cmd == "write") Write(words);
        else if (cmd == "dump") Dump(words);
        else if (cmd == "monitor") Monitor(words);
        else throw CliError{kBadInput, "unknown command '" + cmd + "' (try --help)"};
    }

private:
    void Read(const std::vector<std::string>& words) {
        if (words.size() < 2) throw CliError{kBadInput, "read: name at least one register"};
        Program& p = *program_;
        for (std::size_t i = 1; i < words.size(); ++i) {
            const std::int16_t index = ParseRegister(p, words[i]);
            const RegisterInfo& r = p.map[index];
            if (!r.RegReadable) throw CliError{kBadInput, Trimmed(r.RegName) + " cannot be read"};
            ReadReg(p, index);
            std::ostringstream line;
            line << std::left << std::setw(13) << Label(index) << " raw=" << FormatHex(p.reg.RegRaw, 4)
                 << " count=" << p.reg.RegData << " value=" << FormatGeneral(p.reg.RegValue)
                 << " new=" << (r.RegHasNewData ? (p.reg.NewDataFlag ? "1" : "0") : "-")
                 << " error=" << (r.RegHasError ? (p.reg.ErrorFlag ? "1" : "0") : "-");
            ctx_.out << line.str() << '\n';
        }
    }

    void Write(const std::vector<std::string>& words) {
        if (words.size() != 3) throw CliError{kBadInput, "write: give a register and a value"};
        Program& p = *program_;
        const std::int16_t index = ParseRegister(p, words[1]);
        const std::int32_t value = ParseValue(words[2]);
        if (!p.map[index].RegWritable)
            ctx_.err << "qvin-cli: note: " << Label(index) << " is read-only; the chip may ignore the write\n";
        WriteReg(p, index, value);
        ctx_.out << Label(index) << " <- " << FormatHex(value & 0xFFFF, 4) << '\n';
    }

    void Dump(const std::vector<std::string>& words) {
        if (words.size() != 1) throw CliError{kBadInput, "dump takes no arguments"};
        ctx_.out << ReadUserRegisterTable(*program_);
    }

    void Monitor(const std::vector<std::string>& words) {
        if (words.size() > 2) throw CliError{kBadInput, "monitor: at most one count"};
        long count = 10;
        if (words.size() == 2) {
            char* end = nullptr;
            count = std::strtol(words[1].c_str(), &end, 10);
            if (*end || count < 1 || count > 1000000) throw CliError{kBadInput, "monitor: bad count '" + words[1] + "'"};
        }
        Program& p = *program_;
        // Columns as the main window labels them, padded so a terminal lines them up.
        auto column = [](const std::string& text) { return text + std::string(text.size() < 16 ? 16 - text.size() : 1, ' '); };
        ctx_.out << column("SUPPLY_OUT (V)") << column("AUX_ADC (V)") << column("TEMP_OUT (dgrC)")
                 << column("INCL_360 (dgr)") << column("INCL_180 (dgr)") << column("Data") << "Alarm\n";
        for (long n = 0; n < count; ++n) {
            if (n > 0) p.Delay(200.0f);
            bool fresh = false, alarm = false;
            std::string line;
            for (const std::int16_t index : {reg::Supply_Out, reg::Aux_ADC, reg::Temp_Out, reg::Incl_Out, reg::Incl_180_Out}) {
                ReadReg(p, index);
                fresh |= p.reg.NewDataFlag > 0;
                alarm |= p.reg.ErrorFlag > 0;
                line += column(FormatFixed(p.reg.RegValue, index < reg::Temp_Out ? 3 : 2));
            }
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
    Trace trace_;
    std::unique_ptr<Board> board_;
    std::unique_ptr<Program> program_;
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

}  // namespace

int RunCli(const std::vector<std::string>& args, CliContext& ctx) {
    std::string board = ctx.boardName.empty() ? "hardware" : ctx.boardName;
    std::optional<std::uint16_t> lpt;
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
            } else if (a == "--lpt") {
                if (i + 1 >= args.size()) throw CliError{kBadInput, "--lpt needs a hexadecimal address"};
                const std::string& text = args[++i];
                const bool hex = !text.empty() && text.size() <= 4 &&
                                 std::all_of(text.begin(), text.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
                if (!hex || HexToInt(text) == 0) throw CliError{kBadInput, "bad port address '" + text + "' (hexadecimal, for example 378)"};
                lpt = static_cast<std::uint16_t>(HexToInt(text));
            } else if (a.size() > 1 && a[0] == '-' && a != "-") {
                throw CliError{kBadInput, "unknown option '" + a + "' (try --help)"};
            } else {
                break;
            }
        }
        if (i >= args.size()) {
            ctx.err << kUsage;
            return kBadInput;
        }
        const std::vector<std::string> command(args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
        if (command[0] != "-" && command[0] != "read" && command[0] != "write" && command[0] != "dump" &&
            command[0] != "monitor")
            throw CliError{kBadInput, "unknown command '" + command[0] + "' (try --help)"};

        Session session(ctx, board, lpt);
        if (command[0] != "-") {
            session.Run(command);
            return kOk;
        }
        if (command.size() != 1) throw CliError{kBadInput, "'-' takes no arguments; the commands come on standard input"};
        std::string line;
        for (int number = 1; std::getline(ctx.in, line); ++number) {
            const std::vector<std::string> words = Words(line);
            if (words.empty()) continue;
            try {
                if (words[0] == "-") throw CliError{kBadInput, "'-' cannot be nested"};
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
    }
}

}  // namespace qvin::cli
