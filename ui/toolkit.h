#pragma once
// What a window asks of the toolkit that shows it: message boxes, the busy cursor,
// processing pending events, modal showing, the help viewer.

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "analysis/allan_picture.h"
#include "core/messages.h"

namespace qvin::ui {

class Window;

inline constexpr const char* kAppTitle = "QVIN27319 Evaluation";

class Toolkit : public MessageService {
public:
    // A message box with an OK button; an empty title means the application's title.
    void Message(std::string_view text, std::string_view title = {}) override = 0;
    // A question with Yes and No buttons: true for Yes.
    virtual bool Question(std::string_view text, std::string_view title = {}) = 0;
    virtual void SetBusy(bool busy) = 0;
    // Lets pending user actions run (a button pressed while a loop runs).
    virtual void DoEvents() = 0;
    // The same from a read loop, which asks every half millisecond or so: a toolkit may
    // pass by a call that comes right after events last ran, as no user can tell.
    virtual void DoLoopEvents() { DoEvents(); }
    // Shows a window modally and returns once it is hidden.
    virtual void ShowModal(Window& w) = 0;
    // Runs the window's activation once the handler now running has finished, as when
    // a modal window over it has closed.
    virtual void PostActivate(Window& w) = 0;
    // Opens a help file at its contents.
    virtual void OpenHelp(const std::string& path) = 0;
    // Prints the window's image as shown, letting the user choose the printer.
    virtual void PrintWindow(Window& w) = 0;
    // The window is about to be destroyed: forget whatever shows it.
    virtual void Unload(Window&) {}
    // A line in the window's status area (where the data log goes). What is under way
    // stays until replaced; what is done (`forSeconds`) clears itself once it is stale.
    virtual void ShowStatus(Window& w, const std::string& text, std::optional<int> forSeconds = std::nullopt) = 0;
    // A field at the far end of the window's status area, beside the status line, kept
    // until replaced: what goes on in the background (a recording's time and size). Empty
    // hides it.
    virtual void ShowStatusField(Window& w, const std::string& text) = 0;
    // Shows a window beside the others, not modally (the strip chart).
    virtual void Show(Window& w) = 0;
    // Asks for a file to save to (`save`) or to open and hands it to `then` once chosen
    // (empty when the user cancels). The ask returns at once: a read loop that is running
    // goes on reading while the dialog is open. `filter` as "PNG pictures (*.png)".
    virtual void AskFile(Window& w, bool save, const std::string& title, const std::string& filter, const std::string& suggested,
                         std::function<void(const std::string& file)> then) = 0;
    // Saves the window's picture (its chart) as a PNG file, under `heading` when one is
    // given (what it shows, and when); why it could not, or nothing.
    virtual std::string SaveImage(Window& w, const std::string& file, const std::string& heading) = 0;
    // Draws `picture` (a deviation against averaging time) into a PNG file; why it could
    // not, or nothing.
    virtual std::string SavePlot(Window& w, const std::string& file, const analysis::AllanPicture& picture) = 0;
    // A long task over the window: `text` and how far it is (0 to 100), with a Cancel
    // button, letting the user's actions run meanwhile; false once the user cancelled.
    // EndProgress closes it.
    virtual bool Progress(Window& w, const std::string& text, int percent) = 0;
    virtual void EndProgress(Window& w) = 0;
    // Asks for a line of text (`initial` offered); nothing when the user cancels.
    virtual std::optional<std::string> AskText(Window& w, const std::string& title, const std::string& prompt, const std::string& initial) = 0;
};

}  // namespace qvin::ui
