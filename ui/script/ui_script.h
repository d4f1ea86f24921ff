#pragma once
// qvin-uiscript: window scenarios in plain text, run on the simulated board under the
// headless toolkit. The language is described in tests/scenarios/README.md.

#include <filesystem>
#include <iosfwd>
#include <string>

namespace qvin::ui {

struct ScriptRun {
    // Simulated time a loop may run with nothing queued to stop it.
    int runawaySeconds = 600;
    // Where the exchanges with the board are written at the end (a recording), if set.
    std::filesystem::path record;
    // A recording to answer from instead of the simulated board, if set.
    std::filesystem::path replay;
    // The program folder (kept afterwards); a fresh temporary one, removed, if empty.
    std::filesystem::path folder;
};

// 0 when every expectation held; otherwise 1, with the failing line and what was seen
// on `err`.
int RunScript(const std::string& text, const std::string& scriptName, std::ostream& out, std::ostream& err,
              const ScriptRun& run = {});
int RunScriptFile(const std::string& path, std::ostream& out, std::ostream& err, const ScriptRun& run = {});

}  // namespace qvin::ui
