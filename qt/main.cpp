// qvin-eval: the evaluation program's windows. QVIN_BOARD=sim runs it on the simulated
// board. The command line is not parsed.

#include <QApplication>
#include <QIcon>
#include <QLabel>
#include <QMessageBox>
#include <QProgressDialog>

#include <cstdio>
#include <memory>

#include "core/clock.h"
#include "qt/gui_program.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName("QVIN27319 Evaluation");
    QApplication::setWindowIcon(QIcon(qvin::qt::ProgramIcon(64)));

    qvin::RealClock clock;
    qvin::ui::AppConfig config;
    config.programFolder = QCoreApplication::applicationDirPath().toStdString();
    std::unique_ptr<qvin::qt::GuiProgram> made;
    try {
        made = std::make_unique<qvin::qt::GuiProgram>(clock, qvin::BoardNameFromEnvironment(), config);
    } catch (const qvin::qt::GuiProgram::BoardError& e) {
        std::fprintf(stderr, "qvin-eval: %s\n", e.message.c_str());
        QMessageBox::critical(nullptr, "QVIN27319 Evaluation", QString::fromStdString(e.message));
        return 2;
    }
    qvin::qt::GuiProgram& gui = *made;

    // The timing calibration runs before anything else (a tenth of a second, or seconds
    // where the clock is too coarse to wait on): say why nothing else happens meanwhile.
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
