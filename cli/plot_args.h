#pragma once
// The arguments of qvin-cli plot, read without Qt (so that they can be fuzzed alone):
// LOG --png OUT [--size WxH].

#include <optional>
#include <string>
#include <vector>

namespace qvin::cli {

struct PlotArgs {
    std::string log, png;
    int width = 1000, height = 800;
};

// The arguments, or nothing with `error` saying what is wrong (quoting at most a short
// excerpt of any argument).
std::optional<PlotArgs> ParsePlotArgs(const std::vector<std::string>& args, std::string& error);

}  // namespace qvin::cli
