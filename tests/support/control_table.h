#pragma once
// Each window's controls as the window must show them when it is made: name, kind, caption
// or first text, tool tip. One table a window, tests/windows/WINDOW.tsv, read by the tests
// of the neutral windows and of their Qt views alike. A tab, carriage return, line feed or
// backslash inside a field is written \t, \r, \n or \\.

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "ui/chart/allan_plot_box.h"
#include "ui/controls.h"
#include "ui/window.h"

namespace qvin::test {

struct ControlRow {
    std::string name, kind, text, toolTip;
    bool operator==(const ControlRow&) const = default;
};

inline std::string Escape(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '\t') out += "\\t";
        else if (c == '\r') out += "\\r";
        else if (c == '\n') out += "\\n";
        else if (c == '\\') out += "\\\\";
        else out += c;
    }
    return out;
}

inline std::string Unescape(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out += s[i];
            continue;
        }
        const char e = s[++i];
        out += e == 't' ? '\t' : e == 'r' ? '\r' : e == 'n' ? '\n' : e;
    }
    return out;
}

// The row a neutral control gives now. The window itself is the row named "(window)".
inline ControlRow RowOf(const ui::Control& c) {
    using namespace ui;
    if (auto* m = dynamic_cast<const MenuItem*>(&c)) return {c.name(), "menu", m->caption(), c.toolTip()};
    if (auto* o = dynamic_cast<const OptionButton*>(&c)) return {c.name(), "option", o->caption(), c.toolTip()};
    if (auto* k = dynamic_cast<const CheckBox*>(&c)) return {c.name(), "check", k->caption(), c.toolTip()};
    if (auto* b = dynamic_cast<const Button*>(&c)) return {c.name(), "button", b->caption(), c.toolTip()};
    if (auto* l = dynamic_cast<const Label*>(&c)) return {c.name(), "label", l->caption(), c.toolTip()};
    if (auto* t = dynamic_cast<const TextBox*>(&c)) return {c.name(), "text", t->text(), c.toolTip()};
    if (auto* l = dynamic_cast<const ComboBox*>(&c)) return {c.name(), "list", l->text(), c.toolTip()};
    if (dynamic_cast<const ScrollBar*>(&c)) return {c.name(), "scroll", "", c.toolTip()};
    if (auto* f = dynamic_cast<const Frame*>(&c)) return {c.name(), "frame", f->caption(), c.toolTip()};
    if (dynamic_cast<const PictureBox*>(&c)) return {c.name(), "picture", "", c.toolTip()};
    if (dynamic_cast<const TimePlot*>(&c) || dynamic_cast<const AllanPlotBox*>(&c)) return {c.name(), "plot", "", c.toolTip()};
    return {c.name(), "?", "", c.toolTip()};
}

inline std::vector<ControlRow> RowsOf(const ui::Window& w) {
    std::vector<ControlRow> rows{{"(window)", "window", w.caption(), ""}};
    for (const auto& [name, c] : w.controls()) rows.push_back(RowOf(*c));
    return rows;
}

inline std::string TablePath(const std::string& window) { return std::string(QVIN_TABLES_DIR) + "/" + window + ".tsv"; }

inline std::vector<ControlRow> ReadTable(const std::string& window) {
    std::ifstream in(TablePath(window), std::ios::binary);
    if (!in) throw std::runtime_error("no table " + TablePath(window));
    std::vector<ControlRow> rows;
    std::string line;
    std::getline(in, line);  // the column heads
    while (std::getline(in, line)) {
        std::vector<std::string> f;
        std::stringstream fields(line);
        for (std::string field; std::getline(fields, field, '\t');) f.push_back(Unescape(field));
        while (f.size() < 4) f.emplace_back();
        rows.push_back({f[0], f[1], f[2], f[3]});
    }
    return rows;
}

inline void WriteTable(const std::string& window, const std::vector<ControlRow>& rows) {
    std::ofstream out(TablePath(window), std::ios::binary | std::ios::trunc);
    out << "control\tkind\tcaption or text\ttool tip\n";
    for (const ControlRow& r : rows) out << Escape(r.name) << '\t' << r.kind << '\t' << Escape(r.text) << '\t' << Escape(r.toolTip) << '\n';
}

}  // namespace qvin::test
