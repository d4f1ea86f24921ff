#include "ui/controls.h"

#include <algorithm>

namespace qvin::ui {

bool Control::Usable() const {
    for (const Control* c = this; c; c = c->container_)
        if (!c->enabled_ || !c->visible_) return false;
    return true;
}

void Button::UserClick() {
    if (Usable() && onClick) onClick();
}

void TextBox::UserType(std::string t) {
    if (Usable()) SetText(std::move(t));
}

void TextBox::UserKeyDown(int keyCode, int shift) {
    if (Usable() && onKeyDown) onKeyDown(keyCode, shift);
}

void ScrollBar::SetValue(int v) {
    v = std::clamp(v, min_, max_);
    if (v == value_) return;
    value_ = v;
    Notify();
    if (onChange) onChange();
}

void ScrollBar::UserMove(int v) {
    if (Usable()) SetValue(v);
}

void CheckBox::SetValue(int v) {
    v = v ? 1 : 0;
    if (v == value_) return;
    value_ = v;
    Notify();
    if (onClick) onClick();
}

void CheckBox::UserClick() {
    if (Usable()) SetValue(value_ ? 0 : 1);
}

void OptionButton::Select() {
    if (group_) {
        for (OptionButton* other : *group_)
            if (other != this) other->Set(other->value_, false);
    }
    Set(value_, true);
    if (onClick) onClick();
}

void OptionButton::UserClick() {
    if (Usable()) Select();
}

void ComboBox::Clear() {
    items_.clear();
    text_.clear();
    listIndex_ = -1;
    Notify();
}

void ComboBox::AddItem(std::string item) {
    items_.push_back(std::move(item));
    Notify();
}

void ComboBox::SetText(std::string t) {
    const auto it = std::find(items_.begin(), items_.end(), t);
    const int index = it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
    if (t == text_ && index == listIndex_) return;
    text_ = std::move(t);
    listIndex_ = index;
    Notify();
}

void ComboBox::SetListIndex(int i) {
    if (i < 0 || i >= static_cast<int>(items_.size())) i = -1;
    std::string t = i < 0 ? std::string() : items_[static_cast<std::size_t>(i)];
    if (i == listIndex_ && t == text_) return;
    listIndex_ = i;
    text_ = std::move(t);
    Notify();
}

void ComboBox::UserSelect(int i) {
    if (!Usable() || i < 0 || i >= static_cast<int>(items_.size())) return;
    listIndex_ = i;
    text_ = items_[static_cast<std::size_t>(i)];
    Notify();
    if (onClick) onClick();
}

void ComboBox::UserType(std::string t) {
    if (!Usable() || !editable_) return;
    text_ = std::move(t);
    listIndex_ = -1;
    Notify();
}

void MenuItem::UserClick() {
    if (Usable() && onClick) onClick();
}

void PictureBox::Cls() {
    ops_.clear();
    Notify();
}

void PictureBox::Circle(float x, float y, float r) {
    ops_.push_back({DrawOp::Circle, x, y, r, 0});
    Notify();
}

void PictureBox::Line(float x1, float y1, float x2, float y2) {
    ops_.push_back({DrawOp::Line, x1, y1, x2, y2});
    Notify();
}

void PictureBox::SetDrawWidth(float w) {
    drawWidth_ = w;
    ops_.push_back({DrawOp::LineWidth, w, 0, 0, 0});
    Notify();
}

void PictureBox::UserKeyDown(int keyCode, int shift) {
    if (Usable() && onKeyDown) onKeyDown(keyCode, shift);
}

void TimePlot::UserWheel(double notches, double at) {
    if (Usable() && onWheel) onWheel(notches, at);
}

void TimePlot::UserDrag(double share) {
    if (Usable() && onDrag) onDrag(share);
}

void TimePlot::UserKeyDown(int keyCode, int shift) {
    if (Usable() && onKeyDown) onKeyDown(keyCode, shift);
}

}  // namespace qvin::ui
