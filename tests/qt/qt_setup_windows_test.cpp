// The set-up windows on Qt: each opens modally from its menu entry, the user's clicks and
// list choices reach the window's logic once, OK closes it and the main window reads the
// part again; the register window prints to a PDF file.

#include <QComboBox>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

#include "core/trace_capture.h"
#include "qt_fixture.h"

namespace qvin::qt::test {
namespace {

class SetupWindows : public MainWindowOnSimulatedBoard {
protected:
    void SetUp() override {
        MainWindowOnSimulatedBoard::SetUp();
        gui_->bench.trace.Attach(capture_.stream());
    }
    // The SPI words the chip saw since the last call, as "spi MOSI MISO" lines.
    std::vector<std::string> Frames(const std::string& prefix = "spi ") { return capture_.Take(prefix); }
    // Opens a window from its menu entry and runs `act` in it; fails when it stays open.
    void Open(const QString& entry, QWidget* expected, const std::function<void(QWidget*)>& act) {
        QAction* a = MenuEntry(entry);
        ASSERT_NE(a, nullptr) << entry.toStdString();
        bool ran = false;
        InModal([&](QWidget* dialog) {
            EXPECT_EQ(dialog, expected);
            ran = true;
            act(dialog);
        });
        a->trigger();
        EXPECT_TRUE(ran);
        EXPECT_FALSE(QApplication::activeModalWidget()) << "the window is still open";
        QCoreApplication::processEvents();  // the main window's activation afterwards
    }
    void ClickOk(QWidget* dialog) { QTest::mouseClick(Named<QPushButton>(dialog, "OK"), Qt::LeftButton); }

