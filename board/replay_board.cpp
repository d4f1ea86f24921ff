#include "board/replay_board.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <optional>
#include <vector>

#include "core/line_reader.h"
#include "platform/port/port_error_text.h"

namespace qvin {

namespace {

// Longer than any line the trace writes (the pipe table is about 1100 characters).
constexpr std::size_t kMaxLine = 8192;
// No request outlasts the adapter's own limit of a second; a recording that says one
// did is not believed (it would hold the program for as long as it says).
constexpr unsigned long long kMaxTookNs = 1'000'000'000ull;

std::optional<unsigned long long> ParseNumber(std::string_view text, int base, unsigned long long max) {
    unsigned long long v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v, base);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty() || v > max) return std::nullopt;
    return v;
}

std::string Hex(unsigned value, int digits) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%0*X", digits, value);
    return buf;
}

std::string HexBytes(std::string head, std::span<const std::uint8_t> bytes) {
    for (std::uint8_t b : bytes) head.append(1, ' ').append(Hex(b, 2));
    return head;
}

bool IsHex(std::string_view w, std::size_t minDigits, std::size_t maxDigits) {
    return w.size() >= minDigits && w.size() <= maxDigits &&
           std::all_of(w.begin(), w.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; });
}

bool IsDecimal(std::string_view w, unsigned long long max) { return ParseNumber(w, 10, max).has_value(); }

// Why a recording's line (split into words) is not one the trace writes, or nothing.
// Every byte is two hexadecimal digits, addresses three or four, numbers decimal.
std::string LineProblem(const std::vector<std::string_view>& w) {
    const std::string_view kind = w[0];
    auto bytesFrom = [&w](std::size_t from) -> std::string {
        for (std::size_t i = from; i < w.size(); ++i)
            if (!IsHex(w[i], 2, 2)) return Quoted(w[i]) + " is not a byte (two hexadecimal digits)";
        return {};
    };
    auto failedOrBytes = [&](std::size_t from) -> std::string {
        if (w.size() == from + 1 && w[from] == "failed") return {};
        return bytesFrom(from);
    };
    if (kind == "port-out" || kind == "port-in") {
        if (w.size() != 3 || !IsHex(w[1], 3, 4) || !IsHex(w[2], 2, 2)) return std::string(kind) + " needs an address and a byte";
        return {};
    }
    if (kind == "port-prepare") {
        if (w.size() < 3 || !IsHex(w[1], 3, 4)) return "port-prepare needs an address and ok or the reason";
        return {};
    }
    if (kind == "usb-open") {
        if (w.size() < 3 || (w[2] != "ok" && w[2] != "none") || (w[2] == "ok" && w.size() != 3))
            return "usb-open needs a device name and ok, or none and what kept it";
        return {};
    }
    if (kind == "usb-device" || kind == "usb-pipes") return failedOrBytes(1);
    if (kind == "usb-string") {
        if (w.size() < 4 || !IsDecimal(w[1], 255) || !IsDecimal(w[2], 0xFFFF)) return "usb-string needs an index, a size and the bytes";
        return failedOrBytes(3);
    }
    if (kind == "usb-out" || kind == "usb-in") {
        if (w.size() < 3 || !IsDecimal(w[1], 16)) return std::string(kind) + " needs a pipe (0 to 16) and the bytes";
        return failedOrBytes(2);
    }
    if (kind == "spidev-open") {
        // "ok" may be followed by the name the device opened as ("ftdi:" opened as ftdi:FT5ABC12).
        if (w.size() < 3 || (w[2] != "ok" && w[2] != "failed") || (w[2] == "ok" && w.size() > 4) || (w[2] == "failed" && w.size() == 3))
            return "spidev-open needs a device and ok (and the name it opened as), or failed and why";
        // The device is named in what the replay says: printable characters only.
        auto printable = [](std::string_view name) {
            return std::none_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x21 || static_cast<unsigned char>(c) > 0x7E; });
        };
        if (!printable(w[1]) || (w[2] == "ok" && w.size() == 4 && !printable(w[3]))) return "a device's name is printable characters";
        return {};
    }
    if (kind == "spidev-out" || kind == "spidev-in") {
        const std::size_t from = kind == "spidev-out" ? 2 : 1;
        if (kind == "spidev-out" && (w.size() < 3 || !IsDecimal(w[1], 0xFFFF))) return "spidev-out needs a delay (microseconds) and the words";
        if (kind == "spidev-in" && w.size() >= 3 && w[1] == "failed") return {};
        if (w.size() <= from) return std::string(kind) + " needs the words";
        for (std::size_t i = from; i < w.size(); ++i)
            if (!IsHex(w[i], 4, 4)) return Quoted(w[i]) + " is not a word (four hexadecimal digits)";
        return {};
    }
    if (kind == "took") {
        if (w.size() != 2 || !IsDecimal(w[1], ~0ull)) return "took needs a number of nanoseconds";
        if (!IsDecimal(w[1], kMaxTookNs)) return "no request takes longer than a second (took " + std::string(w[1]) + " ns)";
        return {};
    }
    return Quoted(kind) + " is not something a recording holds";
}

}  // namespace


