#include "ui/window.h"

namespace qvin::ui {

void Window::Register(std::initializer_list<Control*> controls) {
    for (Control* c : controls) controls_[c->name()] = c;
}

Control* Window::Find(const std::string& controlName) const {
    const auto it = controls_.find(controlName);
    return it == controls_.end() ? nullptr : it->second;
}

void Window::BeginShow() {
    if (!loaded_) {
        loaded_ = true;
        Form_Load();
    }
    visible_ = true;
}

void Window::ShowModal(Window* owner) {
    tk_.ShowModal(*this);
    if (owner && owner->visible()) tk_.PostActivate(*owner);
}

}  // namespace qvin::ui
