#pragma once
// Widgets for neutral controls, made and bound in one step, with the names screen readers
// announce. Every window's view is built from these.

#include <initializer_list>

#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>

#include "qt/bindings.h"
#include "ui/controls.h"

namespace qvin::qt {

QPushButton* NewButton(ui::Button& m, QWidget* parent);
// A button whose caption is the state it sets, named "WHAT: CAPTION".
QPushButton* NewStateButton(ui::Button& m, QWidget* parent, const QString& what);
QLabel* NewLabel(ui::Label& m, QWidget* parent);
// A text box named after the label a user sees beside it.
QLineEdit* NewText(ui::TextBox& m, QWidget* parent, const QString& name, bool readOnly = false);
// A label and the text box it names, side by side in a grid row.
QLineEdit* AddLabelled(QGridLayout* grid, int row, ui::Label& label, ui::TextBox& text, QWidget* parent, bool readOnly);
QScrollBar* NewScroll(ui::ScrollBar& m, QWidget* parent, const QString& name);
QGroupBox* NewFrame(ui::Frame& m, QWidget* parent);
QComboBox* NewCombo(ui::ComboBox& m, QWidget* parent, const QString& name);
// A flag label: a fixed-size coloured box, named after its row and its state for screen
// readers ("Alarm1 Set: Alarm").
QLabel* NewFlag(ui::Label& m, QWidget* parent, const QString& row);
// Gives a label whose text changes often a fixed size that fits each of `texts`, so a new
// text never asks the window to lay itself out again.
void FixTextSize(QLabel* l, std::initializer_list<const char*> texts);

}  // namespace qvin::qt
