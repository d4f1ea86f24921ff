#pragma once
// Paints a window at most once per frame of its screen, and slower where painting is slow.
// The read loop at its shortest delay changes the main window more than a hundred times a
// second, more often than any screen shows; each paint costs the loop its time (and, on
// X11, a wait for the display server). Changes made between two paints are painted
// together, and painting takes no more than about a thirtieth of the time, as the strip
// chart's redraws.

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class QWidget;

namespace qvin::qt {

class PaintPacer : public QObject {
public:
    explicit PaintPacer(QWidget* window);

    static constexpr int kCostFactor = 30;  // the time between paints is at least this many times a paint's cost
    // The shortest time between two paints now: one frame of the window's screen, or
    // kCostFactor times what a paint has been costing, whichever is longer.
    qint64 IntervalNs() const;
    // What a paint has been costing, smoothed over the last few.
    qint64 PaintCostNs() const { return costNs_; }
    // Paints made so far.
    qint64 Paints() const { return paints_; }

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
};

}  // namespace qvin::qt
