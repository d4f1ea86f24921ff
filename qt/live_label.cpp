#include "qt/live_label.h"

#include <QEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>
#include <QTextDocument>

#include <algorithm>

namespace qvin::qt {

LiveLabel::LiveLabel(QWidget* parent, Backdrop backdrop) : QLabel(parent), backdrop_(backdrop) {
    // The frame's shading behind the label changes with the frame's size.
    if (parent && backdrop_ == Backdrop::Copied) parent->installEventFilter(this);
}

bool LiveLabel::Simple() const {
    const bool plain = textFormat() == Qt::PlainText || (textFormat() == Qt::AutoText && !Qt::mightBeRichText(text()));
    return plain && pixmap().isNull() && !wordWrap() && margin() == 0 && indent() <= 0 &&
           !text().contains(QLatin1Char('\n')) && !text().contains(QLatin1Char('&'));
}

const QStaticText* LiveLabel::Prepared(const QString& text) {
    for (const QStaticText& s : prepared_)
        if (s.text() == text) return &s;
    // A caption that never comes back (the loop counter) is not worth laying out twice.
    if (std::find(seen_.begin(), seen_.end(), text) == seen_.end()) {
        seen_[nextSeen_++ % seen_.size()] = text;
        return nullptr;
    }
    QStaticText& slot = prepared_[nextPrepared_++ % prepared_.size()];
    slot = QStaticText(text);
    slot.setTextFormat(Qt::PlainText);
    slot.prepare(QTransform(), font());
    return &slot;
}

// Where QLabel and the style put one line of text: in the contents, less the indent a
// framed label keeps, aligned as asked, the line as high as the font's ascent and descent.
void LiveLabel::DrawText(QPainter& painter) {
    QRectF r = contentsRect();
    const Qt::Alignment align = QStyle::visualAlignment(layoutDirection(), alignment());
    if (frameWidth() > 0) {
        const qreal m = fontMetrics().horizontalAdvance(QLatin1Char('x')) / 2;
        if (align & Qt::AlignLeft) r.setLeft(r.left() + m);
        if (align & Qt::AlignRight) r.setRight(r.right() - m);
        if (align & Qt::AlignTop) r.setTop(r.top() + m);
        if (align & Qt::AlignBottom) r.setBottom(r.bottom() - m);
    }
    const QRect area = r.toAlignedRect();
    const QStaticText* prepared = Prepared(text());
    const QFontMetricsF metrics(font());
    const qreal width = prepared ? prepared->size().width() : metrics.horizontalAdvance(text());
    const qreal height = metrics.ascent() + metrics.descent();
    qreal x = area.x(), y = area.y();
    if (align & Qt::AlignRight) x += area.width() - width;
    else if (align & Qt::AlignHCenter) x += (area.width() - width) / 2;
    if (align & Qt::AlignBottom) y += area.height() - height;
    else if (align & Qt::AlignVCenter) y += (area.height() - height) / 2;
    QStyleOption option;
    option.initFrom(this);
    painter.setPen(QPen(option.palette.brush(foregroundRole()), painter.pen().widthF()));
    painter.setFont(font());
    if (prepared) painter.drawStaticText(QPointF(x, y), *prepared);
    else painter.drawText(QPointF(x, y + metrics.ascent()), text());
}

void LiveLabel::paintEvent(QPaintEvent* e) {
    if (copying_) return;  // the copy is of what lies behind the label only
    if (!Simple()) {
        if (testAttribute(Qt::WA_OpaquePaintEvent)) QPainter(this).drawPixmap(0, 0, copy_);
        QLabel::paintEvent(e);
        return;
    }
    QPainter painter(this);
    if (testAttribute(Qt::WA_OpaquePaintEvent)) painter.drawPixmap(0, 0, copy_);
    drawFrame(&painter);
    DrawText(painter);
    painter.end();
    // Moved to a screen of another pixel ratio: this paint used the old copy.
    if (!copy_.isNull() && copy_.devicePixelRatio() != devicePixelRatioF()) {
        Stale();
        update();
    }
}

void LiveLabel::Stale() {
    if (backdrop_ != Backdrop::Copied) return;
    copy_ = QPixmap();
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    if (copyPending_) return;
    copyPending_ = true;
    QMetaObject::invokeMethod(this, [this] { Copy(); }, Qt::QueuedConnection);
}

void LiveLabel::Copy() {
    copyPending_ = false;
    if (!isVisible() || size().isEmpty()) return;  // taken when shown
    const qreal ratio = devicePixelRatioF();
    QPixmap copy(size() * ratio);
    copy.setDevicePixelRatio(ratio);
    copy.fill(Qt::transparent);
    QWidget* top = window();
    copying_ = true;
    top->render(&copy, QPoint(), QRegion(QRect(mapTo(top, QPoint(0, 0)), size())),
                QWidget::DrawWindowBackground | QWidget::DrawChildren);
    copying_ = false;
    copy_ = copy;
    setAttribute(Qt::WA_OpaquePaintEvent, true);
}

void LiveLabel::resizeEvent(QResizeEvent* e) {
    Stale();
    QLabel::resizeEvent(e);
}

void LiveLabel::moveEvent(QMoveEvent* e) {
    Stale();
    QLabel::moveEvent(e);
}

void LiveLabel::showEvent(QShowEvent* e) {
    Stale();
    QLabel::showEvent(e);
}

void LiveLabel::changeEvent(QEvent* e) {
    switch (e->type()) {
        case QEvent::FontChange:
            for (QStaticText& p : prepared_) p = QStaticText();
            for (auto& t : seen_) t.clear();
            [[fallthrough]];
        case QEvent::PaletteChange:
        case QEvent::StyleChange:
        case QEvent::EnabledChange:
            Stale();
            break;
        default:
            break;
    }
    QLabel::changeEvent(e);
}

bool LiveLabel::eventFilter(QObject* watched, QEvent* e) {
    if (watched == parent() && (e->type() == QEvent::Resize || e->type() == QEvent::PaletteChange ||
                                e->type() == QEvent::StyleChange || e->type() == QEvent::EnabledChange))
        Stale();
    return QLabel::eventFilter(watched, e);
}

}  // namespace qvin::qt
