#include "ui/headless/sim_session.h"

#include <stdexcept>

namespace qvin::ui {

SimSession::SimSession(std::filesystem::path folderPath, sim::ChipOptions chip, Board* backEnd)
    : folder(std::move(folderPath)),
      board(clock, &trace, chip),
      tk(clock),
      p(clock, backEnd ? backEnd->port() : static_cast<PortIo&>(board.port), backEnd ? backEnd->usb() : static_cast<UsbDriver&>(board.usbLink),
        trace, tk) {
    p.spiBus = backEnd ? &backEnd->spi() : static_cast<SpiBus*>(&board.spi);
    std::filesystem::create_directories(folder);
    trace.Attach(capture.stream());
    board.chip.onFrame = [this](std::uint16_t mosi, std::int64_t ns) { frames_.push_back({mosi, ns}); };
}

void SimSession::WriteSettings(const Settings& s) {
    if (const std::string why = SaveConfig(s, folder / kSettingsFileName); !why.empty()) throw std::runtime_error(why);
}

void SimSession::Start(SystemFacts system) {
    AppConfig config;
    config.programFolder = folder;
    config.dataFolder = folder;
    config.settingsFile = folder / kSettingsFileName;
    config.system = system;
    config.simulatedBoard = true;
    // A fixed day plus the simulated time: the same session writes the same files.
    config.wallClock = WallClockFrom(clock, kSimEpochSeconds);
    app = std::make_unique<App>(p, tk, config);
    StartProgram(p, config.settingsFile);
    tk.Do([this] { app->Start(); });
    startTrace = capture.Take();
    frames_.clear();
}

std::vector<std::uint16_t> SimSession::TakeFrames() {
    std::vector<std::uint16_t> words;
    for (const TimedFrame& f : TakeTimedFrames()) words.push_back(f.mosi);
    return words;
}

std::vector<SimSession::TimedFrame> SimSession::TakeTimedFrames() {
    std::vector<TimedFrame> taken;
    taken.swap(frames_);
    return taken;
}

}  // namespace qvin::ui
