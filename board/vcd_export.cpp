#include "board/vcd_export.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <optional>
#include <ostream>
#include <span>
#include <vector>

#include "device/adapter_commands.h"
#include "board/replay_board.h"
#include "core/excerpt.h"
#include "core/line_reader.h"
#include "core/file_safety.h"

namespace qvin {

namespace {

constexpr std::size_t kMaxLine = 8192;
constexpr std::int64_t kBitNs = 1000;       // the reconstructed clock: 1 MHz
constexpr std::int64_t kUntimedStepNs = 1000;

// Fields the strict parser has already checked: a decimal number.
unsigned Decimal(std::string_view w) {
    unsigned v = 0;
    std::from_chars(w.data(), w.data() + w.size(), v, 10);
    return v;
}

// A byte or a word, in hexadecimal.
unsigned Byte(std::string_view w) {
    unsigned v = 0;
    std::from_chars(w.data(), w.data() + w.size(), v, 16);
    return v;
}

// The four lines and the changes written so far: only changes go out, in time order,
// through a buffer of its own (a long session draws hundreds of millions of edges).
class Bus {
public:
    explicit Bus(std::ostream& out) : out_(out) { buffer_.reserve(kFlushAt + 64); }
    ~Bus() { Flush(); }
    void Set(std::int64_t t, int line, bool level) {
        // The dump begins a microsecond before the first change: a viewer then opens on
        // the bus at work, not on the idle time before the first request.
        if (!started_) Start(std::max<std::int64_t>(0, t - kLeadNs));
        if (level == levels_[line]) return;
        if (t <= now_ && started_) t = now_ + (pending_ ? 0 : 1);
        if (!pending_ || t != now_) {
            char digits[24];
            const auto end = std::to_chars(digits, digits + sizeof digits, t).ptr;
            buffer_ += '#';
            buffer_.append(digits, end);
            buffer_ += '\n';
            now_ = t;
            pending_ = true;
        }
        levels_[line] = level;
        buffer_ += level ? '1' : '0';
        buffer_ += kIds[line];
        buffer_ += '\n';
        if (buffer_.size() >= kFlushAt) Flush();
    }
    // The next change comes strictly later than anything written.
    void Close() { pending_ = false; }
    void Start(std::int64_t t) {
        out_ << "#" << t << "\n$dumpvars\n1!\n0\"\n0#\n0$\n$end\n";
        levels_ = {true, false, false, false};
        now_ = t;
        started_ = true;
        pending_ = false;
    }
    void Flush() {
        out_.write(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
        buffer_.clear();
    }
    // A comment among the changes, in its place.
    void Comment(const std::string& text) {
        Flush();
        out_ << "$comment " << text << " $end\n";
    }
    std::int64_t now() const { return now_; }
    bool started() const { return started_; }
    static constexpr const char* kIds = "!\"#$";

private:
    static constexpr std::size_t kFlushAt = 1 << 20;
    static constexpr std::int64_t kLeadNs = 1000;
    std::ostream& out_;
    std::string buffer_;
    std::array<bool, 4> levels_{};
    std::int64_t now_ = 0;
    bool started_ = false;
    bool pending_ = false;
};

enum Line { Cs = 0, Clk = 1, Mosi = 2, Miso = 3 };
enum class Kind { Port, Spidev, Usb };

// One export: the recording read strictly line by line, and each interface's exchanges
// drawn on the bus by a method of its own.
class Export {
public:
    Export(std::istream& in, std::string name, std::ostream& out, VcdSummary& summary)
        : lines_(in, kMaxLine), name_(std::move(name)), out_(out), summary_(summary) {}
    std::string Run(const std::string& writer);

private:
    // What a method did with the line it was given.
    enum class Step {
        Done,  // used it (and the lines that belong to it): the next line follows
        Held,  // read a line that belongs to what comes next: it is in line_ already
        Ended, // came to the end of the recording
    };
    bool Next(RecordingLine& line);
    void Header(const std::string& writer);
    void DrawFrames(std::int64_t t, std::span<const unsigned> sent, const std::vector<unsigned>& back, int gapUs);
    Step PortLine();
    Step SpidevExchange();
    Step UsbMessage();

