#pragma once
// Labels whose text changes with every reading: the loop counter and the flags.
//
// A QLabel lays its text out afresh each time it paints, which was a good part of what a
// read-loop pass cost; these draw a caption seen for the first time in one line, without
// the layout, and keep the laid-out text of captions that come back (a flag goes "Old",
// "New", "Old" ...), drawing it as QLabel would.
//
// A see-through label also makes Qt repaint every frame and window behind it on each
// change, while one that fills its background looks like a box. With `Backdrop::Copied`
// the label draws what lies behind it from a copy of its own, so a new text repaints
// the label alone and it still looks see-through.

#include <QLabel>
#include <QPixmap>
#include <QStaticText>

#include <array>

namespace qvin::qt {

class LiveLabel : public QLabel {
public:
    enum class Backdrop { Own, Copied };
    LiveLabel(QWidget* parent, Backdrop backdrop);

protected:
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void moveEvent(QMoveEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void changeEvent(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    // Plain text on one line, with no picture, margin or indent: what DrawText handles.
    bool Simple() const;
    void DrawText(QPainter& painter);
    // The laid-out text, once a caption has come back; null the first time it is seen.
    const QStaticText* Prepared(const QString& text);

    // The copy no longer fits: the label is see-through (Qt paints what lies behind it)
    // until a new copy is taken from the event loop, outside any painting.
    void Stale();
    void Copy();

    const Backdrop backdrop_;
    // What the window shows where the label is, without the label.
    QPixmap copy_;
    bool copying_ = false;
    bool copyPending_ = false;
    std::array<QStaticText, 4> prepared_;
    std::size_t nextPrepared_ = 0;
    std::array<QString, 4> seen_;
    std::size_t nextSeen_ = 0;
};

}  // namespace qvin::qt
