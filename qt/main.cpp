// qvin-eval: the evaluation program's windows. QVIN_BOARD=sim runs it on the simulated
// board. The command line is not parsed.

#include <QApplication>
#include <QIcon>
#include <QLabel>
#include <QProgressDialog>

#include "core/clock.h"
#include "qt/gui_program.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName("QVIN27319 Evaluation");
    QApplication::setWindowIcon(QIcon(qvin::qt::ProgramIcon(64)));

    qvin::RealClock clock;
    qvin::ui::AppConfig config;
    config.programFolder = QCoreApplication::applicationDirPath().toStdString();
    qvin::qt::GuiProgram gui(clock, qvin::BoardNameFromEnvironment(), config);

    // The timing loop's calibration busy-waits for a few seconds before anything else:
    // say why nothing else happens meanwhile.
    QProgressDialog progress("Calibrating the timing loop for this computer...", QString(), 0, 0);
    progress.setWindowTitle("QVIN27319 Evaluation");
    progress.setMinimumDuration(0);
    progress.setCancelButton(nullptr);
    gui.p->timer.OnCalibrating = [&](bool busy) {
        gui.tk.SetBusy(busy);
        if (busy) {
            progress.show();
            for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
        } else {
            progress.hide();
        }
    };
    gui.Start();
    gui.app->Run();
    return 0;
}
