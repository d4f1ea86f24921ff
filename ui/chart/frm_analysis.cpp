#include "ui/chart/frm_analysis.h"

#include "analysis/deviations.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

#include "device/data_log_reader.h"
#include "ui/app.h"

#include "core/number_text.h"

namespace qvin::ui {

namespace {

std::string G(double v, int digits = 6) { return FormatSignificant(v, digits); }

std::string UnitOf(const std::string& name) {
    const auto a = name.find('('), b = name.find(')');
    return a == std::string::npos || b == std::string::npos ? "units" : name.substr(a + 1, b - a - 1);
}

// "2 h 0 min", "5 min 3 s", "12.3 s".
std::string Duration(double seconds) {
    const auto whole = static_cast<long long>(seconds);
    if (whole >= 3600) return std::to_string(whole / 3600) + " h " + std::to_string(whole % 3600 / 60) + " min";
    if (whole >= 60) return std::to_string(whole / 60) + " min " + std::to_string(whole % 60) + " s";
    return G(seconds, 3) + " s";
}

// 7200 as "7,200".
std::string Thousands(std::size_t n) {
    std::string digits = std::to_string(n), out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

}  // namespace

std::string DeviationLabel(analysis::Deviation d) {
    switch (d) {
        case analysis::Deviation::Oadev: return "oadev (overlapping Allan)";
        case analysis::Deviation::Adev: return "adev (Allan)";
        case analysis::Deviation::Mdev: return "mdev (modified Allan)";
        case analysis::Deviation::Tdev: return "tdev (time)";
        case analysis::Deviation::Hdev: return "hdev (Hadamard)";
        case analysis::Deviation::Ohdev: return "ohdev (overlapping Hadamard)";
        default: return "totdev (total)";
    }
}

namespace {
std::string AxisName(analysis::Deviation d) {
    switch (d) {
        case analysis::Deviation::Mdev: return "Modified Allan deviation";
        case analysis::Deviation::Tdev: return "Time deviation";
        case analysis::Deviation::Hdev:
        case analysis::Deviation::Ohdev: return "Hadamard deviation";
        case analysis::Deviation::Totdev: return "Total deviation";
        default: return "Allan deviation";
    }
}
}  // namespace

std::string StatsText(const analysis::Stats& s, const analysis::NoiseTerms& f, const std::string& unit) {
    std::string t = "Samples\t" + std::to_string(s.count) + "\r\nMean\t" + G(s.mean) + " " + unit + "\r\nStd dev\t" + G(s.stdDev) + " " +
                    unit + "\r\nMin\t" + G(s.min) + "\r\nMax\t" + G(s.max) + "\r\nPeak-to-peak\t" + G(s.peakToPeak) + "\r\n";
    if (!f.fitted)
        return t + "Noise terms\ttoo few averaging times (" + std::to_string(f.points) + ", " + std::to_string(analysis::kMinTermPoints) + " at least)\r\n";
    if (f.fromTau > 0) t += "Terms fitted from\t" + G(f.fromTau, 4) + " s (averaged readings below)\r\n";
    for (std::size_t k = 0; k < 5; ++k) {
        t += std::string(analysis::kTermNames[k]) + " " + analysis::kTermWhat[k] + "\t";
        if (k == 0 && f.averaged) t += "not fitted (averaged readings)";
        else if (const auto& term = f.terms[k]) t += analysis::TermText(*term) + " " + analysis::TermUnit(k, unit);
        else t += "not resolved";
        t += "\r\n";
    }
    return t;
}

std::string AllanTableText(const std::vector<analysis::AllanPoint>& curve, analysis::Deviation d) {
    std::string name = analysis::DeviationName(d);
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::string t = "tau (s)\t" + name + "\t68 % interval\r\n";
    for (const analysis::AllanPoint& p : curve) t += G(p.tau, 4) + "\t" + G(p.adev, 4) + "\t" + G(p.lo, 3) + " to " + G(p.hi, 3) + "\r\n";
    return t;
}

frmAnalysis::frmAnalysis(App& app) : Window(app.tk, "frmAnalysis", "Noise Analysis"), app_(app) {
    lblOutput.SetCaption("Output");
    for (const char* n : kChartSeriesNames) cmboOutput.AddItem(n);
    cmboOutput.SetListIndex(3);
    cmboOutput.SetToolTip("The output to analyse");
    lblDeviation.SetCaption("Deviation");
    for (const analysis::Deviation d : kDeviationOrder) cmboDeviation.AddItem(DeviationLabel(d));
    cmboDeviation.SetListIndex(0);
    cmboDeviation.SetToolTip("The deviation the table and the plot show; the noise terms are fitted to the overlapping Allan one");
    lblSource.SetCaption("Nothing analysed yet");
    txtStats.SetToolTip("Statistics and the noise terms (about 95 % uncertainties)");
    txtTable.SetToolTip("Overlapping Allan deviation at octave averaging times");
    picAllan.SetToolTip("Allan deviation against averaging time, log-log: a line each decade, bars for the 68 % intervals");
    lblTauAxis.SetCaption("averaging time tau (s)");
    lblAdevAxis.SetCaption("Allan deviation");
    cmdChart.SetCaption("From Chart");
    cmdChart.SetToolTip("Analyse the readings the strip chart shows");
    cmdOpen.SetCaption("Open...");
    cmdOpen.SetToolTip("Analyse a capture (qvin-cli capture) or a data log");
    cmdClose.SetCaption("Close");
    cmboOutput.onClick = [this] { cmboOutput_Click(); };
    cmboDeviation.onClick = [this] { cmboDeviation_Click(); };
    cmdChart.onClick = [this] { cmdChart_Click(); };
    cmdOpen.onClick = [this] { cmdOpen_Click(); };
    cmdClose.onClick = [this] { cmdClose_Click(); };
    Register({&lblSource, &lblOutput, &cmboOutput, &lblDeviation, &cmboDeviation, &txtStats, &txtTable, &picAllan, &lblTauAxis, &lblAdevAxis, &cmdChart, &cmdOpen, &cmdClose});
}

void frmAnalysis::ShowChart() {
    const frmStripChart::Shown v = app_.chart.shown();
    analysis::Series s;
    for (const char* n : kChartSeriesNames) s.names.emplace_back(n);
    s.columns.resize(kChartSeries);
    // The readings' own times; a reading without a new sample, or a pause in the reading,
    // is a gap, left out.
    std::vector<double> times;
    ChartClock::time_point first{};
    auto take = [&](const ChartSample& c) {
        if (c.time < v.from || c.time > v.to || !c.newData) return;
        if (times.empty()) first = c.time;
        const double t = std::chrono::duration<double>(c.time - first).count();
        if (!times.empty() && !(t > times.back())) return;  // readings in one instant are one
        times.push_back(t);
        for (std::size_t k = 0; k < kChartSeries; ++k) s.columns[k].push_back(c.values[k]);
    };
    std::string held;
    if (v.log && !v.logFile.empty()) {
        // The chart keeps the last hour of a log reading by reading: the log is read again.
        DataLogParser parser;
        LogReadings readings;
        parser.onPass = [&](std::size_t run, const LogPass& p) {
            if (const auto s = readings.Next(run, parser.contents.runs[run], p)) take(*s);
        };
        if (const std::string why = StreamDataLog(v.logFile, parser); !why.empty()) {
            app_.tk.Message("The data log could not be read.\r\n" + why);
            return;
        }
    } else if (v.data) {
        for (const ChartSample& c : v.data->samples()) take(c);
        // Older readings are held as extremes only: say what is analysed.
        if (!v.data->samples().empty() && v.data->samples().front().time > v.from) held = " (the readings held one by one)";
    }
    analysis::PlaceGaps(s, times);
    s.note = "the mean interval of the strip chart's readings, gaps left out";
    const double span = times.empty() ? 0 : times.back();
    std::string caption = "The strip chart's " + std::string(v.log ? "data log" : "readings") + ": " + Thousands(times.size()) +
                          " readings over " + Duration(span) + held + ", " + analysis::GapSummary(s);
    Use(std::move(s), std::move(caption));
    app_.tk.Show(*this);
}

void frmAnalysis::cmdOpen_Click() {
    app_.tk.AskFile(*this, false, "Analyse a capture or a data log", "Captures and data logs (*.csv *.txt);;All files (*)", "", [this](const std::string& file) {
        if (file.empty()) return;
        std::string error;
        auto read = analysis::ReadSeries(file, {}, error);
        // The outputs by name: a capture may hold some of them only.
        analysis::Series s;
        if (read) {
            s = *read;
            s.names.clear();
            s.columns.assign(kChartSeries, {});
            for (std::size_t k = 0; k < kChartSeries; ++k) {
                s.names.emplace_back(kChartSeriesNames[k]);
                for (std::size_t j = 0; j < read->names.size(); ++j)
                    if (read->names[j] == kChartSeriesNames[k]) s.columns[k] = std::move(read->columns[j]);
            }
        }
        if (!read || s.samples == 0) {
            app_.tk.Message("The file could not be analysed.\r\n" + (read ? file + " holds no sample of the part's outputs" : error));
            return;
        }
        const std::string name = std::filesystem::path(file).filename().string();
        Use(std::move(s), name + ": " + std::to_string(read->samples) + " samples, " + analysis::GapSummary(*read));
    });
}

void frmAnalysis::Use(analysis::Series s, std::string source) {
    series_ = std::move(s);
    lblSource.SetCaption(std::move(source));
    lblSource.SetToolTip(series_.note);
    Analyse();
}

void frmAnalysis::cmboOutput_Click() { Analyse(); }

void frmAnalysis::Analyse() {
    const int k = std::max(0, cmboOutput.listIndex());
    curve_.clear();
    if (static_cast<std::size_t>(k) >= series_.columns.size() || series_.columns[static_cast<std::size_t>(k)].empty()) {
        txtStats.SetText("No readings");
        txtTable.SetText("");
        Draw();
        return;
    }
    const std::vector<double>& y = series_.columns[static_cast<std::size_t>(k)];
    const analysis::Deviation d = kDeviationOrder[static_cast<std::size_t>(std::clamp(cmboDeviation.listIndex(), 0, 6))];
    std::string why;
    if (series_.tau0 > 0) curve_ = analysis::DeviationCurve(y, series_.tau0, d, {}, &why);
    // The noise terms come from the overlapping Allan deviation whichever is shown.
    const analysis::NoiseTerms terms =
        analysis::FitNoiseTerms(d == analysis::Deviation::Oadev || series_.tau0 <= 0 ? curve_ : analysis::OctaveAdev(y, series_.tau0));
    txtStats.SetText(StatsText(analysis::Describe(y), terms, UnitOf(series_.names[static_cast<std::size_t>(k)])));
    txtTable.SetText(!why.empty() ? "No " + analysis::DeviationName(d) + ": " + why
                     : curve_.empty() ? "Too few readings for a deviation (4 at least)"
                                      : AllanTableText(curve_, d));
    Draw();
}

// Whole decades around the curve, a grid line at each; the curve; a bar for each interval.
void frmAnalysis::Draw() {
    picAllan.Cls();
    std::vector<const analysis::AllanPoint*> pts;
    for (const analysis::AllanPoint& p : curve_)
        if (p.adev > 0) pts.push_back(&p);
    if (pts.empty()) {
        lblTauAxis.SetCaption("averaging time tau (s)");
        lblAdevAxis.SetCaption("Allan deviation");
        return;
    }
    double t0 = 1e300, t1 = 0, a0 = 1e300, a1 = 0;
    for (const auto* p : pts) {
        t0 = std::min(t0, p->tau), t1 = std::max(t1, p->tau);
        a0 = std::min(a0, std::max(p->lo, p->adev / 10)), a1 = std::max(a1, p->hi);
    }
    const int x0 = static_cast<int>(std::floor(std::log10(t0))), x1 = std::max(x0 + 1, static_cast<int>(std::ceil(std::log10(t1 * 1.0001))));
    const int y0 = static_cast<int>(std::floor(std::log10(a0))), y1 = std::max(y0 + 1, static_cast<int>(std::ceil(std::log10(a1 * 1.0001))));
    const float w = picAllan.width(), h = picAllan.height();
    auto X = [&](double t) { return static_cast<float>((std::log10(t) - x0) / (x1 - x0) * w); };
    auto Y = [&](double a) { return static_cast<float>(h - (std::log10(std::max(a, std::pow(10.0, y0))) - y0) / (y1 - y0) * h); };
    picAllan.SetDrawWidth(1);
    for (int d = x0; d <= x1; ++d) picAllan.Line(X(std::pow(10.0, d)), 0, X(std::pow(10.0, d)), h);
    for (int d = y0; d <= y1; ++d) picAllan.Line(0, Y(std::pow(10.0, d)), w, Y(std::pow(10.0, d)));
    for (const auto* p : pts) {
        const float x = X(p->tau);
        picAllan.Line(x, Y(p->lo), x, Y(p->hi));
        picAllan.Circle(x, Y(p->adev), 2.5f);
    }
    picAllan.SetDrawWidth(2);
    for (std::size_t i = 1; i < pts.size(); ++i) picAllan.Line(X(pts[i - 1]->tau), Y(pts[i - 1]->adev), X(pts[i]->tau), Y(pts[i]->adev));
    lblTauAxis.SetCaption("averaging time tau: 1e" + std::to_string(x0) + " to 1e" + std::to_string(x1) + " s, a line each decade");
    const analysis::Deviation d = kDeviationOrder[static_cast<std::size_t>(std::clamp(cmboDeviation.listIndex(), 0, 6))];
    const std::string unit = UnitOf(series_.names[static_cast<std::size_t>(std::max(0, cmboOutput.listIndex()))]);
    lblAdevAxis.SetCaption(AxisName(d) + ": 1e" + std::to_string(y0) + " to 1e" + std::to_string(y1) + " " +
                           (d == analysis::Deviation::Tdev ? unit + " s" : unit));
}

}  // namespace qvin::ui
