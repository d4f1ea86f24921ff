#pragma once
// The table of user-settable registers, as the register window lists and prints it:
// name, address and value in hexadecimal, tab-separated, CR LF line ends.

#include <string>

#include "device/program.h"

namespace qvin {

// Reads the twelve user registers and returns the table text.
std::string ReadUserRegisterTable(Program& p);

}  // namespace qvin
