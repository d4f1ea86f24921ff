#pragma once
// A toolkit without a screen, for tests and scripted scenarios. The user's side is
// scripted: actions are queued (optionally not before a given simulated time) and run
// when a window processes pending events or waits as a modal window; message boxes must
// be expected, and questions answered, in advance. Anything unexpected is recorded as a
// failure with what was seen.

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/clock.h"
#include "ui/toolkit.h"
#include "ui/window.h"

namespace qvin::ui {

class HeadlessToolkit final : public Toolkit {
public:
    explicit HeadlessToolkit(VirtualClock& clock) : clock_(clock) {}

    // A user action to run at the next chance, or not before `atNs` of simulated time.
    void Queue(std::function<void()> action, std::int64_t atNs = 0);
    // The next message box must show `text` (and `title`, when given); it is answered OK.
    void ExpectMessage(std::string text, std::string title = {});
    // The next message box must hold each of `parts` (a report whose other lines depend on
    // the machine).
    void ExpectMessageWith(std::vector<std::string> parts);
    // The next question is answered Yes (true) or No; when `text` is given, the question
    // must ask exactly that.
    void AnswerNext(bool yes, std::string text = {}) { answers_.push_back({yes, std::move(text), serial_++}); }
    // Runs an action as a user would cause it, then any activation it left pending.
    void Do(const std::function<void()>& action);
    // Message boxes, answers and file names announced but never asked for, as failures
    // ("message box never shown: TEXT"); they are forgotten once reported. A scenario's
    // end and a test's tear-down call this; the lines of a modal window are checked when
    // the action that opened it has finished.
    std::vector<std::string> TakeUnmet();
    // Supplies further user actions while a modal window waits and nothing is queued
    // (the script runner's next line); returns false when there are none.
    std::function<bool()> moreActions;

    std::vector<std::string> failures;     // unexpected boxes, windows left open, ...
    std::vector<std::string> shown;        // every message box, as "title: text"
    std::vector<std::string> helpOpened;
    std::vector<std::string> printed;      // windows printed, by name
    int busyChanges = 0;
    bool busy = false;

    // Toolkit.
    void Message(std::string_view text, std::string_view title = {}) override;
    bool Question(std::string_view text, std::string_view title = {}) override;
    void SetBusy(bool b) override {
        busy = b;
        ++busyChanges;
    }
    void DoEvents() override;
    void ShowModal(Window& w) override;
    void PostActivate(Window& w) override;
    void OpenHelp(const std::string& path) override { helpOpened.push_back(path); }
    void PrintWindow(Window& w) override { printed.push_back(w.name()); }
    void ShowStatus(Window&, const std::string& text, std::optional<int> forSeconds) override {
        statusText_ = text;
        statusUntilNs_ = forSeconds ? clock_.NowNs() + std::int64_t{*forSeconds} * 1'000'000'000 : -1;
    }
    void ShowStatusField(Window&, const std::string& text) override { statusField = text; }
    std::string statusField;
    // The status line as shown now: empty once a finished task's line has gone stale.
    std::string status() const { return statusUntilNs_ >= 0 && clock_.NowNs() >= statusUntilNs_ ? std::string() : statusText_; }
    void Show(Window& w) override {
        w.BeginShow();
        w.ActivateNow();
    }
    // The next file dialog is answered with this name ("" cancels).
    void AnswerFile(std::string name) { files_.push_back({std::move(name), serial_++}); }
    // What the last file dialog offered as the file's name (and so its folder).
    std::string lastSuggested;
    // Answered at once, from the queue.
    void AskFile(Window& w, bool save, const std::string& title, const std::string& filter, const std::string& suggested,
                 std::function<void(const std::string& file)> then) override;
    std::string SaveImage(Window& w, const std::string& file, const std::string& heading) override;
    // Recorded as a picture whose heading is the plot's title.
    std::string SavePlot(Window& w, const std::string& file, const analysis::AllanPicture& picture) override;
    // Each report: "W: TEXT PERCENT"; a scenario may cancel the task at a given percent.
    bool Progress(Window& w, const std::string& text, int percent) override;
    void EndProgress(Window& w) override { progress.push_back(w.name() + ": done"); }
    // The next text prompt is answered with this (nothing cancels it).
    void AnswerText(std::optional<std::string> text) { texts_.push_back({std::move(text), serial_++}); }
    std::string lastPrompt, lastOffered;  // what the last text prompt asked and offered
    std::optional<std::string> AskText(Window& w, const std::string& title, const std::string& prompt, const std::string& initial) override;
    std::vector<std::string> progress;
    std::optional<int> cancelAt;  // the next task is cancelled at its first report at or past this
    std::vector<std::string> images;  // "window: file" for every picture saved
    std::vector<std::string> imageHeadings;  // each one's heading, in the same order

    bool pendingActions() const { return !queue_.empty(); }

    // Thrown out of a loop that keeps processing events for kRunawayNs of simulated time
    // with no user action left to stop it, or without any time passing: a scenario fails
    // instead of hanging.
    struct RunawayLoop {
        std::string message;
    };
    static constexpr std::int64_t kRunawayNs = 600'000'000'000;  // ten minutes
    std::int64_t runawayNs = kRunawayNs;  // shorter where many scripts must run quickly

private:
    struct Action {
        std::function<void()> run;
        std::int64_t atNs;
    };
    bool RunDue();
    void RunActivations();

    VirtualClock& clock_;
    std::deque<Action> queue_;
    // Each announcement carries a serial number, so the ones made inside a modal
    // window's lines can be told from those made before it opened.
    struct Expected {
        std::string text, title;
        std::uint64_t serial;
        std::vector<std::string> parts;  // when given, the text must hold each of them instead
    };
    struct Answer {
        bool yes;
        std::string text;
        std::uint64_t serial;
    };
    struct File {
        std::string name;
        std::uint64_t serial;
    };
    std::vector<std::string> Unmet(std::uint64_t from, std::uint64_t to);
    std::deque<Expected> expected_;
    std::deque<Answer> answers_;
    std::deque<File> files_;
    struct Text {
        std::optional<std::string> text;
        std::uint64_t serial;
    };
    std::deque<Text> texts_;
    std::string statusText_;
    std::int64_t statusUntilNs_ = -1;
    std::uint64_t serial_ = 0;
    int doDepth_ = 0;
    // Announcements made while a modal window was open, checked when the outermost
    // action that opened it has finished (its handler may still show a box after the
    // window closes).
    std::vector<std::pair<std::uint64_t, std::uint64_t>> modalSpans_;
    std::vector<Window*> toActivate_;
    std::int64_t idleSinceNs_ = 0;
    std::int64_t lastEventsNs_ = -1;
    int stalledCalls_ = 0;
    static constexpr int kStalledCalls = 100'000;
};

}  // namespace qvin::ui
