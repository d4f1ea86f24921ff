#include "cli/commands.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ostream>
#include <sstream>

#include "cli/capture_command.h"
#include "cli/export_vcd_command.h"
#include "cli/noise_command.h"
#include "core/hex_text.h"
#include "core/number_text.h"
#include "device/data_log.h"
#include "session/paced_passes.h"
#include "session/doctor.h"

namespace qvin::cli {

namespace {

using session::Error;

bool AllOf(const std::string& s, int (*pred)(int)) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [pred](char c) { return pred(static_cast<unsigned char>(c)) != 0; });
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Milliseconds between passes: digits with an optional fraction, at most 60000; below 10
// is raised to 10, as the window raises it.
float ParseDelay(const std::string& text) {
    const std::size_t point = text.find('.');
    const std::string whole = text.substr(0, point), fraction = point == std::string::npos ? "" : text.substr(point + 1);
    if (!AllOf(whole, isdigit) || (point != std::string::npos && !AllOf(fraction, isdigit)) || whole.size() > 6)
        throw Error(kBadInput, "bad delay '" + text + "' (milliseconds, for example 25 or 12.5)");
    const double ms = std::strtod(text.c_str(), nullptr);
    if (ms > 60000.0) throw Error(kBadInput, "delay " + text + " is out of range (10 to 60000 ms)");
    return static_cast<float>(std::max(ms, 10.0));
}

// Up to four hexadecimal digits, as typed into the windows, with an optional 0x.
std::int32_t ParseHexWord(const std::string& text, const char* what) {
    std::string digits = text;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) digits.erase(0, 2);
    if (!AllOf(digits, isxdigit) || digits.size() > 4) throw Error(kBadInput, std::string("bad ") + what + " '" + text + "' (hexadecimal, up to FFFF)");
    return HexToInt(digits);
}

// "CS2,CS5" as the static-bits byte (CS2 is bit 3 ... CS5 bit 6); "none" is 0.
std::uint8_t ParseStaticBits(const std::string& text) {
    if (Lower(text) == "none") return 0;
    if (text.empty()) throw Error(kBadInput, "--static-bits needs a list such as CS2,CS5, or none");
    std::uint8_t bits = 0;
    std::stringstream list(text);
    for (std::string item; std::getline(list, item, ',');) {
        const std::string cs = Lower(item);
        if (cs.size() != 3 || cs[0] != 'c' || cs[1] != 's' || cs[2] < '2' || cs[2] > '5')
            throw Error(kBadInput, "bad static bit '" + item + "' (CS2, CS3, CS4 or CS5, or none)");
        bits = static_cast<std::uint8_t>(bits | (1 << (cs[2] - '0' + 1)));
    }
    return bits;
}

// A watch that cannot write its lines stops at once instead of reading on unseen.
void StandardOutputWritten(const std::ostream& out) {
    if (!out) throw Error(kFileError, std::string("cannot write standard output: ") + std::strerror(errno));
}

Action Read(Command& c) {
    if (c.words.size() < 2) throw Error(kBadInput, "read: name at least one register");
    std::vector<std::int16_t> indices;
    for (std::size_t i = 1; i < c.words.size(); ++i) {
        const std::int16_t index = c.s.RegisterIndex(c.words[i]);
        if (!c.s.program().map[index].RegReadable) throw Error(kBadInput, c.s.Label(index) + " cannot be read");
        indices.push_back(index);
    }
    return [&c, indices] {
        // Several registers in one exchange; one as the windows read it.
        const std::vector<session::Reading> readings = indices.size() == 1 ? std::vector{c.s.Read(indices[0])} : c.s.ReadMany(indices);
        for (const session::Reading& r : readings) {
            std::string name = r.name;
            name.resize(std::max<std::size_t>(name.size(), 13), ' ');
            auto flag = [](const std::optional<bool>& f) { return f ? (*f ? "1" : "0") : "-"; };
            c.out << name << " raw=" << FormatHex(r.raw, 4) << " count=" << r.count << " value=" << FormatGeneral(r.value)
                  << " new=" << flag(r.newData) << " error=" << flag(r.error) << '\n';
        }
    };
}

Action Write(Command& c) {
    if (c.words.size() != 3) throw Error(kBadInput, "write: give a register and a value");
    const std::int16_t index = c.s.RegisterIndex(c.words[1]);
    const auto value = static_cast<std::int32_t>(ParseInteger(c.words[2], -32768, 65535, "value"));
    return [&c, index, value] {
        if (!c.s.program().map[index].RegWritable)
            c.err << "qvin-cli: note: " << c.s.Label(index) << " is read-only; the chip may ignore the write\n";
        c.s.Write(index, value);
        c.out << c.s.Label(index) << " <- " << FormatHex(value & 0xFFFF, 4) << '\n';
    };
}

void NoArguments(const Command& c) {
    if (c.words.size() != 1) throw Error(kBadInput, c.words[0] + " takes no arguments");
}

