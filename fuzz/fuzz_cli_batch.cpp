// Lines of a qvin-cli "-" batch on the simulated board: any input ends with an exit status
// and no fault. Watching and monitoring only repeat reads and are left out, so that a
// fuzzed count cannot make one input run for hours.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "cli/cli.h"
#include "core/clock.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    if (input.find("watch") != std::string::npos || input.find("monitor") != std::string::npos) return -1;
    qvin::VirtualClock clock;
    std::istringstream in(input);
    std::ostringstream out, err;
    qvin::cli::CliContext ctx{clock, in, out, err, "sim", "/nonexistent/Qvin27319.cfg"};
    const int code = qvin::cli::RunCli({"-"}, ctx);
    if (code < 0 || code > 3) __builtin_trap();
    return 0;
}
