#pragma once
// What went wrong in a session, with the status qvin-cli ends with (core/exit_status.h).

#include <stdexcept>
#include <string>

namespace qvin::session {

struct Error : std::runtime_error {
    Error(int code, const std::string& message) : std::runtime_error(message), code(code) {}
    int code;
};

}  // namespace qvin::session
