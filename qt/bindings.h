#pragma once
// Binds the neutral control models to Qt widgets. The model stays the truth: changes of a
// model are copied to its widget with the widget's signals blocked, so they never come
// back as user actions; user actions reach the model exactly once, through its User*
// methods, which run the window's handlers.

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QWidget>

#include "ui/controls.h"

namespace qvin::qt {

// A button whose caption is a state ("Enabled", "Active Low") is named for screen readers
// by what it sets and what it shows: set the widget's "stateOf" property (for example
// "Alarm output") before binding, and its name reads "Alarm output: Enabled".
void Bind(ui::Button& model, QPushButton* widget);
// A label showing a state is named "WHAT: CAPTION" when its "stateOf" property is set.
void Bind(ui::Label& model, QLabel* widget);
void Bind(ui::TextBox& model, QLineEdit* widget);
// A multi-line text box; what the user types reaches the model.
void Bind(ui::TextBox& model, QPlainTextEdit* widget);
// The list's entries and text follow the model; a user's choice runs the click once,
// typing into an editable list runs nothing.
void Bind(ui::ComboBox& model, QComboBox* widget);
void Bind(ui::ScrollBar& model, QScrollBar* widget);
void Bind(ui::CheckBox& model, QCheckBox* widget);
void Bind(ui::OptionButton& model, QRadioButton* widget);
void Bind(ui::Frame& model, QGroupBox* widget);
// Only the interface entries carry a tick.
void Bind(ui::MenuItem& model, QAction* action, bool checkable);

// Qt's key code and modifiers as the window handlers receive them (Enter 13, digits 48 to
// 57, letters 65 to 90, the keys that move through a plot as ui/controls.h names them;
// shift 1, ctrl 2, alt 4).
int KeyCode(int qtKey);
// The same for a key press, by the key's place where its symbol depends on the layout.
int KeyCode(const QKeyEvent& e);
int ShiftState(Qt::KeyboardModifiers modifiers);

// The colour of the neutral layer (red in the low byte) as a Qt colour.
QColor ToQColor(ui::Color c);

// Keyboard access: gives the window's buttons, check boxes and options, and the given
// actions (the menu bar's), each an Alt+letter of its own caption, the first letter not
// taken yet. Buttons whose caption is a state are left to Tab. The bindings keep the
// letter when a caption is set again.
void AssignMnemonics(QWidget* window, const QList<QAction*>& actions = {});
// A caption with the widget's mnemonic letter marked.
QString WithMnemonic(const QString& caption, const QObject* widget);

}  // namespace qvin::qt
