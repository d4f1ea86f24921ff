// The strip chart on Qt: a window beside the main window that the read loop feeds, drawn
// from the extremes per pixel column, with the reading under the mouse, pictures, and a
// data log read back.

#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateTime>
#include <QFileDialog>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QLineSeries>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QWheelEvent>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "device/data_log.h"
#include "qt/plot_command.h"
#include "qt_fixture.h"

namespace qvin::qt::test {
namespace {

class StripChart : public MainWindowOnSimulatedBoard {
protected:
    void OpenChart() {
        QAction* entry = MenuEntry("Strip Chart");
        ASSERT_NE(entry, nullptr);
        entry->trigger();
        ASSERT_TRUE(gui_->chartView->isVisible());
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << "the chart must leave the main window usable";
        EXPECT_TRUE(gui_->app->chart.visible());
    }
    // Runs the read loop until the chart holds `samples` readings, or `simulatedS` seconds
    // of simulated time have passed; a loop still running after 30 s of real time fails.
    void LoopUntil(std::size_t samples, double simulatedS = 1e9) {
        QTimer stopper;
        QElapsedTimer real;
        real.start();
        const std::int64_t endNs = clock_.NowNs() + static_cast<std::int64_t>(simulatedS * 1e9);
        QObject::connect(&stopper, &QTimer::timeout, [&] {
            const bool late = real.elapsed() > 30'000;
            EXPECT_FALSE(late) << "the loop ran on";
            if (gui_->app->chart.live.samples().size() >= samples || clock_.NowNs() >= endNs || late) {
                stopper.stop();
                QTest::mouseClick(Named<QPushButton>(gui_->mainView.get(), "Stop"), Qt::LeftButton);
            }
        });
        stopper.start(1);
        QTest::mouseClick(Named<QPushButton>(gui_->mainView.get(), "Start"), Qt::LeftButton);
    }
    QChartView* Plot(const QString& name) {
        for (auto* v : gui_->chartView->panel()->findChildren<QChartView*>())
            if (v->accessibleName() == name) return v;
        return nullptr;
    }
    // An output's line: the points of all its stretches (a gap in the readings breaks it).
    QList<QPointF> Line(const QString& name) {
        QList<QPointF> points;
        if (QChartView* v = Plot(name))
            for (QAbstractSeries* a : v->chart()->series())
                if (auto* line = qobject_cast<QLineSeries*>(a)) points += line->points();
        return points;
    }
};

TEST_F(StripChart, FollowsTheLoopHidesOutputsAndShowsTheReadingUnderTheMouse) {
    OpenChart();
    gui_->chartView->resize(900, 760);
    LoopUntil(60);
    gui_->chartView->Refresh();
    const QList<QPointF> incl = Line("INCL_360 (dgr)");
    ASSERT_GT(incl.size(), 0);
    for (const QPointF& p : incl) EXPECT_NEAR(p.y(), 30.0, 0.05);

    // A hidden output's chart goes; the others keep drawing.
    QCheckBox* box = Named<QCheckBox>(gui_->chartView, "INCL_180 (dgr)");
    ASSERT_NE(box, nullptr);
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(4, box->height() / 2));
    gui_->chartView->Refresh();
    EXPECT_FALSE(Plot("INCL_180 (dgr)")->isVisible());
    EXPECT_TRUE(Plot("SUPPLY_OUT (V)")->isVisible());

