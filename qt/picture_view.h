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

    ui::PictureBox& model_;
    QString banner_;
    // The drawing's leading operations that did not change since the last paint (the
    // dial's rings) are kept rendered, so a pass repaints only what moves.
    std::vector<ui::DrawOp> previous_;
    std::vector<ui::DrawOp> cachedOps_;
    QPixmap cache_;
};

}  // namespace qvin::qt
