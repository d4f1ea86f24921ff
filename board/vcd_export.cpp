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

}  // namespace

std::string ExportVcd(const std::filesystem::path& recording, std::ostream& out, VcdSummary& summary, const std::string& writer) {
    const std::string name = recording.string();
    if (const std::string why = NotRegularRefusal(recording); !why.empty()) return why;
    std::ifstream in(recording, std::ios::binary);
    if (!in) return name + ": " + std::strerror(errno);

    // The recording, line by line, strictly; each line's time, or a made-up one.
    LineReader lines(in, kMaxLine);
    std::int64_t lastTime = 0;
    std::string text;
    auto next = [&](RecordingLine& line, std::string& why) -> bool {
        for (;;) {
            const LineReader::End end = lines.Next(text);
            if (end == LineReader::End::None) return false;
            const std::size_t number = lines.number();
            const bool tooLong = end == LineReader::End::TooLong;
            const bool cut = end == LineReader::End::Unended && text.find_first_not_of(" \t") != std::string::npos;
            auto at = [&] { return name + ": line " + std::to_string(number) + ": \"" + Excerpt(text) + "\" "; };
            if (tooLong) return why = at() + "is longer than any recording line", false;
            if (cut) return why = at() + "is cut short (the file ends before the line does)", false;
            const auto parsed = ParseRecordingLine(text, why);
            if (!parsed) return why = at() + "is no recording line: " + why, false;
            if (parsed->skip) continue;
            line = *parsed;
            if (line.timeNs) {
                lastTime = *line.timeNs;
            } else {
                summary.timed = false;
                lastTime += kUntimedStepNs;
            }
            return true;
        }
    };

    // Which interface: the first exchange says.
    RecordingLine line;
    std::string why;
    if (!next(line, why)) return why.empty() ? name + " holds no exchange with a board" : why;
    const bool lpt = line.words[0].substr(0, 5) == "port-";
    const bool spidev = line.words[0].substr(0, 7) == "spidev-";
    unsigned base = 0;
    if (lpt) {
        base = line.words.size() > 1 ? Byte(line.words[1]) : 0x378;
        summary.interface = "parallel port " + std::string(line.words[1]);
    } else if (spidev) {
        summary.interface = "SPI device " + (line.words.size() > 1 ? FromTraceWord(line.words[1]) : std::string("(unnamed)"));
        summary.failedAre = "exchanges the device failed";
    } else {
        summary.interface = "USB adapter";
    }

    out << "$comment QVIN27319 SPI bus from the recording " << Excerpt(name, 200) << ": " << summary.interface;
    if (lpt)
        out << ". The lines as the program drove them and read them, at their recorded times; the port's inversions undone"
               " (data register bit 0 chip select, bit 1 clock, bit 2 data to the chip inverted; status bit 6 data from the chip"
               " inverted)";
    else if (spidev)
        out << ". RECONSTRUCTED TIMING: each exchange's frames drawn at the device's 1 MHz clock from the exchange's"
               " recorded time; chip select rises for the delay after each frame";
    else
        out << ". RECONSTRUCTED TIMING: each transfer's words drawn from the adapter's set-up at a 1 MHz clock from the"
               " transfer's recorded time; chip select rises for the delay between words";
    out << ". cs is active low; data changes as clk rises and is taken as it falls. $end\n"
        << "$version " << writer << " $end\n$timescale 1 ns $end\n$scope module spi $end\n"
        << "$var wire 1 ! cs $end\n$var wire 1 \" clk $end\n$var wire 1 # mosi $end\n$var wire 1 $ miso $end\n"
        << "$upscope $end\n$enddefinitions $end\n";
    Bus bus(out);

    // Frames drawn from `t` at the 1 MHz clock, chip select low for each and high for the
    // delay after it; an answer missing is the line at rest (high).
    auto drawFrames = [&](std::int64_t t, std::span<const unsigned> sent, const std::vector<unsigned>& back, int gapUs) {
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
            ++summary.frames;
            at += static_cast<std::int64_t>(gapUs) * 1000;
        }
    };

    int delayUs = 25;
    bool haveLine = true;
    bool lastCs = true;
    while (haveLine) {
        const std::vector<std::string_view>& w = line.words;
        const std::int64_t t = lastTime;
        if (lpt) {
            if (w[0] == "port-out" && Byte(w[1]) == base) {
                const unsigned v = Byte(w[2]);
                const bool cs = !(v & 1), clk = v & 2, mosi = !(v & 4);
                // Chip select falls before the data moves and rises after it; the clock's
                // fall is where the chip takes a bit, so it comes last at its instant.
                if (cs && !lastCs) ++summary.frames;  // chip select rises: a word ends
                lastCs = cs;
                bus.Set(t, Cs, cs);
                bus.Set(t, Mosi, mosi);
                bus.Set(t, Clk, clk);
                bus.Close();
            } else if (w[0] == "port-in" && Byte(w[1]) == base + 1) {
                bus.Set(t, Miso, !(Byte(w[2]) & 0x40));
                bus.Close();
            }
        } else if (spidev) {
            if (w[0] == "spidev-out" && w.size() >= 3) {
                std::vector<unsigned> sent, back;
                for (std::size_t i = 2; i < w.size(); ++i) sent.push_back(Byte(w[i]));
                const int gapUs = static_cast<int>(Decimal(w[1]));
                RecordingLine reply;
                haveLine = next(reply, why);
                if (!haveLine && !why.empty()) return why;
                const bool answered = haveLine && reply.words[0] == "spidev-in" && !(reply.words.size() >= 2 && reply.words[1] == "failed");
                if (answered)
                    for (std::size_t i = 1; i < reply.words.size(); ++i) back.push_back(Byte(reply.words[i]));
                // A failed exchange may have clocked some frames or none: drawn with the line
                // from the chip at rest, and counted.
                if (!answered) ++summary.failed;
                drawFrames(t, sent, back, gapUs);
                if (haveLine && reply.words[0] != "spidev-in") {
                    line = reply;
                    continue;
                }
            }
        } else if (w[0] == "usb-out" && w.size() >= 3 && w[1] == "0") {
            const unsigned cmd = Byte(w[2]);
            if (cmd == adapter::kSetDelay && w.size() >= 4) delayUs = std::max(1u, Byte(w[3]));
            if ((cmd == adapter::kTransferPos || cmd == adapter::kTransferNeg) && w.size() >= 5) {
                const unsigned channel = Byte(w[3]), n = Byte(w[4]);
                std::vector<unsigned> sent;
                for (std::size_t i = 5; i + 1 < w.size(); i += 2) sent.push_back(Byte(w[i]) * 256 + Byte(w[i + 1]));
                summary.interface = "USB adapter, channel " + std::to_string(channel);
                // The reply: the words clocked back, or a failure (nothing was sent then).
                RecordingLine reply;
                bool failed = false;
                std::vector<unsigned> back;
                for (;;) {
                    if (!next(reply, why)) {
                        if (!why.empty()) return why;
                        failed = true;
                        haveLine = false;
                        break;
                    }
                    if (reply.words[0] == "took") continue;
                    break;
                }
                if (haveLine) {
                    const auto& r = reply.words;
                    if ((r[0] == "usb-out" && r.size() == 3 && r[2] == "failed") || (r[0] == "usb-in" && r.size() == 3 && r[2] == "failed"))
                        failed = r[0] == "usb-out";
                    else if (r[0] == "usb-in")
                        for (std::size_t i = 2; i + 1 < r.size(); i += 2) back.push_back(Byte(r[i]) * 256 + Byte(r[i + 1]));
                }
                if (failed) {
                    ++summary.failed;
                    bus.Comment("the adapter refused the transfer at " + std::to_string(t) + " ns: nothing reached the chip");
                } else {
                    drawFrames(t, std::span(sent).first(std::min<std::size_t>(sent.size(), n)), back, delayUs);
                }
                if (haveLine && !(reply.words[0] == "usb-in" || reply.words[0] == "usb-out")) {
                    line = reply;
                    continue;
                }
            }
            if (cmd == 1) {  // the adapter's set-up read back: its delay first
                RecordingLine reply;
                if (next(reply, why) && reply.words[0] == "usb-in" && reply.words.size() >= 3 && reply.words[2] != "failed")
                    delayUs = std::max(1u, Byte(reply.words[2]));
                else if (!why.empty())
                    return why;
            }
        }
        haveLine = next(line, why);
        if (!haveLine && !why.empty()) return why;
    }
    if (!bus.started()) bus.Start(0);  // nothing drawn: the lines at rest
    bus.Flush();
    out.flush();
    if (!out) return "the waveform could not be written";
    return {};
}

}  // namespace qvin
