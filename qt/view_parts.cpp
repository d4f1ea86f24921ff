#include "qt/view_parts.h"

#include <algorithm>

#include "qt/live_label.h"

namespace qvin::qt {

namespace {
QString Q(const std::string& s) { return QString::fromStdString(s); }
}  // namespace

QPushButton* NewButton(ui::Button& m, QWidget* parent) {
    auto* b = new QPushButton(parent);
    Bind(m, b);
    return b;
}

QPushButton* NewStateButton(ui::Button& m, QWidget* parent, const QString& what) {
    auto* b = new QPushButton(parent);
    b->setProperty("stateOf", what);
    Bind(m, b);
    return b;
}

QLabel* NewLabel(ui::Label& m, QWidget* parent) {
    auto* l = new QLabel(parent);
    Bind(m, l);
    return l;
}

QLineEdit* NewText(ui::TextBox& m, QWidget* parent, const QString& name, bool readOnly) {
    auto* t = new QLineEdit(parent);
    t->setAccessibleName(name);
    t->setReadOnly(readOnly);
    Bind(m, t);
    return t;
}

QLineEdit* AddLabelled(QGridLayout* grid, int row, ui::Label& label, ui::TextBox& text, QWidget* parent, bool readOnly) {
    QLabel* l = NewLabel(label, parent);
    QLineEdit* t = NewText(text, parent, Q(label.caption()), readOnly);
    l->setBuddy(t);
    grid->addWidget(l, row, 0);
    grid->addWidget(t, row, 1);
    return t;
}

QScrollBar* NewScroll(ui::ScrollBar& m, QWidget* parent, const QString& name) {
    auto* s = new QScrollBar(Qt::Horizontal, parent);
    s->setAccessibleName(name);
    s->setMinimumWidth(160);
    Bind(m, s);
    return s;
}

QGroupBox* NewFrame(ui::Frame& m, QWidget* parent) {
    auto* g = new QGroupBox(parent);
    Bind(m, g);
    return g;
}

QComboBox* NewCombo(ui::ComboBox& m, QWidget* parent, const QString& name) {
    auto* c = new QComboBox(parent);
    c->setAccessibleName(name);
    Bind(m, c);
    if (QLineEdit* edit = c->lineEdit()) edit->setAccessibleName(name);
    return c;
}

QLabel* NewFlag(ui::Label& m, QWidget* parent, const QString& row) {
    auto* l = new LiveLabel(parent, LiveLabel::Backdrop::Own);
    l->setProperty("stateOf", row);
    Bind(m, l);
    l->setAlignment(Qt::AlignCenter);
    l->setFrameShape(QFrame::StyledPanel);
    FixTextSize(l, {"Alarm", "Old", "New", "OK"});
    // Opaque: a new text repaints the flag alone, not the frame behind it.
    l->setAutoFillBackground(true);
    return l;
}

void FixTextSize(QLabel* l, std::initializer_list<const char*> texts) {
    int width = 56;
    for (const char* t : texts) width = std::max(width, l->fontMetrics().horizontalAdvance(QString::fromUtf8(t)) + 16);
    l->setFixedSize(width, l->sizeHint().height());
}

}  // namespace qvin::qt