    // The reading nearest the mouse, half way through the readings on the supply chart.
    // How many readings the loop took before it stopped depends on the machine's pace, and
    // the supply moves by a count now and then: the text must be the reading it names, the
    // one nearest the mouse (within a pixel), whichever that is.
    QChartView* supply = Plot("SUPPLY_OUT (V)");
    const QRectF area = supply->chart()->plotArea();
    const auto shown = gui_->app->chart.shown();
    const auto& held = gui_->app->chart.live.samples();
    const auto middle = held.front().time + (held.back().time - held.front().time) / 2;
    const double x = area.left() + area.width() * std::chrono::duration<double>(middle - shown.from) / (shown.to - shown.from);
    const QPoint inView = supply->mapFromScene(supply->chart()->mapToScene(QPointF(x, area.center().y())));
    const QString text = gui_->chartView->panel()->TextAt(supply->mapTo(gui_->chartView->panel(), inView));
    const ui::ChartSample* named = nullptr;
    for (const ui::ChartSample& c : held) {
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(c.time.time_since_epoch()).count();
        if (text.startsWith(QDateTime::fromMSecsSinceEpoch(ms).toString("hh:mm:ss.zzz"))) named = &c;
    }
    ASSERT_NE(named, nullptr) << text.toStdString();
    EXPECT_TRUE(text.contains(QString("SUPPLY_OUT (V) = %1").arg(static_cast<double>(named->values[0]), 0, 'f', 3))) << text.toStdString();
    EXPECT_NEAR(named->values[0], 3.30, 0.005);
    const ui::ChartSample* nearest = &held.front();
    for (const ui::ChartSample& c : held)
        if (std::chrono::abs(c.time - middle) < std::chrono::abs(nearest->time - middle)) nearest = &c;
    const auto pixel = (shown.to - shown.from) / static_cast<int>(area.width());
    EXPECT_LE(std::chrono::abs(named->time - nearest->time), 2 * pixel) << text.toStdString();
    // Over the part of the span before the first reading there is none to show.
    if (held.front().time - shown.from > 4 * pixel) {
        const QPoint before = supply->mapFromScene(supply->chart()->mapToScene(QPointF(area.left() + 1, area.center().y())));
        EXPECT_EQ(gui_->chartView->panel()->TextAt(supply->mapTo(gui_->chartView->panel(), before)), "no reading");
    }

