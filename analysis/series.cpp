#include "analysis/series.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>

#include "core/excerpt.h"
#include "core/file_safety.h"
#include "core/number_text.h"
#include "device/data_log_reader.h"

namespace qvin::analysis {

namespace {

constexpr std::size_t kMaxLine = 4096;
const char* const kOutputNames[] = {"SUPPLY_OUT (V)", "AUX_ADC (V)", "TEMP_OUT (dgrC)", "INCL_360 (dgr)", "INCL_180 (dgr)"};

// One line, at most kMaxLine characters kept; false at the end.
bool Line(std::istream& in, std::string& line, bool& tooLong) {
    line.clear();
    tooLong = false;
    std::streambuf* buf = in.rdbuf();
    int c = buf->sbumpc();
    if (c == std::char_traits<char>::eof()) return false;
    for (; c != std::char_traits<char>::eof() && c != '\n'; c = buf->sbumpc()) {
        if (line.size() < kMaxLine) line += static_cast<char>(c);
        else tooLong = true;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

bool Number(const std::string& f, double& v) {
    const NumberScan n = ScanLeadingNumber(f);
    if (f.empty() || n.length != f.size() || f[0] == ' ' || !std::isfinite(n.value)) return false;
    v = n.value;
    return true;
}

}  // namespace

std::optional<Series> ReadSeries(const std::filesystem::path& file, std::optional<double> tau0, std::string& error) {
    const std::string name = file.string();
    if (const std::string why = NotRegularRefusal(file); !why.empty()) {
        error = why;
        return std::nullopt;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        error = name + ": " + std::strerror(errno);
        return std::nullopt;
    }
    Series s;
    std::string line;
    bool tooLong = false;
    auto bad = [&](std::size_t number, const std::string& why) {
        error = name + ": line " + std::to_string(number) + ": " + why;
        return std::nullopt;
    };
    const bool any = Line(in, line, tooLong);
    if (any && line.rfind("QVIN 27319 Datalog File", 0) == 0) {
        const auto log = ReadDataLog(file, error);
        if (!log) return std::nullopt;
        for (const char* n : kOutputNames) s.names.emplace_back(n);
        s.columns.resize(5);
        for (const LogRun& r : log->runs) {
            if (s.tau0 == 0) s.tau0 = r.loopDelayMs / 1000.0;
            for (const LogPass& p : r.passes)
                for (std::size_t k = 0; k < 5; ++k) s.columns[k].push_back(p.values[k]);
        }
        s.note = "time between samples from the log's loop delay";
    } else if (any && line.rfind(kCaptureHead, 0) == 0) {
        std::stringstream head(line);
        std::string field;
        std::getline(head, field, ',');
        for (int k = 0; k < 5 && std::getline(head, field, ','); ++k) s.names.push_back(field);
        if (s.names.size() != 5) return bad(1, "no capture's header");
        s.columns.resize(5);
        double first = 0, last = 0;
        std::size_t rows = 0;
        for (std::size_t number = 2; Line(in, line, tooLong); ++number) {
            if (tooLong) return bad(number, "longer than " + std::to_string(kMaxLine) + " characters");
            if (line.empty()) continue;
            std::stringstream fields(line);
            double values[6];
            for (double& v : values) {
                if (!std::getline(fields, field, ',')) return bad(number, "too few fields");
                if (!Number(field, v)) return bad(number, "'" + Excerpt(field, 20) + "' is no number");
            }
            (rows++ == 0 ? first : last) = values[0];
            for (std::size_t k = 0; k < 5; ++k) s.columns[k].push_back(values[k + 1]);
        }
        if (rows > 1) s.tau0 = (last - first) / static_cast<double>(rows - 1);
        s.note = "time between samples: the capture's mean";
    } else {
        if (!tau0) {
            error = name + " is neither a capture nor a data log";
            return std::nullopt;
        }
        s.names.push_back("value");
        s.columns.resize(1);
        for (std::size_t number = 1; any; ++number) {
            if (tooLong) return bad(number, "longer than " + std::to_string(kMaxLine) + " characters");
            while (!line.empty() && line.back() == ' ') line.pop_back();
            double v = 0;
            if (!line.empty()) {
                if (!Number(line, v)) return bad(number, "'" + Excerpt(line, 20) + "' is no number");
                s.columns[0].push_back(v);
            }
            if (!Line(in, line, tooLong)) break;
        }
        s.note = "time between samples as given";
    }
    if (tau0) {
        s.tau0 = *tau0;
        s.note = "time between samples as given";
    }
    return s;
}

}  // namespace qvin::analysis