Action Dump(Command& c) {
    NoArguments(c);
    return [&c] { c.out << c.s.UserRegisterTable(); };
}

Action Info(Command& c) {
    NoArguments(c);
    return [&c] {
        const session::PartInfo i = c.s.Info();
        c.out << "Part:         " << i.name << '\n'
              << "Revision:     " << FormatFixed(i.revision, 1) << '\n'
              << "Date:         " << i.month << '/' << i.day << '/' << i.year << '\n'
              << "Flash cycles: " << i.flashCycles << '\n'
              << "Rotation:     " << (i.reverseRotation ? "Reverse" : "Normal") << '\n';
    };
}

// Every register of the map, as the register window describes it, with its conversion.
Action Registers(Command& c) {
    NoArguments(c);
    return [&c] {
        c.out << "Index\tName\tAddr\tBytes\tAccess\tSigned\tScale\tUnit\n";
        for (const session::RegisterRow& r : c.s.Registers())
            c.out << r.index << '\t' << r.name << '\t' << FormatHex(r.address, 2) << '\t' << r.bytes << '\t'
                  << (r.readable ? "r" : "-") << (r.writable ? "w" : "-") << '\t' << (r.isSigned ? "yes" : "no") << '\t'
                  << FormatGeneral(r.scale) << (r.offset != 0.0f ? " + " + FormatGeneral(r.offset) : "") << '\t' << r.unit << '\n';
    };
}

Action Adapters(Command& c) {
    NoArguments(c);
    return [&c] {
        // The USB-SPI adapters as the selection window lists them, then the FTDI adapters;
        // why there is no USB-SPI adapter is said after what could be listed.
        std::vector<session::AdapterRow> rows;
        std::optional<Error> usbProblem;
        try {
            rows = c.s.Adapters();
        } catch (const Error& e) {
            usbProblem = e;
        }
        const std::vector<session::AdapterRow> ftdi = c.s.FtdiAdapters();
        rows.insert(rows.end(), ftdi.begin(), ftdi.end());
        if (!rows.empty()) c.out << "Device\tKind\tDescriptor 1\tDescriptor 2\tRev\tSpeed\n";
        for (const session::AdapterRow& a : rows)
            c.out << a.device << '\t' << a.kind << '\t' << a.descriptor1 << '\t' << a.descriptor2 << '\t' << FormatFixed(a.revision, 1)
                  << '\t' << FormatFixed(a.speed, 1) << '\n';
        c.out << std::flush;
        // None plugged in is no failure where an FTDI adapter was listed; one that cannot be had is.
        if (usbProblem && (rows.empty() || std::string(usbProblem->what()).rfind("no USB adapter found", 0) != 0)) throw *usbProblem;
    };
}

Action Spi(Command& c) {
    if (c.s.program().settings.InterfaceType != Interface::UsbAdapter) throw Error(kBadInput, "spi needs the USB adapter (--usb)");
    const auto& words = c.words;
    std::vector<std::int32_t> sent;
    int channel = 1;
    bool negative = false;
    std::optional<std::uint8_t> delay, bits;
    auto value = [&](std::size_t& i, const char* what) -> const std::string& {
        if (++i >= words.size()) throw Error(kBadInput, words[i - 1] + " needs " + what);
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
            if (v != "pos" && v != "neg") throw Error(kBadInput, "--polarity takes pos or neg, not '" + words[i] + "'");
            negative = v == "neg";
        } else if (w == "--delay") {
            delay = static_cast<std::uint8_t>(ParseInteger(value(i, "microseconds 1 to 255"), 1, 255, "delay"));
        } else if (w == "--static-bits") {
            bits = ParseStaticBits(value(i, "a list such as CS2,CS5, or none"));
        } else if (w.size() > 1 && w[0] == '-' && w[1] == '-') {
            throw Error(kBadInput, "spi: unknown option '" + w + "'");
        } else {
            sent.push_back(ParseHexWord(w, "word"));
        }
    }
    if (sent.size() > 16) throw Error(kBadInput, "spi: give 1 to 16 words");
    if (sent.empty() && (channel != 1 || negative)) throw Error(kBadInput, "spi: the channel and polarity go with words to send");
    return [&c, sent, channel, negative, delay, bits] {
        c.s.SpiSetUp(delay, bits);
        if (sent.empty()) {
            const auto [us, staticBits] = c.s.SpiReadSetUp();
            c.out << "delay " << us << " us, static bits";
            for (int cs = 2; cs <= 5; ++cs)
                if (staticBits & (1 << (cs + 1))) c.out << " CS" << cs;
            if ((staticBits & 0x78) == 0) c.out << " none";
            c.out << '\n';
            return;
        }
        const auto back = c.s.SpiTransfer(sent, channel, negative);
        for (std::size_t i = 0; i < back.size(); ++i) c.out << (i ? " " : "") << FormatHex(back[i], 4);
        c.out << '\n';
    };
}

