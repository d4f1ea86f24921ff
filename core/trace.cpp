#include "core/trace.h"

#include <cerrno>
#include <cstring>

#include "core/file_safety.h"

#include <cstdlib>

namespace qvin {

Trace::~Trace() {
    if (out_ && owned_) std::fclose(out_);
    if (recording_) std::fclose(recording_);
}

bool Trace::Open(const std::string& target) {
    std::lock_guard lock(mutex_);
    if (out_ && owned_) std::fclose(out_);
    out_ = nullptr;
    owned_ = false;
    if (target.empty()) {
        Update();
        return false;
    }
    if (target == "-") {
        out_ = stderr;
        Update();
        return true;
    }
    outError_ = 0;
    out_ = std::fopen(target.c_str(), "w");
    owned_ = out_ != nullptr;
    target_ = target;
    Update();
    return out_ != nullptr;
}

bool Trace::OpenFromEnvironment() {
    if (const char* t = std::getenv("QVIN_TRACE"); t && *t) {
        if (const std::string why = std::string(t) == "-" ? std::string() : WriteRefusal(t); !why.empty()) {
            std::fprintf(stderr, "QVIN_TRACE: the trace is not written: %s\n", why.c_str());
            return false;
        }
        if (!Open(t)) {
            std::fprintf(stderr, "QVIN_TRACE: cannot write the trace file %s: %s\n", t, std::strerror(errno));
            return false;
        }
    }
    return true;
}

std::string Trace::Close() {
    std::lock_guard lock(mutex_);
    if (!out_ || !owned_) return {};
    const int closed = std::fclose(out_);
    const int error = outError_ ? outError_ : closed != 0 ? errno : 0;
    out_ = nullptr;
    owned_ = false;
    outError_ = 0;
    Update();
    return error ? target_ + ": " + std::strerror(error) : std::string();
}

void Trace::Attach(std::FILE* stream) {
    std::lock_guard lock(mutex_);
    if (out_ && owned_) std::fclose(out_);
    out_ = stream;
    owned_ = false;
    Update();
}

std::string Trace::StartRecording(const std::string& file, const Clock& clock) {
    if (const std::string why = WriteRefusal(file); !why.empty()) return why;
    std::FILE* f = std::fopen(file.c_str(), "w");
    if (!f) return file + ": " + std::strerror(errno);
    std::lock_guard lock(mutex_);
    if (recording_) std::fclose(recording_);
    recording_ = f;
    recordingFile_ = file;
    recordingClock_ = &clock;
    recordingStartNs_ = clock.NowNs();
    Update();
    return {};
}

std::string Trace::StopRecording() {
    std::lock_guard lock(mutex_);
    if (!recording_) return {};
    const bool bad = std::ferror(recording_) != 0;
    const int closed = std::fclose(recording_);
    const int error = errno;
    recording_ = nullptr;
    Update();
    if (bad || closed != 0) return recordingFile_ + ": " + std::strerror(bad && closed == 0 ? EIO : error);
    return {};
}

bool Trace::recording() const {
    std::lock_guard lock(mutex_);
    return recording_ != nullptr;
}

void Trace::SetClock(const Clock* clock) {
    std::lock_guard lock(mutex_);
    clock_ = clock;
    startNs_ = clock ? clock->NowNs() : 0;
}

std::optional<Trace::RecordingSize> Trace::RecordingProgress() const {
    std::lock_guard lock(mutex_);
    if (!recording_) return std::nullopt;
    // The stream's position counts what waits in its buffer too.
    const long at = std::ftell(recording_);
    return RecordingSize{recordingClock_->NowNs() - recordingStartNs_, at < 0 ? 0 : static_cast<std::int64_t>(at)};
}

void Trace::Write(std::FILE* f, const Clock* clock, std::int64_t startNs, std::string_view text) {
    if (clock) std::fprintf(f, "@%lld ", static_cast<long long>(clock->NowNs() - startNs));
    std::fwrite(text.data(), 1, text.size(), f);
    std::fputc('\n', f);
    if (f == stderr) std::fflush(f);
    // The first failure's reason, kept for Close: a full disk shows only when a buffer goes.
    if (f == out_ && outError_ == 0 && std::ferror(f)) outError_ = errno ? errno : EIO;
}

void Trace::Line(std::string_view text) {
    if (!on()) return;
    std::lock_guard lock(mutex_);
    if (out_) Write(out_, clock_, startNs_, text);
    if (recording_) Write(recording_, recordingClock_, recordingStartNs_, text);
}

void Trace::PortOut(std::uint16_t addr, std::uint8_t value) {
    if (!on()) return;
    char buf[32];
    std::snprintf(buf, sizeof buf, "port-out %03X %02X", addr, value);
    Line(buf);
}

void Trace::PortIn(std::uint16_t addr, std::uint8_t value) {
    if (!on()) return;
    char buf[32];
    std::snprintf(buf, sizeof buf, "port-in %03X %02X", addr, value);
    Line(buf);
}

void Trace::Spi(std::uint16_t mosi, std::uint16_t miso) {
    if (!on()) return;
    char buf[32];
    std::snprintf(buf, sizeof buf, "spi %04X %04X", mosi, miso);
    Line(buf);
}

void Trace::Usb(bool out, int pipe, std::span<const std::uint8_t> bytes) {
    if (!on()) return;
    Bytes(std::string(out ? "usb-out " : "usb-in ") + std::to_string(pipe), bytes);
}

void Trace::Bytes(std::string_view head, std::span<const std::uint8_t> bytes) {
    if (!on()) return;
    std::string s(head);
    s.reserve(head.size() + 3 * bytes.size());
    char buf[4];
    for (std::uint8_t b : bytes) {
        std::snprintf(buf, sizeof buf, " %02X", b);
        s += buf;
    }
    Line(s);
}

std::string TraceWord(std::string_view text) {
    std::string out;
    for (const char c : text) out += c == ' ' ? "%20" : c == '%' ? "%25" : std::string(1, c);
    return out;
}

std::string FromTraceWord(std::string_view word) {
    std::string out;
    for (std::size_t i = 0; i < word.size(); ++i) {
        if (word.substr(i, 3) == "%20") out += ' ', i += 2;
        else if (word.substr(i, 3) == "%25") out += '%', i += 2;
        else out += word[i];
    }
    return out;
}

}  // namespace qvin
