#include "sim/adapter_firmware.h"

#include <algorithm>

namespace qvin::sim {

std::int64_t AdapterFirmware::Command(std::span<const std::uint8_t> m) {
    reply_.clear();
    if (m.empty()) return 0;
    switch (m[0]) {
        case 0:  // firmware version
            reply_ = {major, minor};
            break;
        case 1:  // SPI set-up
            reply_ = {delay_, staticBits_};
            break;
        case 11:
            if (m.size() >= 2) delay_ = m[1];
            break;
        case 12:
            if (m.size() >= 2) staticBits_ = m[1];
            break;
        case 13:
        case 14: {
            if (m.size() < 3) break;
            const std::uint8_t channel = m[1], n = m[2];
            if (n < 1 || n > 16 || m.size() < 3u + 2u * n) break;
            for (int i = 0; i < n; ++i) {
                const auto word = static_cast<std::uint16_t>(m[3 + 2 * i] << 8 | m[4 + 2 * i]);
                std::uint16_t in = channel == 1 && chip_ ? chip_->Transfer(word) : 0xFFFF;
                if (m[0] == 14) in = static_cast<std::uint16_t>(~in);
                reply_.push_back(static_cast<std::uint8_t>(in >> 8));
                reply_.push_back(static_cast<std::uint8_t>(in & 0xFF));
            }
            return n * 16'000 + (n - 1) * std::int64_t{delay_} * 1'000;
        }
        default:
            break;
    }
    return 0;
}

std::vector<std::uint8_t> AdapterFirmware::TakeReply(std::size_t max) {
    std::vector<std::uint8_t> out(reply_.begin(), reply_.begin() + static_cast<std::ptrdiff_t>(std::min(max, reply_.size())));
    reply_.clear();
    return out;
}

}  // namespace qvin::sim
