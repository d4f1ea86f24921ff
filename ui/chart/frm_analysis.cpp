#include "ui/chart/frm_analysis.h"

#include "analysis/deviation_table.h"
#include "analysis/deviations.h"
#include "core/file_safety.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

#include "device/data_log_reader.h"
#include "ui/app.h"

#include "core/number_text.h"

namespace qvin::ui {

namespace {

// A figure as the window writes it: six significant digits unless asked for fewer.
std::string Figure(double v, int digits = 6) { return FormatSignificant(v, digits); }

std::string UnitOf(const std::string& name) {
    const auto a = name.find('('), b = name.find(')');
    return a == std::string::npos || b == std::string::npos ? "units" : name.substr(a + 1, b - a - 1);
}

// "2 h 0 min", "5 min 3 s", "12.3 s".
std::string Duration(double seconds) {
    const auto whole = static_cast<long long>(seconds);
    if (whole >= 3600) return std::to_string(whole / 3600) + " h " + std::to_string(whole % 3600 / 60) + " min";
    if (whole >= 60) return std::to_string(whole / 60) + " min " + std::to_string(whole % 60) + " s";
    return Figure(seconds, 3) + " s";
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
    std::string t = "Samples\t" + std::to_string(s.count) + "\r\nMean\t" + Figure(s.mean) + " " + unit + "\r\nStd dev\t" + Figure(s.stdDev) + " " +
                    unit + "\r\nMin\t" + Figure(s.min) + " " + unit + "\r\nMax\t" + Figure(s.max) + " " + unit + "\r\nPeak-to-peak\t" +
                    Figure(s.peakToPeak) + " " + unit + "\r\n";
    if (!f.fitted)
        return t + "Noise terms\ttoo few averaging times (" + std::to_string(f.points) + ", " + std::to_string(analysis::kMinTermPoints) + " at least)\r\n";
    if (f.fromTau > 0) t += "Terms fitted from\t" + Figure(f.fromTau, 4) + " s (averaged readings below)\r\n";
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
    for (const analysis::AllanPoint& p : curve) t += Figure(p.tau, 4) + "\t" + Figure(p.adev, 4) + "\t" + Figure(p.lo, 3) + " to " + Figure(p.hi, 3) + "\r\n";
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
    picAllan.SetToolTip("The deviation against averaging time, log-log, with bars for the 68 % intervals and the noise model fitted (dashed)");
    cmdExportPng.SetCaption("Export PNG...");
    cmdExportPng.SetToolTip("Save the plot as a PNG picture, titled with the output, the source and the time between readings");
    cmdExportCsv.SetCaption("Export CSV...");
    cmdExportCsv.SetToolTip("Save the table as CSV: each averaging time with its deviation, 68 % interval, noise type and degrees of freedom");
    cmdExportPng.SetEnabled(false);
    cmdExportCsv.SetEnabled(false);
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
    cmdExportPng.onClick = [this] { cmdExportPng_Click(); };
    cmdExportCsv.onClick = [this] { cmdExportCsv_Click(); };
    Register({&lblSource, &lblOutput, &cmboOutput, &lblDeviation, &cmboDeviation, &txtStats, &txtTable, &picAllan, &cmdChart, &cmdOpen, &cmdClose,
              &cmdExportPng, &cmdExportCsv});
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

analysis::Deviation frmAnalysis::Shown() const {
    return kDeviationOrder[static_cast<std::size_t>(std::clamp(cmboDeviation.listIndex(), 0, 6))];
}

std::string frmAnalysis::OutputName() const {
    const auto k = static_cast<std::size_t>(std::max(0, cmboOutput.listIndex()));
    return k < series_.names.size() ? series_.names[k] : kChartSeriesNames[std::min<std::size_t>(k, kChartSeries - 1)];
}

void frmAnalysis::Analyse() {
    const int k = std::max(0, cmboOutput.listIndex());
    curve_.clear();
    terms_ = {};
    if (static_cast<std::size_t>(k) >= series_.columns.size() || series_.columns[static_cast<std::size_t>(k)].empty()) {
        txtStats.SetText("No readings");
        txtTable.SetText("");
        Draw();
        return;
    }
    const std::vector<double>& y = series_.columns[static_cast<std::size_t>(k)];
    const analysis::Deviation d = Shown();
    std::string why;
    if (series_.tau0 > 0) curve_ = analysis::DeviationCurve(y, series_.tau0, d, {}, &why);
    // The noise terms come from the overlapping Allan deviation whichever is shown.
    terms_ = analysis::FitNoiseTerms(d == analysis::Deviation::Oadev || series_.tau0 <= 0 ? curve_ : analysis::OctaveAdev(y, series_.tau0));
    txtStats.SetText(StatsText(analysis::Describe(y), terms_, UnitOf(series_.names[static_cast<std::size_t>(k)])));
    txtTable.SetText(!why.empty() ? "No " + analysis::DeviationName(d) + ": " + why
                     : curve_.empty() ? "Too few readings for a deviation (4 at least)"
                                      : AllanTableText(curve_, d));
    Draw();
}

// The curve with its intervals; the noise model over it where it is the Allan deviation
// the terms were fitted to (or the plain Allan one, which follows the same model).
void frmAnalysis::Draw() {
    const analysis::Deviation d = Shown();
    const std::string name = OutputName(), unit = UnitOf(name);
    analysis::AllanPicture picture;
    picture.axis = AxisName(d);
    analysis::AllanCurve c;
    c.name = name;
    c.unit = d == analysis::Deviation::Tdev ? unit + " s" : unit;
    c.points = curve_;
    if (d == analysis::Deviation::Oadev || d == analysis::Deviation::Adev) c.terms = terms_;
    picture.curves.push_back(std::move(c));
    picAllan.SetPicture(std::move(picture));
    cmdExportPng.SetEnabled(!curve_.empty());
    cmdExportCsv.SetEnabled(!curve_.empty());
}

// What the exported picture says above the plot: what it shows, then where from.
analysis::AllanPicture frmAnalysis::Titled() const {
    analysis::AllanPicture picture = picAllan.picture();
    picture.title = "QVIN27319 " + OutputName() + ": " + DeviationLabel(Shown()) + ", 68.3 % intervals\n" + lblSource.caption() + ", tau0 " +
                    Figure(series_.tau0, 4) + " s";
    return picture;
}

void frmAnalysis::cmdExportPng_Click() {
    app_.tk.AskFile(*this, true, "Export the plot", "PNG pictures (*.png)", "noise-analysis.png", [this](const std::string& file) {
        if (file.empty()) return;
        if (const std::string why = app_.tk.SavePlot(*this, file, Titled()); !why.empty()) app_.tk.Message("The plot could not be saved.\r\n" + why);
    });
}

void frmAnalysis::cmdExportCsv_Click() {
    app_.tk.AskFile(*this, true, "Export the table", "CSV files (*.csv)", "noise-analysis.csv", [this](const std::string& file) {
        if (file.empty()) return;
        std::string csv = analysis::DeviationCsvHeader(Shown());
        analysis::AppendDeviationCsv(csv, OutputName(), curve_);
        if (const std::string why = WriteWholeFile(file, csv); !why.empty()) app_.tk.Message("The table could not be saved.\r\n" + why);
    });
}

}  // namespace qvin::ui
