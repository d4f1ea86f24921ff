#pragma once
// One run of the windowed program: the program context, the toolkit, the windows and the
// facts the windows take from the system (operating-system identification, the program's
// folder for data logs and help).

#include <filesystem>
#include <memory>
#include <chrono>
#include <functional>
#include <string>

#include "device/program.h"
#include "ui/chart/frm_analysis.h"
#include "ui/chart/frm_strip_chart.h"
#include "ui/interface/frm_port.h"
#include "ui/interface/frm_usb_debug.h"
#include "ui/interface/frm_usb_select.h"
#include "ui/main/frm_qvin27319.h"
#include "ui/setup/frm_about.h"
#include "ui/setup/frm_alarm.h"
#include "ui/setup/frm_cal_reg.h"
#include "ui/setup/frm_gpio_misc.h"
#include "ui/setup/frm_manual_reg.h"
#include "ui/toolkit.h"

namespace qvin::ui {

// What the system reports about itself.
struct SystemFacts {
    int platform = 2;      // 1 is the Windows 95/98 family
    float version = 5.1f;
    int build = 2600;
};

// Linux needs its port prepared (ppdev) and has USB: it classifies as the NT family.
inline SystemFacts LinuxSystemFacts() { return {2, 5.1f, 2600}; }

// A wall clock that runs with `clock` from `epochSeconds` (seconds since 1970, UTC): a
// simulated session's files and chart show simulated time.
std::function<std::chrono::system_clock::time_point()> WallClockFrom(const Clock& clock, std::int64_t epochSeconds);

struct AppConfig {
    std::filesystem::path programFolder;      // the program's own folder: the help file
    std::filesystem::path dataFolder = ".";   // the data logs, beside the settings file
    std::filesystem::path settingsFile = kSettingsFileName;
    SystemFacts system = LinuxSystemFacts();
    // The date and time of day for the data log and the strip chart; a simulated session
    // derives it from its virtual clock so that its files come out the same every time.
    std::function<std::chrono::system_clock::time_point()> wallClock = [] { return std::chrono::system_clock::now(); };
    // False for a replay: it looks at a recorded session and leaves the settings as they are.
    bool saveSettings = true;
    // False for a replay too: its requests are answered from a recording, not by a bus.
    bool recordable = true;
    // The simulated board: its adapters are the simulation's, not libusb's.
    bool simulatedBoard = false;
};

// The help file: beside the program, as in a build folder, or where an installation puts
// it (PREFIX/share/qvin27319 for PREFIX/bin); the first when neither exists, so that the
// help viewer reports it missing.
std::filesystem::path HelpFile(const std::filesystem::path& programFolder);

class App {
public:
    App(Program& p, Toolkit& tk, AppConfig config);

    // After StartProgram: shows the main window; returns when the program ends.
    void Run();
    // Loads and activates the main window without waiting for it to close (tests and
    // scripts drive it from there).
    void Start();

    Program& p;
    Toolkit& tk;
    AppConfig config;

    // Operating-system identification, set by the main window's load.
    float OsPlatform = 0, OsVersion = 0, OsBuild = 0;
    std::string OsName;

    frmQvin27319 main;
    frmPort port;
    frmUSBselect usbSelect;
    frmUSBdebug usbDebug;
    FrmAlarm alarm;
    FrmCalReg cal;
    frmGpioMisc gpio;
    frmManualReg manualReg;
    frmStripChart chart;
    frmAnalysis analysis;
    // Only while it is open: made for each opening, destroyed when it closes.
    std::unique_ptr<frmAbout> about;

    // Set by the exit sequence; loops and handlers stop at their next check.
    bool ended = false;

};

}  // namespace qvin::ui