    // Closing the window hides it; the loop goes on feeding it.
    gui_->chartView->close();
    EXPECT_FALSE(gui_->chartView->isVisible());
    EXPECT_FALSE(gui_->app->chart.visible());
    const std::size_t before = gui_->app->chart.live.samples().size();
    LoopUntil(before + 5);
    EXPECT_GE(gui_->app->chart.live.samples().size(), before + 5);
}

// The mouse and the keys move through time: a wheel notch over a paused chart zooms in by a
// fifth and keeps the time under the mouse in place; a drag moves the picture with the
// mouse; Home goes back to the span.
TEST_F(StripChart, TheWheelZoomsAtTheMouseADragMovesThroughTimeAndHomeResets) {
    OpenChart();
    gui_->chartView->resize(900, 760);
    LoopUntil(1200);  // 30 s of readings, shown 10 s at a time
    QRadioButton* tenSeconds = Named<QRadioButton>(gui_->chartView, "10 s");
    ASSERT_NE(tenSeconds, nullptr);
    QTest::mouseClick(tenSeconds, Qt::LeftButton, {}, QPoint(4, tenSeconds->height() / 2));
    QTest::mouseClick(Named<QPushButton>(gui_->chartView, "Pause"), Qt::LeftButton);
    gui_->chartView->Refresh();
    QCoreApplication::processEvents();
    QChartView* supply = Plot("SUPPLY_OUT (V)");
    ASSERT_NE(supply, nullptr);
    const QRectF area = supply->chart()->plotArea();
    auto seconds = [](auto d) { return std::chrono::duration<double>(d).count(); };
    const auto before = gui_->app->chart.shown();
    const double width = seconds(before.to - before.from);
    ASSERT_NEAR(width, 10, 1e-9);
    // Three quarters across the plot.
    const QPoint at = supply->mapFromScene(supply->chart()->mapToScene(QPointF(area.left() + 0.75 * area.width(), area.center().y())));
    QWheelEvent wheel(at, supply->viewport()->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(supply->viewport(), &wheel);
    const auto zoomed = gui_->app->chart.shown();
    EXPECT_NEAR(seconds(zoomed.to - zoomed.from), 0.8 * width, 1e-6);
    const double pixel = width / area.width();
    const double underBefore = seconds(before.from.time_since_epoch()) + 0.75 * width;
    const double underAfter = seconds(zoomed.from.time_since_epoch()) + 0.75 * 0.8 * width;
    EXPECT_NEAR(underAfter, underBefore, 1.5 * pixel);
    EXPECT_TRUE(Named<QPushButton>(gui_->chartView, "Reset Zoom")->isEnabled());

    // Dragged 100 pixels to the right: earlier readings come into view.
    gui_->chartView->Refresh();
    QCoreApplication::processEvents();
    const double zoomedPixel = 0.8 * width / supply->chart()->plotArea().width();
    QTest::mousePress(supply->viewport(), Qt::LeftButton, {}, at);
    QMouseEvent move(QEvent::MouseMove, QPointF(at + QPoint(100, 0)), supply->viewport()->mapToGlobal(QPointF(at + QPoint(100, 0))),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(supply->viewport(), &move);
    QTest::mouseRelease(supply->viewport(), Qt::LeftButton, {}, at + QPoint(100, 0));
    const auto dragged = gui_->app->chart.shown();
    EXPECT_NEAR(seconds(zoomed.to - dragged.to), 100 * zoomedPixel, 2 * zoomedPixel);
    EXPECT_NEAR(seconds(dragged.to - dragged.from), 0.8 * width, 1e-6);

    // Home, with the keyboard's focus on the chart.
    QTest::keyClick(gui_->chartView->panel(), Qt::Key_Home);
    const auto reset = gui_->app->chart.shown();
    EXPECT_EQ(reset.from, before.from);
    EXPECT_EQ(reset.to, before.to);
    EXPECT_FALSE(Named<QPushButton>(gui_->chartView, "Reset Zoom")->isEnabled());
}

TEST_F(StripChart, ExportsThePictureAndReadsTheLoopsDataLogBack) {
    OpenChart();
    QTest::mouseClick(Named<QCheckBox>(gui_->mainView.get(), "Log Data to File"), Qt::LeftButton, {}, QPoint(4, 8));
    LoopUntil(30);
    const std::size_t passes = gui_->app->chart.live.samples().size() - 2;  // the start read twice

    const std::string png = (folder_ / "chart.png").string();
    gui_->tk.chooseFile = [&](bool save, const std::string&) { return save ? png : (folder_ / "Datalog_1.txt").string(); };
    QTest::mouseClick(Named<QPushButton>(gui_->chartView, "Export PNG..."), Qt::LeftButton);
    QImage picture(QString::fromStdString(png));
    ASSERT_FALSE(picture.isNull());
    // The chart as shown, under a line saying what it shows.
    const QSize panel = gui_->chartView->panel()->size() * gui_->chartView->panel()->devicePixelRatioF();
    EXPECT_EQ(picture.width(), panel.width());
    EXPECT_GT(picture.height(), panel.height());
    EXPECT_LT(picture.height(), panel.height() + 3 * gui_->chartView->fontMetrics().height());

    const int width = gui_->chartView->width();
    QTest::mouseClick(Named<QPushButton>(gui_->chartView, "Open Data Log..."), Qt::LeftButton);
    EXPECT_EQ(gui_->app->chart.lblSource.caption(), "Datalog_1.txt: " + std::to_string(passes) + " passes in 1 run");
    gui_->chartView->Refresh();
    EXPECT_GT(Line("INCL_360 (dgr)").size(), 0);
    EXPECT_TRUE(Named<QPushButton>(gui_->chartView, "Live")->isVisible());
    // A log's long caption wraps; the window keeps its width.
    gui_->app->chart.lblSource.SetCaption("Datalog_1.txt: " + std::string(300, 'x') + " passes in 1 run, 2 malformed lines skipped " +
                                          std::string(40, 'y'));
    QCoreApplication::processEvents();
    EXPECT_LE(gui_->chartView->minimumSizeHint().width(), width);
    EXPECT_EQ(gui_->chartView->width(), width);
}

// A file dialog is a window of its own, not a loop of its own: while it stays open the read
// loop goes on, and the data log it writes misses no pass.
TEST_F(StripChart, TheLoopReadsOnAndLogsEveryPassWhileAFileDialogIsOpen) {
    OpenChart();
    QTest::mouseClick(Named<QCheckBox>(gui_->mainView.get(), "Log Data to File"), Qt::LeftButton, {}, QPoint(4, 8));
    std::size_t opened = 0, seenAt = 0, closed = 0;  // readings when asked, when the dialog was up, when shut
    bool seen = false;
    QTimer watcher;
    QElapsedTimer real;
    real.start();
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        const std::size_t readings = gui_->app->chart.live.samples().size();
        auto* dialog = gui_->chartView->findChild<QFileDialog*>();
        const bool late = real.elapsed() > 10'000;
        EXPECT_FALSE(late) << "the loop stood still while the dialog was open";
        if (opened == 0 && readings >= 10) {
            opened = readings;
            // Clicked from the event loop, not from here: this watcher must go on watching
            // even if the click never returned.
            QTimer::singleShot(0, [this] { QTest::mouseClick(Named<QPushButton>(gui_->chartView, "Export CSV..."), Qt::LeftButton); });
        } else if (opened && !closed && dialog && dialog->isVisible()) {
            if (!seen) seenAt = readings;
            seen = true;
            if (readings >= seenAt + 40 || late) {
                dialog->reject();
                closed = readings;
            }
        } else if ((closed && readings >= closed + 5) || late) {
            watcher.stop();
            QTest::mouseClick(Named<QPushButton>(gui_->mainView.get(), "Stop"), Qt::LeftButton);
        }
    });
    watcher.start(1);
    QTest::mouseClick(Named<QPushButton>(gui_->mainView.get(), "Start"), Qt::LeftButton);
    EXPECT_TRUE(seen);
    EXPECT_GE(closed, seenAt + 40);
    // Every pass in the log, numbered without a hole.
    std::ifstream log(folder_ / "Datalog_1.txt");
    std::string line;
    int expected = 1;
    while (std::getline(log, line))
        if (!line.empty() && line[0] >= '1' && line[0] <= '9') {
            EXPECT_EQ(std::stoi(line), expected++) << line;
        }
    EXPECT_GE(static_cast<std::size_t>(expected - 1), closed);
    EXPECT_EQ(std::to_string(expected - 1), gui_->app->main.lblLoopCount.caption());
}

// Two runs of the loop twenty seconds apart: each output's line and the new-data trace
// break over the pause instead of ramping across it.
TEST_F(StripChart, APauseInTheReadingIsDrawnAsAGap) {
    OpenChart();
    gui_->chartView->resize(900, 760);
    QTest::mouseClick(Named<QRadioButton>(gui_->chartView, "All"), Qt::LeftButton);
    LoopUntil(40, 5);
    const auto stoppedAt = gui_->app->chart.live.newest().value();
    clock_.Advance(20'000'000'000);
    LoopUntil(1'000'000, 5);
    ui::ChartClock::time_point restartedAt{};
    for (const ui::ChartSample& c : gui_->app->chart.live.samples())
        if (c.time > stoppedAt) {
            restartedAt = c.time;
            break;
        }
    gui_->chartView->Refresh();
    const auto shown = gui_->app->chart.shown();
    const double gapFrom = std::chrono::duration<double, std::milli>(stoppedAt - shown.from).count();
    const double gapTo = std::chrono::duration<double, std::milli>(restartedAt - shown.from).count();
    ASSERT_GT(gapTo - gapFrom, 19'000.0);
    // The stretches of a chart: every series with points; none reaches into the pause.
    auto stretches = [&](QChart* chart, double offset) {
        int n = 0;
        for (QAbstractSeries* a : chart->series()) {
            auto* line = qobject_cast<QLineSeries*>(a);
            if (!line || line->count() == 0) continue;
            ++n;
            for (const QPointF& p : line->points()) EXPECT_FALSE(p.x() - offset > gapFrom + 500 && p.x() - offset < gapTo - 500) << p.x();
        }
        return n;
    };
    // Three: the window's first reading stands apart too, 0.4 s before the loop's.
    EXPECT_EQ(stretches(Plot("INCL_360 (dgr)")->chart(), 0), 3);
    // The flags count from 1970; their new-data trace (the alarm trace is low all along).
    QChartView* flags = nullptr;
    for (auto* v : gui_->chartView->panel()->findChildren<QChartView*>())
        if (v->accessibleName() == "Flags") flags = v;
    ASSERT_NE(flags, nullptr);
    const double epochMs = std::chrono::duration<double, std::milli>(shown.from.time_since_epoch()).count();
    EXPECT_EQ(stretches(flags->chart(), epochMs), 6);  // new data and alarm, each in the three
}

// Analysis... takes what the chart shows: all of a 2-hour data log (the chart keeps its
// last hour one by one), with each pass at its own time, and the passes without a new
// sample as the gaps they are; a live session's pause between two runs is a gap too.
TEST_F(StripChart, AnalysisTakesTheWholeLogAndItsGaps) {
    OpenChart();
    DataLogHeader h;
    h.date = "6/1/2026 08:00:00";
    h.loopDelayMs = 1000;
    h.samplePeriodText = "1.099";
    h.avgCntText.assign(1, '7');  // one character: GCC 12 warns falsely of a literal
    std::string text = DataLogHeaderText(h);
    for (int i = 1; i <= 7200; ++i)
        text += DataLogLine(i, {3.3f, 0, 25, 30.0f + static_cast<float>(i % 5) * 0.01f, 30}, i < 3000 || i > 3002, false, 0);
    const auto file = folder_ / "two-hours.txt";
    std::ofstream(file, std::ios::binary) << text;
    gui_->tk.chooseFile = [&](bool, const std::string&) { return file.string(); };
    QTest::mouseClick(Named<QPushButton>(gui_->chartView, "Open Data Log..."), Qt::LeftButton);
    // The hover a quarter of the way in, where the chart holds the extremes only: that
    // stretch's times and extremes, not the oldest reading it holds one by one (08:59:59).
    gui_->chartView->resize(900, 760);
    gui_->chartView->Refresh();
    QChartView* incl = Plot("INCL_360 (dgr)");
    const QRectF area = incl->chart()->plotArea();
    const QPoint quarter = incl->mapFromScene(incl->chart()->mapToScene(QPointF(area.left() + area.width() / 4, area.center().y())));
    const QString hover = gui_->chartView->panel()->TextAt(incl->mapTo(gui_->chartView->panel(), quarter));
    EXPECT_TRUE(hover.startsWith("08:29:") || hover.startsWith("08:30:")) << hover.toStdString();
    EXPECT_TRUE(hover.contains(" to 08:") && hover.contains("INCL_360 (dgr) = 30.000 to 30.040")) << hover.toStdString();
    QTest::mouseClick(Named<QPushButton>(gui_->chartView, "Analysis..."), Qt::LeftButton);
    EXPECT_EQ(gui_->app->analysis.lblSource.caption(),
              "The strip chart's data log: 7,197 readings over 1 h 59 min, 1 gap, 3 samples missing, the longest 3 after 2998 s");
    EXPECT_EQ(gui_->app->analysis.txtStats.text().rfind("Samples\t7197\r\n", 0), 0u) << gui_->app->analysis.txtStats.text();
    // Another deviation in the table and the plot, named with its unit (the time deviation's
    // is the readings' times seconds); the noise terms stay those of the Allan deviation.
    ui::frmAnalysis& a = gui_->app->analysis;
    const std::string stats = a.txtStats.text();
    ASSERT_EQ(a.cmboDeviation.items().size(), 7u);
    QComboBox* shown = Named<QComboBox>(gui_->analysisView, "Deviation");
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(shown->count(), 7);
    a.cmboDeviation.UserSelect(3);
    // The log's gap: only the Allan deviation leaves missing samples out.
    EXPECT_EQ(a.txtTable.text(), "No tdev: tdev needs a record without missing samples (oadev leaves them out)");
    EXPECT_EQ(a.txtStats.text(), stats);
    // A capture without a gap: 64 readings a tenth of a second apart.
    std::string capture = "seconds since 2026-06-01T08:00:00.000Z,INCL_360 (dgr),Alarm,Missed\n";
    for (int i = 0; i < 64; ++i) capture += std::to_string(i / 10.0) + "," + std::to_string(30 + (i * 7 % 5) * 0.01) + ",0,0\n";
    const auto capFile = folder_ / "still.csv";
    std::ofstream(capFile, std::ios::binary) << capture;
    gui_->tk.chooseFile = [&](bool, const std::string&) { return capFile.string(); };
    a.cmdOpen_Click();
    ASSERT_EQ(a.lblSource.caption(), "still.csv: 64 samples, no gap");
    // The deviation chosen stays chosen for the file opened.
    EXPECT_EQ(a.txtTable.text().rfind("tau (s)\tTDEV\t68 % interval\r\n", 0), 0u) << a.txtTable.text();
    const std::string captureStats = a.txtStats.text();
    EXPECT_EQ(a.picAllan.picture().axis, "Time deviation");
    ASSERT_EQ(a.picAllan.picture().curves.size(), 1u);
    EXPECT_EQ(a.picAllan.picture().curves.front().unit, "dgr s");
    EXPECT_EQ(a.txtStats.text(), captureStats);
    // The time deviation at tau0 is tau0 times the modified Allan deviation over sqrt(3),
    // and that is the Allan deviation there.
    const double tdev1 = a.curve().front().adev;
    a.cmboDeviation.UserSelect(0);
    EXPECT_EQ(a.txtTable.text().rfind("tau (s)\tOADEV\t68 % interval\r\n", 0), 0u) << a.txtTable.text();
    EXPECT_EQ(a.txtStats.text(), captureStats);
    EXPECT_NEAR(tdev1, 0.1 * a.curve().front().adev / std::sqrt(3.0), 1e-9 * tdev1);

    // The plot in the window draws the curve in the first output colour; exported, it is
    // the picture noise --png draws, titled.
    QWidget* plot = gui_->analysisView->findChild<QWidget*>("picAllan");
    ASSERT_NE(plot, nullptr);
    gui_->analysisView->show();
    QCoreApplication::processEvents();
    auto curvePixels = [](const QImage& image) {
        int n = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) n += image.pixelColor(x, y) == QColor(0x1f, 0x77, 0xb4);
        return n;
    };
    EXPECT_GT(curvePixels(plot->grab().toImage()), 100);
    const auto png = folder_ / "noise.png";
    gui_->tk.chooseFile = [&](bool, const std::string&) { return png.string(); };
    QTest::mouseClick(Named<QPushButton>(gui_->analysisView, "Export PNG..."), Qt::LeftButton);
    const QImage exported(QString::fromStdString(png.string()));
    ASSERT_FALSE(exported.isNull());
    EXPECT_EQ(exported.size(), QSize(1140, 700));
    EXPECT_GT(curvePixels(exported), 100);
}

// Ten minutes of the turning inclination at 100 ms a pass, with an alarm above 90
// degrees: the chart draws two points per pixel column at most, marks the alarms, and
// with QVIN_CHART_FIGURE=FILE leaves its picture there.
TEST_F(StripChart, TenMinutesOfRotationAreDrawnFromTheirExtremes) {
    chip().SetAngle(std::nullopt);
    chip().SetWord(sim::addr::Alm_Mag1, 0x8E10);  // alarm 1 above 90 degrees
    chip().SetWord(sim::addr::Alm_Ctrl, 0x0600);
    gui_->app->main.chkResetBeforeRead.UserClick();
    gui_->app->main.txtLoopDelay.UserType("100");
    OpenChart();
    gui_->chartView->resize(1000, 860);
    QTest::mouseClick(Named<QRadioButton>(gui_->chartView, "10 min"), Qt::LeftButton);
    LoopUntil(100'000, 600);
    gui_->chartView->Refresh();
    const auto shown = gui_->app->chart.shown();
    EXPECT_EQ(shown.to - shown.from, std::chrono::minutes(10));
    const int columns = static_cast<int>(Plot("INCL_360 (dgr)")->chart()->plotArea().width());
    const QList<QPointF> incl = Line("INCL_360 (dgr)");
    // Two points per column; the axis labels may have taken a few pixels since the draw.
    EXPECT_LE(incl.size(), 2 * columns * 21 / 20);
    EXPECT_GT(incl.size(), columns / 2);
    double lo = 360, hi = 0;
    for (const QPointF& p : incl) {
        lo = std::min(lo, p.y());
        hi = std::max(hi, p.y());
    }
    EXPECT_LT(lo, 1.0);
    EXPECT_GT(hi, 359.0);
    // A steady loop is one stretch (the window's first reading aside): no false gaps where
    // the chart draws from summaries coarser than its columns.
    int stretches = 0;
    for (QAbstractSeries* a : Plot("INCL_360 (dgr)")->chart()->series())
        if (auto* line = qobject_cast<QLineSeries*>(a); line && line->count() > 0) ++stretches;
    EXPECT_LE(stretches, 2);
    QChartView* flags = Plot("Flags");
    ASSERT_NE(flags, nullptr);
    auto* alarms = qobject_cast<QXYSeries*>(flags->chart()->series().value(1));
    ASSERT_NE(alarms, nullptr);
    EXPECT_GT(alarms->count(), 0);
    if (const char* figure = std::getenv("QVIN_CHART_FIGURE")) {
        // The charts' own layout, then their margins lined up, as the screen would show it.
        for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
        QWidget* window = gui_->chartView;
        window->grab().save(QString::fromLocal8Bit(figure));
    }
}

// qvin-cli plot: a log with a junk line and a torn end is drawn from what can be read,
// the skipped lines are counted in the summary, and a log without passes is refused.
TEST_F(QtTest, PlotDrawsWhatALogHoldsAndCountsWhatItSkipped) {
    const auto folder = std::filesystem::temp_directory_path() / ("qvin-plot-" + std::to_string(QCoreApplication::applicationPid()));
    std::filesystem::create_directories(folder);
    DataLogHeader h;
    h.date = "6/1/2026 08:00:00";
    h.loopDelayMs = 100;
    std::string text = DataLogHeaderText(h);
    for (int i = 1; i <= 200; ++i) {
        const float angle = static_cast<float>(i);
        text += DataLogLine(i, {3.3f, 0.0f, 25.0f, angle, angle}, true, i > 150, 0);
        if (i == 100) text += "junk\r\n";
    }
    text += "201\t3.3";
    const auto log = folder / "plot.txt";
    std::ofstream(log, std::ios::binary) << text;
    const auto png = folder / "plot.png";
    const Outcome drawn = DrawPlotPng(log.string(), png.string(), 800, 600);
    ASSERT_EQ(drawn.status, kOk) << drawn.text;
    EXPECT_EQ(drawn.text, png.string() + ": plot.txt: 200 passes in 1 run, 2 malformed lines skipped, 800x600");
    QImage picture(QString::fromStdString(png.string()));
    ASSERT_EQ(picture.size(), QSize(800, 600));
    // The alarm trace rises for the last quarter: its red is in the picture.
    int red = 0;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) red += picture.pixelColor(x, y) == QColor(220, 0, 0);
    EXPECT_GT(red, 100);
    // Its heading: the summary, and the first and last pass on the local clock (here
    // Kolkata's, half an hour off any whole-hour zone), the date again past midnight.
    const char* was = std::getenv("TZ");
    const std::string before = was ? was : "";
    setenv("TZ", "IST-5:30", 1);
    tzset();
    const auto at = [](std::int64_t s) { return std::chrono::system_clock::time_point(std::chrono::seconds(s)); };
    const std::int64_t june1 = 1'780'272'000;  // 2026-06-01T00:00:00Z
    EXPECT_EQ(PlotHeading("plot.txt: 200 passes in 1 run", at(june1 + 9000), at(june1 + 9019)),
              "QVIN27319 data log plot.txt: 200 passes in 1 run, 2026-06-01 08:00:00 to 08:00:19");
    EXPECT_EQ(PlotHeading("x", at(june1 + 66'600 - 1), at(june1 + 66'600 + 1)), "QVIN27319 data log x, 2026-06-01 23:59:59 to 2026-06-02 00:00:01");
    if (was) setenv("TZ", before.c_str(), 1);
    else unsetenv("TZ");
    tzset();

    std::ofstream(log, std::ios::binary | std::ios::trunc) << DataLogHeaderText(h) << "nothing\r\n";
    const Outcome refused = DrawPlotPng(log.string(), png.string(), 1000, 800);
    EXPECT_EQ(refused.status, kBadInput);
    EXPECT_EQ(refused.text, log.string() + " holds no passes (1 malformed line)");
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace qvin::qt::test
