#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "core/clock.h"
#include "core/file_safety.h"
#include "board/board.h"
#ifdef QVIN_WITH_PLOT
#include "qt/allan_plot.h"
#include "qt/plot_command.h"
#endif

int main(int argc, char** argv) {
    // Past the file-size limit a write fails (EFBIG) and the command says so, as for a full
    // disk; by default the signal would end it silently, leaving temporary files behind.
    std::signal(SIGXFSZ, SIG_IGN);
    qvin::RemoveTemporariesOnSignal();
    qvin::RealClock clock;
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string boardError;
    qvin::cli::CliContext ctx{clock, std::cin, std::cout, std::cerr, qvin::BoardNameFromEnvironment(&boardError)};
    ctx.boardError = boardError;
    ctx.version = QVIN_VERSION;
#ifdef QVIN_WITH_PLOT
    ctx.plot = qvin::qt::DrawPlotPng;
    ctx.allanPng = qvin::qt::DrawAllanPng;
#endif
    return qvin::cli::RunCli(args, ctx);
}
