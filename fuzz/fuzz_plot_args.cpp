// qvin-cli plot's arguments of any content (split at NUL bytes, as a shell passes them):
// either a log, a picture and a size in range, or a refusal whose message quotes at most
// a short, printable excerpt; never a crash or an exception.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/plot_args.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> args(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) args.emplace_back();
        else args.back() += static_cast<char>(data[i]);
    }
    std::string error;
    const auto p = qvin::cli::ParsePlotArgs(args, error);
    if (p) {
        if (p->log.empty() || p->png.empty() || p->width < 1 || p->height < 1 || p->width > 10000 || p->height > 10000)
            __builtin_trap();
    } else {
        if (error.empty() || error.size() > 300) __builtin_trap();
        for (char c : error)
            if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) __builtin_trap();
    }
    return 0;
}
