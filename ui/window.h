#pragma once
// The base of every window: caption, position, the load and activation handlers and
// modal showing. Load runs once, before the first showing; Activate runs on every
// showing and again whenever a modal window opened over this one closes.

#include <functional>
#include <initializer_list>
#include <map>
#include <string>

#include "ui/controls.h"
#include "ui/toolkit.h"

namespace qvin::ui {

class Window {
public:
    Window(Toolkit& tk, std::string name, std::string caption) : tk_(tk), name_(std::move(name)), caption_(std::move(caption)) {}
    virtual ~Window() = default;
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    const std::string& name() const { return name_; }
    const std::string& caption() const { return caption_; }
    void SetCaption(std::string c) {
        caption_ = std::move(c);
        if (onCaption) onCaption();
    }
    // Told when the caption changes (a toolkit's title bar follows it).
    std::function<void()> onCaption;
    bool visible() const { return visible_; }
    bool loaded() const { return loaded_; }
    int left = 0, top = 0;

    // Shows the window modally over `owner` (nullptr for the main window) and returns when
    // it is hidden; the owner is then activated again.
    void ShowModal(Window* owner);
    void Hide() {
        visible_ = false;
        if (onHidden) onHidden();
    }
    // Told when the window hides itself (a toolkit ends its modal showing there).
    std::function<void()> onHidden;
    // The close box or system menu: windows that only hide override this.
    virtual void UserClose() { Hide(); }

    // Called by the toolkit around a modal showing.
    void BeginShow();
    void ActivateNow() { Form_Activate(); }

    Toolkit& tk() { return tk_; }

    // The window's controls by name ("cmdReadData", "txtReadReg(7)"), for scripts and
    // toolkit bindings; nullptr for an unknown name.
    Control* Find(const std::string& controlName) const;
    const std::map<std::string, Control*>& controls() const { return controls_; }

protected:
    void Register(std::initializer_list<Control*> controls);
    template <typename T>
    void Register(const ControlArray<T>& array) {
        for (const auto& [index, c] : array.items()) controls_[c->name()] = c.get();
    }

    virtual void Form_Load() {}
    virtual void Form_Activate() {}

private:
    Toolkit& tk_;
    std::string name_;
    std::string caption_;
    bool visible_ = false;
    bool loaded_ = false;
    std::map<std::string, Control*> controls_;
};

}  // namespace qvin::ui
