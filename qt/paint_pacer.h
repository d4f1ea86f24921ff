#pragma once
// Paints a window at most once per frame of its screen, and slower where painting is slow.
// The read loop at its shortest delay changes the main window more than a hundred times a
// second, more often than any screen shows; each paint costs the loop its time (and, on
// X11, a wait for the display server). Changes made between two paints are painted
// together, and painting takes no more than about a hundredth of the time.
//
// New texts wait for the paint too: a text box lays its text out each time it is given
// one, which at a hundred readings a second cost the loop more than the paints; a text
// handed over just before the paint is laid out once for all the readings in between.

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <utility>
#include <vector>

class QWidget;

namespace qvin::qt {

class PaintPacer : public QObject {
public:
    explicit PaintPacer(QWidget* window);

    static constexpr int kCostFactor = 100;  // the time between paints is at least this many times a paint's cost
    // The shortest time between two paints now: one frame of the window's screen, or
    // kCostFactor times what a paint has been costing, whichever is longer.
    qint64 IntervalNs() const;
    // What a paint has been costing, smoothed over the last few.
    qint64 PaintCostNs() const { return costNs_; }
    // Paints made so far.
    qint64 Paints() const { return paints_; }

    // Runs `sync` (handing a control's new state to `widget`) just before the window's next
    // paint, once however often it is asked for meanwhile, and asks for that paint. At once
    // while the window is hidden (no paint would come) or the widget has the keyboard (what
    // the user types goes into what the box shows).
    void SyncBeforePaint(QWidget* widget, std::function<void()> sync);
    // Runs every sync that waits.
    void SyncNow();
    // The pacer of the window that `widget` lies in, if that window has one.
    static PaintPacer* Of(const QWidget* widget);

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    qint64 FrameNs() const;

    QWidget* window_;
    QElapsedTimer sincePaint_;
    QTimer later_;
    qint64 costNs_ = 0;
    qint64 paints_ = 0;
    bool painting_ = false;
    std::vector<std::pair<QPointer<QWidget>, std::function<void()>>> pending_;
};

}  // namespace qvin::qt
