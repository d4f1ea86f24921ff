// The Qt views against the same tables as the neutral windows: each control's widget shows
// the caption or text and the tool tip of its row, and tells a screen reader its kind
// (role) and a name.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>

#include <filesystem>

#include "qt/gui_program.h"
#include "qt/setup_views.h"
#include "qt_fixture.h"
#include "support/control_table.h"
#include "ui/setup/frm_about.h"

namespace qvin::qt::test {
namespace {

using qvin::test::ControlRow;

QString Shown(QObject* o) {
    QString t;
    if (auto* a = qobject_cast<QAction*>(o)) t = a->text();
    else if (auto* b = qobject_cast<QAbstractButton*>(o)) t = b->text();
    else if (auto* l = qobject_cast<QLabel*>(o)) t = l->text();
    else if (auto* e = qobject_cast<QLineEdit*>(o)) return e->text();
    else if (auto* p = qobject_cast<QPlainTextEdit*>(o)) return p->toPlainText();
    else if (auto* c = qobject_cast<QComboBox*>(o)) return c->currentText();
    else if (auto* g = qobject_cast<QGroupBox*>(o)) t = g->title();
    return t.remove('&');  // an Alt+letter mark is no part of the caption
}

QAccessible::Role RoleFor(const std::string& kind) {
    if (kind == "button") return QAccessible::Button;
    if (kind == "option") return QAccessible::RadioButton;
    if (kind == "check") return QAccessible::CheckBox;
    if (kind == "label") return QAccessible::StaticText;
    if (kind == "text") return QAccessible::EditableText;
    if (kind == "list") return QAccessible::ComboBox;
    if (kind == "scroll") return QAccessible::ScrollBar;
    if (kind == "frame") return QAccessible::Grouping;
    if (kind == "plot") return QAccessible::Chart;
    return QAccessible::NoRole;
}

class QtControlTables : public QtTest {
protected:
    void SetUp() override {
        folder_ = std::filesystem::temp_directory_path() / ("qvin-qt-tables-" + std::to_string(QCoreApplication::applicationPid()));
        std::filesystem::create_directories(folder_);
        ui::AppConfig config;
        config.programFolder = folder_;
        config.dataFolder = folder_;
        config.settingsFile = folder_ / kSettingsFileName;
        gui_ = std::make_unique<GuiProgram>(clock_, "sim", config);  // made, not started
        about_ = std::make_unique<ui::frmAbout>(*gui_->app);
        aboutView_ = new AboutDialog(*about_, gui_->mainView.get());
    }
    void TearDown() override {
        gui_.reset();
        std::filesystem::remove_all(folder_);
    }

    // Checks one window's view against its table; returns the rows checked.
    int Check(const std::string& window, QWidget* root) {
        int checked = 0;
        for (const ControlRow& row : qvin::test::ReadTable(window)) {
            const std::string where = window + "." + row.name;
            if (row.name == "(window)") {
                EXPECT_EQ(root->windowTitle().toStdString(), row.text) << where;
                QAccessibleInterface* a = QAccessible::queryAccessibleInterface(root);
                if (!a) {
                    ADD_FAILURE() << where << " has no accessible interface";
                    continue;
                }
                EXPECT_TRUE(a->role() == QAccessible::Window || a->role() == QAccessible::Dialog)
                    << where << " is announced with role " << a->role();
                ++checked;
                continue;
            }
            QObject* o = nullptr;
            for (QObject* c : root->findChildren<QObject*>(QString::fromStdString(row.name)))
                if (!o || (c->isWidgetType() && !o->isWidgetType())) o = c;
            if (!o && row.kind == "menu")
                for (QAction* a : root->findChildren<QAction*>())
                    if (a->objectName().toStdString() == row.name) o = a;
            if (!o) {
                ADD_FAILURE() << where << " has no widget";
                continue;
            }
            ++checked;
            if (row.kind != "scroll" && row.kind != "picture" && row.kind != "plot") {
                EXPECT_EQ(Shown(o).toStdString(), QString::fromStdString(row.text).remove('&').toStdString()) << where;
            }
            const QString tip = qobject_cast<QAction*>(o) ? qobject_cast<QAction*>(o)->toolTip() : static_cast<QWidget*>(o)->toolTip();
            // A menu entry without a tip of its own shows its text as Qt does.
            if (!(row.kind == "menu" && row.toolTip.empty())) {
                EXPECT_EQ(tip.toStdString(), row.toolTip) << where;
            }
            const QAccessible::Role role = RoleFor(row.kind);
            if (role == QAccessible::NoRole || !o->isWidgetType()) continue;
            QAccessibleInterface* a = QAccessible::queryAccessibleInterface(o);
            if (!a) {
                ADD_FAILURE() << where << " has no accessible interface";
                continue;
            }
            EXPECT_EQ(a->role(), role) << where << " is announced with role " << a->role();
            // What is clicked is heard by its caption (a state with what it is the state of;
            // two buttons of one caption with what each is for: "Read delay").
            if ((row.kind == "button" || row.kind == "option" || row.kind == "check") && !row.text.empty()) {
                const QString stateOf = o->property("stateOf").toString();
                const QString want = stateOf.isEmpty() ? QString::fromStdString(row.text) : stateOf + ": " + QString::fromStdString(row.text);
                const QString name = a->text(QAccessible::Name).remove('&');
                EXPECT_TRUE(name == want || name.startsWith(want + " ")) << where << " is heard as \"" << name.toStdString() << "\"";
            }
        }
        return checked;
    }

    VirtualClock clock_;
    std::filesystem::path folder_;
    std::unique_ptr<GuiProgram> gui_;
    std::unique_ptr<ui::frmAbout> about_;
    AboutDialog* aboutView_ = nullptr;
};

TEST_F(QtControlTables, EveryViewShowsItsWindowsTable) {
    EXPECT_GT(Check("frmQvin27319", gui_->mainView.get()), 80);
    EXPECT_GT(Check("frmPort", gui_->portView), 3);
    EXPECT_GT(Check("frmUSBselect", gui_->usbView), 20);
    EXPECT_GT(Check("frmUSBdebug", gui_->usbDebugView), 80);
    EXPECT_GT(Check("FrmAlarm", gui_->alarmView), 40);
    EXPECT_GT(Check("FrmCalReg", gui_->calView), 7);
    EXPECT_GT(Check("frmGpioMisc", gui_->gpioView), 15);
    EXPECT_GT(Check("frmManualReg", gui_->registerView), 20);
    EXPECT_GT(Check("frmStripChart", gui_->chartView), 14);
    EXPECT_GT(Check("frmAnalysis", gui_->analysisView), 10);
    EXPECT_GT(Check("frmAbout", aboutView_), 12);
}

}  // namespace
}  // namespace qvin::qt::test
