// The scenario language: any script runs to a verdict (held or failed) without fault or
// hang; loops that nothing stops are cut by the headless toolkit.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "ui/script/ui_script.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 4096) return -1;
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::ostringstream out, err;
    // A loop left running is cut after 5 s of simulated time: ten minutes, as in the
    // test scenarios, costs seconds of real time per input.
    const int code = qvin::ui::RunScript(text, "fuzz.scn", out, err, {.runawaySeconds = 5});
    if (code != 0 && code != 1) __builtin_trap();
    return 0;
}
