#pragma once
// A picture box on screen: replays the model's drawing operations, scaled from the
// model's units to the widget's size, antialiased. Keys pressed while it has the focus
// go to the model's key handler.

#include <QPen>
#include <QPixmap>
#include <QWidget>

#include <vector>

#include "ui/controls.h"

namespace qvin::qt {

class PictureView : public QWidget {
public:
    PictureView(ui::PictureBox& model, QWidget* parent);
    QSize sizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int w) const override;
    // Something to show besides the drawing (the logo's text).
    void SetBanner(const QString& text) { banner_ = text; }

protected:
    void paintEvent(QPaintEvent*) override;
    void keyPressEvent(QKeyEvent* e) override;

private:
    // Draws ops[from..to) with the painter set up for the model's units.
    void Replay(QPainter& painter, std::size_t from, std::size_t to, QPen& pen) const;
    // The model changed: once the handler that draws has finished, repaint what moved (the
    // operations after the cached ones, where they were and where they are now), or the
    // whole picture when the cached part changed.
    void ScheduleRepaint();
    void RepaintChanged();
    // Where ops[from..] land in widget pixels, pens included.
    QRect Bounds(const std::vector<ui::DrawOp>& ops, std::size_t from) const;
    float Scale() const;
    QPointF Origin() const;
    bool repaintPending_ = false;

    ui::PictureBox& model_;
    QString banner_;
    // The drawing's leading operations that did not change since the last paint (the
    // dial's rings) are kept rendered, so a pass repaints only what moves.
    std::vector<ui::DrawOp> previous_;
    std::vector<ui::DrawOp> cachedOps_;
    QPixmap cache_;
};

}  // namespace qvin::qt
