#pragma once
// The windowed program on the simulated board under the headless toolkit and the
// virtual clock, in a folder of its own (settings file, data logs): what window tests and
// scripted scenarios run against.

#include <filesystem>
#include <memory>
#include <string>

#include "board/board.h"
#include "core/clock.h"
#include "core/trace.h"
#include "core/trace_capture.h"
#include "device/program.h"
#include "sim/sim_board.h"
#include "ui/app.h"
#include "ui/headless/headless_toolkit.h"

namespace qvin::ui {

class SimSession {
public:
    // Simulated sessions start on 1 June 2026, 08:00 UTC.
    static constexpr std::int64_t kSimEpochSeconds = 1'780'300'800;
    // `folder` is created if needed; it is the program folder and holds the settings file.
    // With `backEnd` the program talks to it (a replay) instead of the simulated board.
    explicit SimSession(std::filesystem::path folder, sim::ChipOptions chip = {}, Board* backEnd = nullptr);

    // Writes the settings file the program will read at start.
    void WriteSettings(const Settings& s);
    // The start sequence, then the main window's load and activation.
    void Start(SystemFacts system = LinuxSystemFacts());
    // The MOSI words the chip has seen since the last call (or the start).
    std::vector<std::uint16_t> TakeFrames();
    struct TimedFrame {
        std::uint16_t mosi;
        std::int64_t ns;  // simulated time the chip took it
    };
    std::vector<TimedFrame> TakeTimedFrames();

    std::filesystem::path folder;
    VirtualClock clock;
    TraceCapture capture;
    Trace trace;
    sim::SimBoard board;
    HeadlessToolkit tk;
    Program p;
    std::unique_ptr<App> app;
    // The trace of the start sequence and the main window's load and activation.
    std::vector<std::string> startTrace;

private:
    std::vector<TimedFrame> frames_;
};

}  // namespace qvin::ui