    TraceCapture capture_;
};

TEST_F(SetupWindows, AlarmListChoiceRunsOnceAndTheMainWindowRereadsAfterOk) {
    Open("Alarms", gui_->alarmView, [&](QWidget* dialog) {
        EXPECT_EQ(dialog->windowTitle(), "Alarms");
        auto* source = Named<QComboBox>(dialog, "Alarm 1 source");
        ASSERT_NE(source, nullptr);
        EXPECT_EQ(source->currentText(), "Disabled");
        Frames();
        source->setFocus();
        QTest::keyClick(source, Qt::Key_Down);  // the next entry, "PS"
        EXPECT_EQ(source->currentText(), "PS");
        EXPECT_EQ(chip().Word(sim::addr::Alm_Ctrl), 0x0100);
        // One write of Alm_Ctrl (high byte at 0x29, then the low byte), then the re-read.
        const auto frames = Frames();
        EXPECT_EQ(std::count_if(frames.begin(), frames.end(), [](const std::string& f) { return f.rfind("spi A9", 0) == 0; }), 1);
        auto* units = Named<QLabel>(dialog, "V");
        EXPECT_NE(units, nullptr);

        // A toggle names its state for screen readers and follows the register.
        auto* compare = Named<QPushButton>(dialog, "Alarm 1 comparison: <");
        ASSERT_NE(compare, nullptr);
        QTest::mouseClick(compare, Qt::LeftButton);
        EXPECT_EQ(compare->text(), ">");
        EXPECT_EQ(compare->accessibleName(), "Alarm 1 comparison: >");
        EXPECT_EQ(chip().Word(sim::addr::Alm_Mag1) & 0x8000, 0x8000);

        // Enter in the threshold box sets the threshold and does not press a button.
        auto* threshold = Named<QLineEdit>(dialog, "Alarm 1 threshold (Enter to set)");
        ASSERT_NE(threshold, nullptr);
        threshold->selectAll();
        QTest::keyClicks(threshold, "2.5");
        QTest::keyClick(threshold, Qt::Key_Return);
        EXPECT_EQ(chip().Word(sim::addr::Alm_Mag1), 0x8000 | 2049);
        EXPECT_TRUE(dialog->isVisible());
        Frames();
        ClickOk(dialog);
    });
    EXPECT_FALSE(gui_->alarmView->isVisible());
    const auto after = Frames("spi D085");  // the main window unlocks the part to read it
    EXPECT_FALSE(after.empty());
}

TEST_F(SetupWindows, GpioDirectionClickReachesTheChip) {
    Open("GPIO/MSC", gui_->gpioView, [&](QWidget* dialog) {
        EXPECT_EQ(dialog->windowTitle(), "GPIO & Misc Ctrl");
        auto* dir0 = Named<QPushButton>(dialog, "DIO0 direction: Input");
        ASSERT_NE(dir0, nullptr);
        QTest::mouseClick(dir0, Qt::LeftButton);
        EXPECT_EQ(dir0->text(), "Output");
        EXPECT_EQ(chip().Word(sim::addr::Gpio_Ctrl), 0x0001);
        ClickOk(dialog);
    });
    EXPECT_EQ(gui_->p->part.Dio0Use, 1);
}

TEST_F(SetupWindows, CalibrationApplyWritesTheNull) {
    Open("Calibration", gui_->calView, [&](QWidget* dialog) {
        EXPECT_EQ(dialog->windowTitle(), "Calibration Registers");
        auto* value = Named<QLineEdit>(dialog, "INCL_NULL");
        ASSERT_NE(value, nullptr);
        EXPECT_EQ(value->text(), "0");
        value->selectAll();
        QTest::keyClicks(value, "-12.5");
        QTest::mouseClick(Named<QPushButton>(dialog, "Apply"), Qt::LeftButton);
        EXPECT_EQ(value->text(), "-12");
        EXPECT_EQ(chip().Word(sim::addr::Incl_Null), 0xFFF4);
        ClickOk(dialog);
    });
}

// Counts the pages of a PDF file by their page objects.
int PdfPages(const QString& file) {
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) return -1;
    const QString text = QString::fromLatin1(f.readAll());
    return static_cast<int>(text.count(QRegularExpression("/Type\\s*/Page[^s]")));
}

TEST_F(SetupWindows, RegisterListSelectsByPositionAndPrintGoesToAPdf) {
    const QString pdf = QString::fromStdString((folder_ / "registers.pdf").string());
    gui_->tk.choosePrinter = [&](QPrinter& printer, QWidget*) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf);
        return true;
    };
    Open("Register", gui_->registerView, [&](QWidget* dialog) {
        auto* list = Named<QComboBox>(dialog, "Register");
        ASSERT_NE(list, nullptr);
        EXPECT_EQ(list->count(), 33);
        list->setFocus();
        for (int i = 0; i < 13; ++i) QTest::keyClick(list, Qt::Key_Down);
        EXPECT_EQ(list->currentText(), "Incl_Null");
        EXPECT_EQ(gui_->p->SelectedRegister, 13);
        EXPECT_EQ(Named<QLineEdit>(dialog, "Base Addr (Hex)")->text(), "18");
        EXPECT_TRUE(Named<QPushButton>(dialog, "Write (Hex)")->isEnabled());

        QTest::mouseClick(Named<QPushButton>(dialog, "Read"), Qt::LeftButton);
        auto* table = Named<QPlainTextEdit>(dialog, "User register table");
        ASSERT_NE(table, nullptr);
        EXPECT_TRUE(table->toPlainText().startsWith("Name\t\tAddr\tSetting"));
        QTest::mouseClick(Named<QPushButton>(dialog, "Print"), Qt::LeftButton);

        // What goes onto the page is the window as shown, table included.
        QImage page(850, 1100, QImage::Format_RGB32);
        page.fill(Qt::white);
        QPainter painter(&page);
        QtToolkit::PaintWindow(*dialog, painter, page.rect());
        painter.end();
        const QRect tableArea(table->mapTo(dialog, QPoint(0, 0)), table->size());
        const double scale = std::min(850.0 / dialog->width(), 1100.0 / dialog->height());
        const double shift = (850 - dialog->width() * scale) / 2;
        int ink = 0;
        for (int y = tableArea.top(); y < tableArea.bottom(); y += 2)
            for (int x = tableArea.left(); x < tableArea.right(); x += 2)
                if (qGray(page.pixel(static_cast<int>(shift + x * scale), static_cast<int>(y * scale))) < 100) ++ink;
        EXPECT_GT(ink, 20) << "the table's text is not on the page";
        ClickOk(dialog);
    });
    EXPECT_EQ(PdfPages(pdf), 1);
}

