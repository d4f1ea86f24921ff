#include "cli/plot_args.h"

#include "core/excerpt.h"

namespace qvin::cli {

namespace {

// WIDTHxHEIGHT, each one to five digits, 1 to 10000. The smallest picture that holds the
// chart depends on its fonts; the drawing says which it is.
bool ParseSize(const std::string& text, int& w, int& h) {
    const std::size_t x = text.find('x');
    if (x == std::string::npos || x == 0 || x + 1 >= text.size() || x > 5 || text.size() - x - 1 > 5) return false;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (i != x && (text[i] < '0' || text[i] > '9')) return false;
    w = std::stoi(text.substr(0, x));
    h = std::stoi(text.substr(x + 1));
    return w >= 1 && h >= 1 && w <= 10000 && h <= 10000;
}

}  // namespace

std::optional<PlotArgs> ParsePlotArgs(const std::vector<std::string>& args, std::string& error) {
    PlotArgs p;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--png" || a == "--size") {
            if (i + 1 >= args.size()) {
                error = a + " needs " + (a == "--png" ? "a file name" : "a size such as 1200x900");
                return std::nullopt;
            }
            const std::string& v = args[++i];
            if (a == "--png") {
                if (v.empty()) {
                    error = "--png needs a file name";
                    return std::nullopt;
                }
                p.png = v;
            } else if (!ParseSize(v, p.width, p.height)) {
                error = "bad size '" + Excerpt(v) + "' (WIDTHxHEIGHT, each 1 to 10000 pixels)";
                return std::nullopt;
            }
        } else if (a.size() > 1 && a[0] == '-') {
            error = "unknown option '" + Excerpt(a) + "' for plot (try --help)";
            return std::nullopt;
        } else if (p.log.empty() && !a.empty()) {
            p.log = a;
        } else {
            error = a.empty() ? "plot: an empty file name" : "plot takes one data log";
            return std::nullopt;
        }
    }
    if (p.log.empty() || p.png.empty()) {
        error = "plot needs a data log and --png OUT";
        return std::nullopt;
    }
    return p;
}

}  // namespace qvin::cli