std::optional<RecordingLine> ParseRecordingLine(std::string_view t, std::string& why) {
    RecordingLine r;
    for (std::size_t i = 0; i < t.size();) {
        const std::size_t start = t.find_first_not_of(" \t", i);
        if (start == std::string_view::npos) break;
        const std::size_t stop = std::min(t.find_first_of(" \t", start), t.size());
        r.words.push_back(t.substr(start, stop - start));
        i = stop;
    }
    if (!r.words.empty() && r.words[0].size() > 1 && r.words[0][0] == '@') {
        const auto ns = ParseNumber(r.words[0].substr(1), 10, 1ull << 62);
        if (!ns) {
            why = Quoted(r.words[0]) + " is no time (@ and nanoseconds)";
            return std::nullopt;
        }
        r.timeNs = static_cast<std::int64_t>(*ns);
        r.words.erase(r.words.begin());
    }
    if (r.words.empty() || r.words[0][0] == '#' || r.words[0] == "spi") {
        r.skip = true;
        return r;
    }
    if (std::string problem = LineProblem(r.words); !problem.empty()) {
        why = std::move(problem);
        return std::nullopt;
    }
    return r;
}

// The exchanges of the file, one ahead of the program. Lines that are blank, start with
// '#' (notes a person added) or hold the simulated chip's frames ("spi ...") are passed by.
class ReplayBoard::Recording {
public:
    struct Event {
        Event() {}  // user-provided: clang cannot use the defaulted one inside the enclosing class
        Event(const Event&) = delete;  // the words point into this object's text
        Event& operator=(const Event&) = delete;
        std::size_t line = 0;
        std::string text;
        std::vector<std::string_view> words;  // into text
    };

    Recording(std::filesystem::path file, std::ifstream in) : file_(std::move(file)), in_(std::move(in)) {}

    bool stopped() const { return stopped_; }
    const std::filesystem::path& file() const { return file_; }

    // The next exchange, or nullptr at the end of the file.
    const Event* Peek() {
        if (stopped_) Stop(nullptr, "");
        if (!next_ && !ended_) ReadNext();
        return next_ ? &*next_ : nullptr;
    }
    // Passes the answer by, and lets the time it took then pass now.
    // A "took" line belongs to the request before it, once: a chain of them would add up
    // to any wait.
    void Consume() {
        next_.reset();
        const Event* e = Peek();
        if (!e || e->words.size() != 2 || e->words[0] != "took") return;
        const auto ns = ParseNumber(e->words[1], 10, kMaxTookNs);
        if (!ns) return;
        if (clock) clock->Elapse(static_cast<std::int64_t>(*ns));
        next_.reset();
        if (const Event* again = Peek(); again && !again->words.empty() && again->words[0] == "took")
            Refuse(again->text, "a took line follows the request it belongs to, once");
    }

