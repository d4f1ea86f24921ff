#include "device/register_burst.h"

#include <algorithm>

#include "device/transports.h"

namespace qvin {

namespace {

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
    std::vector<std::int32_t> requests, raw;
    requests.reserve(indexes.size());
    raw.reserve(indexes.size());
    for (const std::int16_t index : indexes) requests.push_back(Request(p, index));
    if (const Transport* t = FindTransport(p.settings.InterfaceType)) {
        if (!t->readBurst(p, requests, raw, result.firstTakenNs)) return result;
    } else {
        raw.assign(indexes.size(), 0);
        result.firstTakenNs = p.clock.NowNs();
    }
    for (std::size_t i = 0; i < indexes.size(); ++i) result.answers.push_back(DecodeRegister(p.map[indexes[i]], raw[i]));
    result.ok = true;
    p.Delay(0.1f);
    return result;
}

}  // namespace qvin
