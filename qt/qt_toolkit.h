#pragma once
// The window services on Qt: message boxes with the application's title, the wait cursor,
// QCoreApplication::processEvents, modal dialogs, and a help viewer.

#include <map>
#include <memory>

#include <QWidget>

#include "ui/toolkit.h"
#include "ui/window.h"

namespace qvin::qt {

class QtToolkit final : public ui::Toolkit {
public:
    // The widget that shows a neutral window; the main window's is a top-level window,
    // every other one a dialog.
    void SetView(ui::Window& window, QWidget* view) { views_[&window] = view; }
    QWidget* View(ui::Window& window) const;

    void Message(std::string_view text, std::string_view title = {}) override;
    bool Question(std::string_view text, std::string_view title = {}) override;
    void SetBusy(bool busy) override;
    void DoEvents() override;
    void ShowModal(ui::Window& w) override;
    void PostActivate(ui::Window& w) override;
    void OpenHelp(const std::string& path) override;

private:
    QWidget* Parent() const;
    std::map<ui::Window*, QWidget*> views_;
    ui::Window* main_ = nullptr;
    int busyDepth_ = 0;
};

}  // namespace qvin::qt
