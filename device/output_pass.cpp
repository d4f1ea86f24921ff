#include "device/output_pass.h"

#include "device/register_access.h"

namespace qvin {

OutputPass ReadPass(Program& p, std::span<const std::int16_t> indexes, const std::function<void(std::size_t, const RegReading&)>& each) {
    OutputPass pass;
    pass.readings.reserve(indexes.size());
    for (std::size_t i = 0; i < indexes.size(); ++i) {
        const std::optional<RegReading> got = ReadReg(p, indexes[i]);
        if (i == 0) pass.firstTakenNs = p.clock.NowNs();
        if (!got) {
            pass.lost = true;
            break;
        }
        pass.readings.push_back(*got);
        pass.fresh |= got->newData;
        pass.alarm |= got->error;
        if (each) each(i, *got);
    }
    return pass;
}

}  // namespace qvin
