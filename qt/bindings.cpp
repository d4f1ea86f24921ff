#include "qt/bindings.h"

#include <QAbstractButton>
#include <QKeyEvent>
#include <QPointer>
#include <QSignalBlocker>

#include "qt/paint_pacer.h"

namespace qvin::qt {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

// Visibility, enabled state and tool tip, which every control has. Only what differs is
// handed to the widget: a loop pass updates many controls, and each hand-over costs.
void Common(const ui::Control& m, QWidget* w) {
    if (w->objectName().isEmpty()) w->setObjectName(Q(m.name()));
    if (w->isEnabledTo(w->parentWidget()) != m.enabled()) w->setEnabled(m.enabled());
    if (w->isHidden() == m.visible()) w->setVisible(m.visible());
    const QString tip = Q(m.toolTip());
    if (w->toolTip() != tip) {
        w->setToolTip(tip);
        if (!tip.isEmpty()) w->setAccessibleDescription(tip);
    }
}

// Text boxes pass Enter and other keys to their key handler. An Enter that a handler
// takes goes no further: in a dialog it would also press the default button.
class KeyForwarder : public QObject {
public:
    KeyForwarder(QObject* parent, std::function<bool(int, int)> forward) : QObject(parent), forward_(std::move(forward)) {}

protected:
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::KeyPress) {
            auto* k = static_cast<QKeyEvent*>(e);
            const int key = KeyCode(*k);
            return forward_(key, ShiftState(k->modifiers())) && key == ui::kKeyEnter;
        }
        return false;
    }

private:
    std::function<bool(int, int)> forward_;
};

}  // namespace

int KeyCode(int qtKey) {
    if (qtKey == Qt::Key_Return || qtKey == Qt::Key_Enter) return ui::kKeyEnter;
    if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) return 48 + (qtKey - Qt::Key_0);
    if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) return 65 + (qtKey - Qt::Key_A);
    // Shifted digits arrive as their symbols on most keyboards; the chord needs the digit.
    switch (qtKey) {
        case Qt::Key_ParenRight: return 48;
        case Qt::Key_Exclam: return 49;
        case Qt::Key_At: return 50;
        case Qt::Key_NumberSign: return 51;
        case Qt::Key_PageUp: return ui::kKeyPageUp;
        case Qt::Key_PageDown: return ui::kKeyPageDown;
        case Qt::Key_End: return ui::kKeyEnd;
        case Qt::Key_Home: return ui::kKeyHome;
        case Qt::Key_Left: return ui::kKeyLeft;
        case Qt::Key_Right: return ui::kKeyRight;
        case Qt::Key_Plus:
        case Qt::Key_Equal: return ui::kKeyPlus;
        case Qt::Key_Minus: return ui::kKeyMinus;
        default: return qtKey & 0xFFFF;
    }
}

int KeyCode(const QKeyEvent& e) {
    const int key = e.key();
    if (key >= Qt::Key_0 && key <= Qt::Key_9) return KeyCode(key);
    if (e.modifiers() & Qt::KeypadModifier) {
        if (key == Qt::Key_Plus) return ui::kKeyAdd;
        if (key == Qt::Key_Minus) return ui::kKeySubtract;
    }
    // What a shifted digit key gives depends on the keyboard layout ("#", "\"", "3"...);
    // the key's place in the digit row does not. X11 numbers that row 10 ("1") to 19 ("0").
    const quint32 scan = e.nativeScanCode();
    if (scan >= 10 && scan <= 19) return 48 + static_cast<int>((scan - 9) % 10);
    return KeyCode(key);
}

int ShiftState(Qt::KeyboardModifiers m) {
    int s = 0;
    if (m & Qt::ShiftModifier) s |= ui::kShiftMask;
    if (m & Qt::ControlModifier) s |= ui::kCtrlMask;
    if (m & Qt::AltModifier) s |= ui::kAltMask;
    return s;
}

QColor ToQColor(ui::Color c) { return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }

QString WithMnemonic(const QString& caption, const QObject* w) {
    const QString letter = w->property("mnemonic").toString();
    if (letter.isEmpty() || caption.contains('&')) return caption;
    const int at = caption.indexOf(letter, 0, Qt::CaseInsensitive);
    if (at < 0) return caption;
    return caption.left(at) + '&' + caption.mid(at);
}

