#include <iostream>
#include <string>

#include "ui/script/ui_script.h"

namespace {
constexpr const char* kUsage =
    "Usage: qvin-uiscript [--record FILE] [--replay FILE] [--folder DIR] SCRIPT\n"
    "Runs a window scenario on the simulated board; see tests/scenarios/README.md.\n"
    "  --record FILE   write the exchanges with the board to FILE (a recording)\n"
    "  --replay FILE   answer from a recording instead of the simulated board\n"
    "  --folder DIR    run in DIR (settings, data logs) and keep it\n"
    "  --help          print this\n"
    "Exit status: 0 every expectation held, 1 a line failed, 2 bad arguments or a script\n"
    "that cannot be read.\n";
}

int main(int argc, char** argv) {
    qvin::ui::ScriptRun run;
    std::string script;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::cout << kUsage;
            return 0;
        }
        const bool valued = a == "--record" || a == "--replay" || a == "--folder";
        if (valued && i + 1 < argc && *argv[i + 1]) {
            const std::string v = argv[++i];
            (a == "--record" ? run.record : a == "--replay" ? run.replay : run.folder) = v;
        } else if (!valued && script.empty() && (a.empty() || a[0] != '-')) {
            script = a;
        } else {
            script.clear();
            break;
        }
    }
    if (script.empty()) {
        std::cerr << kUsage;
        return 2;
    }
    return qvin::ui::RunScriptFile(script, std::cout, std::cerr, run);
}
