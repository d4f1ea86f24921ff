// qvin-eval: the evaluation program's windows. --sim or QVIN_BOARD=sim runs it on the
// simulated board, --replay FILE on a recording; --help and --version answer and end. Any argument makes the timing
// calibration start from a shorter first step, as the program always has.

#include <QApplication>
#include <QIcon>
#include <QLabel>
#include <QMessageBox>
#include <QProgressDialog>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <csignal>
#include <string>

#include "core/clock.h"
#include "qt/gui_program.h"
#include "qt/numeric_locale.h"

namespace {
constexpr const char* kUsage =
    "Usage: qvin-eval [--sim | --replay FILE] [--help] [--version]\n"
    "\n"
    "The evaluation program for the QVIN27319 inclinometer: its outputs live, its settings,\n"
    "its registers. The board is reached through a USB-to-SPI adapter or a parallel port,\n"
    "chosen in the Interface menu.\n"
    "\n"
    "  --sim       use the simulated evaluation board (also QVIN_BOARD=sim)\n"
    "  --replay FILE\n"
    "              answer from a recording made with QVIN_TRACE=FILE instead of a board\n"
    "              (also QVIN_BOARD=replay:FILE); the program ends when it asks for what\n"
    "              the recording does not hold next. Settings are not saved.\n"
    "  --version   print the version and end\n"
    "  --help      print this and end\n"
    "\n"
    "Settings (Qvin27319.cfg) and data logs are kept in the current folder.\n"
    "Environment: QVIN_BOARD, QVIN_SIM_ANGLE, QVIN_SIM_FAULTS, QVIN_SIM_SEED, QVIN_SIM_NOISE,\n"
    "QVIN_TRACE (see qvin-eval(1)).\n";
// Qt's own options, which QApplication reads: how many words each takes, or 0.
int QtOption(const std::string& a) {
    for (const char* o : {"-platform", "-platformpluginpath", "-platformtheme", "-plugin", "-style", "-stylesheet", "-session",
                          "-display", "-geometry", "-qwindowgeometry", "-qwindowtitle", "-qwindowicon"})
        if (a == o) return 2;
    for (const char* o : {"-reverse", "-widgetcount", "-nograb", "-dograb", "-sync"})
        if (a == o) return 1;
    return 0;
}

// The board the arguments choose; or, for --help, --version and a mistake, the status to
// end with at once (said already).
struct Choice {
    std::string board;
    std::optional<int> end;
};

Choice ParseArguments(int argc, char** argv) {
    std::string boardError;
    Choice c{qvin::BoardNameFromEnvironment(&boardError), {}};
    bool sim = false, replay = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return {{}, 0};
        }
        if (a == "--version") {
            std::printf("qvin-eval %s\n", qvin::ui::ProgramVersion().c_str());
            return {{}, 0};
        }
        if (a == "--sim") {
            c.board = "sim";
            sim = true;
        } else if (a == "--replay") {
            if (i + 1 >= argc || !*argv[i + 1]) {
                std::fputs("qvin-eval: --replay needs the recording's file name\n", stderr);
                return {{}, 1};
            }
            c.board = qvin::ReplayBoardName(argv[++i]);
            replay = true;
        } else if (const int taken = QtOption(a); taken > 0) {
            i += taken - 1;  // the toolkit reads it
        } else {
            // Anything else is a mistake the user should hear of before a window opens.
            std::fprintf(stderr, "qvin-eval: unknown option '%s'\n\n%s", a.c_str(), kUsage);
            return {{}, 1};
        }
    }
    if (sim && replay) {
        std::fputs("qvin-eval: choose either --sim or --replay\n", stderr);
        return {{}, 1};
    }
    if (!sim && !replay && !boardError.empty()) {
        std::fprintf(stderr, "qvin-eval: %s\n", boardError.c_str());
        return {{}, 1};
    }
    return c;
}

}  // namespace

int main(int argc, char** argv) {
    // A recording or a log past the file-size limit fails with a message, not a silent end.
    std::signal(SIGXFSZ, SIG_IGN);
    const Choice chosen = ParseArguments(argc, argv);
    if (chosen.end) return *chosen.end;
    const std::string& board = chosen.board;
    QApplication application(argc, argv);
    qvin::qt::KeepNumbersWithAPoint();
    QApplication::setApplicationName("QVIN27319 Evaluation");
    QApplication::setWindowIcon(QIcon(qvin::qt::ProgramIcon(64)));

    qvin::RealClock clock;
    qvin::ui::AppConfig config;
    config.programFolder = QCoreApplication::applicationDirPath().toStdString();
    std::error_code ec;
    config.dataFolder = std::filesystem::current_path(ec);
    // On the offscreen platform no one sees a message box, let alone answers it.
    const bool unattended = QGuiApplication::platformName() == "offscreen" || QGuiApplication::platformName() == "minimal";
    std::unique_ptr<qvin::qt::GuiProgram> made;
    try {
        made = std::make_unique<qvin::qt::GuiProgram>(clock, board, config);
    } catch (const qvin::session::Error& e) {
        std::fprintf(stderr, "qvin-eval: %s\n", e.what());
        if (!unattended) QMessageBox::critical(nullptr, "QVIN27319 Evaluation", QString::fromStdString(e.what()));
        // The board kind's status: a recording that cannot be read is a file problem; any
        // other board, bad input.
        return e.code;
    }
    qvin::qt::GuiProgram& gui = *made;
    gui.tk.unattended = unattended;
    gui.p->timer.ShortStart = argc > 1;

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