void AssignMnemonics(QWidget* window, const QList<QAction*>& actions) {
    QString used;
    auto take = [&used](QObject* o, const QString& text) {
        if (text.contains('&')) {  // a caption with its own mnemonic keeps it
            const int at = text.indexOf('&');
            if (at + 1 < text.size()) used += text.at(at + 1).toLower();
            return;
        }
        // The first letter of a word if one is free, else any free letter.
        for (const bool wordStartsOnly : {true, false}) {
            for (int i = 0; i < text.size(); ++i) {
                const QChar c = text.at(i);
                const bool wordStart = i == 0 || !text.at(i - 1).isLetterOrNumber();
                if (!c.isLetterOrNumber() || used.contains(c.toLower()) || (wordStartsOnly && !wordStart)) continue;
                used += c.toLower();
                o->setProperty("mnemonic", QString(c));
                return;
            }
        }
    };
    for (QAction* a : actions) {
        take(a, a->text());
        a->setText(WithMnemonic(a->text(), a));
    }
    for (QAbstractButton* b : window->findChildren<QAbstractButton*>()) {
        // Buttons whose caption is a state change their words; Tab reaches them.
        if (b->window() != window || !b->property("stateOf").toString().isEmpty() || b->text().isEmpty()) continue;
        take(b, b->text());
        b->setText(WithMnemonic(b->text(), b));
    }
}

void Bind(ui::Button& m, QPushButton* w) {
    const QString stateOf = w->property("stateOf").toString();
    auto sync = [&m, w, stateOf] {
        const QString text = Q(m.caption());
        if (w->text() != WithMnemonic(text, w)) w->setText(WithMnemonic(text, w));
        if (!stateOf.isEmpty() && w->accessibleName() != stateOf + ": " + text) w->setAccessibleName(stateOf + ": " + text);
        Common(m, w);
    };
    m.observer = sync;
    sync();
    QObject::connect(w, &QPushButton::clicked, w, [&m] { m.UserClick(); });
}

namespace {
// Hands a new text over now, or just before the window's next paint where it has a pacer
// (`pacer` keeps what was found: a loop pass hands over a dozen texts).
void SyncText(QWidget* w, bool changed, QPointer<PaintPacer>& pacer, const std::function<void()>& sync) {
    if (!changed) return;
    if (!pacer) pacer = PaintPacer::Of(w);
    if (pacer) pacer->SyncBeforePaint(w, sync);
    else sync();
}
}  // namespace

void Bind(ui::Label& m, QLabel* w) {
    const QString stateOf = w->property("stateOf").toString();
    auto text = [&m, w, stateOf] {
        const QString caption = Q(m.caption());
        if (w->text() != caption) w->setText(caption);
        // A flag is heard with its state: "Power Supply Low: Alarm".
        if (!stateOf.isEmpty() && w->accessibleName() != stateOf + ": " + caption) w->setAccessibleName(stateOf + ": " + caption);
    };
    auto sync = [&m, w, text, pacer = QPointer<PaintPacer>()]() mutable {
        SyncText(w, w->text() != Q(m.caption()), pacer, text);
        Common(m, w);
        if (m.hasBackColor() && (!w->autoFillBackground() || w->palette().color(QPalette::Window) != ToQColor(m.backColor()))) {
            w->setAutoFillBackground(true);
            QPalette p = w->palette();
            p.setColor(QPalette::Window, ToQColor(m.backColor()));
            p.setColor(QPalette::WindowText, Qt::black);
            w->setPalette(p);
        }
    };
    m.observer = sync;
    sync();
}

void Bind(ui::TextBox& m, QLineEdit* w) {
    auto text = [&m, w] {
        const QString t = Q(m.text());
        if (w->text() != t) {
            const QSignalBlocker block(w);
            w->setText(t);
            // A box only shown, not typed in, shows the start of a text too long for it.
            if (w->isReadOnly()) w->setCursorPosition(0);
        }
    };
    auto sync = [&m, w, text, pacer = QPointer<PaintPacer>()]() mutable {
        SyncText(w, w->text() != Q(m.text()), pacer, text);
        Common(m, w);
    };
    m.observer = sync;
    sync();
    QObject::connect(w, &QLineEdit::textEdited, w, [&m](const QString& t) { m.UserType(t.toStdString()); });
    w->installEventFilter(new KeyForwarder(w, [&m](int key, int shift) {
        m.UserKeyDown(key, shift);
        return static_cast<bool>(m.onKeyDown);
    }));
}

void Bind(ui::TextBox& m, QPlainTextEdit* w) {
    auto sync = [&m, w] {
        const QString t = Q(m.text());
        if (w->toPlainText() != t) {
            const QSignalBlocker block(w);
            w->setPlainText(t);
        }
        Common(m, w);
    };
    m.observer = sync;
    sync();
    QObject::connect(w, &QPlainTextEdit::textChanged, w, [&m, w] { m.UserType(w->toPlainText().toStdString()); });
}

