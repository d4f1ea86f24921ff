#pragma once
// The window services on Qt: message boxes with the application's title, the wait cursor,
// QCoreApplication::processEvents, modal dialogs, and a help viewer.

#include <QObject>
#include <functional>
#include <map>
#include <memory>

#include <QElapsedTimer>
#include <QPainter>
#include <QPrinter>
#include <QProgressDialog>

#include <QWidget>

#include "ui/remembered_folders.h"
#include "ui/toolkit.h"
#include "ui/window.h"

namespace qvin::qt {

class QtToolkit final : public ui::Toolkit {
public:
    // Nobody can answer a box (the offscreen platform): messages go to standard error as
    // "qvin-eval: TEXT" and count as answered OK, questions as answered No.
    bool unattended = false;
    // The widget that shows a neutral window; the main window's is a top-level window,
    // every other one a dialog.
    void SetView(ui::Window& window, QWidget* view) { views_[&window] = view; }
    // The view of a window, made by `makeView` the first time a window without one is shown.
    QWidget* View(ui::Window& window);
    std::function<QWidget*(ui::Window&)> makeView;

    // Asks where to print (the system print dialog); false when the user cancels. Tests
    // put a file printer here.
    std::function<bool(QPrinter& printer, QWidget* parent)> choosePrinter;
    // Draws a window's image onto a page, as large as fits, centred across it.
    static void PaintWindow(QWidget& view, QPainter& painter, const QRect& page);
    // PaintWindow onto a printer's page; false when the printer could not be opened.
    static bool PrintWidget(QWidget& view, QPrinter& printer);

    void Message(std::string_view text, std::string_view title = {}) override;
    bool Question(std::string_view text, std::string_view title = {}) override;
    void SetBusy(bool busy) override;
    void DoEvents() override;
    // Runs events at most once every loopEventsIntervalNs (10 ms): each run costs the loop
    // some microseconds, and a thousand runs a second show the user nothing more.
    void DoLoopEvents() override;
    qint64 loopEventsIntervalNs = 10'000'000;
    void ShowModal(ui::Window& w) override;
    void PostActivate(ui::Window& w) override;
    void OpenHelp(const std::string& path) override;
    void PrintWindow(ui::Window& w) override;
    void ShowStatus(ui::Window& w, const std::string& text, std::optional<int> forSeconds) override;
    void ShowStatusField(ui::Window& w, const std::string& text) override;
    void Unload(ui::Window& w) override;
    void Show(ui::Window& w) override;
    // A window-modal dialog that the event loop serves: the read loop goes on meanwhile.
    std::optional<std::string> AskText(ui::Window& w, const std::string& title, const std::string& prompt, const std::string& initial) override;
    void AskFile(ui::Window& w, bool save, const std::string& title, const std::string& filter, const std::string& suggested,
                 std::function<void(const std::string& file)> then) override;
    // The window's chart (its child named "picChart"), or the whole window.
    std::string SaveImage(ui::Window& w, const std::string& file, const std::string& heading) override;
    std::string SavePlot(ui::Window& w, const std::string& file, const analysis::AllanPicture& picture) override;
    // Tests answer file dialogs here instead of the user.
    std::function<std::string(bool save, const std::string& title)> chooseFile;

    bool Progress(ui::Window& w, const std::string& text, int percent) override;
    void EndProgress(ui::Window& w) override;

private:
    // What the toolkit posts to run later dies with it: a program torn down (a test's,
    // or at exit) leaves no pending activation of a window that is gone.
    QObject posted_;
    QWidget* Parent();
    std::map<ui::Window*, QWidget*> views_;
    std::map<ui::Window*, QProgressDialog*> progress_;
    ui::Window* main_ = nullptr;
    int busyDepth_ = 0;
    QElapsedTimer sinceEvents_;
    ui::RememberedFolders folders_;  // where each kind of file was last chosen
    bool foldersLoaded_ = false;
};

}  // namespace qvin::qt
