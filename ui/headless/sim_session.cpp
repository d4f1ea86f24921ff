#include "ui/headless/sim_session.h"

#include <stdexcept>

namespace qvin::ui {

SimSession::SimSession(std::filesystem::path folderPath, sim::ChipOptions chip, Board* backEnd)
    : folder(std::move(folderPath)),
      board(clock, &trace, chip),
      tk(clock),
      p(clock, backEnd ? backEnd->port() : static_cast<PortIo&>(board.port), backEnd ? backEnd->usb() : static_cast<UsbDriver&>(board.usbLink),
        trace, tk) {
    std::filesystem::create_directories(folder);
    trace.Attach(capture.stream());
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
    // A fixed day plus the simulated time: the same session writes the same files.
    config.wallClock = WallClockFrom(clock, kSimEpochSeconds);
    app = std::make_unique<App>(p, tk, config);
    StartProgram(p, config.settingsFile);
    tk.Do([this] { app->Start(); });
    capture.Take();
}

std::vector<std::uint16_t> SimSession::TakeFrames() {
    std::vector<std::uint16_t> frames;
    for (const std::string& line : capture.Take("spi "))
        frames.push_back(static_cast<std::uint16_t>(std::stoul(line.substr(4, 4), nullptr, 16)));
    return frames;
}

}  // namespace qvin::ui
