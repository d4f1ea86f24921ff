// How often the read loop's window paints and runs events, on real time: a window changed
// far more often than a screen shows is painted about once a frame, a slow painter less
// often, and the last change is always painted; the loop's own event runs come at most
// every ten milliseconds.

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QPainter>
#include <QTest>
#include <QWidget>

#include <chrono>
#include <thread>

#include "qt/paint_pacer.h"
#include "qt/qt_toolkit.h"
#include "qt_fixture.h"

namespace qvin::qt::test {
namespace {

// A paced window, shown, that counts its paints, each taking `paintMs` of busy time, and
// remembers what it last painted.
class CountingWindow : public QWidget {
public:
    explicit CountingWindow(int paintMs) : pacer(this), paintMs_(paintMs) {
        resize(200, 100);
        show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(this));
        EXPECT_TRUE(QTest::qWaitFor([this] { return paints > 0; }, 20'000));
    }
    PaintPacer pacer;
    int paints = 0;
    int shown = -1;
    int value = 0;

protected:
    void paintEvent(QPaintEvent*) override {
        ++paints;
        shown = value;
        QPainter(this).fillRect(rect(), value % 2 ? Qt::white : Qt::black);
        QElapsedTimer busy;
        busy.start();
        while (busy.elapsed() < paintMs_) {
        }
    }

private:
    int paintMs_;
};

// Changes the window every 0.2 ms for `ms` of real time, letting events run in between
// as the read loop does; returns the paints made meanwhile.
int ChangeOften(CountingWindow& w, int ms) {
    const int before = w.paints;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        ++w.value;
        w.update();
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return w.paints - before;
}

using PaintPacing = QtTest;

TEST_F(PaintPacing, AWindowChangedOftenPaintsAboutOnceAFrameAndShowsTheLastChange) {
    CountingWindow w(0);
    const int paints = ChangeOften(w, 300);
    // 300 ms is 18 frames at 60 Hz; unpaced it would be well over a hundred paints.
    EXPECT_GE(paints, 1);
    EXPECT_LE(paints, 25);
    // The change held back is painted once its frame has passed (later on a busy machine).
    EXPECT_TRUE(QTest::qWaitFor([&] { return w.shown == w.value; }, 20'000));
}

TEST_F(PaintPacing, ASlowPainterPaintsLessOften) {
    CountingWindow w(4);
    const int paints = ChangeOften(w, 400);
    // Each paint costs 4 ms or more, so paints come a quarter of a second apart (the longest).
    EXPECT_GE(w.pacer.PaintCostNs(), 3'000'000);
    EXPECT_GE(w.pacer.IntervalNs(), std::min<qint64>(PaintPacer::kCostFactor * 3'000'000, 250'000'000));
    EXPECT_GE(paints, 1);
    EXPECT_LE(paints, 6);
    EXPECT_TRUE(QTest::qWaitFor([&] { return w.shown == w.value; }, 20'000));
}

using LoopEvents = QtTest;

TEST_F(LoopEvents, RunAtMostOncePerIntervalFromTheLoopAndAlwaysWhenAsked) {
    QtToolkit tk;
    EXPECT_EQ(tk.loopEventsIntervalNs, 10'000'000);
    tk.loopEventsIntervalNs = 60'000'000'000;  // no machine is slow enough to pass it between two calls
    int ran = 0;
    auto post = [&] { QMetaObject::invokeMethod(QCoreApplication::instance(), [&] { ++ran; }, Qt::QueuedConnection); };
    post();
    tk.DoLoopEvents();
    EXPECT_EQ(ran, 1) << "the first call runs events";
    post();
    tk.DoLoopEvents();
    EXPECT_EQ(ran, 1) << "a call right after events ran passes by";
    tk.DoEvents();
    EXPECT_EQ(ran, 2) << "DoEvents always runs events";
    post();
    tk.loopEventsIntervalNs = 1'000'000;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    tk.DoLoopEvents();
    EXPECT_EQ(ran, 3) << "once the interval has passed, the loop's call runs events";
}

}  // namespace
}  // namespace qvin::qt::test
