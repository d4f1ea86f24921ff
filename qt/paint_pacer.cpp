#include "qt/paint_pacer.h"

#include <QCoreApplication>
#include <QEvent>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <algorithm>

namespace qvin::qt {

PaintPacer::PaintPacer(QWidget* window) : QObject(window), window_(window) {
    later_.setSingleShot(true);
    later_.setTimerType(Qt::PreciseTimer);
    // Qt asks for a paint once and then waits for it, so a held-back request is asked again.
    connect(&later_, &QTimer::timeout, this, [this] {
        QCoreApplication::postEvent(window_, new QEvent(QEvent::UpdateRequest), Qt::LowEventPriority);
    });
    window->installEventFilter(this);
}

qint64 PaintPacer::FrameNs() const {
    const QScreen* screen = window_->screen();
    const qreal hz = screen ? screen->refreshRate() : 60.0;
    // A screen that reports nothing sensible is taken for an ordinary 60 Hz one.
    return static_cast<qint64>(1e9 / (hz >= 20.0 && hz <= 500.0 ? hz : 60.0));
}

qint64 PaintPacer::IntervalNs() const {
    // Never more than a quarter of a second, however slow one paint was.
    return std::clamp(costNs_ * kCostFactor, FrameNs(), qint64{250'000'000});
}

PaintPacer* PaintPacer::Of(const QWidget* widget) {
    // The pacer is one of its window's own children (not a meta-object class, so no findChild).
    const QWidget* window = widget ? widget->window() : nullptr;
    if (!window) return nullptr;
    for (QObject* child : window->children())
        if (auto* pacer = dynamic_cast<PaintPacer*>(child)) return pacer;
    return nullptr;
}

void PaintPacer::SyncBeforePaint(QWidget* widget, std::function<void()> sync) {
    if (!window_->isVisible() || widget->hasFocus()) {
        sync();
        return;
    }
    for (const auto& p : pending_)
        if (p.first == widget) return;  // the sync waiting reads the control's state when it runs
    pending_.emplace_back(widget, std::move(sync));
    widget->update();
}

void PaintPacer::SyncNow() {
    // A sync may ask for another (a control that changes another): run until none waits.
    while (!pending_.empty()) {
        auto waiting = std::move(pending_);
        pending_.clear();
        for (auto& [widget, sync] : waiting)
            if (widget) sync();
    }
}

bool PaintPacer::eventFilter(QObject* watched, QEvent* e) {
    if (watched == window_ && e->type() == QEvent::Hide) SyncNow();
    if (watched != window_ || e->type() != QEvent::UpdateRequest || painting_) return false;
    const qint64 interval = IntervalNs();
    if (sincePaint_.isValid() && sincePaint_.nsecsElapsed() < interval) {
        if (!later_.isActive()) {
            const qint64 waitNs = interval - sincePaint_.nsecsElapsed();
            later_.start(static_cast<int>(std::max<qint64>(1, (waitNs + 999'999) / 1'000'000)));
        }
        return true;
    }
    // Painted here, to be timed: painting, handing the picture to the display, and any
    // wait for the display to take the one before.
    sincePaint_.restart();
    painting_ = true;
    SyncNow();
    static_cast<QObject*>(window_)->event(e);
    painting_ = false;
    const qint64 cost = sincePaint_.nsecsElapsed();
    // A window not yet on the screen paints nothing, which says nothing of what a paint costs.
    const QWindow* handle = window_->windowHandle();
    if (!handle || !handle->isExposed()) return true;
    ++paints_;
    // One slow paint (a whole window after a resize) moves the average only a quarter.
    costNs_ = costNs_ == 0 ? cost : (3 * costNs_ + cost) / 4;
    return true;
}

}  // namespace qvin::qt
