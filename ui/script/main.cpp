#include <iostream>

#include "ui/script/ui_script.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "Usage: qvin-uiscript FILE\n"
                     "Runs a window scenario on the simulated board; see tests/scenarios/README.md.\n";
        return 2;
    }
    return qvin::ui::RunScriptFile(argv[1], std::cout, std::cerr);
}
