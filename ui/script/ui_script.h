#pragma once
// qvin-uiscript: window scenarios in plain text, run on the simulated board under the
// headless toolkit. The language is described in tests/scenarios/README.md.

#include <iosfwd>
#include <string>

namespace qvin::ui {

// 0 when every expectation held; otherwise 1, with the failing line and what was seen
// on `err`.
// runawaySeconds: simulated time a loop may run with nothing queued to stop it.
int RunScript(const std::string& text, const std::string& scriptName, std::ostream& out, std::ostream& err,
              int runawaySeconds = 600);
int RunScriptFile(const std::string& path, std::ostream& out, std::ostream& err);

}  // namespace qvin::ui
