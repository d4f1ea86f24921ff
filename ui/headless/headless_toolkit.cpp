#include "ui/headless/headless_toolkit.h"

#include <algorithm>

namespace qvin::ui {

namespace {
std::string Shown(std::string_view text, std::string_view title) {
    return std::string(title.empty() ? kAppTitle : title) + ": " + std::string(text);
}
}  // namespace

void HeadlessToolkit::Queue(std::function<void()> action, std::int64_t atNs) {
    queue_.push_back({std::move(action), atNs});
    idleSinceNs_ = clock_.NowNs();
}

void HeadlessToolkit::ExpectMessage(std::string text, std::string title) {
    expected_.push_back({std::move(text), std::move(title), serial_++, {}});
}

void HeadlessToolkit::ExpectMessageWith(std::vector<std::string> parts) { expected_.push_back({"", "", serial_++, std::move(parts)}); }

void HeadlessToolkit::Message(std::string_view text, std::string_view title) {
    shown.push_back(Shown(text, title));
    if (expected_.empty()) {
        failures.push_back("unexpected message box: " + std::string(text));
        return;
    }
    const auto [want, wantTitle, serial, parts] = expected_.front();
    expected_.pop_front();
    if (!parts.empty()) {
        for (const std::string& part : parts)
            if (text.find(part) == std::string_view::npos)
                failures.push_back("message box showed \"" + Shown(text, title) + "\", without \"" + part + "\"");
        return;
    }
    if (want != text || (!wantTitle.empty() && wantTitle != (title.empty() ? kAppTitle : title)))
        failures.push_back("message box showed \"" + Shown(text, title) + "\", expected \"" + want + "\"");
}

bool HeadlessToolkit::Question(std::string_view text, std::string_view title) {
    shown.push_back(Shown(text, title));
    if (answers_.empty()) {
        failures.push_back("unanswered question: " + std::string(text));
        return false;
    }
    const auto [yes, want, serial] = answers_.front();
    answers_.pop_front();
    if (!want.empty() && want != text)
        failures.push_back("question asked \"" + std::string(text) + "\", expected \"" + want + "\"");
    return yes;
}

void HeadlessToolkit::AskFile(Window&, bool, const std::string& title, const std::string&, const std::string& suggested,
                              std::function<void(const std::string& file)> then) {
    lastSuggested = suggested;
    if (files_.empty()) {
        failures.push_back("unanswered file dialog: " + title);
        return then({});
    }
    const std::string f = std::move(files_.front().name);
    files_.pop_front();
    then(f);
}

std::optional<std::string> HeadlessToolkit::AskText(Window&, const std::string& title, const std::string& prompt, const std::string& initial) {
    lastPrompt = prompt;
    lastOffered = initial;
    if (texts_.empty()) {
        failures.push_back("unanswered text prompt: " + title);
        return std::nullopt;
    }
    std::optional<std::string> t = std::move(texts_.front().text);
    texts_.pop_front();
    return t;
}

bool HeadlessToolkit::Progress(Window& w, const std::string& text, int percent) {
    progress.push_back(w.name() + ": " + text + " " + std::to_string(percent));
    DoEvents();
    if (cancelAt && percent >= *cancelAt) {
        cancelAt.reset();
        return false;
    }
    return true;
}

std::string HeadlessToolkit::SaveImage(Window& w, const std::string& file, const std::string& heading) {
    images.push_back(w.name() + ": " + file);
    imageHeadings.push_back(heading);
    return {};
}

std::string HeadlessToolkit::SavePlot(Window& w, const std::string& file, const analysis::AllanPicture& picture) {
    return SaveImage(w, file, picture.title);
}

bool HeadlessToolkit::RunDue() {
    for (auto it = queue_.begin(); it != queue_.end(); ++it) {
        if (it->atNs <= clock_.NowNs()) {
            const std::function<void()> action = std::move(it->run);
            queue_.erase(it);
            Do(action);
            return true;
        }
    }
    return false;
}

void HeadlessToolkit::Do(const std::function<void()>& action) {
    idleSinceNs_ = clock_.NowNs();
    ++doDepth_;
    try {
        action();
        RunActivations();
    } catch (...) {
        --doDepth_;
        throw;
    }
    if (--doDepth_ > 0) return;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> spans;
    spans.swap(modalSpans_);
    for (const auto& [from, to] : spans)
        for (std::string& f : Unmet(from, to)) failures.push_back(std::move(f));
}

std::vector<std::string> HeadlessToolkit::Unmet(std::uint64_t from, std::uint64_t to) {
    std::vector<std::string> unmet;
    auto in = [&](std::uint64_t s) { return s >= from && s < to; };
    for (auto it = expected_.begin(); it != expected_.end();) {
        if (!in(it->serial)) {
            ++it;
            continue;
        }
        unmet.push_back("message box never shown: " + (it->parts.empty() ? it->text : "one with \"" + it->parts.front() + "\""));
        it = expected_.erase(it);
    }
    for (auto it = answers_.begin(); it != answers_.end();) {
        if (!in(it->serial)) {
            ++it;
            continue;
        }
        unmet.push_back("question never asked: " + (it->text.empty() ? std::string(it->yes ? "(answer yes)" : "(answer no)") : it->text));
        it = answers_.erase(it);
    }
    for (auto it = files_.begin(); it != files_.end();) {
        if (!in(it->serial)) {
            ++it;
            continue;
        }
        unmet.push_back("file dialog never shown: " + (it->name.empty() ? std::string("(cancel)") : it->name));
        it = files_.erase(it);
    }
    for (auto it = texts_.begin(); it != texts_.end();) {
        if (!in(it->serial)) {
            ++it;
            continue;
        }
        unmet.push_back("text prompt never shown: " + it->text.value_or("(cancel)"));
        it = texts_.erase(it);
    }
    return unmet;
}

std::vector<std::string> HeadlessToolkit::TakeUnmet() { return Unmet(0, serial_); }

void HeadlessToolkit::RunActivations() {
    while (!toActivate_.empty()) {
        Window* w = toActivate_.front();
        toActivate_.erase(toActivate_.begin());
        if (w->visible()) w->ActivateNow();
    }
}

void HeadlessToolkit::DoEvents() {
    // Only what is due now: a queued action for later waits for the clock.
    const std::size_t limit = queue_.size();
    for (std::size_t i = 0; i < limit && RunDue(); ++i) {
    }
    RunActivations();
    // A loop whose passes take no time at all would never reach a queued action either.
    stalledCalls_ = clock_.NowNs() == lastEventsNs_ ? stalledCalls_ + 1 : 0;
    lastEventsNs_ = clock_.NowNs();
    if (stalledCalls_ > kStalledCalls) {
        const std::string f = "a loop keeps processing events while no simulated time passes";
        failures.push_back(f);
        throw RunawayLoop{f};
    }
    if (queue_.empty() && clock_.NowNs() - idleSinceNs_ > runawayNs) {
        const std::int64_t s = runawayNs / 1'000'000'000;
        const std::string span = s % 60 == 0 ? std::to_string(s / 60) + " min" : std::to_string(s) + " s";
        const std::string f = "a loop ran on for " + span + " of simulated time with no user action queued to stop it";
        failures.push_back(f);
        throw RunawayLoop{f};
    }
}

void HeadlessToolkit::PostActivate(Window& w) {
    if (std::find(toActivate_.begin(), toActivate_.end(), &w) == toActivate_.end()) toActivate_.push_back(&w);
}

void HeadlessToolkit::ShowModal(Window& w) {
    const std::uint64_t opened = serial_;
    w.BeginShow();
    w.ActivateNow();
    while (w.visible()) {
        if (RunDue()) continue;
        // The script's next line is what the user does now; an action queued for later
        // runs once its time has come, while the program processes events.
        if (moreActions && moreActions()) continue;
        if (!queue_.empty()) {  // nothing else to do: the user waits for it
            std::int64_t next = queue_.front().atNs;
            for (const Action& a : queue_) next = std::min(next, a.atNs);
            clock_.SpinUntil(next);
            continue;
        }
        failures.push_back(w.name() + " is still open and no user action is left to close it");
        w.Hide();
    }
    modalSpans_.emplace_back(opened, serial_);
}

}  // namespace qvin::ui
