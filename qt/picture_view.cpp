#include "qt/picture_view.h"

#include <QKeyEvent>
#include <QPainter>

#include "qt/bindings.h"

namespace qvin::qt {

PictureView::PictureView(ui::PictureBox& model, QWidget* parent) : QWidget(parent), model_(model) {
    setObjectName(QString::fromStdString(model.name()));
    if (!model.toolTip().empty()) setToolTip(QString::fromStdString(model.toolTip()));
    setFocusPolicy(Qt::StrongFocus);
    // The picture paints every pixel itself; Qt need not clear it first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    model_.observer = [this] { ScheduleRepaint(); };
}

QSize PictureView::sizeHint() const {
    return QSize(static_cast<int>(model_.width() * 1.2f), static_cast<int>(model_.height() * 1.2f));
}

int PictureView::heightForWidth(int w) const {
    return static_cast<int>(static_cast<float>(w) * model_.height() / model_.width());
}

void PictureView::Replay(QPainter& painter, std::size_t from, std::size_t to, QPen& pen) const {
    const std::vector<ui::DrawOp>& ops = model_.ops();
    for (std::size_t i = from; i < to && i < ops.size(); ++i) {
        const ui::DrawOp& op = ops[i];
        switch (op.kind) {
            case ui::DrawOp::Circle:
                painter.drawEllipse(QPointF(op.a, op.b), op.c, op.c);
                break;
            case ui::DrawOp::Line:
                painter.drawLine(QPointF(op.a, op.b), QPointF(op.c, op.d));
                break;
            case ui::DrawOp::LineWidth:
                pen.setWidthF(op.a);
                painter.setPen(pen);
                break;
        }
    }
}

float PictureView::Scale() const {
    // Keep the picture's proportions, centred in whatever room the layout gives.
    return std::min(static_cast<float>(width()) / model_.width(), static_cast<float>(height()) / model_.height());
}

QPointF PictureView::Origin() const {
    const float scale = Scale();
    return QPointF((width() - model_.width() * scale) / 2, (height() - model_.height() * scale) / 2);
}

void PictureView::ScheduleRepaint() {
    if (repaintPending_) return;
    repaintPending_ = true;
    QMetaObject::invokeMethod(this, [this] { RepaintChanged(); }, Qt::QueuedConnection);
}

QRect PictureView::Bounds(const std::vector<ui::DrawOp>& ops, std::size_t from) const {
    QRectF r;
    float pen = 1;
    for (std::size_t i = 0; i < ops.size(); ++i) {
        const ui::DrawOp& op = ops[i];
        if (op.kind == ui::DrawOp::LineWidth) pen = op.a;
        if (i < from || op.kind == ui::DrawOp::LineWidth) continue;
        const QRectF shape = op.kind == ui::DrawOp::Circle ? QRectF(op.a - op.c, op.b - op.c, 2 * op.c, 2 * op.c)
                                                           : QRectF(QPointF(op.a, op.b), QPointF(op.c, op.d)).normalized();
        r |= shape.adjusted(-pen, -pen, pen, pen);
    }
    if (r.isNull()) return {};
    const float scale = Scale();
    const QPointF o = Origin();
    // Two pixels more each side for antialiasing.
    return QRectF(o + r.topLeft() * scale, o + r.bottomRight() * scale).toAlignedRect().adjusted(-2, -2, 2, 2);
}

void PictureView::RepaintChanged() {
    repaintPending_ = false;
    const std::vector<ui::DrawOp>& ops = model_.ops();
    // Drawn again as it was (the same reading): the screen already shows it.
    if (!cache_.isNull() && ops == previous_) return;
    const bool cacheHolds = !cache_.isNull() && cachedOps_.size() <= ops.size() &&
                            std::equal(cachedOps_.begin(), cachedOps_.end(), ops.begin()) &&
                            cachedOps_.size() <= previous_.size() &&
                            std::equal(cachedOps_.begin(), cachedOps_.end(), previous_.begin());
    if (!cacheHolds) {
        update();
        return;
    }
    update(Bounds(previous_, cachedOps_.size()) | Bounds(ops, cachedOps_.size()));
}

void PictureView::paintEvent(QPaintEvent*) {
    const std::vector<ui::DrawOp>& ops = model_.ops();
    const float scale = Scale();
    const QPointF origin = Origin();
    auto setUp = [&](QPainter& painter, QPen& pen) {
        painter.setRenderHint(QPainter::Antialiasing);
        painter.translate(origin);
        painter.scale(scale, scale);
        pen = QPen(palette().color(QPalette::Text));
        pen.setWidthF(1.0);
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
    };

    std::size_t stable = 0;
    while (stable < ops.size() && stable < previous_.size() && ops[stable] == previous_[stable]) ++stable;
    const bool cacheFits = cache_.size() == size() * devicePixelRatioF() && cachedOps_.size() <= ops.size() &&
                           std::equal(cachedOps_.begin(), cachedOps_.end(), ops.begin());
    // The cache grows to the longer unchanged start only while something after it changes,
    // or an unchanged picture would take its moving parts into the cache, only to be
    // drawn anew at the next change.
    if (!cacheFits || (stable > cachedOps_.size() && stable < ops.size())) {
        cachedOps_.assign(ops.begin(), ops.begin() + static_cast<std::ptrdiff_t>(stable));
        cache_ = QPixmap(size() * devicePixelRatioF());
        cache_.setDevicePixelRatio(devicePixelRatioF());
        cache_.fill(palette().color(QPalette::Base));
        QPainter cachePainter(&cache_);
        QPen pen;
        setUp(cachePainter, pen);
        Replay(cachePainter, 0, cachedOps_.size(), pen);
    }
    previous_ = ops;

    QPainter painter(this);
    painter.drawPixmap(0, 0, cache_);
    QPen pen;
    setUp(painter, pen);
    // Line widths set before the cached part still apply to what follows.
    for (std::size_t i = 0; i < cachedOps_.size(); ++i)
        if (cachedOps_[i].kind == ui::DrawOp::LineWidth) pen.setWidthF(cachedOps_[i].a);
    painter.setPen(pen);
    Replay(painter, cachedOps_.size(), ops.size(), pen);
    if (!banner_.isEmpty()) {
        painter.resetTransform();
        QFont f = font();
        f.setBold(true);
        f.setPointSizeF(f.pointSizeF() * 1.6);
        painter.setFont(f);
        painter.drawText(rect(), Qt::AlignCenter, banner_);
    }
}

void PictureView::keyPressEvent(QKeyEvent* e) {
    model_.UserKeyDown(KeyCode(*e), ShiftState(e->modifiers()));
    QWidget::keyPressEvent(e);
}

}  // namespace qvin::qt
