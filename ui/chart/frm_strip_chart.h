#pragma once
// "Strip Chart": the five outputs against time, fed by every Read and every pass of the
// read loop, over the last 10 s, 1 min, 10 min, 1 h or the whole session; pause and resume;
// each output shown or hidden; the chart as a PNG picture and the shown readings as CSV; a
// data log read back (with progress, cancellable) and shown in place of the live
// readings. A window beside the main window, not modal.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ui/chart/strip_chart_data.h"
#include "ui/controls.h"
#include "ui/window.h"

namespace qvin::ui {

class App;

class frmStripChart : public Window {
public:
    explicit frmStripChart(App& app);

    // A reading from the main window (a Read or a loop pass).
    void AddReading(const ChartSample& s);

    void chkSeries_Click(int index);
    void optSpan_Click(int index);
    void cmdPause_Click();
    void cmdClear_Click();
    void cmdExportPng_Click();
    void cmdExportCsv_Click();
    void cmdOpenLog_Click();
    void cmdLive_Click();
    void cmdClose_Click() { Hide(); }
    void cmdAnalysis_Click();
    void cmdResetZoom_Click();
    void picChart_Wheel(double notches, double at);
    void picChart_Drag(double share);
    void picChart_KeyDown(int keyCode, int shift);

    // What the chart shows now: its time range and readings, and which outputs.
    struct Shown {
        ChartClock::time_point from, to;
        const StripChartData* data = nullptr;
        std::array<bool, kChartSeries> visible{};
        bool log = false;
        std::string logFile;  // the data log shown, read again for what the chart no longer holds
    };
    Shown shown() const;
    // Counts every change of what is shown; a view redraws when it moves.
    std::uint64_t revision() const { return revision_; }
    // The spans; the last one is the whole session.
    static constexpr int kSpanCount = 5;
    static constexpr std::array<std::chrono::seconds, kSpanCount - 1> kSpans{
        std::chrono::seconds(10), std::chrono::seconds(60), std::chrono::seconds(600), std::chrono::seconds(3600)};
    // How far the time axis zooms in; out, it reaches the chosen span or all readings held.
    static constexpr ChartClock::duration kMinWidth = std::chrono::milliseconds(100);
    // What one wheel notch does to the shown width.
    static constexpr double kWheelZoom = 0.8;

    ControlArray<CheckBox> chkSeries;     // 0 to 4, the outputs
    ControlArray<OptionButton> optSpan;   // 0: 10 s, 1: 1 min, 2: 10 min, 3: 1 h, 4: all
    Button cmdPause{"cmdPause"}, cmdExportPng{"cmdExportPng"}, cmdExportCsv{"cmdExportCsv"}, cmdClear{"cmdClear"};
    Button cmdOpenLog{"cmdOpenLog"}, cmdLive{"cmdLive"}, cmdClose{"cmdClose"}, cmdAnalysis{"cmdAnalysis"};
    Button cmdResetZoom{"cmdResetZoom"};
    TimePlot picChart{"picChart"};
    Label lblSource{"lblSource"};

    StripChartData live;
    // A data log's readings: the last hour one by one, all of it summed up.
    StripChartData log{std::chrono::hours(1)};

private:
    void Changed() { ++revision_; }
    // The readings shown (the log's or the live ones), where they end (the newest, or where
    // the chart was paused), and the chosen span's width.
    const StripChartData& Data() const { return showingLog_ ? log : live; }
    ChartClock::time_point Anchor() const;
    ChartClock::duration SpanWidth() const;
    // The oldest reading held and where the readings end (Anchor): how far the view reaches.
    std::pair<ChartClock::time_point, ChartClock::time_point> Held() const;
    // Shows `width` ending at `to`, kept within the readings held; where it reaches the
    // newest, the chart follows them again.
    void MoveTo(ChartClock::time_point to, ChartClock::duration width);
    // `width` within what the chart zooms to: a tenth of a second, all the readings held.
    ChartClock::duration ClampWidth(ChartClock::duration width) const;
    void ResetView();
    App& app_;
    std::vector<OptionButton*> spans_;
    int span_ = 1;
    int liveSpan_ = 1;  // the span of the live readings while a log is shown
    // A zoomed width, and a right edge where the chart no longer follows the newest reading.
    std::optional<ChartClock::duration> width_;
    std::optional<ChartClock::time_point> end_;
    bool paused_ = false;
    ChartClock::time_point pausedAt_{};
    bool showingLog_ = false;
    std::string logFile_;  // the data log shown
    std::uint64_t revision_ = 0;
};

}  // namespace qvin::ui
