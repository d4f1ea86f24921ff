#pragma once
// The windowed program on Qt: the back ends for this run, the program context, the
// neutral windows and their Qt views, wired together.

#include <memory>

#include "core/clock.h"
#include "core/trace.h"
#include "board/board.h"
#include "qt/analysis_view.h"
#include "qt/qt_toolkit.h"
#include "qt/setup_views.h"
#include "qt/strip_chart_view.h"
#include "qt/views.h"
#include "ui/app.h"

namespace qvin::qt {

class GuiProgram {
public:
    // `boardName` as for MakeBoard; `clock` drives delays and the simulated chip. Throws
    // BoardError when the board cannot be made as asked (a bad fault rule).
    GuiProgram(Clock& clock, const std::string& boardName, ui::AppConfig config);

    struct BoardError {
        std::string message;
    };

    // The start sequence (with the given calibration), then the main window's load.
    void Start();

    Trace trace;
    std::unique_ptr<Board> board;
    QtToolkit tk;
    std::unique_ptr<Program> p;
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
