#pragma once
// How long qvin-cli's watch takes on the simulated board, in simulated time.

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>

#include "cli/cli.h"
#include "core/clock.h"

namespace qvin::test {

inline std::int64_t WatchElapsedNs(int passes, int delayMs) {
    VirtualClock clock;
    std::istringstream in;
    std::ostringstream out, err;
    cli::CliContext ctx{clock, in, out, err, "sim", "/nonexistent/Qvin27319.cfg"};
    EXPECT_EQ(cli::RunCli({"watch", "--count", std::to_string(passes), "--delay", std::to_string(delayMs)}, ctx), 0) << err.str();
    return clock.NowNs();
}

}  // namespace qvin::test
