#include "ui/app.h"

namespace qvin::ui {

App::App(Program& p, Toolkit& tk, AppConfig config)
    : p(p), tk(tk), config(std::move(config)), main(*this),
      port(*this),
      usbSelect(*this),
      usbDebug(*this),
      alarm(*this),
      cal(*this),
      gpio(*this),
      manualReg(*this),
      chart(*this),
      analysis(*this) {}

std::function<std::chrono::system_clock::time_point()> WallClockFrom(const Clock& clock, std::int64_t epochSeconds) {
    return [&clock, epochSeconds] {
        return std::chrono::system_clock::time_point{} + std::chrono::seconds(epochSeconds) +
               std::chrono::duration_cast<std::chrono::system_clock::duration>(std::chrono::nanoseconds(clock.NowNs()));
    };
}

std::filesystem::path HelpFile(const std::filesystem::path& programFolder) {
    const std::filesystem::path beside = programFolder / "QVIN27319.hlp";
    const std::filesystem::path installed = programFolder.parent_path() / "share" / "qvin27319" / "QVIN27319.hlp";
    std::error_code ec;
    if (!std::filesystem::exists(beside, ec) && std::filesystem::exists(installed, ec)) return installed;
    return beside;
}

void App::Run() { main.ShowModal(nullptr); }

void App::Start() {
    main.BeginShow();
    if (!ended) main.ActivateNow();
}


}  // namespace qvin::ui
