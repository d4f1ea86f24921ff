#pragma once
// Toolkit-neutral control models. Each holds what a user sees (caption, text, position,
// colours, enabled and visible state, tool tip) and carries the control semantics every
// window relies on:
//  - setting a scroll bar's position runs its change handler at once, and only when the
//    position really changes;
//  - selecting an option button from code acts as a click on it;
//  - putting text into a text box or list from code runs no handler;
//  - a frame's enabled state disables everything it contains.
// A toolkit binding watches a control through `observer` and forwards user actions
// through the User* methods.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace qvin::ui {

// Colours as 24-bit numbers with red in the low byte, green in the middle, blue high.
using Color = std::uint32_t;
inline constexpr Color kGreen = 65280;  // 0x00FF00
inline constexpr Color kRed = 255;      // 0x0000FF

// Key codes and modifier bits as the handlers receive them.
inline constexpr int kKeyEnter = 13;
// Keys the plots take, as the handlers receive them.
inline constexpr int kKeyPageUp = 33, kKeyPageDown = 34, kKeyEnd = 35, kKeyHome = 36, kKeyLeft = 37, kKeyRight = 39;
inline constexpr int kKeyAdd = 107, kKeySubtract = 109, kKeyPlus = 187, kKeyMinus = 189;
inline constexpr int kShiftMask = 1, kCtrlMask = 2, kAltMask = 4;

class Frame;

class Control {
public:
    explicit Control(std::string name) : name_(std::move(name)) {}
    virtual ~Control() = default;
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

    const std::string& name() const { return name_; }

    // The control's own enabled flag, and whether a user can act on it (also false
    // when a frame around it is disabled).
    bool enabled() const { return enabled_; }
    bool Usable() const;
    void SetEnabled(bool e) { Set(enabled_, e); }
    bool visible() const { return visible_; }
    void SetVisible(bool v) { Set(visible_, v); }
    const std::string& toolTip() const { return toolTip_; }
    void SetToolTip(std::string t) { Set(toolTip_, std::move(t)); }

    Frame* container() const { return container_; }
    void PlaceIn(Frame& f) { container_ = &f; }

    // Told after every change of the control's state (model -> view).
    std::function<void()> observer;

protected:
    template <typename T>
    void Set(T& field, T value) {
        if (field == value) return;
        field = std::move(value);
        Notify();
    }
    void Notify() {
        if (observer) observer();
    }

private:
    std::string name_;
    bool enabled_ = true;
    bool visible_ = true;
    std::string toolTip_;
    Frame* container_ = nullptr;
};

class Frame : public Control {
public:
    using Control::Control;
    const std::string& caption() const { return caption_; }
    void SetCaption(std::string c) { Set(caption_, std::move(c)); }

private:
    std::string caption_;
};

class Label : public Control {
public:
    using Control::Control;
    const std::string& caption() const { return caption_; }
    void SetCaption(std::string c) { Set(caption_, std::move(c)); }
    // The background colour; 0 with hasBackColor false means the window's own.
    Color backColor() const { return backColor_; }
    bool hasBackColor() const { return hasBackColor_; }
    void SetBackColor(Color c) {
        if (hasBackColor_ && backColor_ == c) return;
        hasBackColor_ = true;
        backColor_ = c;
        Notify();
    }

private:
    std::string caption_;
    Color backColor_ = 0;
    bool hasBackColor_ = false;
};

class Button : public Control {
public:
    using Control::Control;
    const std::string& caption() const { return caption_; }
    void SetCaption(std::string c) { Set(caption_, std::move(c)); }
    // A click by the user: runs the handler only while the button can be used.
    void UserClick();

    std::function<void()> onClick;

private:
    std::string caption_;
};

class TextBox : public Control {
public:
    using Control::Control;
    const std::string& text() const { return text_; }
    // From code: runs no handler.
    void SetText(std::string t) { Set(text_, std::move(t)); }
    // The user replaced the text by typing.
    void UserType(std::string t);
    // The user pressed a key in the box (after any typing).
    void UserKeyDown(int keyCode, int shift = 0);
    bool multiLine = false;

    std::function<void(int keyCode, int shift)> onKeyDown;

private:
    std::string text_;
};

class ScrollBar : public Control {
public:
    ScrollBar(std::string name, int min, int max, int smallChange = 1, int largeChange = 1)
        : Control(std::move(name)), min_(min), max_(max), value_(min), smallChange_(smallChange), largeChange_(largeChange) {}
    int min() const { return min_; }
    int max() const { return max_; }
    int value() const { return value_; }
    int smallChange() const { return smallChange_; }
    int largeChange() const { return largeChange_; }
    // From code or from the user (a drag counts once, at release): limited to the range;
    // the change handler runs at once when the position differs, before SetValue returns.
    void SetValue(int v);
    void UserMove(int v);

    std::function<void()> onChange;

private:
    int min_, max_, value_, smallChange_, largeChange_;
};

