#include "ui/chart/frm_strip_chart.h"

#include "core/file_safety.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "device/data_log_reader.h"
#include "ui/app.h"

namespace qvin::ui {

namespace {
constexpr const char* kSpanCaptions[] = {"10 s", "1 min", "10 min"};
}

frmStripChart::frmStripChart(App& app) : Window(app.tk, "frmStripChart", "Strip Chart"), app_(app) {
    for (int i = 0; i < kChartSeries; ++i) {
        CheckBox& c = chkSeries.Add(i, "chkSeries(" + std::to_string(i) + ")");
        c.SetCaption(kChartSeriesNames[i]);
        c.SetValue(1);
        c.onClick = [this, i] { chkSeries_Click(i); };
    }
    for (int i = 0; i < 3; ++i) {
        OptionButton& o = optSpan.Add(i, "optSpan(" + std::to_string(i) + ")");
        o.SetCaption(kSpanCaptions[i]);
        o.JoinGroup(&spans_);
        spans_.push_back(&o);
    }
    optSpan(span_).Select();
    for (int i = 0; i < 3; ++i) optSpan(i).onClick = [this, i] { optSpan_Click(i); };
    cmdPause.SetCaption("Pause");
    cmdPause.SetToolTip("Hold the chart still; readings go on being collected");
    cmdExportPng.SetCaption("Export PNG...");
    cmdExportPng.SetToolTip("Save the chart as shown as a PNG picture");
    cmdExportCsv.SetCaption("Export CSV...");
    cmdExportCsv.SetToolTip("Save the readings shown as CSV, with ISO 8601 times");
    cmdOpenLog.SetCaption("Open Data Log...");
    cmdOpenLog.SetToolTip("Show a data log written by this program");
    cmdLive.SetCaption("Live");
    cmdLive.SetToolTip("Back to the live readings");
    cmdLive.SetVisible(false);
    cmdClose.SetCaption("Close");
    cmdAnalysis.SetCaption("Analysis...");
    cmdAnalysis.SetToolTip("Noise and stability of the readings shown: statistics and Allan deviation");
    lblSource.SetCaption("Live readings");

    cmdPause.onClick = [this] { cmdPause_Click(); };
    cmdExportPng.onClick = [this] { cmdExportPng_Click(); };
    cmdExportCsv.onClick = [this] { cmdExportCsv_Click(); };
    cmdOpenLog.onClick = [this] { cmdOpenLog_Click(); };
    cmdLive.onClick = [this] { cmdLive_Click(); };
    cmdClose.onClick = [this] { cmdClose_Click(); };
    cmdAnalysis.onClick = [this] { cmdAnalysis_Click(); };
    Register({&cmdPause, &cmdExportPng, &cmdExportCsv, &cmdOpenLog, &cmdLive, &cmdClose, &cmdAnalysis, &lblSource});
    Register(chkSeries);
    Register(optSpan);
}

void frmStripChart::cmdAnalysis_Click() { app_.analysis.ShowChart(); }

void frmStripChart::AddReading(const ChartSample& s) {
    live.Add(s);
    if (!showingLog_ && !paused_) Changed();
}

frmStripChart::Shown frmStripChart::shown() const {
    Shown v;
    for (int i = 0; i < kChartSeries; ++i) v.visible[static_cast<std::size_t>(i)] = chkSeries(i).value() != 0;
    if (showingLog_) {
        v.data = &log;
        v.log = true;
        v.from = log.oldest().value_or(ChartClock::time_point{});
        v.to = log.newest().value_or(v.from);
        if (v.to <= v.from) v.to = v.from + std::chrono::seconds(1);
        return v;
    }
    v.data = &live;
    v.to = paused_ ? pausedAt_ : live.newest().value_or(ChartClock::now());
    v.from = v.to - kSpans[static_cast<std::size_t>(span_)];
    return v;
}

void frmStripChart::chkSeries_Click(int) { Changed(); }

void frmStripChart::optSpan_Click(int index) {
    span_ = index;
    Changed();
}

void frmStripChart::cmdPause_Click() {
    paused_ = !paused_;
    if (paused_) pausedAt_ = live.newest().value_or(ChartClock::now());
    cmdPause.SetCaption(paused_ ? "Resume" : "Pause");
    Changed();
}

void frmStripChart::cmdExportPng_Click() {
    const std::string file = app_.tk.AskFile(*this, true, "Export the chart", "PNG pictures (*.png)", "strip-chart.png");
    if (file.empty()) return;
    if (const std::string why = app_.tk.SaveImage(*this, file); !why.empty())
        app_.tk.Message("The chart could not be saved.\r\n" + why);
}

void frmStripChart::cmdExportCsv_Click() {
    const std::string file = app_.tk.AskFile(*this, true, "Export the readings", "CSV files (*.csv)", "strip-chart.csv");
    if (file.empty()) return;
    const Shown v = shown();
    if (const std::string why = WriteWholeFile(file, v.data->Csv(v.from, v.to)); !why.empty())
        app_.tk.Message("The readings could not be saved.\r\n" + why);
}

void frmStripChart::cmdOpenLog_Click() {
    const std::string file = app_.tk.AskFile(*this, false, "Open a data log", "Data logs (*.txt);;All files (*)", "");
    if (file.empty()) return;
    std::string error;
    const auto contents = ReadDataLog(file, error);
    if (!contents) {
        app_.tk.Message("The data log could not be read.\r\n" + error);
        return;
    }
    log.Clear();
    const std::size_t passes = AddLog(log, *contents);
    showingLog_ = true;
    cmdLive.SetVisible(true);
    cmdPause.SetEnabled(false);
    for (int i = 0; i < 3; ++i) optSpan(i).SetEnabled(false);
    lblSource.SetCaption(DataLogSummary(std::filesystem::path(file).filename().string(), passes, *contents));
    lblSource.SetToolTip(file);
    Changed();
}

void frmStripChart::cmdLive_Click() {
    showingLog_ = false;
    cmdLive.SetVisible(false);
    cmdPause.SetEnabled(true);
    for (int i = 0; i < 3; ++i) optSpan(i).SetEnabled(true);
    lblSource.SetCaption("Live readings");
    lblSource.SetToolTip("");
    Changed();
}

}  // namespace qvin::ui
