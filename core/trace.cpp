#include "core/trace.h"

#include <cerrno>
#include <cstring>

#include "core/file_safety.h"

#include <cstdlib>

namespace qvin {

Trace::~Trace() {
    if (out_ && owned_) std::fclose(out_);
}

bool Trace::Open(const std::string& target) {
    std::lock_guard lock(mutex_);
    if (out_ && owned_) std::fclose(out_);
    out_ = nullptr;
    owned_ = false;
    if (target.empty()) return false;
    if (target == "-") {
        out_ = stderr;
        return true;
    }
    out_ = std::fopen(target.c_str(), "w");
    owned_ = out_ != nullptr;
    return out_ != nullptr;
}

void Trace::OpenFromEnvironment() {
    if (const char* t = std::getenv("QVIN_TRACE"); t && *t) {
        if (const std::string why = std::string(t) == "-" ? std::string() : WriteRefusal(t); !why.empty())
            std::fprintf(stderr, "QVIN_TRACE: the trace is not written: %s\n", why.c_str());
        else if (!Open(t))
            std::fprintf(stderr, "QVIN_TRACE: cannot write the trace file %s: %s\n", t, std::strerror(errno));
    }
}

void Trace::Attach(std::FILE* stream) {
    std::lock_guard lock(mutex_);
    if (out_ && owned_) std::fclose(out_);
    out_ = stream;
    owned_ = false;
}

void Trace::SetClock(const Clock* clock) {
    std::lock_guard lock(mutex_);
    clock_ = clock;
    startNs_ = clock ? clock->NowNs() : 0;
}

void Trace::Line(std::string_view text) {
    if (!out_) return;
    std::lock_guard lock(mutex_);
    if (clock_) std::fprintf(out_, "@%lld ", static_cast<long long>(clock_->NowNs() - startNs_));
    std::fwrite(text.data(), 1, text.size(), out_);
    std::fputc('\n', out_);
    if (out_ == stderr) std::fflush(out_);
}

void Trace::PortOut(std::uint16_t addr, std::uint8_t value) {
    if (!out_) return;
    char buf[32];
    std::snprintf(buf, sizeof buf, "port-out %03X %02X", addr, value);
    Line(buf);
}

void Trace::PortIn(std::uint16_t addr, std::uint8_t value) {
    if (!out_) return;
    char buf[32];
    std::snprintf(buf, sizeof buf, "port-in %03X %02X", addr, value);
    Line(buf);
}

void Trace::Spi(std::uint16_t mosi, std::uint16_t miso) {
    if (!out_) return;
    char buf[32];
    std::snprintf(buf, sizeof buf, "spi %04X %04X", mosi, miso);
    Line(buf);
}

void Trace::Usb(bool out, int pipe, std::span<const std::uint8_t> bytes) {
    if (!out_) return;
    Bytes(std::string(out ? "usb-out " : "usb-in ") + std::to_string(pipe), bytes);
}

void Trace::Bytes(std::string_view head, std::span<const std::uint8_t> bytes) {
    if (!out_) return;
    std::string s(head);
    s.reserve(head.size() + 3 * bytes.size());
    char buf[4];
    for (std::uint8_t b : bytes) {
        std::snprintf(buf, sizeof buf, " %02X", b);
        s += buf;
    }
    Line(s);
}

}  // namespace qvin
