#pragma once
// The windowed program on Qt: the back ends for this run, the program context, the
// neutral windows and their Qt views, wired together.

#include <memory>

#include "core/clock.h"
#include "board/board.h"
#include "qt/analysis_view.h"
#include "qt/qt_toolkit.h"
#include "qt/setup_views.h"
#include "qt/strip_chart_view.h"
#include "qt/views.h"
#include "session/bench.h"
#include "ui/app.h"

namespace qvin::qt {

class GuiProgram {
public:
    // `boardName` as for MakeBoard; `clock` drives delays and the simulated chip. Throws
    // session::Error when the board cannot be made as asked (a bad fault rule, a recording
    // that cannot be read), with the status the program ends with.
    GuiProgram(Clock& clock, const std::string& boardName, ui::AppConfig config);

    // The start sequence (with the given calibration); a replay then uses the recorded
    // interface.
    void Start();

    QtToolkit tk;
    // The board, its trace and the program context, as the other front ends have them.
    session::Bench bench;
    Board* board = nullptr;  // the bench's
    Program* p = nullptr;    // the bench's
    std::unique_ptr<ui::App> app;
    std::unique_ptr<MainWindowView> mainView;
    PortDialog* portView = nullptr;
    UsbSelectDialog* usbView = nullptr;
    UsbDebugDialog* usbDebugView = nullptr;
    AlarmDialog* alarmView = nullptr;
    CalibrationDialog* calView = nullptr;
    GpioDialog* gpioView = nullptr;
    RegisterDialog* registerView = nullptr;
    StripChartView* chartView = nullptr;
    AnalysisView* analysisView = nullptr;
};

}  // namespace qvin::qt
