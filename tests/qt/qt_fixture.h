#pragma once
// The Qt front end under the offscreen platform, on the simulated board and the virtual
// clock: the real windows, driven as a user would.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QMenuBar>
#include <QTimer>

#include <filesystem>
#include <functional>
#include <memory>

#include "core/clock.h"
#include "qt/gui_program.h"
#include "qt/numeric_locale.h"
#include "sim/sim_board.h"

namespace qvin::qt::test {

class QtTest : public ::testing::Test {
protected:
    // Created here, not at static initialisation: test discovery lists tests without the
    // offscreen platform in its environment.
    static void SetUpTestSuite() {
        if (!QApplication::instance()) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
            static int argc = 1;
            static char name[] = "qvin_qt_tests";
            static char* argv[] = {name, nullptr};
            new QApplication(argc, argv);
            KeepNumbersWithAPoint();
        }
    }
};

// The real windows on the simulated board, on the virtual clock.
class MainWindowOnSimulatedBoard : public QtTest {
protected:
    void SetUp() override {
        folder_ = std::filesystem::temp_directory_path() /
                  ("qvin-qt-" + std::to_string(QCoreApplication::applicationPid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(folder_);
        ASSERT_EQ(SaveConfig({Interface{2}, 0, 0}, folder_ / kSettingsFileName), "");
        ui::AppConfig config;
        config.programFolder = folder_;
        config.dataFolder = folder_;
        config.settingsFile = folder_ / kSettingsFileName;
        config.wallClock = ui::WallClockFrom(clock_, 1'780'300'800);  // 1 June 2026, 08:00 UTC
        gui_ = std::make_unique<GuiProgram>(clock_, "sim", config);
        gui_->board->simulated()->chip.SetAngle(30.0);
        gui_->board->simulated()->chip.SetNoise({});  // a still part: the tests check exact readings
        gui_->Start();
        gui_->mainView->show();
        gui_->app->Start();
        QCoreApplication::processEvents();
    }
    void TearDown() override {
        gui_.reset();
        std::filesystem::remove_all(folder_);
    }

    template <typename W>
    W* Named(QWidget* root, const QString& name) {
        // By what a user sees: a caption's Alt+letter mark is no part of it.
        for (W* w : root->findChildren<W*>())
            if (w->accessibleName() == name || w->property("text").toString().remove('&') == name) return w;
        return nullptr;
    }

    // A menu entry by its caption.
    QAction* MenuEntry(const QString& caption) {
        for (QAction* a : gui_->mainView->menuBar()->findChildren<QAction*>())
            if (a->text().remove('&') == caption) return a;
        return nullptr;
    }

    // Runs `act` inside the modal window that the next action opens, once its loop runs.
    void InModal(std::function<void(QWidget*)> act) {
        QTimer::singleShot(0, [act = std::move(act)] {
            QWidget* dialog = QApplication::activeModalWidget();
            ASSERT_NE(dialog, nullptr) << "no modal window opened";
            act(dialog);
        });
    }

    sim::QvinChip& chip() { return gui_->board->simulated()->chip; }

    VirtualClock clock_;
    std::filesystem::path folder_;
    std::unique_ptr<GuiProgram> gui_;
};

}  // namespace qvin::qt::test
