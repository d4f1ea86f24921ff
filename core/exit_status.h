#pragma once
// How a command ends: qvin-cli's exit status, the code a session's error carries and the
// Python module's exceptions' .code, the same number for the same cause everywhere.

#include <string>

namespace qvin {

enum ExitStatus : int {
    kOk = 0,
    kBadInput = 1,     // an argument, a value or a file's contents refused
    kNoInterface = 2,  // no usable interface, or a replay that stopped
    kFileError = 3,    // a file that cannot be read or written
};

// A command's end: its status and what it says, the line it prints on success or why not.
struct Outcome {
    ExitStatus status = kOk;
    std::string text;
};

}  // namespace qvin