    Clock* clock = nullptr;

    // The next exchange when its first word is `kind`, otherwise the replay stops with
    // `asked`: what the program wanted, in the form a recording would hold it.
    const Event& Expect(std::string_view kind, const std::string& asked) {
        const Event* e = Peek();
        if (!e || e->words.empty() || e->words[0] != kind) Stop(e, asked);
        return *e;
    }

    // The bytes from word `from` on; nullopt when one of them is not a byte.
    static std::optional<std::vector<std::uint8_t>> Bytes(const Event& e, std::size_t from) {
        std::vector<std::uint8_t> bytes;
        for (std::size_t i = from; i < e.words.size(); ++i) {
            const auto b = ParseNumber(e.words[i], 16, 0xFF);
            if (!b) return std::nullopt;
            bytes.push_back(static_cast<std::uint8_t>(*b));
        }
        return bytes;
    }

    [[noreturn]] void Stop(const Event* e, const std::string& asked) {
        if (!stopped_) {
            stopped_ = true;
            const std::string name = file_.string();
            if (!e)
                message_ = "The replay has come to the end of the recording " + name + " (line " + std::to_string(line_) +
                           ") but the program asks for: " + asked;
            else
                message_ = "The replay stopped at line " + std::to_string(e->line) + " of " + name + ": the recording holds \"" +
                           Excerpt(e->text) + "\" but the program asks for: " + asked;
            if (onStop) onStop(message_);
        }
        throw ReplayStopped{message_};
    }

    std::function<void(const std::string&)> onStop;

private:
    void ReadNext() {
        std::string text;
        for (LineReader::End end; (end = lines_.Next(text)) != LineReader::End::None;) {
            line_ = lines_.number();
            if (end == LineReader::End::TooLong) Refuse(text, "it is longer than " + std::to_string(kMaxLine) + " characters");
            if (end == LineReader::End::Unended && text.find_first_not_of(" \t") != std::string::npos)
                Refuse(text, "it is cut short (the file ends before the line does)");
            std::string why;
            const auto parsed = ParseRecordingLine(text, why);
            if (!parsed) Refuse(text, why);
            if (parsed->skip) continue;
            // The words point into the text where it stays: a short text lives inside its
            // string object, so they are found again after the move.
            next_.emplace();
            Event& e = *next_;
            e.line = line_;
            e.text = std::move(text);
            const auto again = ParseRecordingLine(e.text, why);
            e.words = again->words;
            return;
        }
        ended_ = true;
    }

    // A line the trace would never write ends the replay: what the program would make of
    // it is anybody's guess.
    [[noreturn]] void Refuse(const std::string& text, const std::string& why) {
        if (!stopped_) {
            stopped_ = true;
            message_ = "The replay stopped at line " + std::to_string(line_) + " of " + file_.string() + ": \"" + Excerpt(text) +
                       "\" is no recording line: " + why;
            if (onStop) onStop(message_);
        }
        throw ReplayStopped{message_};
    }

    std::filesystem::path file_;
    std::ifstream in_;
    LineReader lines_{in_, kMaxLine};  // what goes past kMaxLine is not kept
    std::size_t line_ = 0;
    std::optional<Event> next_;
    bool ended_ = false;
    bool stopped_ = false;
    std::string message_;
};

namespace {

using Recording = ReplayBoard::Recording;

class ReplayPort final : public PortIo {
public:
    explicit ReplayPort(Recording& r) : r_(r) {}

