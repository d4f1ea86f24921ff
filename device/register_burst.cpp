#include "device/register_burst.h"

#include <algorithm>

#include "device/lpt_transport.h"
#include "device/usb_spi.h"

namespace qvin {

namespace {

// The adapter carries 16 words a transfer: 15 requests and the one that clocks out the last answer.
constexpr std::size_t kPerTransfer = 15;

std::int32_t Request(const Program& p, std::int16_t index) { return (p.map[index].RegAddr & 0x7F) * 256; }

}  // namespace

RegReading DecodeRegister(const RegisterInfo& r, std::int32_t raw) {
    RegReading out;
    out.raw = raw;
    out.newData = r.RegHasNewData && (raw & 0x8000) != 0;
    out.error = r.RegHasError && (raw & 0x4000) != 0;
    const std::int64_t b = r.RegBits;
    if (r.RegSigned) {
        const std::int64_t sign = std::int64_t{1} << (b - 1);
        out.data = static_cast<std::int32_t>((raw & (sign - 1)) - (raw & sign));
    } else {
        out.data = static_cast<std::int32_t>(raw & ((std::int64_t{1} << b) - 1));
    }
    // Product and sum at double precision from the single-precision operands, rounded once.
    out.value = static_cast<float>(static_cast<double>(static_cast<float>(out.data)) * r.RegScale + r.RegOffset);
    return out;
}

BurstResult ReadRegisters(Program& p, std::span<const std::int16_t> indexes) {
    BurstResult result;
    if (indexes.empty()) {
        result.ok = true;
        return result;
    }
    std::vector<std::int32_t> raw;
    raw.reserve(indexes.size());
    switch (p.settings.InterfaceType) {
        case 2:
            for (std::size_t from = 0; from < indexes.size(); from += kPerTransfer) {
                const std::size_t n = std::min(kPerTransfer, indexes.size() - from);
                for (std::size_t i = 0; i < n; ++i) p.spi.SpiWriteWords[i + 1] = Request(p, indexes[from + i]);
                p.spi.SpiWriteWords[n + 1] = p.spi.SpiWriteWords[n];
                p.spi.SpiChannel = 1;
                UsbSpiTransfer(p, static_cast<int>(n + 1));
                // A transfer that did not go through read nothing: no word of it is an answer.
                if (!p.UsbReady()) return result;
                if (from == 0) result.firstTakenNs = p.clock.NowNs();
                for (std::size_t i = 0; i < n; ++i) raw.push_back(p.spi.SpiReadWords[i + 2]);
            }
            break;
        case 1: {
            LptSpiExchange(p, Request(p, indexes[0]));
            result.firstTakenNs = p.clock.NowNs();
            for (std::size_t i = 1; i <= indexes.size(); ++i)
                raw.push_back(LptSpiExchange(p, Request(p, indexes[std::min(i, indexes.size() - 1)])));
            break;
        }
        default:
            raw.assign(indexes.size(), 0);
            result.firstTakenNs = p.clock.NowNs();
            break;
    }
    for (std::size_t i = 0; i < indexes.size(); ++i) result.answers.push_back(DecodeRegister(p.map[indexes[i]], raw[i]));
    result.ok = true;
    p.Delay(0.1f);
    return result;
}

}  // namespace qvin
