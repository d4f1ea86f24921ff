#include "device/user_register_table.h"

#include "core/number_text.h"
#include "device/register_access.h"

namespace qvin {

std::string ReadUserRegisterTable(Program& p) {
    static constexpr std::int16_t kUserRegisters[] = {13, 17, 18, 19, 20, 21, 25, 26, 27, 28, 29, 30};
    std::string text = "Name\t\tAddr\tSetting\r\n";
    text += "-------------------\t---------\t---------\r\n";
    for (const std::int16_t index : kUserRegisters) {
        ReadReg(p, index);
        std::string name = p.map[index].RegName;
        while (!name.empty() && name.back() == ' ') name.pop_back();
        text += name + "      \t" + FormatHex(p.map[index].RegAddr) + "\t" + FormatHex(p.reg.RegData, 4) + "\r\n";
    }
    return text;
}

}  // namespace qvin