    PortAccessError Prepare(std::uint16_t base) override {
        const std::string asked = "port-prepare " + Hex(base, 3);
        const auto& e = r_.Expect("port-prepare", asked);
        std::optional<PortAccessError> error;
        if (e.words.size() >= 3 && ParseNumber(e.words[1], 16, 0xFFFF) == base) {
            const std::size_t rest = static_cast<std::size_t>(e.words[2].data() - e.text.data());
            error = ParsePortPrepare(std::string_view(e.text).substr(rest));
        }
        if (!error) r_.Stop(&e, asked);
        r_.Consume();
        prepared_ = !*error;
        return *error;
    }
    bool Prepared() const override { return prepared_; }

    void Out(std::uint16_t port, std::uint8_t value) override {
        const std::string asked = "port-out " + Hex(port, 3) + " " + Hex(value, 2);
        const auto& e = r_.Expect("port-out", asked);
        if (e.words.size() != 3 || ParseNumber(e.words[1], 16, 0xFFFF) != port || ParseNumber(e.words[2], 16, 0xFF) != value)
            r_.Stop(&e, asked);
        r_.Consume();
    }

    std::uint8_t In(std::uint16_t port) override {
        const std::string asked = "port-in " + Hex(port, 3);
        const auto& e = r_.Expect("port-in", asked);
        std::optional<unsigned long long> value;
        if (e.words.size() == 3 && ParseNumber(e.words[1], 16, 0xFFFF) == port) value = ParseNumber(e.words[2], 16, 0xFF);
        if (!value) r_.Stop(&e, asked);
        r_.Consume();
        return static_cast<std::uint8_t>(*value);
    }

private:
    Recording& r_;
    bool prepared_ = false;
};

class ReplayDevice final : public UsbDevice {
public:
    explicit ReplayDevice(Recording& r) : r_(r) {}

    bool GetDeviceDescriptor(std::span<std::uint8_t> buffer) override {
        return Answer("usb-device", 1, "usb-device", buffer, nullptr);
    }

    bool GetStringDescriptor(std::uint8_t index, std::span<std::uint8_t> buffer, std::size_t& received) override {
        const std::string asked = "usb-string " + std::to_string(index) + " " + std::to_string(buffer.size());
        const auto& e = r_.Expect("usb-string", asked);
        if (e.words.size() < 3 || ParseNumber(e.words[1], 10, 255) != index || ParseNumber(e.words[2], 10, 0xFFFF) != buffer.size())
            r_.Stop(&e, asked);
        return Answer("usb-string", 3, asked, buffer, &received);
    }

    bool GetPipeInfo(std::span<std::uint8_t> buffer) override {
        std::fill(buffer.begin(), buffer.end(), 0);
        return Answer("usb-pipes", 1, "usb-pipes", buffer, nullptr);
    }

    bool PipeIsInput(int pipe) const override {
        const Recording::Event* e = r_.Peek();
        return e && e->words.size() >= 2 && e->words[0] == "usb-in" && ParseNumber(e->words[1], 10, kMaxPipe) == static_cast<unsigned long long>(pipe);
    }

