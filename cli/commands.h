#pragma once
// qvin-cli's commands, one table: each takes its words, checks every argument (touching no
// board) and returns what to do, which runs once the interface is connected.

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "session/session.h"

namespace qvin::cli {

using Action = std::function<void()>;

struct Command {
    session::Session& s;
    std::vector<std::string> words;  // the command's name first
    std::ostream& out;
    std::ostream& err;
    const AllanPng& allanPng;
    const std::string& settingsFile;
};

struct CommandEntry {
    const char* name;
    Action (*plan)(Command&);
    bool needsBoard;  // connect before acting (not for the register list or the adapter search)
};

const std::vector<CommandEntry>& Commands();

// A decimal or 0x-hexadecimal integer, optionally signed, within [lo, hi].
long long ParseInteger(const std::string& text, long long lo, long long hi, const std::string& what);

}  // namespace qvin::cli
