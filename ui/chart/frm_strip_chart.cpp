#include "ui/chart/frm_strip_chart.h"

#include "core/file_safety.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
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
    cmdResetZoom.SetCaption("Reset Zoom");
    cmdResetZoom.SetToolTip("Back to the chosen span, following the newest readings (Home)");
    cmdResetZoom.SetEnabled(false);
    picChart.SetToolTip("Wheel: zoom; drag: move in time; + and -: zoom; arrows, Page Up and Page Down: move; End: follow the newest; Home: reset");

    cmdPause.onClick = [this] { cmdPause_Click(); };
    cmdExportPng.onClick = [this] { cmdExportPng_Click(); };
    cmdExportCsv.onClick = [this] { cmdExportCsv_Click(); };
    cmdOpenLog.onClick = [this] { cmdOpenLog_Click(); };
    cmdLive.onClick = [this] { cmdLive_Click(); };
    cmdClear.onClick = [this] { cmdClear_Click(); };
    cmdClose.onClick = [this] { cmdClose_Click(); };
    cmdAnalysis.onClick = [this] { cmdAnalysis_Click(); };
    cmdResetZoom.onClick = [this] { cmdResetZoom_Click(); };
    picChart.onWheel = [this](double notches, double at) { picChart_Wheel(notches, at); };
    picChart.onDrag = [this](double share) { picChart_Drag(share); };
    picChart.onKeyDown = [this](int key, int shift) { picChart_KeyDown(key, shift); };
    Register({&cmdPause, &cmdExportPng, &cmdExportCsv, &cmdOpenLog, &cmdLive, &cmdClose, &cmdAnalysis, &lblSource, &cmdClear,
              &cmdResetZoom, &picChart});
    Register(chkSeries);
    Register(optSpan);
}

void frmStripChart::cmdAnalysis_Click() { app_.analysis.ShowChart(); }

// The live readings start afresh: their statistics, the spans and All count from the next.
// Asked first: what is forgotten cannot be had again.
void frmStripChart::cmdClear_Click() {
    if (!app_.tk.Question("Forget the live readings taken so far? The chart and its statistics start again from the next reading.", "Clear"))
        return;
    live.Clear();
    ResetView();
}

void frmStripChart::AddReading(const ChartSample& s) {
    live.Add(s);
    if (!showingLog_ && !paused_) Changed();
}

ChartClock::time_point frmStripChart::Anchor() const {
    if (showingLog_) return log.newest().value_or(ChartClock::time_point{});
    return paused_ ? pausedAt_ : live.newest().value_or(ChartClock::now());
}

ChartClock::duration frmStripChart::SpanWidth() const {
    if (span_ + 1 < kSpanCount) return kSpans[static_cast<std::size_t>(span_)];
    // All: from the oldest reading held; a live chart without readings yet shows 10 s, a
    // log of one instant a second.
    const ChartClock::time_point to = Anchor();
    const ChartClock::duration least = showingLog_ ? ChartClock::duration(std::chrono::seconds(1)) : kSpans[0];
    return std::max(least, to - Data().oldest().value_or(to));
}

frmStripChart::Shown frmStripChart::shown() const {
    Shown v;
    for (int i = 0; i < kChartSeries; ++i) v.visible[static_cast<std::size_t>(i)] = chkSeries(i).value() != 0;
    v.data = &Data();
    v.log = showingLog_;
    v.logFile = logFile_;
    v.to = end_.value_or(Anchor());
    v.from = v.to - width_.value_or(SpanWidth());
    return v;
}

std::pair<ChartClock::time_point, ChartClock::time_point> frmStripChart::Held() const {
    const ChartClock::time_point newest = Anchor();
    return {Data().oldest().value_or(newest), newest};
}

ChartClock::duration frmStripChart::ClampWidth(ChartClock::duration width) const {
    const auto [oldest, newest] = Held();
    return std::clamp(width, std::min(kMinWidth, SpanWidth()), std::max(SpanWidth(), newest - oldest));
}

void frmStripChart::MoveTo(ChartClock::time_point to, ChartClock::duration width) {
    const auto [oldest, newest] = Held();
    width = ClampWidth(width);
    width_.reset();
    if (width != SpanWidth()) width_ = width;
    // Not past the newest reading, nor so far back that the oldest leaves the right edge.
    end_.reset();
    if (to < newest && width < newest - oldest) end_ = std::max(to, oldest + width);
    cmdResetZoom.SetEnabled(width_ || end_);
    Changed();
}