    bool BulkTransfer(int pipe, std::span<std::uint8_t> buffer, std::int32_t& count) override {
        const std::string p = std::to_string(pipe);
        const auto asked = static_cast<std::size_t>(std::clamp<std::int32_t>(count, 0, static_cast<std::int32_t>(buffer.size())));
        if (PipeIsInput(pipe)) {
            std::size_t received = 0;
            const bool ok = Answer("usb-in", 2, "usb-in " + p + " (up to " + std::to_string(asked) + " bytes)", buffer.first(asked), &received);
            count = static_cast<std::int32_t>(received);
            return ok;
        }
        const std::string sent = HexBytes(std::string("usb-out ").append(p), buffer.first(asked));
        const auto& e = r_.Expect("usb-out", sent);
        const auto bytes = Recording::Bytes(e, 2);
        if (e.words.size() < 2 || e.words[1] != p || !bytes || !std::equal(bytes->begin(), bytes->end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(asked)) ||
            bytes->size() != asked)
            r_.Stop(&e, sent);
        r_.Consume();
        // The adapter refused what it was sent.
        const Recording::Event* next = r_.Peek();
        if (next && next->words.size() == 3 && next->words[0] == "usb-out" && next->words[1] == p && next->words[2] == "failed") {
            r_.Consume();
            count = 0;
            return false;
        }
        count = static_cast<std::int32_t>(asked);
        return true;
    }

private:
    // The answer of the next exchange of `kind`: "failed", or bytes from word `from` on
    // that fit the buffer.
    bool Answer(std::string_view kind, std::size_t from, const std::string& asked, std::span<std::uint8_t> buffer, std::size_t* received) {
        const auto& e = r_.Expect(kind, asked);
        if (e.words.size() == from + 1 && e.words[from] == "failed") {
            r_.Consume();
            if (received) *received = 0;
            return false;
        }
        const auto bytes = Recording::Bytes(e, from);
        if (!bytes || bytes->size() > buffer.size()) r_.Stop(&e, asked);
        std::copy(bytes->begin(), bytes->end(), buffer.begin());
        if (received) *received = bytes->size();
        r_.Consume();
        return true;
    }

    Recording& r_;
};

class ReplayUsb final : public UsbDriver {
public:
    explicit ReplayUsb(Recording& r) : r_(r) {}

    std::unique_ptr<UsbDevice> Open(const std::string& name) override {
        const std::string asked = "usb-open " + name;
        const auto& e = r_.Expect("usb-open", asked);
        if (e.words.size() < 3 || e.words[1] != name || (e.words[2] != "ok" && e.words[2] != "none")) r_.Stop(&e, asked);
        const bool present = e.words[2] == "ok";
        // What kept an adapter that was there from opening, as the driver said it then.
        failure_ = e.words.size() > 3 ? e.text.substr(static_cast<std::size_t>(e.words[3].data() - e.text.data())) : std::string();
        r_.Consume();
        return present ? std::make_unique<ReplayDevice>(r_) : nullptr;
    }
    std::string OpenFailure() const override { return failure_; }

private:
    Recording& r_;
    std::string failure_;
};

}  // namespace

std::unique_ptr<ReplayBoard> ReplayBoard::Open(const std::filesystem::path& file, Clock* clock, std::string& error) {
    std::error_code ec;
    const auto status = std::filesystem::status(file, ec);
    if (ec || !std::filesystem::exists(status)) {
        error = "the recording " + file.string() + " does not exist";
        return nullptr;
    }
    // A pipe or a device would block or never end.
    if (!std::filesystem::is_regular_file(status)) {
        error = "the recording " + file.string() + " is not a file";
        return nullptr;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        error = "the recording " + file.string() + " cannot be read";
        return nullptr;
    }
    auto recording = std::make_unique<Recording>(file, std::move(in));
    recording->clock = clock;
    try {
        return std::unique_ptr<ReplayBoard>(new ReplayBoard(std::move(recording)));
    } catch (const ReplayStopped& e) {
        error = e.message;
        return nullptr;
    }
}

// A Linux SPI controller's device: each exchange's words as recorded, and the words
// clocked back.
class ReplaySpi final : public SpiBus {
public:
    explicit ReplaySpi(Recording& r) : r_(r) {}

    std::string Open(const std::string& device) override {
        const std::string asked = "spidev-open " + TraceWord(device);
        const auto& e = r_.Expect("spidev-open", asked);
        if (e.words.size() < 3 || e.words[1] != TraceWord(device)) r_.Stop(&e, asked);
        std::string why;
        // What the file says, shown as printable text whatever it holds.
        if (e.words[2] == "failed") why = Excerpt(std::string_view(e.text).substr(static_cast<std::size_t>(e.words[3].data() - e.text.data())), 200);
        open_ = why.empty();
        if (open_) device_ = e.words.size() == 4 ? FromTraceWord(e.words[3]) : device;
        r_.Consume();  // `e` is the next line from here on
        return why;
    }
    bool IsOpen() const override { return open_; }
    std::string device() const override { return device_; }