Action Watch(Command& c) {
    long long count = -1;
    float delayMs = 25.0f;
    std::string logFile;
    const auto& words = c.words;
    for (std::size_t i = 1; i < words.size(); ++i) {
        const std::string& w = words[i];
        if (i + 1 >= words.size()) throw Error(kBadInput, "watch: " + w + " needs a value");
        if (w == "--count") {
            count = ParseInteger(words[++i], 1, 1'000'000'000, "count");
        } else if (w == "--delay") {
            delayMs = ParseDelay(words[++i]);
        } else if (w == "--log") {
            logFile = words[++i];
            if (logFile.empty()) throw Error(kBadInput, "watch: --log needs a file name");
        } else {
            throw Error(kBadInput, "watch: unknown option '" + w + "'");
        }
    }
    if (!logFile.empty())
        if (const std::string why = c.s.OutputRefusal(logFile); !why.empty()) throw Error(kBadInput, why);
    return [&c, count, delayMs, logFile] {
        DataLogFile log;
        if (!logFile.empty()) {
            const DataLogHeader h = c.s.LogHeader(delayMs);
            if (!log.Open(logFile) || !log.Write(DataLogHeaderText(h)))
                throw Error(kFileError, "Error Trying to open file " + logFile + ": " + log.error());
        }
        // The same column names as monitor and the main window; the log file keeps its own.
        c.out << "Index";
        for (const session::OutputName& o : session::kOutputs) c.out << '\t' << session::OutputColumn(o);
        c.out << "\tNew\tError\tStatus\n";
        // As the window's loop paces its passes for the same LoopDelay in its log: 1 ms,
        // then the delay less 5 ms (the reads and the drawing come on top in both).
        const std::optional<std::int64_t> passes = count < 0 ? std::nullopt : std::optional<std::int64_t>(count);
        session::PacedPasses loop(c.s, passes, delayMs - 4.0f);
        while (const std::optional<session::PacedPass> paced = loop.Next()) {
            const session::Pass& p = paced->pass;
            const std::string line = DataLogLine(static_cast<std::int32_t>(paced->index), p.values, p.newData, p.alarm, p.status);
            c.out << line.substr(0, line.size() - 2) << '\n' << std::flush;
            StandardOutputWritten(c.out);
            if (log.isOpen() && !log.Write(line)) throw Error(kFileError, "Error Trying to open file " + logFile + ": " + log.error());
        }
    };
}

// What stands between this machine and a first read, each problem with its fix; the run
// fails (status 2) when no board could be reached.
Action Doctor(Command& c) {
    if (c.words.size() > 1) throw Error(kBadInput, "doctor takes no arguments");
    return [&c] {
        const session::Diagnosis d = session::Diagnose(c.s, c.settingsFile);
        c.out << session::DiagnosisText(d) << std::flush;
        StandardOutputWritten(c.out);
        if (!d.boardReachable) throw Error(kNoInterface, "no board can be reached yet");
    };
}

Action Monitor(Command& c) {
    if (c.words.size() > 2) throw Error(kBadInput, "monitor: at most one count");
    const long long count = c.words.size() == 2 ? ParseInteger(c.words[1], 1, 1'000'000, "count") : 10;
    return [&c, count] {
        // Columns as the main window labels them, padded so a terminal lines them up.
        auto column = [](const std::string& text) { return text + std::string(text.size() < 16 ? 16 - text.size() : 1, ' '); };
        for (const session::OutputName& o : session::kOutputs) c.out << column(session::OutputColumn(o));
        c.out << column("Data") << "Alarm\n";
        for (long long n = 0; n < count; ++n) {
            if (n > 0) c.s.Pause(200.0f);
            const session::Pass p = c.s.ReadPass();
            std::string line;
            for (std::size_t k = 0; k < p.values.size(); ++k) line += column(FormatFixed(p.values[k], k < 2 ? 3 : 2));
            line += column(p.newData ? "New" : "Old");
            line += p.alarm ? "Alarm" : "OK";
            c.out << line << '\n' << std::flush;
            StandardOutputWritten(c.out);
        }
    };
}

}  // namespace

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
    if (!AllOf(digits, base == 16 ? isxdigit : isdigit) || digits.size() > 9) throw Error(kBadInput, "bad number '" + text + "'");
    long long v = std::strtoll(digits.c_str(), nullptr, base);
    if (negative) v = -v;
    if (v < lo || v > hi) throw Error(kBadInput, what + " " + text + " is out of range (" + std::to_string(lo) + " to " + std::to_string(hi) + ")");
    return v;
}

const std::vector<CommandEntry>& Commands() {
    static const std::vector<CommandEntry> table = {
        {"read", Read, true},       {"write", Write, true},   {"dump", Dump, true},   {"info", Info, true},
        {"adapters", Adapters, false}, {"registers", Registers, false}, {"spi", Spi, true}, {"watch", Watch, true},
        {"monitor", Monitor, true},   {"capture", Capture, true}, {"noise", Noise, false},
        {"export-vcd", ExportVcdCommand, false}, {"doctor", Doctor, false},
    };
    return table;
}

}  // namespace qvin::cli
