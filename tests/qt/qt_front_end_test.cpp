// The Qt front end under the offscreen platform: the binding's rules, the real main window
// on the simulated board, a picture of it, and names for assistive technology.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QAccessible>
#include <QApplication>
#include <QAbstractScrollArea>
#include <QComboBox>
#include <QPlainTextEdit>
#include <QGroupBox>
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <set>

#include "qt/live_label.h"
#include "qt/paint_pacer.h"
#include "qt/bindings.h"
#include "ui/main/angle_dial.h"
#include "qt_fixture.h"

// Allocations that system libraries keep for the life of the process (font caches),
// which LeakSanitizer would report at exit in the sanitizer build. Not ours to free.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\nleak:libfreetype.so\nleak:libharfbuzz.so\nleak:libglib-2.0.so\n";
}

namespace qvin::qt {
namespace {

using test::MainWindowOnSimulatedBoard;
using test::QtTest;
using Binding = QtTest;

TEST_F(Binding, ScrollBarReportsUserChangesOnceAndCodeChangesNeverEcho) {
    ui::ScrollBar model("hsc", 0, 100, 1, 10);
    int changes = 0;
    model.onChange = [&] { ++changes; };
    QScrollBar bar(Qt::Horizontal);
    Bind(model, &bar);
    EXPECT_FALSE(bar.hasTracking());

    model.SetValue(40);  // from code: the handler runs once, the widget follows silently
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(bar.value(), 40);
    model.SetValue(40);
    EXPECT_EQ(changes, 1);

    // A drag reports once, at release.
    bar.setSliderDown(true);
    bar.setSliderPosition(50);
    bar.setSliderPosition(60);
    bar.setSliderPosition(70);
    EXPECT_EQ(changes, 1);
    bar.setSliderDown(false);
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(model.value(), 70);

    bar.triggerAction(QAbstractSlider::SliderPageStepAdd);  // a click on the track
    EXPECT_EQ(changes, 3);
    EXPECT_EQ(model.value(), 80);
}

TEST_F(Binding, TextFromCodeRunsNothingAndEnterReachesTheHandler) {
    ui::TextBox model("txt");
    std::vector<int> keys;
    model.onKeyDown = [&](int k, int) { keys.push_back(k); };
    QLineEdit edit;
    Bind(model, &edit);
    model.SetText("25.0");
    EXPECT_EQ(edit.text(), "25.0");
    EXPECT_TRUE(keys.empty());
    edit.clear();
    QTest::keyClicks(&edit, "12");
    EXPECT_EQ(model.text(), "12");
    QTest::keyClick(&edit, Qt::Key_Return);
    ASSERT_FALSE(keys.empty());
    EXPECT_EQ(keys.back(), ui::kKeyEnter);
}

TEST_F(Binding, OptionFromCodeActsAsAClickAndTheGroupFollows) {
    std::vector<ui::OptionButton*> group;
    ui::OptionButton a("a"), b("b");
    for (auto* o : {&a, &b}) {
        o->JoinGroup(&group);
        group.push_back(o);
    }
    int clicksB = 0;
    b.onClick = [&] { ++clicksB; };
    QRadioButton ra, rb;
    Bind(a, &ra);
    Bind(b, &rb);
    a.Select();
    b.Select();
    EXPECT_EQ(clicksB, 1);
    EXPECT_FALSE(ra.isChecked());
    EXPECT_TRUE(rb.isChecked());
    QTest::mouseClick(&ra, Qt::LeftButton);
    EXPECT_TRUE(a.value());
    EXPECT_FALSE(rb.isChecked());
}

TEST_F(Binding, TheFactoryChordDigitIsTheKeysPlaceNotItsSymbol) {
    // Ctrl+Shift+2 on a German layout gives '"', on a US one '@': the digit row's second key.
    const QKeyEvent german(QEvent::KeyPress, Qt::Key_QuoteDbl, Qt::ControlModifier | Qt::ShiftModifier, 11, 0, 0, "\"");
    EXPECT_EQ(KeyCode(german), 50);
    const QKeyEvent us(QEvent::KeyPress, Qt::Key_At, Qt::ControlModifier | Qt::ShiftModifier, 11, 0, 0, "@");
    EXPECT_EQ(KeyCode(us), 50);
    const QKeyEvent zero(QEvent::KeyPress, Qt::Key_Equal, Qt::ControlModifier | Qt::ShiftModifier, 19, 0, 0, "=");
    EXPECT_EQ(KeyCode(zero), 48);
    // Without a scan code (other platforms) the US symbols still map.
    EXPECT_EQ(KeyCode(QKeyEvent(QEvent::KeyPress, Qt::Key_NumberSign, Qt::ShiftModifier)), 51);
}

TEST_F(Binding, ADisabledFrameDisablesItsButtons) {
    ui::Frame frame("frame");
    ui::Button button("cmd");
    button.PlaceIn(frame);
    int clicks = 0;
    button.onClick = [&] { ++clicks; };
    QGroupBox box;
    auto* push = new QPushButton(&box);
    Bind(frame, &box);
    Bind(button, push);
    frame.SetEnabled(false);
    EXPECT_FALSE(push->isEnabled());
    QTest::mouseClick(push, Qt::LeftButton);
    EXPECT_EQ(clicks, 0);
    frame.SetEnabled(true);
    QTest::mouseClick(push, Qt::LeftButton);
    EXPECT_EQ(clicks, 1);
}

// Presses Stop once the read loop has run for a while, however long it takes to start.
void StopLoopSoon(ui::frmQvin27319& w, int afterMs) {
    auto* timer = new QTimer();
    QObject::connect(timer, &QTimer::timeout, timer, [&w, timer, afterMs, started = -1]() mutable {
        if (!w.LoopRunning) return;
        if (started < 0) started = 0;
        started += 5;
        if (started < afterMs) return;
        w.cmdStop.UserClick();
        timer->stop();
        timer->deleteLater();
    });
    timer->start(5);
}

TEST_F(MainWindowOnSimulatedBoard, StartsOnTheAdapterAndShowsReadings) {
    MainWindowView& view = *gui_->mainView;
    EXPECT_EQ(view.windowTitle(), "QVIN27319 Evaluation Software - Rev 2");
    QLineEdit* incl = Named<QLineEdit>(&view, "INCL_360 (dgr)");
    ASSERT_NE(incl, nullptr);
    EXPECT_EQ(incl->text(), "30.00");
    QLineEdit* supply = Named<QLineEdit>(&view, "SUPPLY_OUT (V)");
    ASSERT_NE(supply, nullptr);
    EXPECT_TRUE(supply->text().startsWith("3.3") || supply->text().startsWith("3.29")) << supply->text().toStdString();

    // Read pressed with the mouse goes through the window's handler.
    gui_->board->simulated()->chip.SetAngle(90.0);
    QPushButton* read = Named<QPushButton>(&view, "Read");
    ASSERT_NE(read, nullptr);
    QTest::mouseClick(read, Qt::LeftButton);
    // New texts reach the boxes with the window's next paint.
    EXPECT_TRUE(QTest::qWaitFor([&] { return incl->text() == "90.00"; }, 20'000)) << incl->text().toStdString();

    // The loop runs until Stop; Stop is pressed from the event queue meanwhile.
    QPushButton* start = Named<QPushButton>(&view, "Start");
    QPushButton* stop = Named<QPushButton>(&view, "Stop");
    ASSERT_TRUE(start && stop);
    StopLoopSoon(gui_->app->main, 30);
    QTest::mouseClick(start, Qt::LeftButton);
    EXPECT_FALSE(gui_->app->main.LoopRunning);
    EXPECT_TRUE(start->isEnabled());
}

TEST_F(MainWindowOnSimulatedBoard, PictureShowsTheDialAndTheFlagColours) {
    MainWindowView& view = *gui_->mainView;
    view.resize(1280, 800);
    // A few passes of the read loop first, as a user would watch it.
    StopLoopSoon(gui_->app->main, 20);
    gui_->app->main.CmdRdLoop.UserClick();
    QCoreApplication::processEvents();
    const QImage image = view.grab().toImage();
    EXPECT_EQ(image.width(), view.width());
    EXPECT_EQ(image.height(), view.height());
    if (const char* shot = std::getenv("QVIN_SCREENSHOT")) image.save(shot);

    // The dial: the needle at 30 degrees leaves dark pixels inside the dial's area.
    PictureView* dial = view.dial();
    const QRect d(dial->mapTo(&view, QPoint(0, 0)), dial->size());
    int ink = 0;
    for (int y = d.top(); y < d.bottom(); y += 2)
        for (int x = d.left(); x < d.right(); x += 2)
            if (qGray(image.pixel(x, y)) < 100) ++ink;
    EXPECT_GT(ink, 50);

    // A status flag: green behind "OK".
    QLabel* flag = Named<QLabel>(&view, "Power Supply Low: OK");
    ASSERT_NE(flag, nullptr);
    const QPoint inside = flag->mapTo(&view, QPoint(3, 3));
    const QColor c(image.pixel(inside));
    EXPECT_GT(c.green(), 200);
    EXPECT_LT(c.red(), 60);
}

// Counts the paint events each watched widget receives.
class PaintCount : public QObject {
public:
    std::map<QObject*, int> paints;

protected:
    bool eventFilter(QObject* o, QEvent* e) override {
        if (e->type() == QEvent::Paint) ++paints[o];
        return false;
    }
};

// What `live` shows, and what a plain QLabel set up alike shows in its place.
std::pair<QImage, QImage> AsDrawnAndAsAQLabelWould(QWidget& window, QLabel* live) {
    if (PaintPacer* pacer = PaintPacer::Of(&window)) pacer->SyncNow();  // as a saved picture is taken
    const QRect place(live->mapTo(&window, QPoint(0, 0)), live->size());
    const QImage drawn = window.grab(place).toImage();
    QLabel plain(live->text(), live->parentWidget());
    plain.setGeometry(live->geometry());
    plain.setAlignment(live->alignment());
    plain.setFrameShape(live->frameShape());
    plain.setAutoFillBackground(live->autoFillBackground());
    plain.setPalette(live->palette());
    plain.setEnabled(live->isEnabled());
    live->hide();
    plain.show();
    const QImage expected = window.grab(place).toImage();
    live->show();
    return {drawn, expected};
}

int Ink(const QImage& image) {
    int ink = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) ink += qGray(image.pixel(x, y)) < 100;
    return ink;
}

TEST_F(MainWindowOnSimulatedBoard, TheLoopCounterAndFlagsLookAsLabelsYetRepaintAlone) {
    MainWindowView& view = *gui_->mainView;
    view.resize(1280, 800);
    QCoreApplication::processEvents();
    LiveLabel* counter = nullptr;
    for (QLabel* l : view.findChildren<QLabel*>())
        if (auto* live = dynamic_cast<LiveLabel*>(l); live && live->property("stateOf").isNull()) counter = live;
    ASSERT_NE(counter, nullptr);
    auto* frame = qobject_cast<QGroupBox*>(counter->parentWidget());
    ASSERT_NE(frame, nullptr);
    auto* flag = dynamic_cast<LiveLabel*>(Named<QLabel>(&view, "Data Read: New"));
    ASSERT_NE(flag, nullptr);

    // A new count or flag repaints the label, and neither its frame nor the window behind.
    PaintCount count;
    for (QWidget* w : std::initializer_list<QWidget*>{counter, flag, frame, frame->parentWidget(), &view})
        w->installEventFilter(&count);
    gui_->app->main.lblLoopCount.SetCaption("1234");
    gui_->app->main.lblNewDataFlag.SetCaption("Old");
    // The window paints at most once a frame, and later where painting is slow (a busy
    // machine): wait for the paint itself, not for a time.
    EXPECT_TRUE(QTest::qWaitFor([&] { return count.paints[counter] >= 1 && count.paints[flag] >= 1; }, 20'000));
    QCoreApplication::processEvents();
    EXPECT_EQ(count.paints[frame], 0);
    EXPECT_EQ(count.paints[frame->parentWidget()], 0);
    EXPECT_EQ(count.paints[&view], 0);

    // They look as plain labels in their place would, the frame's shading behind the
    // counter and all; after a resize of the window and for each flag text as well.
    for (const QSize size : {QSize(1280, 800), QSize(1100, 760)}) {
        view.resize(size);
        QCoreApplication::processEvents();
        const auto [drawn, expected] = AsDrawnAndAsAQLabelWould(view, counter);
        EXPECT_EQ(drawn, expected) << size.width() << "x" << size.height();
        EXPECT_GT(Ink(drawn), 10) << "the count is drawn";
    }
    for (const char* text : {"New", "Old"}) {
        gui_->app->main.lblNewDataFlag.SetCaption(text);
        const auto [drawn, expected] = AsDrawnAndAsAQLabelWould(view, flag);
        EXPECT_EQ(drawn, expected) << text;
        EXPECT_GT(Ink(drawn), 10) << text;
    }
    QLabel* alarm = Named<QLabel>(&view, "Alarm1 Set: OK");
    ASSERT_NE(alarm, nullptr);
    gui_->app->main.lblAlarm1SetFlag.SetBackColor(ui::kRed);
    gui_->app->main.lblAlarm1SetFlag.SetCaption("Alarm");
    const auto [drawn, expected] = AsDrawnAndAsAQLabelWould(view, alarm);
    EXPECT_EQ(drawn, expected) << "a red flag";
}

TEST_F(QtTest, TheDialRepaintsOnlyChangesAndAlwaysShowsTheLastReading) {
    ui::PictureBox model("Picture1", 200, 200);
    PictureView view(model, nullptr);
    view.resize(240, 240);
    view.show();
    PaintCount count;
    view.installEventFilter(&count);
    // A new reading is painted: wait for that paint, however busy the machine.
    auto drawAndPaint = [&](double angle) {
        const int before = count.paints[&view];
        ui::DrawAngleDial(model, angle, false);
        EXPECT_TRUE(QTest::qWaitFor([&] { return count.paints[&view] > before; }, 20'000)) << angle;
    };
    drawAndPaint(30);
    drawAndPaint(40);
    const int paints = count.paints[&view];
    // The same reading again: the picture is as shown, so nothing is painted.
    ui::DrawAngleDial(model, 40, false);
    QTest::qWait(30);
    EXPECT_EQ(count.paints[&view], paints);
    // Then a new reading, after repeats and an exposure: what is shown is that reading
    // alone, as a view that never drew anything else would show it.
    view.update();
    EXPECT_TRUE(QTest::qWaitFor([&] { return count.paints[&view] > paints; }, 20'000));
    ui::DrawAngleDial(model, 40, false);
    drawAndPaint(75);
    ui::PictureBox freshModel("Picture1", 200, 200);
    PictureView fresh(freshModel, nullptr);
    fresh.resize(240, 240);
    ui::DrawAngleDial(freshModel, 75, false);
    EXPECT_EQ(view.grab().toImage(), fresh.grab().toImage());
}

bool InsideScrollArea(QWidget* w, QWidget* root) {
    for (QWidget* p = w->parentWidget(); p && p != root; p = p->parentWidget())
        if (qobject_cast<QAbstractScrollArea*>(p)) return true;
    return false;
}

TEST_F(MainWindowOnSimulatedBoard, EveryControlHasANameAUserCanTellApart) {
    for (QWidget* root : std::initializer_list<QWidget*>{gui_->mainView.get(), gui_->portView, gui_->usbView, gui_->usbDebugView,
                                                        gui_->alarmView, gui_->calView, gui_->gpioView,
                                                        gui_->registerView}) {
        std::map<QString, int> names;
        for (QWidget* w : root->findChildren<QWidget*>()) {
            const bool interactive = qobject_cast<QAbstractButton*>(w) || qobject_cast<QLineEdit*>(w) ||
                                     qobject_cast<QAbstractSlider*>(w) || qobject_cast<QComboBox*>(w) ||
                                     qobject_cast<QPlainTextEdit*>(w) || dynamic_cast<PictureView*>(w);
            if (!interactive || w->window() != root) continue;  // the dialogs are the main window's children
            if (qobject_cast<QComboBox*>(w->parentWidget())) continue;  // an editable list's own text field
            if (InsideScrollArea(w, root)) continue;  // a text area's own scroll bars
            QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
            ASSERT_NE(a, nullptr);
            // On Linux a list's accessible name is its value; readers take the name from the
            // list's own name and its label.
            const QString name = qobject_cast<QComboBox*>(w) ? w->accessibleName() : a->text(QAccessible::Name);
            EXPECT_FALSE(name.isEmpty()) << root->windowTitle().toStdString() << ": a " << w->metaObject()->className()
                                         << " without a name";
            ++names[name];
        }
        for (const auto& [name, count] : names)
            EXPECT_EQ(count, 1) << root->windowTitle().toStdString() << ": " << count << " controls named \""
                                << name.toStdString() << "\"";
    }
}

TEST_F(MainWindowOnSimulatedBoard, MenusAndMostButtonsHaveAltLettersOfTheirOwn) {
    auto letters = [](QWidget* root, const QList<QAction*>& actions) {
        std::map<QChar, QString> seen;
        std::vector<QString> texts;
        for (QAction* a : actions) texts.push_back(a->text());
        for (QAbstractButton* b : root->findChildren<QAbstractButton*>())
            if (b->window() == root && b->property("stateOf").toString().isEmpty() && !b->text().isEmpty())
                texts.push_back(b->text());
        int marked = 0;
        for (const QString& t : texts) {
            const int at = t.indexOf('&');
            if (at < 0 || at + 1 >= t.size()) continue;  // letters can run out: Tab reaches it
            ++marked;
            const QChar c = t.at(at + 1).toLower();
            EXPECT_EQ(seen.count(c), 0u) << root->windowTitle().toStdString() << ": Alt+" << QString(c).toStdString()
                                         << " for both " << seen[c].toStdString() << " and " << t.toStdString();
            seen[c] = t;
        }
        // Most have one; every menu entry has one.
        EXPECT_GE(marked * 4, static_cast<int>(texts.size()) * 3) << root->windowTitle().toStdString();
        for (QAction* a : actions) EXPECT_TRUE(a->text().contains('&')) << a->text().toStdString();
    };
    letters(gui_->mainView.get(), gui_->mainView->menuBar()->actions());
    for (QWidget* d : std::initializer_list<QWidget*>{gui_->portView, gui_->usbView, gui_->usbDebugView, gui_->alarmView,
                                                      gui_->calView, gui_->gpioView, gui_->registerView})
        letters(d, {});
    // A caption set again keeps its letter: the loop's Start is "&Start" before and after.
    QPushButton* start = Named<QPushButton>(gui_->mainView.get(), "Start");
    ASSERT_NE(start, nullptr);
    const QString before = start->text();
    gui_->app->main.CmdRdLoop.SetCaption("Begin");
    gui_->app->main.CmdRdLoop.SetCaption("Start");
    EXPECT_EQ(start->text(), before);
}

// A reading's texts reach the window's boxes just before its next paint, the last of them
// once for all that came between; a box the user types in, a hidden window, a saved
// picture and the labels get them at once.
TEST_F(MainWindowOnSimulatedBoard, NewTextsWaitForThePaintUnlessTypedInUnseenOrSaved) {
    MainWindowView& view = *gui_->mainView;
    QLineEdit* incl = Named<QLineEdit>(&view, "INCL_360 (dgr)");
    ASSERT_NE(incl, nullptr);
    ui::TextBox& box = gui_->app->main.txtReadReg(reg::Incl_Out);
    ASSERT_EQ(incl->text().toStdString(), box.text());
    const QString before = incl->text();
    for (int i = 0; i < 100; ++i) box.SetText(std::to_string(i) + ".500");
    gui_->app->main.lblLoopCount.SetCaption("4321");
    EXPECT_EQ(incl->text(), before) << "handed over before the paint";
    EXPECT_TRUE(QTest::qWaitFor([&] { return incl->text() == "99.500"; }, 20'000)) << incl->text().toStdString();
    EXPECT_TRUE(Named<QLabel>(&view, "4321") || QTest::qWaitFor([&] { return Named<QLabel>(&view, "4321") != nullptr; }, 20'000));

    box.SetText("7.250");
    const std::string picture = (folder_ / "window.png").string();
    EXPECT_EQ(gui_->tk.SaveImage(gui_->app->main, picture, ""), "");
    EXPECT_EQ(incl->text(), "7.250") << "a saved picture shows the last reading";
    // Under a heading the picture gains a line of text above it, the window's picture unchanged below.
    const std::string headed = (folder_ / "headed.png").string();
    EXPECT_EQ(gui_->tk.SaveImage(gui_->app->main, headed, "QVIN27319 main window, 2026-06-01T08:00:00Z"), "");
    const QImage plain(QString::fromStdString(picture)), withHeading(QString::fromStdString(headed));
    ASSERT_FALSE(plain.isNull());
    ASSERT_FALSE(withHeading.isNull());
    EXPECT_EQ(withHeading.width(), plain.width());
    EXPECT_GT(withHeading.height(), plain.height());
    EXPECT_EQ(withHeading.copy(0, withHeading.height() - plain.height(), plain.width(), plain.height()).convertToFormat(QImage::Format_RGB32),
              plain.convertToFormat(QImage::Format_RGB32));

    view.activateWindow();
    incl->setFocus();
    if (QTest::qWaitFor([&] { return incl->hasFocus(); }, 2'000)) {
        box.SetText("8.125");
        EXPECT_EQ(incl->text(), "8.125") << "the box being typed in";
        incl->clearFocus();
    }

    box.SetText("1.000");  // waits for a paint that a hidden window never makes
    view.hide();
    EXPECT_EQ(incl->text(), "1.000") << "handed over when the window hides";
    box.SetText("2.000");
    EXPECT_EQ(incl->text(), "2.000") << "a hidden window's boxes";
    view.show();
}

TEST_F(MainWindowOnSimulatedBoard, AScreenReaderHearsEachFlagsState) {
    gui_->board->simulated()->chip.RaiseStatus(0x0100);
    gui_->app->main.cmdReadData.UserClick();
    // The flags' new states reach their labels with the window's next paint.
    EXPECT_TRUE(QTest::qWaitFor([&] { return Named<QLabel>(gui_->mainView.get(), "Alarm1 Set: Alarm") != nullptr; }, 20'000));
    int flags = 0;
    for (const auto& row : gui_->app->main.statusRows()) {
        QLabel* shown = nullptr;
        for (QLabel* l : gui_->mainView->findChildren<QLabel*>())
            if (l->text() == QString::fromStdString(row.flag->caption()) &&
                l->accessibleName().startsWith(QString::fromStdString(row.row->caption()) + ": "))
                shown = l;
        ASSERT_NE(shown, nullptr) << row.row->caption();
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(shown);
        const QString heard = a->text(QAccessible::Name);
        EXPECT_EQ(heard.toStdString(), row.row->caption() + ": " + row.flag->caption());
        ++flags;
    }
    EXPECT_EQ(flags, 8);
    // The Alarm1 flag is heard as an alarm, the others as OK; the data flags too.
    EXPECT_NE(Named<QLabel>(gui_->mainView.get(), "Alarm1 Set: Alarm"), nullptr);
    EXPECT_NE(Named<QLabel>(gui_->mainView.get(), "Power Supply Low: OK"), nullptr);
    EXPECT_NE(Named<QLabel>(gui_->mainView.get(), "Output status: Alarm"), nullptr);
    EXPECT_TRUE(Named<QLabel>(gui_->mainView.get(), "Data Read: New") || Named<QLabel>(gui_->mainView.get(), "Data Read: Old"));
}

TEST_F(MainWindowOnSimulatedBoard, HelpOpensTheUserGuideAtItsContents) {
    std::filesystem::copy_file(QVIN_HELP_FILE, folder_ / "QVIN27319.hlp");
    QAction* help = nullptr;
    for (QAction* a : gui_->mainView->menuBar()->actions())
        if (a->text().remove(QChar('&')) == "Help") help = a;
    ASSERT_NE(help, nullptr);
    help->trigger();
    QTextBrowser* browser = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* b = w->findChild<QTextBrowser*>()) browser = b;
    ASSERT_NE(browser, nullptr);
    const QString text = browser->toPlainText();
    EXPECT_TRUE(text.contains("Contents"));
    EXPECT_TRUE(text.contains("Connecting a board"));
    EXPECT_TRUE(text.contains("udev rule"));
    browser->window()->close();
}

TEST_F(MainWindowOnSimulatedBoard, PortDialogIsModalAndItsOkSelectsThePort) {
    QAction* portEntry = nullptr;
    for (QAction* a : gui_->mainView->menuBar()->findChildren<QAction*>())
        if (a->text().remove(QChar('&')) == "Parallel Port") portEntry = a;
    ASSERT_NE(portEntry, nullptr);
    bool sawDialog = false;
    // Acts inside the dialog once its modal loop runs, as a user would.
    QTimer::singleShot(0, [&] {
        QWidget* dialog = QApplication::activeModalWidget();
        ASSERT_EQ(dialog, gui_->portView);
        sawDialog = true;
        EXPECT_EQ(dialog->windowTitle(), "Parallel Port Setup");
        auto* address = Named<QLineEdit>(dialog, "Port Address (Hex)");
        ASSERT_NE(address, nullptr);
        EXPECT_EQ(address->text(), "0");
        address->selectAll();
        QTest::keyClicks(address, "378");
        QTest::mouseClick(Named<QPushButton>(dialog, "OK"), Qt::LeftButton);
    });
    portEntry->trigger();
    EXPECT_TRUE(sawDialog);
    EXPECT_FALSE(gui_->portView->isVisible());
    EXPECT_EQ(gui_->p->settings.InterfaceType, Interface::ParallelPort);
    EXPECT_EQ(gui_->p->settings.PortAddress, 0x378);
    EXPECT_TRUE(portEntry->isChecked());
    // The main window is activated again once the menu handler has finished.
    QCoreApplication::processEvents();
    EXPECT_TRUE(gui_->board->simulated()->port.Prepared());
}

TEST_F(MainWindowOnSimulatedBoard, ExitFromTheMenuSavesTheSettingsAndCloses) {
    gui_->p->settings.FactoryMode = 1;
    QAction* exit = nullptr;
    for (QAction* a : gui_->mainView->menuBar()->actions())
        if (a->text().remove(QChar('&')) == "Exit") exit = a;
    ASSERT_NE(exit, nullptr);
    exit->trigger();
    EXPECT_TRUE(gui_->app->ended);
    Settings saved;
    ReadConfig(saved, folder_ / kSettingsFileName);
    EXPECT_EQ(saved.InterfaceType, Interface::UsbAdapter);
    EXPECT_EQ(saved.FactoryMode, 1);
}

}  // namespace
}  // namespace qvin::qt

namespace qvin::qt::test {
namespace {

// The Debug menu records the bus of a board; a replay has none (its answers come from the
// recording), so Record is not offered there.
TEST_F(QtTest, AReplayOffersNoRecordingOfTheBus) {
    const auto folder = std::filesystem::temp_directory_path() / ("qvin-qt-replay-" + std::to_string(QCoreApplication::applicationPid()));
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    ASSERT_EQ(SaveConfig({Interface{2}, 0, 0}, folder / kSettingsFileName), "");
    ui::AppConfig config;
    config.programFolder = config.dataFolder = folder;
    config.settingsFile = folder / kSettingsFileName;
    const auto trace = folder / "start.trace";
    const auto recordOffered = [&](const std::string& board) {
        VirtualClock clock;
        config.wallClock = ui::WallClockFrom(clock, 1'780'300'800);
        GuiProgram gui(clock, board, config);
        gui.Start();
        gui.mainView->show();
        gui.app->Start();
        QCoreApplication::processEvents();
        for (QAction* a : gui.mainView->menuBar()->findChildren<QAction*>())
            if (a->text().remove('&') == "Record Bus...") return a->isEnabled();
        ADD_FAILURE() << "no Record Bus... in the menus";
        return false;
    };
    ::setenv("QVIN_TRACE", trace.c_str(), 1);
    EXPECT_TRUE(recordOffered("sim"));
    ::unsetenv("QVIN_TRACE");
    ASSERT_GT(std::filesystem::file_size(trace), 0u);
    EXPECT_FALSE(recordOffered("replay:" + trace.string()));
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace qvin::qt::test
