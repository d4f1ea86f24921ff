#include "ui/script/ui_script.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>
#include <unistd.h>
#include <vector>

#include "board/replay_board.h"
#include "core/file_safety.h"
#include "core/hex_text.h"
#include "core/number_text.h"
#include "ui/headless/sim_session.h"

namespace qvin::ui {

namespace {

struct ScriptError {
    std::string message;
};

// Splits a line into words; "quoted text" is one word, with \t, \r, \n and \" inside.
std::vector<std::string> Words(const std::string& line) {
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        if (i >= line.size() || line[i] == '#') break;
        std::string w;
        if (line[i] == '"') {
            ++i;
            while (i < line.size() && line[i] != '"') {
                if (line[i] == '\\' && i + 1 < line.size()) {
                    const char e = line[++i];
                    w += e == 't' ? '\t' : e == 'r' ? '\r' : e == 'n' ? '\n' : e;
                } else {
                    w += line[i];
                }
                ++i;
            }
            if (i >= line.size()) throw ScriptError{"unterminated quoted text"};
            ++i;
        } else {
            while (i < line.size() && line[i] != ' ' && line[i] != '\t') w += line[i++];
        }
        words.push_back(w);
    }
    return words;
}

// Word n of a line; a line that ends too soon fails with the command's name.
const std::string& Arg(const std::vector<std::string>& w, std::size_t n) {
    if (n >= w.size()) throw ScriptError{w.empty() ? std::string("a word is missing") : w[0] + " needs more words"};
    return w[n];
}

long long Number(const std::string& text) {
    std::size_t used = 0;
    long long v = 0;
    try {
        v = std::stoll(text, &used, 0);
    } catch (...) {
        throw ScriptError{"not a number: " + text};
    }
    if (used != text.size()) throw ScriptError{"not a number: " + text};
    return v;
}

// A decimal number, whole word (in the C locale's form, whatever the system's).
double Decimal(const std::string& text) {
    const NumberScan scan = ScanLeadingNumber(text);
    if (scan.length == 0 || scan.length != text.size()) throw ScriptError{"not a number: " + text};
    return scan.value;
}

std::string ColorName(Color c) {
    if (c == kGreen) return "green";
    if (c == kRed) return "red";
    return std::to_string(c);
}

class Interpreter {
public:
    Interpreter(std::string name, std::ostream& out, std::ostream& err, const ScriptRun& run)
        : name_(std::move(name)), out_(out), err_(err), record_(run.record) {
        if (!run.folder.empty()) {
            folder_ = run.folder;
            keepFolder_ = true;
        } else {
            char pattern[] = "/tmp/qvin-uiscript-XXXXXX";
            const char* dir = mkdtemp(pattern);
            if (!dir) throw ScriptError{"cannot create a working folder"};
            folder_ = dir;
        }
        if (!run.replay.empty()) {
            std::string why;
            replay_ = ReplayBoard::Open(run.replay, nullptr, why);
            if (!replay_) throw ScriptError{why};
        }
        session_ = std::make_unique<SimSession>(folder_, sim::ChipOptions{}, replay_.get());
        if (replay_) replay_->SetClock(&session_->clock);
        session_->tk.runawayNs = std::int64_t{run.runawaySeconds} * 1'000'000'000;
    }
    ~Interpreter() {
        std::error_code ec;
        if (!keepFolder_) std::filesystem::remove_all(folder_, ec);
    }

    int Run(const std::string& text) {
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);) lines_.push_back(line);
        session_->tk.moreActions = [this] { return Step(); };
        while (!failed_ && next_ < lines_.size()) Step();
        if (!failed_) {
            for (std::string& f : session_->tk.TakeUnmet()) session_->tk.failures.push_back(std::move(f));
            CheckToolkit("at the end");
        }
        if (!record_.empty()) {
            if (const std::string why = WriteWholeFile(record_, session_->capture.All()); !why.empty()) {
                err_ << name_ << ": cannot write the recording " << why << "\n";
                return 1;
            }
        }
        if (!failed_) {
            out_ << name_ << ": all expectations held";
            if (chipChecksLeftOut_ > 0)
                out_ << " (" << chipChecksLeftOut_ << " about the simulated chip left out: a replay has none)";
            out_ << "\n";
            return 0;
        }
        return 1;
    }

