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
constexpr const char* kSpanCaptions[] = {"10 s", "1 min", "10 min", "1 h", "All"};
}

frmStripChart::frmStripChart(App& app) : Window(app.tk, "frmStripChart", "Strip Chart"), app_(app) {
    for (int i = 0; i < kChartSeries; ++i) {
        CheckBox& c = chkSeries.Add(i, "chkSeries(" + std::to_string(i) + ")");
        c.SetCaption(kChartSeriesNames[i]);
        c.SetValue(1);
        c.onClick = [this, i] { chkSeries_Click(i); };
    }
    for (int i = 0; i < kSpanCount; ++i) {
        OptionButton& o = optSpan.Add(i, "optSpan(" + std::to_string(i) + ")");
        o.SetCaption(kSpanCaptions[i]);
        o.JoinGroup(&spans_);
        spans_.push_back(&o);
    }
    optSpan(span_).Select();
    optSpan(kSpanCount - 1).SetToolTip("The whole session");
    for (int i = 0; i < kSpanCount; ++i) optSpan(i).onClick = [this, i] { optSpan_Click(i); };
    cmdPause.SetCaption("Pause");
    cmdPause.SetToolTip("Hold the chart still; readings go on being collected");
    cmdExportPng.SetCaption("Export PNG...");
    cmdExportPng.SetToolTip("Save the chart as shown as a PNG picture");
    cmdExportCsv.SetCaption("Export CSV...");
    cmdExportCsv.SetToolTip("Save the readings shown as CSV, with ISO 8601 times (live: those of the last ten minutes)");
    cmdOpenLog.SetCaption("Open Data Log...");
    cmdOpenLog.SetToolTip("Show a data log written by this program");
    cmdClear.SetCaption("Clear");
    cmdClear.SetToolTip("Forget the live readings so far (taken while no board answered, say); the data log keeps its own");
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
    cmdClear.onClick = [this] { cmdClear_Click(); };
    cmdClose.onClick = [this] { cmdClose_Click(); };
    cmdAnalysis.onClick = [this] { cmdAnalysis_Click(); };
    Register({&cmdPause, &cmdExportPng, &cmdExportCsv, &cmdOpenLog, &cmdLive, &cmdClose, &cmdAnalysis, &lblSource, &cmdClear});
    Register(chkSeries);
    Register(optSpan);
}

void frmStripChart::cmdAnalysis_Click() { app_.analysis.ShowChart(); }

// The live readings start afresh: their statistics, the spans and All count from the next.
void frmStripChart::cmdClear_Click() {
    live.Clear();
    Changed();
}

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
        v.logFile = logFile_;
        v.from = log.oldest().value_or(ChartClock::time_point{});
        v.to = log.newest().value_or(v.from);
        if (v.to <= v.from) v.to = v.from + std::chrono::seconds(1);
        return v;
    }
    v.data = &live;
    v.to = paused_ ? pausedAt_ : live.newest().value_or(ChartClock::now());
    if (span_ + 1 < kSpanCount) {
        v.from = v.to - kSpans[static_cast<std::size_t>(span_)];
    } else {
        v.from = live.oldest().value_or(v.to);
        if (v.to <= v.from) v.from = v.to - kSpans[0];
    }
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
    lblSource.SetCaption(paused_ ? "Live readings, paused" : "Live readings");
    Changed();
}

void frmStripChart::cmdExportPng_Click() {
    app_.tk.AskFile(*this, true, "Export the chart", "PNG pictures (*.png)", "strip-chart.png", [this](const std::string& file) {
        if (file.empty()) return;
        const Shown v = shown();
        const std::string heading = "QVIN27319 strip chart: " + lblSource.caption() + ", " + IsoTime(v.from) + " to " + IsoTime(v.to);
        if (const std::string why = app_.tk.SaveImage(*this, file, heading); !why.empty())
            app_.tk.Message("The chart could not be saved.\r\n" + why);
    });
}

void frmStripChart::cmdExportCsv_Click() {
    app_.tk.AskFile(*this, true, "Export the readings", "CSV files (*.csv)", "strip-chart.csv", [this](const std::string& file) {
        if (file.empty()) return;
        const Shown v = shown();
        const bool fromLog = showingLog_;
        const std::string logFile = logFile_;
        const StripChartData& data = *v.data;
        std::string why = SameFileRefusal(file, logFile);
        // Written as it goes, beside the target and renamed over it. A data log is read again
        // for it: the chart keeps only its last hour reading by reading.
        if (why.empty())
            why = ReplaceFile(file, [&](const std::filesystem::path& temp) -> std::string {
                std::ofstream out(temp, std::ios::binary);
                if (!fromLog) return data.WriteCsv(v.from, v.to, out) ? std::string() : std::string(std::strerror(errno));
                DataLogParser parser;
                LogReadings readings;
                std::string csv = CsvHeader();
                bool ok = true;
                parser.onPass = [&](std::size_t run, const LogPass& p) {
                    const auto s = readings.Next(run, parser.contents.runs[run], p);
                    if (!s) return;
                    AppendCsvRow(csv, *s);
                    if (csv.size() < (1 << 16)) return;
                    ok = ok && out.write(csv.data(), static_cast<std::streamsize>(csv.size()));
                    csv.clear();
                };
                if (const std::string unread = StreamDataLog(logFile, parser); !unread.empty()) return unread;
                ok = ok && out.write(csv.data(), static_cast<std::streamsize>(csv.size())) && out.flush();
                return ok ? std::string() : std::string(std::strerror(errno));
            });
        if (!why.empty()) app_.tk.Message("The readings could not be saved.\r\n" + why);
    });
}

void frmStripChart::cmdOpenLog_Click() {
    app_.tk.AskFile(*this, false, "Open a data log", "Data logs (*.txt);;All files (*)", "", [this](const std::string& file) {
        if (file.empty()) return;
        // Read as it streams past, into the chart's summaries: a log of any size in bounded
        // memory, with progress, and the user may cancel.
        const std::string name = std::filesystem::path(file).filename().string();
        StripChartData incoming(log.history());  // the chart as it was until the log is read whole
        DataLogParser parser;
        std::size_t passes = 0;
        const std::string error = StreamLogInto(incoming, file, parser, passes, [&](std::uint64_t done, std::uint64_t size) {
            const int percent = size ? static_cast<int>(std::min<std::uint64_t>(100, done * 100 / size)) : 100;
            return app_.tk.Progress(*this, "Reading " + name + "...", percent);
        });
        app_.tk.EndProgress(*this);
        if (!error.empty()) {
            if (error != kDataLogCancelled) app_.tk.Message("The data log could not be read.\r\n" + error);
            return;
        }
        log = std::move(incoming);
        showingLog_ = true;
        logFile_ = file;
        cmdLive.SetVisible(true);
        cmdPause.SetEnabled(false);
        cmdClear.SetEnabled(false);
        for (int i = 0; i < kSpanCount; ++i) optSpan(i).SetEnabled(false);
        lblSource.SetCaption(DataLogSummary(name, passes, parser.contents));
        lblSource.SetToolTip(file);
        Changed();
    });
}

void frmStripChart::cmdLive_Click() {
    showingLog_ = false;
    logFile_.clear();
    cmdLive.SetVisible(false);
    cmdPause.SetEnabled(true);
    cmdClear.SetEnabled(true);
    for (int i = 0; i < kSpanCount; ++i) optSpan(i).SetEnabled(true);
    lblSource.SetCaption(paused_ ? "Live readings, paused" : "Live readings");
    lblSource.SetToolTip("");
    Changed();
}

}  // namespace qvin::ui