TEST_F(SetupWindows, AboutIsMadeForEachOpeningAndDestroyedByOk) {
    for (int opening = 0; opening < 2; ++opening) {
        chip().SetWord(sim::addr::Fls_Cyc, static_cast<std::uint16_t>(40 + opening));
        QAction* about = MenuEntry("About");
        ASSERT_NE(about, nullptr);
        InModal([&](QWidget* dialog) {
            EXPECT_EQ(dialog->windowTitle(), "About QVIN27319 Evaluation");
            EXPECT_NE(Named<QLabel>(dialog, "1.1.0"), nullptr);
            EXPECT_NE(Named<QLabel>(dialog, QString::number(40 + opening)), nullptr);
            ClickOk(dialog);
        });
        about->trigger();
        for (QDialog* d : gui_->mainView->findChildren<QDialog*>())
            EXPECT_FALSE(d->windowTitle().startsWith("About")) << "the About window outlived its closing";
    }
}

TEST_F(SetupWindows, BenchOpensFromDebugWritesWordsAndLoopsUntilStop) {
    QAction* usb = MenuEntry("USB");
    ASSERT_NE(usb, nullptr);
    bool benchSeen = false;
    InModal([&](QWidget* selection) {
        EXPECT_EQ(selection, gui_->usbView);
        InModal([&](QWidget* bench) {
            EXPECT_EQ(bench, gui_->usbDebugView);
            EXPECT_EQ(bench->windowTitle(), "USB SPI Card Setup");
            benchSeen = true;
            auto* count = Named<QLineEdit>(bench, "# Words to Write");
            auto* word1 = Named<QLineEdit>(bench, "Write word 1");
            ASSERT_TRUE(count && word1);
            count->selectAll();
            QTest::keyClicks(count, "2");
            word1->selectAll();
            QTest::keyClicks(word1, "5600");
            QTest::mouseClick(Named<QPushButton>(bench, "Write"), Qt::LeftButton);
            EXPECT_EQ(Named<QLineEdit>(bench, "Read word 2")->text(), "6AB7");
            EXPECT_EQ(Named<QLineEdit>(bench, "Write word 2")->text(), "0");
            EXPECT_EQ(Named<QLineEdit>(bench, "Write word 3")->text(), "");

            // Loop: the button reads Stop while it runs; pressing it ends the loop.
            QPushButton* loop = Named<QPushButton>(bench, "Loop");
            ASSERT_NE(loop, nullptr);
            // Stop once the loop has made ten transfers, however slowly the machine runs it.
            int passes = 0;
            QTimer stopper;
            QObject::connect(&stopper, &QTimer::timeout, [&] {
                EXPECT_EQ(loop->text().remove(QChar('&')), "Stop");
                passes += static_cast<int>(Frames().size());
                if (passes >= 10) {
                    stopper.stop();
                    QTest::mouseClick(loop, Qt::LeftButton);
                }
            });
            Frames();
            stopper.start(2);
            QTest::mouseClick(loop, Qt::LeftButton);
            EXPECT_EQ(loop->text().remove(QChar('&')), "Loop");
            EXPECT_GE(passes, 10);
            EXPECT_FALSE(gui_->app->usbDebug.looping());
            ClickOk(bench);
        });
        QTest::mouseClick(Named<QPushButton>(selection, "Debug"), Qt::LeftButton);
        ClickOk(selection);
    });
    usb->trigger();
    EXPECT_TRUE(benchSeen);
    EXPECT_TRUE(gui_->p->UsbReady());
}

}  // namespace
}  // namespace qvin::qt::test