private:
    // Runs the next line; false when there is none (or a failure stopped the script).
    bool Step() {
        if (failed_ || next_ >= lines_.size()) return false;
        const std::size_t number = ++next_;
        try {
            std::vector<std::string> w = Words(lines_[number - 1]);
            // $FOLDER: the program folder, which messages naming a file show in full.
            for (std::string& word : w)
                for (std::size_t at; (at = word.find("$FOLDER")) != std::string::npos;) word.replace(at, 7, folder_.string());
            if (!w.empty()) Execute(w);
            if (started_) CheckToolkit("");
        } catch (const ScriptError& e) {
            Fail(number, e.message);
        } catch (const HeadlessToolkit::RunawayLoop& e) {
            session_->tk.failures.clear();
            Fail(number, e.message);
        } catch (const ReplayStopped& e) {
            session_->tk.failures.clear();
            Fail(number, e.message);
        }
        return !failed_;
    }

    void Fail(std::size_t line, const std::string& message) {
        if (failed_) return;
        failed_ = true;
        err_ << name_ << ":" << line << ": " << message << "\n    " << lines_[line - 1] << "\n";
    }

    void CheckToolkit(const char* where) {
        HeadlessToolkit& tk = session_->tk;
        if (!tk.failures.empty()) {
            const std::string f = tk.failures.front();
            tk.failures.clear();
            if (*where) {
                failed_ = true;
                err_ << name_ << ": " << where << ": " << f << "\n";
            } else {
                throw ScriptError{f};
            }
        }
    }

    std::pair<Window*, Control*> Lookup(const std::string& path) {
        const std::size_t dot = path.find('.');
        Window* w = FindWindow(path.substr(0, dot));
        if (dot == std::string::npos) return {w, nullptr};
        Control* c = w->Find(path.substr(dot + 1));
        if (!c) throw ScriptError{"no control " + path};
        return {w, c};
    }

    Window* FindWindow(const std::string& name) {
        if (!session_->app) throw ScriptError{"the program has not been started (use start)"};
        App& app = *session_->app;
        if (name == "frmQvin27319") return &app.main;
        if (name == "frmPort") return &app.port;
        if (name == "frmUSBselect") return &app.usbSelect;
        if (name == "frmUSBdebug") return &app.usbDebug;
        if (name == "FrmAlarm") return &app.alarm;
        if (name == "FrmCalReg") return &app.cal;
        if (name == "frmGpioMisc") return &app.gpio;
        if (name == "frmManualReg") return &app.manualReg;
        if (name == "frmStripChart") return &app.chart;
        if (name == "frmAnalysis") return &app.analysis;
        if (name == "frmAbout") {
            if (!app.about) throw ScriptError{"frmAbout is not open"};
            return app.about.get();
        }
        throw ScriptError{"no window " + name};
    }

    std::int16_t Register(const std::string& text) {
        const RegisterMap& map = session_->p.map;
        if (!text.empty() && std::isdigit(static_cast<unsigned char>(text[0]))) {
            const long long i = Number(text);
            if (RegisterMap::Valid(static_cast<int>(i))) return static_cast<std::int16_t>(i);
        }
        for (int i = 1; i <= kRegisterCount; ++i) {
            std::string n = map[i].RegName;
            while (!n.empty() && n.back() == ' ') n.pop_back();
            if (n == text && n != "N/A") return static_cast<std::int16_t>(i);
        }
        throw ScriptError{"no register " + text};
    }

    std::uint8_t Address(const std::string& reg) {
        if (session_->p.map[1].RegName.empty()) InitRegisterTable(session_->p.map);
        return static_cast<std::uint8_t>(session_->p.map[Register(reg)].RegAddr);
    }

    std::function<void()> Action(const std::vector<std::string>& w, std::size_t at) {
        const std::string& verb = Arg(w, at);
        auto need = [&](std::size_t n) {
            if (w.size() < at + 1 + n) throw ScriptError{verb + " needs " + std::to_string(n) + " argument(s)"};
        };
        if (verb == "close") {
            need(1);
            Window* win = Lookup(w[at + 1]).first;
            return [win] { win->UserClose(); };
        }
        need(1);
        Control* c = Lookup(w[at + 1]).second;
        if (!c) throw ScriptError{verb + " needs a control"};
        if (verb == "click") {
            if (auto* b = dynamic_cast<Button*>(c)) return [b] { b->UserClick(); };
            if (auto* m = dynamic_cast<MenuItem*>(c)) return [m] { m->UserClick(); };
            if (auto* k = dynamic_cast<CheckBox*>(c)) return [k] { k->UserClick(); };
            if (auto* o = dynamic_cast<OptionButton*>(c)) return [o] { o->UserClick(); };
            throw ScriptError{w[at + 1] + " cannot be clicked"};
        }
        if (verb == "type" || verb == "enter" || verb == "key") {
            if (verb == "type") need(2);
            if (verb == "key") need(2);
            auto* t = dynamic_cast<TextBox*>(c);
            auto* pic = dynamic_cast<PictureBox*>(c);
            if (verb == "type") {
                const std::string text = w[at + 2];
                if (auto* list = dynamic_cast<ComboBox*>(c)) {
                    if (!list->editable()) throw ScriptError{w[at + 1] + " takes no typing"};
                    return [list, text] { list->UserType(text); };
                }
                if (!t) throw ScriptError{w[at + 1] + " is not a text box"};
                return [t, text] { t->UserType(text); };
            }
            int code = kKeyEnter, shift = 0;
            if (verb == "key") {
                code = static_cast<int>(Number(w[at + 2]));
                for (std::size_t i = at + 3; i < w.size(); ++i) {
                    if (w[i] == "ctrl") shift |= kCtrlMask;
                    else if (w[i] == "shift") shift |= kShiftMask;
                    else if (w[i] == "alt") shift |= kAltMask;
                    else throw ScriptError{"unknown modifier " + w[i]};
                }
            }
            if (t) return [t, code, shift] { t->UserKeyDown(code, shift); };
            if (pic) return [pic, code, shift] { pic->UserKeyDown(code, shift); };
            if (auto* plot = dynamic_cast<TimePlot*>(c)) return [plot, code, shift] { plot->UserKeyDown(code, shift); };
            throw ScriptError{w[at + 1] + " takes no keys"};
        }
        if (verb == "choose") {
            need(2);
            auto* list = dynamic_cast<ComboBox*>(c);
            if (!list) throw ScriptError{w[at + 1] + " is not a list"};
            const std::string& which = w[at + 2];
            const auto& items = list->items();
            int index = -1;
            if (!which.empty() && std::isdigit(static_cast<unsigned char>(which[0]))) {
                index = static_cast<int>(Number(which));
            } else {
                const auto it = std::find(items.begin(), items.end(), which);
                if (it == items.end()) throw ScriptError{w[at + 1] + " has no entry \"" + which + "\""};
                index = static_cast<int>(it - items.begin());
            }
            // Checked when the action runs: the list may be filled by then.
            return [list, index, name = w[at + 1]] {
                if (index < 0 || index >= static_cast<int>(list->items().size()))
                    throw ScriptError{name + " has no entry at position " + std::to_string(index)};
                list->UserSelect(index);
            };
        }
        if (verb == "wheel") {
            need(3);
            auto* plot = dynamic_cast<TimePlot*>(c);
            if (!plot) throw ScriptError{w[at + 1] + " takes no wheel"};
            const double notches = Decimal(w[at + 2]), where = Decimal(w[at + 3]);
            if (!(where >= 0 && where <= 1)) throw ScriptError{"wheel's place is a share of the width, from 0 to 1"};
            return [plot, notches, where] { plot->UserWheel(notches, where); };
        }
        if (verb == "drag") {
            need(2);
            auto* plot = dynamic_cast<TimePlot*>(c);
            if (!plot) throw ScriptError{w[at + 1] + " cannot be dragged"};
            const double share = Decimal(w[at + 2]);
            return [plot, share] { plot->UserDrag(share); };
        }
        if (verb == "scroll") {
            need(2);
            auto* s = dynamic_cast<ScrollBar*>(c);
            if (!s) throw ScriptError{w[at + 1] + " is not a scroll bar"};
            const int v = static_cast<int>(Number(w[at + 2]));
            return [s, v] { s->UserMove(v); };
        }
        throw ScriptError{"unknown action " + verb};
    }

    void Execute(const std::vector<std::string>& w) {
        const std::string& cmd = w[0];
        SimSession& s = *session_;
        if (cmd == "settings") {
            Settings st;
            for (std::size_t i = 1; i + 1 < w.size(); i += 2) {
                if (w[i] == "interface") st.InterfaceType = static_cast<Interface>(static_cast<std::int16_t>(Number(w[i + 1])));
                else if (w[i] == "port") st.PortAddress = HexToShort(w[i + 1]);
                else if (w[i] == "factory") st.FactoryMode = static_cast<std::int16_t>(Number(w[i + 1]));
                else throw ScriptError{"unknown setting " + w[i]};
            }
            s.WriteSettings(st);
        } else if (cmd == "os") {
            if (w.size() != 2) throw ScriptError{"os needs a name"};
            if (w[1] == "Win95") system_ = {1, 4.0f, 950};
            else if (w[1] == "Win98") system_ = {1, 4.1f, 2222};
            else if (w[1] == "WinNT") system_ = {2, 4.0f, 1381};
            else if (w[1] == "WinXP") system_ = {2, 5.1f, 2600};
            else throw ScriptError{"unknown system " + w[1]};
        } else if (cmd == "angle") {
            s.board.chip.SetAngle(LeadingNumber(Arg(w, 1)));
        } else if (cmd == "chip") {
            if (w.size() != 3) throw ScriptError{"chip needs a register and a value"};
            s.board.chip.SetWord(Address(w[1]), static_cast<std::uint16_t>(Number(w[2])));
        } else if (cmd == "chip-output") {
            if (w.size() != 3) throw ScriptError{"chip-output needs a register and a raw word"};
            s.board.chip.OverrideOutput(Address(w[1]), static_cast<std::uint16_t>(Number(w[2])));
        } else if (cmd == "status") {
            s.board.chip.RaiseStatus(static_cast<std::uint16_t>(Number(Arg(w, 1))));
        } else if (cmd == "adapter") {
            if (w.size() != 3) throw ScriptError{"adapter needs a device number and present|absent|unplugged"};
            const int dev = static_cast<int>(Number(w[1]));
            if (w[2] == "present") s.board.usb.Place(dev, sim::SimUsbDevice{});
            else if (w[2] == "absent") s.board.usb.Place(dev, std::nullopt);
            else if (w[2] == "unplugged") s.board.usb.SetUnplugged(dev, true);
            else throw ScriptError{"unknown adapter state " + w[2]};
        } else if (cmd == "fault") {
            if (w.size() != 2) throw ScriptError{"fault needs one rule list, for example send-fail@3 or unplug@200,replug@300"};
            if (auto error = s.board.faults.Add(w[1])) throw ScriptError{*error};
        } else if (cmd == "noise") {
            if (w.size() != 2) throw ScriptError{"noise needs its settings, for example off or white=0.4,walk=0.0005"};
            sim::NoiseOptions n;
            if (auto bad = sim::ParseNoise(w[1], n)) throw ScriptError{*bad};
            s.board.chip.SetNoise(n);
        } else if (cmd == "seed") {
            s.board.faults.SetSeed(static_cast<std::uint32_t>(Number(Arg(w, 1))));
        } else if (cmd == "start") {
            // A second start would replace the program under the windows still open.
            if (started_) throw ScriptError{"the program has already started"};
            started_ = true;
            s.Start(system_);
            s.capture.Take();
        } else if (cmd == "message") {
            if (w.size() < 2 || w.size() > 3) throw ScriptError{"message needs its text (and optionally a title)"};
            s.tk.ExpectMessage(w[1], w.size() == 3 ? w[2] : "");
        } else if (cmd == "message-with") {
            if (w.size() < 2) throw ScriptError{"message-with needs the texts the message must hold"};
            s.tk.ExpectMessageWith({w.begin() + 1, w.end()});
        } else if (cmd == "answer") {
            if (w.size() < 2 || w.size() > 3 || (w[1] != "yes" && w[1] != "no"))
                throw ScriptError{"answer needs yes or no (and optionally the question's text)"};
            s.tk.AnswerNext(w[1] == "yes", w.size() == 3 ? w[2] : "");
        } else if (cmd == "file") {
            if (w.size() != 2) throw ScriptError{"file needs a name (\"\" cancels the dialog)"};
            s.tk.AnswerFile(w[1].empty() ? std::string() : (folder_ / w[1]).string());
        } else if (cmd == "text-answer") {
            if (w.size() != 2 && w.size() != 1) throw ScriptError{"text-answer needs a text (nothing cancels the prompt)"};
            s.tk.AnswerText(w.size() == 2 ? std::optional<std::string>(w[1]) : std::nullopt);
        } else if (cmd == "cancel-progress") {
            if (w.size() != 2) throw ScriptError{"cancel-progress needs a percentage"};
            s.tk.cancelAt = static_cast<int>(Number(w[1]));
        } else if (cmd == "write-file") {
            if (w.size() != 3) throw ScriptError{"write-file needs a name and a text"};
            std::ofstream out(folder_ / w[1], std::ios::binary | std::ios::trunc);
            out << w[2];
            if (!out) throw ScriptError{"cannot write " + w[1]};
        } else if (cmd == "wait") {
            s.clock.Advance(static_cast<std::int64_t>(LeadingNumber(Arg(w, 1)) * 1e6));
        } else if (cmd == "after") {
            if (w.size() < 3) throw ScriptError{"after needs a time and an action"};
            const auto at = s.clock.NowNs() + static_cast<std::int64_t>(LeadingNumber(w[1]) * 1e6);
            s.tk.Queue(Action(w, 2), at);
        } else if (cmd == "mark") {
            s.capture.Take();
            s.TakeFrames();
        } else if (cmd == "expect") {
            Expect(w);
        } else {
            s.tk.Do(Action(w, 0));
        }
    }

    void Expect(const std::vector<std::string>& w) {
        SimSession& s = *session_;
        if (w.size() < 2) throw ScriptError{"expect what?"};
        if (w[1] == "interface") {
            const long long want = Number(Arg(w, 2));
            if (static_cast<long long>(s.p.settings.InterfaceType) != want)
                throw ScriptError{"interface is " + std::to_string(static_cast<int>(s.p.settings.InterfaceType))};
            return;
        }
        // What the simulated chip holds or saw cannot be known from a recording.
        if (replay_ && (w[1] == "chip" || w[1] == "frames")) {
            ++chipChecksLeftOut_;
            return;
        }
        if (w[1] == "chip") {
            if (w.size() != 4) throw ScriptError{"expect chip needs a register and a value"};
            const std::uint16_t seen = s.board.chip.Word(Address(w[2]));
            if (seen != static_cast<std::uint16_t>(Number(w[3]))) throw ScriptError{"chip holds " + FormatHex(seen, 4)};
            return;
        }
        if (w[1] == "frames") {
            ExpectFrames(std::vector<std::string>(w.begin() + 2, w.end()));
            return;
        }
        if (w[1] == "file" || w[1] == "file-end") {
            if (w.size() != 4) throw ScriptError{"expect " + w[1] + " needs a name and a text"};
            std::ifstream in(folder_ / w[2], std::ios::binary);
            if (!in) throw ScriptError{"no file " + w[2]};
            const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            const bool holds = w[1] == "file" ? text.find(w[3]) != std::string::npos
                                              : text.size() >= w[3].size() && text.compare(text.size() - w[3].size(), w[3].size(), w[3]) == 0;
            if (!holds) throw ScriptError{"the file holds:\n" + text};
            return;
        }
        if (w[1] == "suggested") {
            if (w.size() != 3) throw ScriptError{"expect suggested needs the name the file dialog offered"};
            if (s.tk.lastSuggested != w[2]) throw ScriptError{"the file dialog offered \"" + s.tk.lastSuggested + "\""};
            return;
        }
        if (w[1] == "no-file") {
            if (std::filesystem::exists(folder_ / Arg(w, 2))) throw ScriptError{w[2] + " exists"};
            return;
        }
        if (w[1] == "printed") {
            if (w.size() != 3) throw ScriptError{"expect printed needs a window"};
            auto& printed = s.tk.printed;
            const auto it = std::find(printed.begin(), printed.end(), w[2]);
            if (it == printed.end()) throw ScriptError{w[2] + " was not printed"};
            printed.erase(it);
            return;
        }
        if (w[1] == "image") {
            if (w.size() != 4 && w.size() != 5) throw ScriptError{"expect image needs a window and a file name (and the heading)"};
            auto& images = s.tk.images;
            const auto it = std::find(images.begin(), images.end(), w[2] + ": " + (folder_ / w[3]).string());
            if (it == images.end()) throw ScriptError{"no picture of " + w[2] + " was saved as " + w[3]};
            const auto heading = s.tk.imageHeadings.begin() + (it - images.begin());
            if (w.size() == 5 && *heading != w[4]) throw ScriptError{"the picture's heading is \"" + *heading + "\""};
            s.tk.imageHeadings.erase(heading);
            images.erase(it);
            return;
        }
        if (w[1] == "progress") {  // expect progress W "TEXT PERCENT"
            if (w.size() != 4) throw ScriptError{"expect progress needs a window and a text"};
            auto& reports = s.tk.progress;
            const auto it = std::find(reports.begin(), reports.end(), w[2] + ": " + w[3]);
            if (it == reports.end()) {
                std::string seen;
                for (const std::string& r : reports) seen += "\n    " + r;
                throw ScriptError{"no such progress; the reports were:" + (seen.empty() ? std::string(" none") : seen)};
            }
            reports.erase(reports.begin(), it + 1);
            return;
        }
        if (w[1] == "not-printed") {
            if (!s.tk.printed.empty()) throw ScriptError{s.tk.printed.front() + " was printed"};
            return;
        }
        if (w.size() == 5 && w[2] == "item") {  // expect W.C item N TEXT
            auto* list = dynamic_cast<ComboBox*>(Lookup(w[1]).second);
            if (!list) throw ScriptError{w[1] + " is not a list"};
            const long long i = Number(w[3]);
            const auto& items = list->items();
            if (i < 0 || i >= static_cast<long long>(items.size()))
                throw ScriptError{w[1] + " has " + std::to_string(items.size()) + " entries"};
            if (items[static_cast<std::size_t>(i)] != w[4])
                throw ScriptError{"entry " + std::to_string(i) + " is \"" + items[static_cast<std::size_t>(i)] + "\""};
            return;
        }
        if (w.size() == 4 && w[1].find('.') == std::string::npos) {  // a window's own state
            Window* win = Lookup(w[1]).first;
            std::string seen;
            if (w[2] == "caption") seen = win->caption();
            else if (w[2] == "visible") seen = win->visible() ? "true" : "false";
            else if (w[2] == "samples" && win == &s.app->chart) seen = std::to_string(s.app->chart.shown().data->count());
            else if (w[2] == "shown" && win == &s.app->chart) {
                const frmStripChart::Shown v = s.app->chart.shown();
                seen = IsoTime(v.from) + " to " + IsoTime(v.to);
            }
            else if (w[2] == "status") seen = s.tk.status();
            else if (w[2] == "status-field") seen = s.tk.statusField;
            else throw ScriptError{"a window has no property " + w[2]};
            if (seen != w[3]) throw ScriptError{w[2] + " is \"" + seen + "\""};
            return;
        }
        if (w.size() != 4) throw ScriptError{"expect needs a control, a property and a value"};
        Control* c = Lookup(w[1]).second;
        if (!c) throw ScriptError{"expect needs a control"};
        const std::string seen = Property(*c, w[2]);
        if (seen != w[3]) throw ScriptError{w[2] + " is \"" + seen + "\""};
    }

    static std::string Property(Control& c, const std::string& property) {
        if (property == "enabled") return c.Usable() ? "true" : "false";
        if (property == "visible") return c.visible() ? "true" : "false";
        if (auto* l = dynamic_cast<Label*>(&c)) {
            if (property == "caption") return l->caption();
            if (property == "color") return l->hasBackColor() ? ColorName(l->backColor()) : "none";
        }
        if (auto* b = dynamic_cast<Button*>(&c); b && property == "caption") return b->caption();
        if (auto* t = dynamic_cast<TextBox*>(&c); t && property == "text") return t->text();
        if (auto* s = dynamic_cast<ScrollBar*>(&c); s && property == "value") return std::to_string(s->value());
        if (auto* k = dynamic_cast<CheckBox*>(&c); k && property == "value") return std::to_string(k->value());
        if (auto* o = dynamic_cast<OptionButton*>(&c); o && property == "value") return o->value() ? "true" : "false";
        if (auto* m = dynamic_cast<MenuItem*>(&c)) {
            if (property == "checked") return m->checked() ? "true" : "false";
            if (property == "caption") return m->caption();
        }
        if (auto* f = dynamic_cast<Frame*>(&c); f && property == "caption") return f->caption();
        if (auto* l = dynamic_cast<ComboBox*>(&c)) {
            if (property == "text") return l->text();
            if (property == "count") return std::to_string(l->items().size());
            if (property == "listindex") return std::to_string(l->listIndex());
        }
        if (property == "tooltip") return c.toolTip();
        throw ScriptError{c.name() + " has no property " + property};
    }

    // The words the chip saw since the last mark, in order; ".." stands for any number
    // of other words, and "+MS" between two words for the pause between those two frames:
    // at least MS milliseconds of simulated time and less than kPauseSlackMs more.
    void ExpectFrames(const std::vector<std::string>& pattern) {
        const std::vector<SimSession::TimedFrame> seen = session_->TakeTimedFrames();
        // What was seen, in the pattern's own form: a pause of a millisecond or more shows
        // as "+MS" (whole milliseconds), so a failing line shows what to write instead.
        std::string seenText;
        for (std::size_t i = 0; i < seen.size(); ++i) {
            if (i > 0) {
                const std::int64_t ms = (seen[i].ns - seen[i - 1].ns) / 1'000'000;
                if (ms >= 1) seenText += " +" + std::to_string(ms);
                seenText += " ";
            }
            seenText += FormatHex(seen[i].mosi, 4);
        }
        std::size_t at = 0;
        bool gap = false;
        double pauseMs = -1;  // none
        std::optional<std::size_t> last;  // the frame matched before a pause
        for (const std::string& p : pattern) {
            if (p == "..") {
                gap = true;
                continue;
            }
            if (!p.empty() && p[0] == '+') {
                if (!last) throw ScriptError{"a pause " + p + " needs a frame before it"};
                if (pauseMs >= 0) throw ScriptError{"two pauses in a row: " + p};
                const NumberScan scan = ScanLeadingNumber(p.substr(1));
                if (scan.length == 0 || scan.length != p.size() - 1 || !(scan.value >= 0) || p[1] == ' ')
                    throw ScriptError{"not a pause: " + p};
                const double ms = scan.value;
                pauseMs = ms;
                continue;
            }
            const auto want = static_cast<std::uint16_t>(HexToInt(p));
            if (gap) {
                while (at < seen.size() && seen[at].mosi != want) ++at;
            }
            if (at >= seen.size() || seen[at].mosi != want) throw ScriptError{"the chip saw: " + seenText};
            if (pauseMs >= 0) {
                const double took = static_cast<double>(seen[at].ns - seen[*last].ns) / 1e6;
                if (took < pauseMs || took >= pauseMs + kPauseSlackMs)
                    throw ScriptError{"the chip saw " + FormatHex(seen[at].mosi, 4) + " " + FormatFixed(took, 3) + " ms after " +
                                      FormatHex(seen[*last].mosi, 4) + ", not " + FormatGeneral(static_cast<float>(pauseMs)) +
                                      " ms: " + seenText};
                pauseMs = -1;
            }
            last = at;
            ++at;
            gap = false;
        }
        if (pauseMs >= 0) throw ScriptError{"a pause needs a frame after it"};
        if (!gap && at != seen.size()) throw ScriptError{"the chip saw more: " + seenText};
    }

    // A register access costs a transfer and a tenth of a millisecond around a pause.
    static constexpr double kPauseSlackMs = 3.0;

    std::string name_;
    std::ostream& out_;
    std::ostream& err_;
    std::filesystem::path folder_;
    bool keepFolder_ = false;
    std::filesystem::path record_;
    std::unique_ptr<ReplayBoard> replay_;
    int chipChecksLeftOut_ = 0;
    std::unique_ptr<SimSession> session_;
    std::vector<std::string> lines_;
    std::size_t next_ = 0;
    bool failed_ = false;
    bool started_ = false;
    SystemFacts system_ = LinuxSystemFacts();
};

}  // namespace

int RunScript(const std::string& text, const std::string& scriptName, std::ostream& out, std::ostream& err,
              const ScriptRun& run) {
    try {
        Interpreter interpreter(scriptName, out, err, run);
        return interpreter.Run(text);
    } catch (const ScriptError& e) {
        err << scriptName << ": " << e.message << "\n";
        return 1;
    }
}

int RunScriptFile(const std::string& path, std::ostream& out, std::ostream& err, const ScriptRun& run) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        err << "qvin-uiscript: cannot read " << path << "\n";
        return 2;
    }
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return RunScript(text, path, out, err, run);
}

}  // namespace qvin::ui
