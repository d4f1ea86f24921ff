#include "qt/gui_program.h"

#include <QMenu>
#include <QMenuBar>

#include <cstdio>
#include <cstdlib>

#include "board/replay_board.h"
#include "qt/bindings.h"

namespace qvin::qt {

GuiProgram::GuiProgram(Clock& clock, const std::string& boardName, ui::AppConfig config)
    : bench(clock, boardName, tk), board(bench.board.get()), p(bench.program.get()) {
    config.simulatedBoard = board->simulated() != nullptr;
    if (ReplayBoard* replay = board->replay()) {
        // A replay writes nothing but the data log: no trace over the recording it reads,
        // no settings. When the recording runs out or differs, the session is over: say
        // why and end, with every logged line already on disk.
        config.saveSettings = false;
        config.recordable = false;
        replay->onStop = [this](const std::string& message) {
            std::fprintf(stderr, "qvin-eval: %s\n", message.c_str());
            if (!tk.unattended) tk.Message(message);
            std::fflush(nullptr);
            std::_Exit(2);
        };
    }
    app = std::make_unique<ui::App>(*p, tk, std::move(config));
    mainView = std::make_unique<MainWindowView>(app->main);
    portView = new PortDialog(app->port, mainView.get());
    usbView = new UsbSelectDialog(app->usbSelect, mainView.get());
    usbDebugView = new UsbDebugDialog(app->usbDebug, mainView.get());
    alarmView = new AlarmDialog(app->alarm, mainView.get());
    calView = new CalibrationDialog(app->cal, mainView.get());
    gpioView = new GpioDialog(app->gpio, mainView.get());
    registerView = new RegisterDialog(app->manualReg, mainView.get());
    chartView = new StripChartView(app->chart, mainView.get());
    analysisView = new AnalysisView(app->analysis, mainView.get());
    tk.SetView(app->main, mainView.get());
    tk.SetView(app->port, portView);
    tk.SetView(app->usbSelect, usbView);
    tk.SetView(app->usbDebug, usbDebugView);
    tk.SetView(app->alarm, alarmView);
    tk.SetView(app->cal, calView);
    tk.SetView(app->gpio, gpioView);
    tk.SetView(app->manualReg, registerView);
    tk.SetView(app->chart, chartView);
    tk.SetView(app->analysis, analysisView);
    // The About window is made for each opening, and its view with it.
    tk.makeView = [this](ui::Window& w) -> QWidget* {
        if (auto* about = dynamic_cast<ui::frmAbout*>(&w)) {
            auto* view = new AboutDialog(*about, mainView.get());
            AssignMnemonics(view);
            return view;
        }
        return nullptr;
    };
    // Alt+letter for every menu entry and button a keyboard user wants.
    AssignMnemonics(mainView.get(), mainView->menuBar()->actions());
    for (QAction* entry : mainView->menuBar()->actions())
        if (entry->menu()) AssignMnemonics(entry->menu(), entry->menu()->actions());
    for (QWidget* dialog : std::initializer_list<QWidget*>{portView, usbView, usbDebugView, alarmView, calView, gpioView, registerView,
                                                                     static_cast<QWidget*>(chartView), static_cast<QWidget*>(analysisView)})
        AssignMnemonics(dialog);
}

void GuiProgram::Start() {
    bench.Start(app->config.settingsFile);
    bench.UseRecordedInterface();
}

}  // namespace qvin::qt