    LineReader lines_;
    std::string name_;
    std::ostream& out_;
    VcdSummary& summary_;
    std::optional<Bus> bus_;
    std::string text_;
    std::string why_;  // why the recording was refused, naming the line
    std::int64_t lastTime_ = 0;
    RecordingLine line_;
    Kind kind_ = Kind::Usb;
    unsigned base_ = 0;   // the parallel port's data register
    bool lastCs_ = true;  // the parallel port's chip select, as last driven
    int delayUs_ = 25;    // the adapter's delay between words
};

// The next exchange line, strictly; its time, or a made-up one. False at the end or when
// the line is refused (why_ says so).
bool Export::Next(RecordingLine& line) {
    for (;;) {
        const LineReader::End end = lines_.Next(text_);
        if (end == LineReader::End::None) return false;
        const std::size_t number = lines_.number();
        const bool tooLong = end == LineReader::End::TooLong;
        const bool cut = end == LineReader::End::Unended && text_.find_first_not_of(" \t") != std::string::npos;
        auto at = [&] { return name_ + ": line " + std::to_string(number) + ": \"" + Excerpt(text_) + "\" "; };
        if (tooLong) return why_ = at() + "is longer than any recording line", false;
        if (cut) return why_ = at() + "is cut short (the file ends before the line does)", false;
        std::string why;
        const auto parsed = ParseRecordingLine(text_, why);
        if (!parsed) return why_ = at() + "is no recording line: " + why, false;
        if (parsed->skip) continue;
        line = *parsed;
        if (line.timeNs) {
            lastTime_ = *line.timeNs;
        } else {
            summary_.timed = false;
            lastTime_ += kUntimedStepNs;
        }
        return true;
    }
}

void Export::Header(const std::string& writer) {
    out_ << "$comment QVIN27319 SPI bus from the recording " << Excerpt(name_, 200) << ": " << summary_.interface;
    if (kind_ == Kind::Port)
        out_ << ". The lines as the program drove them and read them, at their recorded times; the port's inversions undone"
                " (data register bit 0 chip select, bit 1 clock, bit 2 data to the chip inverted; status bit 6 data from the chip"
                " inverted)";
    else if (kind_ == Kind::Spidev)
        out_ << ". RECONSTRUCTED TIMING: each exchange's frames drawn at the device's 1 MHz clock from the exchange's"
                " recorded time; chip select rises for the delay after each frame";
    else
        out_ << ". RECONSTRUCTED TIMING: each transfer's words drawn from the adapter's set-up at a 1 MHz clock from the"
                " transfer's recorded time; chip select rises for the delay between words";
    out_ << ". cs is active low; data changes as clk rises and is taken as it falls. $end\n"
         << "$version " << writer << " $end\n$timescale 1 ns $end\n$scope module spi $end\n"
         << "$var wire 1 ! cs $end\n$var wire 1 \" clk $end\n$var wire 1 # mosi $end\n$var wire 1 $ miso $end\n"
         << "$upscope $end\n$enddefinitions $end\n";
}

// Frames drawn from `t` at the 1 MHz clock, chip select low for each and high for the
// delay after it; an answer missing is the line at rest (high).
void Export::DrawFrames(std::int64_t t, std::span<const unsigned> sent, const std::vector<unsigned>& back, int gapUs) {
    Bus& bus = *bus_;
    std::int64_t at = std::max(t, bus.now() + 1);
    for (std::size_t k = 0; k < sent.size(); ++k) {
        const unsigned miso = k < back.size() ? back[k] : 0xFFFF;
        bus.Set(at, Cs, false);
        bus.Close();
        at += kBitNs / 2;
        for (int b = 15; b >= 0; --b) {
            bus.Set(at, Mosi, (sent[k] >> b) & 1);
            bus.Set(at, Miso, (miso >> b) & 1);
            bus.Set(at, Clk, true);
            bus.Close();
            bus.Set(at + kBitNs / 2, Clk, false);
            bus.Close();
            at += kBitNs;
        }
        bus.Set(at, Cs, true);
        bus.Close();
        ++summary_.frames;
        at += static_cast<std::int64_t>(gapUs) * 1000;
    }
}

// The parallel port: the lines as driven and read, at their recorded times.
Export::Step Export::PortLine() {
    const std::vector<std::string_view>& w = line_.words;
    const std::int64_t t = lastTime_;
    Bus& bus = *bus_;
    if (w[0] == "port-out" && Byte(w[1]) == base_) {
        const unsigned v = Byte(w[2]);
        const bool cs = !(v & 1), clk = v & 2, mosi = !(v & 4);
        // Chip select falls before the data moves and rises after it; the clock's
        // fall is where the chip takes a bit, so it comes last at its instant.
        if (cs && !lastCs_) ++summary_.frames;  // chip select rises: a word ends
        lastCs_ = cs;
        bus.Set(t, Cs, cs);
        bus.Set(t, Mosi, mosi);
        bus.Set(t, Clk, clk);
        bus.Close();
    } else if (w[0] == "port-in" && Byte(w[1]) == base_ + 1) {
        bus.Set(t, Miso, !(Byte(w[2]) & 0x40));
        bus.Close();
    }
    return Step::Done;
}

// An SPI device: an exchange's frames and the answer that follows them.
Export::Step Export::SpidevExchange() {
    const std::vector<std::string_view>& w = line_.words;
    if (!(w[0] == "spidev-out" && w.size() >= 3)) return Step::Done;
    const std::int64_t t = lastTime_;
    std::vector<unsigned> sent, back;
    for (std::size_t i = 2; i < w.size(); ++i) sent.push_back(Byte(w[i]));
    const int gapUs = static_cast<int>(Decimal(w[1]));
    RecordingLine reply;
    const bool haveReply = Next(reply);
    if (!haveReply && !why_.empty()) return Step::Ended;
    const bool answered = haveReply && reply.words[0] == "spidev-in" && !(reply.words.size() >= 2 && reply.words[1] == "failed");
    if (answered)
        for (std::size_t i = 1; i < reply.words.size(); ++i) back.push_back(Byte(reply.words[i]));
    // A failed exchange may have clocked some frames or none: drawn with the line from the
    // chip at rest, and counted.
    if (!answered) ++summary_.failed;
    DrawFrames(t, sent, back, gapUs);
    if (!haveReply) return Step::Ended;
    if (reply.words[0] == "spidev-in") return Step::Done;
    line_ = reply;
    return Step::Held;
}

// The USB adapter: its set-up (the delay between words) and its transfers, each drawn
// from the words sent and the words clocked back.
Export::Step Export::UsbMessage() {
    const std::vector<std::string_view>& w = line_.words;
    if (!(w[0] == "usb-out" && w.size() >= 3 && w[1] == "0")) return Step::Done;
    const std::int64_t t = lastTime_;
    const unsigned cmd = Byte(w[2]);
    if (cmd == adapter::kSetDelay && w.size() >= 4) delayUs_ = std::max(1u, Byte(w[3]));
    if ((cmd == adapter::kTransferPos || cmd == adapter::kTransferNeg) && w.size() >= 5) {
        const unsigned channel = Byte(w[3]), n = Byte(w[4]);
        std::vector<unsigned> sent;
        for (std::size_t i = 5; i + 1 < w.size(); i += 2) sent.push_back(Byte(w[i]) * 256 + Byte(w[i + 1]));
        summary_.interface = "USB adapter, channel " + std::to_string(channel);
        // The reply: the words clocked back, or a failure (nothing was sent then).
        RecordingLine reply;
        bool failed = false, haveReply = true;
        std::vector<unsigned> back;
        for (;;) {
            if (!Next(reply)) {
                if (!why_.empty()) return Step::Ended;
                failed = true;
                haveReply = false;
                break;
            }
            if (reply.words[0] != "took") break;
        }
        if (haveReply) {
            const auto& r = reply.words;
            if ((r[0] == "usb-out" && r.size() == 3 && r[2] == "failed") || (r[0] == "usb-in" && r.size() == 3 && r[2] == "failed"))
                failed = r[0] == "usb-out";
            else if (r[0] == "usb-in")
                for (std::size_t i = 2; i + 1 < r.size(); i += 2) back.push_back(Byte(r[i]) * 256 + Byte(r[i + 1]));
        }
        if (failed) {
            ++summary_.failed;
            bus_->Comment("the adapter refused the transfer at " + std::to_string(t) + " ns: nothing reached the chip");
        } else {
            DrawFrames(t, std::span(sent).first(std::min<std::size_t>(sent.size(), n)), back, delayUs_);
        }
        if (!haveReply) return Step::Ended;
        if (!(reply.words[0] == "usb-in" || reply.words[0] == "usb-out")) {
            line_ = reply;
            return Step::Held;
        }
    }
    if (cmd == adapter::kReadSetup) {  // the adapter's set-up read back: its delay first
        RecordingLine reply;
        if (Next(reply) && reply.words[0] == "usb-in" && reply.words.size() >= 3 && reply.words[2] != "failed")
            delayUs_ = std::max(1u, Byte(reply.words[2]));
        else if (!why_.empty())
            return Step::Ended;
    }
    return Step::Done;
}

std::string Export::Run(const std::string& writer) {
    // Which interface: the first exchange says.
    if (!Next(line_)) return why_.empty() ? name_ + " holds no exchange with a board" : why_;
    const std::string_view first = line_.words[0];
    if (first.substr(0, 5) == "port-") {
        kind_ = Kind::Port;
        base_ = line_.words.size() > 1 ? Byte(line_.words[1]) : 0x378;
        summary_.interface = "parallel port " + std::string(line_.words[1]);
    } else if (first.substr(0, 7) == "spidev-") {
        kind_ = Kind::Spidev;
        // The name it opened as, where the recording has it.
        const std::vector<std::string_view>& w = line_.words;
        const std::string_view opened = w.size() == 4 && w[2] == "ok" ? w[3] : w.size() > 1 ? w[1] : std::string_view();
        summary_.interface = "SPI device " + (opened.empty() ? std::string("(unnamed)") : FromTraceWord(opened));
        summary_.failedAre = "exchanges the device failed";
    } else {
        kind_ = Kind::Usb;
        summary_.interface = "USB adapter";
    }
    Header(writer);
    bus_.emplace(out_);
    for (;;) {
        const Step step = kind_ == Kind::Port ? PortLine() : kind_ == Kind::Spidev ? SpidevExchange() : UsbMessage();
        if (!why_.empty()) return why_;
        if (step == Step::Ended) break;
        if (step == Step::Held) continue;
        if (!Next(line_)) {
            if (!why_.empty()) return why_;
            break;
        }
    }
    if (!bus_->started()) bus_->Start(0);  // nothing drawn: the lines at rest
    bus_->Flush();
    out_.flush();
    if (!out_) return "the waveform could not be written";
    return {};
}

}  // namespace

std::string ExportVcd(const std::filesystem::path& recording, std::ostream& out, VcdSummary& summary, const std::string& writer) {
    const std::string name = recording.string();
    if (const std::string why = NotRegularRefusal(recording); !why.empty()) return why;
    std::ifstream in(recording, std::ios::binary);
    if (!in) return name + ": " + std::strerror(errno);
    return Export(in, name, out, summary).Run(writer);
}

}  // namespace qvin