void Bind(ui::ComboBox& m, QComboBox* w) {
    w->setEditable(m.editable());
    // A typed text is only shown; it never becomes an entry of the list.
    if (m.editable()) w->setInsertPolicy(QComboBox::NoInsert);
    auto sync = [&m, w] {
        const QSignalBlocker block(w);
        const auto& items = m.items();
        bool same = w->count() == static_cast<int>(items.size());
        for (int i = 0; same && i < w->count(); ++i) same = w->itemText(i) == Q(items[static_cast<std::size_t>(i)]);
        if (!same) {
            w->clear();
            for (const std::string& item : items) w->addItem(Q(item));
        }
        if (w->currentIndex() != m.listIndex()) w->setCurrentIndex(m.listIndex());
        if (m.editable() && w->currentText() != Q(m.text())) w->setEditText(Q(m.text()));
        Common(m, w);
    };
    m.observer = sync;
    sync();
    QObject::connect(w, &QComboBox::activated, w, [&m](int i) { m.UserSelect(i); });
    if (QLineEdit* edit = w->lineEdit())
        QObject::connect(edit, &QLineEdit::textEdited, w, [&m](const QString& t) { m.UserType(t.toStdString()); });
}

void Bind(ui::ScrollBar& m, QScrollBar* w) {
    {
        const QSignalBlocker block(w);
        w->setRange(m.min(), m.max());
        w->setSingleStep(m.smallChange());
        w->setPageStep(m.largeChange());
    }
    // A drag reports one change, when the thumb is released.
    w->setTracking(false);
    auto sync = [&m, w] {
        if (w->value() != m.value()) {
            const QSignalBlocker block(w);
            w->setValue(m.value());
        }
        Common(m, w);
    };
    m.observer = sync;
    sync();
    QObject::connect(w, &QScrollBar::valueChanged, w, [&m](int v) { m.UserMove(v); });
}

void Bind(ui::CheckBox& m, QCheckBox* w) {
    auto sync = [&m, w] {
        w->setText(WithMnemonic(Q(m.caption()), w));
        const QSignalBlocker block(w);
        w->setChecked(m.value() != 0);
        Common(m, w);
    };
    m.observer = sync;
    sync();
    QObject::connect(w, &QCheckBox::clicked, w, [&m, w] {
        // Qt has already toggled the box; the model toggles and the view follows it.
        m.UserClick();
        const QSignalBlocker block(w);
        w->setChecked(m.value() != 0);
    });
}

void Bind(ui::OptionButton& m, QRadioButton* w) {
    // The model keeps its group exclusive, but the button stays auto-exclusive: Qt tells a
    // screen reader that a non-exclusive radio button is a check box. Each group of options
    // has a parent of its own, so Qt's exclusivity agrees with the model's.
    w->setAutoExclusive(true);
    auto sync = [&m, w] {
        w->setText(WithMnemonic(Q(m.caption()), w));
        const QSignalBlocker block(w);
        if (!m.value() && w->isChecked()) {
            // An exclusive button cannot be unchecked alone (a group with none selected).
            w->setAutoExclusive(false);
            w->setChecked(false);
            w->setAutoExclusive(true);
        } else {
            w->setChecked(m.value());
        }
        Common(m, w);
    };
    m.observer = sync;
    sync();
    QObject::connect(w, &QRadioButton::clicked, w, [&m, w] {
        m.UserClick();
        if (w->isChecked() == m.value()) return;
        const QSignalBlocker block(w);
        w->setAutoExclusive(false);
        w->setChecked(m.value());
        w->setAutoExclusive(true);
    });
}

void Bind(ui::Frame& m, QGroupBox* w) {
    auto sync = [&m, w] {
        w->setTitle(Q(m.caption()));
        Common(m, w);
    };
    m.observer = sync;
    sync();
}

void Bind(ui::MenuItem& m, QAction* a, bool checkable) {
    a->setCheckable(checkable);
    a->setObjectName(Q(m.name()));
    auto sync = [&m, a] {
        a->setText(WithMnemonic(Q(m.caption()), a));
        const QSignalBlocker block(a);
        a->setChecked(m.checked());
        a->setEnabled(m.enabled());
        a->setVisible(m.visible());
    };
    m.observer = sync;
    sync();
    QObject::connect(a, &QAction::triggered, a, [&m, a] {
        m.UserClick();
        const QSignalBlocker block(a);
        a->setChecked(m.checked());
    });
}

}  // namespace qvin::qt
