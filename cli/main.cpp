#include <iostream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "core/clock.h"
#include "board/board.h"

int main(int argc, char** argv) {
    qvin::RealClock clock;
    std::vector<std::string> args(argv + 1, argv + argc);
    qvin::cli::CliContext ctx{clock, std::cin, std::cout, std::cerr, qvin::BoardNameFromEnvironment()};
    return qvin::cli::RunCli(args, ctx);
}