void frmStripChart::ResetView() {
    width_.reset();
    end_.reset();
    cmdResetZoom.SetEnabled(false);
    Changed();
}

void frmStripChart::cmdResetZoom_Click() { ResetView(); }

namespace {
// `d` times `factor`, within `limit` either way: a wheel turned or a drag as far as a script
// may ask (1e300) moves the view to its end, never past the clock's range.
ChartClock::duration Times(ChartClock::duration d, double factor, ChartClock::duration limit) {
    const double most = static_cast<double>(limit.count()), v = static_cast<double>(d.count()) * factor;
    return ChartClock::duration(static_cast<ChartClock::rep>(std::isnan(v) ? 0.0 : std::clamp(v, -most, most)));
}
}  // namespace

void frmStripChart::picChart_Wheel(double notches, double at) {
    const Shown v = shown();
    const ChartClock::duration width = v.to - v.from;
    const auto zoomed = ClampWidth(Times(width, std::pow(kWheelZoom, notches), ClampWidth(ChartClock::duration::max())));
    // While the chart follows live readings, the newest stays at the right edge; otherwise
    // the time under the mouse stays where it is.
    const bool following = !showingLog_ && !paused_ && !end_;
    if (following) return MoveTo(v.to, zoomed);
    const ChartClock::time_point t = v.from + std::chrono::duration_cast<ChartClock::duration>(width * std::clamp(at, 0.0, 1.0));
    MoveTo(t + std::chrono::duration_cast<ChartClock::duration>(zoomed * (1 - std::clamp(at, 0.0, 1.0))), zoomed);
}

void frmStripChart::picChart_Drag(double share) {
    const Shown v = shown();
    const ChartClock::duration width = v.to - v.from;
    const auto [oldest, newest] = Held();
    MoveTo(v.to - Times(width, share, newest - oldest + width), width);
}

void frmStripChart::picChart_KeyDown(int keyCode, int) {
    const Shown v = shown();
    const ChartClock::duration width = v.to - v.from;
    switch (keyCode) {
        case kKeyAdd:
        case kKeyPlus: return picChart_Wheel(std::log(0.5) / std::log(kWheelZoom), 0.5);
        case kKeySubtract:
        case kKeyMinus: return picChart_Wheel(std::log(2.0) / std::log(kWheelZoom), 0.5);
        case kKeyLeft: return picChart_Drag(0.25);
        case kKeyRight: return picChart_Drag(-0.25);
        case kKeyPageUp: return picChart_Drag(1);
        case kKeyPageDown: return picChart_Drag(-1);
        case kKeyEnd: return MoveTo(Anchor(), width);
        case kKeyHome: return ResetView();
        default: return;
    }
}

void frmStripChart::chkSeries_Click(int) { Changed(); }

void frmStripChart::optSpan_Click(int index) {
    span_ = index;
    ResetView();
}

void frmStripChart::cmdPause_Click() {
    paused_ = !paused_;
    if (paused_) pausedAt_ = live.newest().value_or(ChartClock::now());
    cmdPause.SetCaption(paused_ ? "Resume" : "Pause");
    lblSource.SetCaption(paused_ ? "Live readings, paused" : "Live readings");
    // Resumed, the chart follows the newest readings again, as zoomed as it was.
    if (!paused_) end_.reset();
    cmdResetZoom.SetEnabled(width_ || end_);
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
        if (!showingLog_) liveSpan_ = span_;
        showingLog_ = true;
        logFile_ = file;
        cmdLive.SetVisible(true);
        cmdPause.SetEnabled(false);
        cmdClear.SetEnabled(false);
        // The whole log first; the spans then show its end, and zoom and pan reach all of it.
        span_ = kSpanCount - 1;
        optSpan(span_).Select();
        lblSource.SetCaption(DataLogSummary(name, passes, parser.contents));
        lblSource.SetToolTip(file);
        ResetView();
    });
}

void frmStripChart::cmdLive_Click() {
    showingLog_ = false;
    logFile_.clear();
    cmdLive.SetVisible(false);
    cmdPause.SetEnabled(true);
    cmdClear.SetEnabled(true);
    span_ = liveSpan_;
    optSpan(span_).Select();
    lblSource.SetCaption(paused_ ? "Live readings, paused" : "Live readings");
    lblSource.SetToolTip("");
    ResetView();
}

}  // namespace qvin::ui