class CheckBox : public Control {
public:
    using Control::Control;
    const std::string& caption() const { return caption_; }
    void SetCaption(std::string c) { Set(caption_, std::move(c)); }
    int value() const { return value_; }  // 0 unticked, 1 ticked
    // A change of the tick, from code or user, runs the click handler.
    void SetValue(int v);
    void UserClick();

    std::function<void()> onClick;

private:
    std::string caption_;
    int value_ = 0;
};

// Option buttons of one group: selecting one deselects the others.
class OptionButton : public Control {
public:
    using Control::Control;
    const std::string& caption() const { return caption_; }
    void SetCaption(std::string c) { Set(caption_, std::move(c)); }
    bool value() const { return value_; }
    // Selecting, from code or by the user, acts as a click.
    void Select();
    void UserClick();
    void JoinGroup(std::vector<OptionButton*>* group) { group_ = group; }

    std::function<void()> onClick;

private:
    std::string caption_;
    bool value_ = false;
    std::vector<OptionButton*>* group_ = nullptr;
};

// A drop-down list, with an editable text field or without one. Putting text or entries
// into it from code runs no handler; the user's choice of an entry runs its click.
class ComboBox : public Control {
public:
    explicit ComboBox(std::string name, bool editable = true) : Control(std::move(name)), editable_(editable) {}
    bool editable() const { return editable_; }
    const std::vector<std::string>& items() const { return items_; }
    const std::string& text() const { return text_; }
    // The chosen entry's position, -1 when the text is no entry of the list.
    int listIndex() const { return listIndex_; }
    // From code: no handler runs. Clear empties the list and the text.
    void Clear();
    void AddItem(std::string item);
    // Shows `t`; the entry with exactly that text counts as chosen.
    void SetText(std::string t);
    // Shows entry i as chosen (-1: none, with an empty text).
    void SetListIndex(int i);
    // The user picked entry i: the text shows it and the click handler runs.
    void UserSelect(int i);
    // The user typed into the text field (editable lists only): no handler runs.
    void UserType(std::string t);

    std::function<void()> onClick;

private:
    bool editable_;
    std::vector<std::string> items_;
    std::string text_;
    int listIndex_ = -1;
};

class MenuItem : public Control {
public:
    using Control::Control;
    const std::string& caption() const { return caption_; }
    void SetCaption(std::string c) { Set(caption_, std::move(c)); }
    bool checked() const { return checked_; }
    void SetChecked(bool c) { Set(checked_, c); }
    void UserClick();

    std::function<void()> onClick;

private:
    std::string caption_;
    bool checked_ = false;
};

// A picture box keeps what was drawn on it as a list of operations, which a toolkit
// replays; coordinates are in the box's own units (width() by height()).
struct DrawOp {
    enum Kind { Circle, Line, LineWidth } kind;
    float a = 0, b = 0, c = 0, d = 0;  // circle: x, y, radius; line: x1, y1, x2, y2; width: a
    bool operator==(const DrawOp&) const = default;
};

class PictureBox : public Control {
public:
    PictureBox(std::string name, float width, float height) : Control(std::move(name)), width_(width), height_(height) {}
    float width() const { return width_; }
    float height() const { return height_; }
    const std::vector<DrawOp>& ops() const { return ops_; }
    void Cls();
    void Circle(float x, float y, float r);
    void Line(float x1, float y1, float x2, float y2);
    void SetDrawWidth(float w);
    float drawWidth() const { return drawWidth_; }
    // A key pressed while the picture has the focus.
    void UserKeyDown(int keyCode, int shift);

    std::function<void(int keyCode, int shift)> onKeyDown;

private:
    float width_, height_;
    float drawWidth_ = 1;
    std::vector<DrawOp> ops_;
};

// A plot whose time axis the user moves: wheel notches at a place across it (0 its left
// edge, 1 its right; positive notches zoom in), drags by a share of its width (positive:
// the picture moves right, so earlier times come into view), and keys while it has the focus.
class TimePlot : public Control {
public:
    using Control::Control;
    void UserWheel(double notches, double at);
    void UserDrag(double share);
    void UserKeyDown(int keyCode, int shift);

    std::function<void(double notches, double at)> onWheel;
    std::function<void(double share)> onDrag;
    std::function<void(int keyCode, int shift)> onKeyDown;
};

// Control arrays, indexed as the windows index them (txtReadReg(7), optUsbPort(4)).
template <typename T>
class ControlArray {
public:
    template <typename... Args>
    T& Add(int index, Args&&... args) {
        auto& slot = items_[index];
        slot = std::make_unique<T>(std::forward<Args>(args)...);
        return *slot;
    }
    T& operator()(int index) { return *items_.at(index); }
    const T& operator()(int index) const { return *items_.at(index); }
    bool Has(int index) const { return items_.count(index) != 0; }
    const std::map<int, std::unique_ptr<T>>& items() const { return items_; }

private:
    std::map<int, std::unique_ptr<T>> items_;
};

}  // namespace qvin::ui