    bool Transfer(std::span<const std::uint16_t> out, std::span<std::uint16_t> in, unsigned gapUs) override {
        std::string asked = "spidev-out " + std::to_string(gapUs);
        for (const std::uint16_t w : out) asked.append(1, ' ').append(Hex(w, 4));
        const auto& e = r_.Expect("spidev-out", asked);
        if (e.words.size() != out.size() + 2 || ParseNumber(e.words[1], 10, 0xFFFF) != gapUs) r_.Stop(&e, asked);
        for (std::size_t i = 0; i < out.size(); ++i)
            if (ParseNumber(e.words[i + 2], 16, 0xFFFF) != out[i]) r_.Stop(&e, asked);
        r_.Consume();
        const std::string answer = "spidev-in (" + std::to_string(out.size()) + " words)";
        const auto& a = r_.Expect("spidev-in", answer);
        if (a.words.size() >= 3 && a.words[1] == "failed") {
            error_ = Excerpt(std::string_view(a.text).substr(static_cast<std::size_t>(a.words[2].data() - a.text.data())), 200);
            r_.Consume();
            return false;
        }
        if (a.words.size() != in.size() + 1) r_.Stop(&a, answer);
        for (std::size_t i = 0; i < in.size(); ++i) in[i] = static_cast<std::uint16_t>(*ParseNumber(a.words[i + 1], 16, 0xFFFF));
        r_.Consume();
        error_.clear();
        return true;
    }
    std::string lastError() const override { return error_; }
    void Close() override { open_ = false; }

private:
    Recording& r_;
    bool open_ = false;
    std::string device_, error_;
};

ReplayBoard::ReplayBoard(std::unique_ptr<Recording> recording)
    : recording_(std::move(recording)),
      port_(std::make_unique<ReplayPort>(*recording_)),
      usb_(std::make_unique<ReplayUsb>(*recording_)),
      spi_(std::make_unique<ReplaySpi>(*recording_)) {
    recording_->onStop = [this](const std::string& message) {
        if (onStop) onStop(message);
    };
    if (const Recording::Event* first = recording_->Peek(); first && !first->words.empty()) {
        const std::string_view kind = first->words[0];
        if (kind == "port-prepare" && first->words.size() >= 2) {
            interface_.type = qvin::Interface::ParallelPort;
            interface_.port = static_cast<std::uint16_t>(ParseNumber(first->words[1], 16, 0xFFFF).value_or(0));
        } else if (kind.substr(0, 5) == "port-") {
            interface_.type = qvin::Interface::ParallelPort;
        } else if (kind.substr(0, 4) == "usb-") {
            interface_.type = qvin::Interface::UsbAdapter;
        } else if (kind == "spidev-open" && first->words.size() >= 2) {
            interface_.type = qvin::Interface::Spidev;
            interface_.device = FromTraceWord(first->words[1]);
        }
    }
}

ReplayBoard::~ReplayBoard() = default;

void UseRecordedInterface(const ReplayBoard& board, Settings& settings) {
    const RecordedInterface i = board.Interface();
    if (i.type == qvin::Interface::None) return;
    settings.InterfaceType = i.type;
    if (i.port != 0) settings.PortAddress = static_cast<std::int16_t>(i.port);
}

PortIo& ReplayBoard::port() { return *port_; }
UsbDriver& ReplayBoard::usb() { return *usb_; }
SpiBus& ReplayBoard::spi() { return *spi_; }
bool ReplayBoard::stopped() const { return recording_->stopped(); }
const std::filesystem::path& ReplayBoard::file() const { return recording_->file(); }
void ReplayBoard::SetClock(Clock* clock) { recording_->clock = clock; }

}  // namespace qvin
