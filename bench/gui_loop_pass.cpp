// One pass of the main window's read loop at the smallest loop delay (10 ms), with the
// real windows (offscreen, or under X11 with QT_QPA_PLATFORM=xcb), the real clock and the
// simulated USB adapter. The program's own cost per pass (widgets, dial, events, data log)
// is the time a pass takes outside its waits: six register reads of 0.1 ms, 1 ms after the
// status and ten delay slices of 0.5 ms, and the simulated adapter's time for the six
// two-word transfers. The clock the program waits on records the time spent waiting, so
// the cost is measured in the same passes; a second figure compares the passes with
// separate rounds of the same waits alone, as a cross-check.

#include <QApplication>
#include <QLabel>
#include <QTimer>

#include <map>

#include <algorithm>
#include <chrono>
#include <string>
#include <utility>
#include <vector>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <stdlib.h>  // mkdtemp

#include "core/clock.h"
#include "bench/load.h"
#include "bench/ordinary_user.h"
#include "qt/gui_program.h"
#include "qt/numeric_locale.h"
#include "sim/sim_usb.h"

// What one register read over the simulated adapter takes besides its pause: two bus round
// trips, two words clocked at 1 MHz and one delay of 25 us between them.
constexpr std::int64_t kAdapterReadNs = 2 * qvin::sim::kBulkRoundTripNs + 2 * 16'000 + 25'000;

// The real clock, and the time spent inside it waiting: pauses, and the simulated
// adapter's transfers.
class WaitRecordingClock final : public qvin::Clock {
public:
    void Spin(std::int32_t outer, std::int32_t inner) override { Timed([&] { real_.Spin(outer, inner); }); }
    std::int64_t NowNs() const override { return real_.NowNs(); }
    void SpinUntil(std::int64_t deadlineNs) override {
        Timed([&] { real_.SpinUntil(deadlineNs); });
        Late(deadlineNs);
    }
    void SleepUntil(std::int64_t deadlineNs) override { Timed([&] { real_.SleepUntil(deadlineNs); }); }
    std::int64_t ResolutionNs() const override { return real_.ResolutionNs(); }
    void Elapse(std::int64_t ns) override {
        const std::int64_t deadline = real_.NowNs() + ns;
        Timed([&] { real_.Elapse(ns); });
        Late(deadline);
    }
    std::int64_t waitedNs = 0;
    // How late each wait ended (a pause's spin, an adapter transfer), while `lateness` is set.
    std::vector<std::int64_t>* lateness = nullptr;

private:
    void Late(std::int64_t deadlineNs) {
        if (lateness) lateness->push_back(real_.NowNs() - deadlineNs);
    }
    template <typename F>
    void Timed(F wait) {
        const std::int64_t t0 = real_.NowNs();
        wait();
        waitedNs += real_.NowNs() - t0;
    }
    qvin::RealClock real_;
};

// Counts paint events and relayouts per widget (QVIN_BENCH_PAINTS=1): what a pass redraws.
class PaintCounter : public QObject {
public:
    std::map<std::string, int> paints, layouts;

protected:
    bool eventFilter(QObject* o, QEvent* e) override {
        if (e->type() == QEvent::Paint || e->type() == QEvent::LayoutRequest) {
            auto* w = qobject_cast<QWidget*>(o);
            std::string name = w ? w->metaObject()->className() : "?";
            if (w && !w->accessibleName().isEmpty()) name.append(1, ' ').append(w->accessibleName().toStdString());
            else if (auto* l = qobject_cast<QLabel*>(o)) name += " '" + l->text().toStdString() + "'";
            ++(e->type() == QEvent::Paint ? paints : layouts)[name];
        }
        return false;
    }
};

struct Round {
    double ms = 0;        // the round's time
    double waitedMs = 0;  // of which spent waiting
    int passes = 0;
};

// One round of the read loop into its own data log, stopped once it has run for
// `seconds` from its start.
Round LoopRound(qvin::ui::frmQvin27319& w, WaitRecordingClock& clock, double seconds, int& round0) {
    w.txtFileIndex.UserType(std::to_string(++round0));
    const auto t0 = std::chrono::steady_clock::now();
    QTimer stopper;
    QObject::connect(&stopper, &QTimer::timeout, [&] {
        if (w.LoopRunning && std::chrono::steady_clock::now() - t0 >= std::chrono::duration<double>(seconds))
            w.cmdStop.UserClick();
    });
    stopper.start(5);
    const std::int64_t waited0 = clock.waitedNs;
    w.CmdRdLoop.UserClick();
    Round r;
    r.ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    r.waitedMs = static_cast<double>(clock.waitedNs - waited0) / 1e6;
    r.passes = std::atoi(w.lblLoopCount.caption().c_str());
    return r;
}

// Rounds of the loop and of its waits alone alternate, so that a change of the machine's
// speed during the run touches both alike; medians over the rounds are reported.
void Rounds(qvin::qt::GuiProgram& gui, WaitRecordingClock& clock, double seconds, const char* mode, int& round0) {
    qvin::ui::frmQvin27319& w = gui.app->main;
    const qvin::qt::PaintPacer& pacer = *gui.mainView->pacer();
    const int rounds = 9;
    std::vector<double> passMs, ownMs, waitMs, paintsPerPass;
    std::vector<std::int64_t> loopLate, aloneLate;
    int passes = 0, alonePasses = 0;
    LoopRound(w, clock, seconds / 2, round0);  // a first round warms caches and fonts, and is not counted
    for (int round = 0; round < rounds; ++round) {
        const qint64 paints0 = pacer.Paints();
        clock.lateness = &loopLate;
        const Round r = LoopRound(w, clock, seconds, round0);
        clock.lateness = nullptr;
        if (r.passes <= 0) {
            std::puts("no pass completed");
            std::exit(1);
        }
        passes += r.passes;
        passMs.push_back(r.ms / r.passes);
        ownMs.push_back((r.ms - r.waitedMs) / r.passes);
        paintsPerPass.push_back(static_cast<double>(pacer.Paints() - paints0) / r.passes);

        const auto w0 = std::chrono::steady_clock::now();
        clock.lateness = &aloneLate;
        alonePasses += r.passes;
        for (int i = 0; i < r.passes; ++i) {
            for (int reg = 0; reg < 6; ++reg) {
                gui.p->Delay(0.1f);
                clock.Elapse(kAdapterReadNs);
            }
            gui.p->Delay(1.0f);
            for (int slice = 0; slice < 10; ++slice) gui.p->Delay(0.5f);
        }
        clock.lateness = nullptr;
        waitMs.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - w0).count() / r.passes);
    }
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    const double perPass = median(passMs), waitsReal = median(waitMs);
    const double waits = 6 * (0.1 + kAdapterReadNs * 1e-6) + 1.0 + 10 * 0.5;
    std::printf("%s: passes: %d in %d rounds\n", mode, passes, rounds);
    std::printf("  time per pass (median):              %.3f ms\n", perPass);
    std::printf("  mandatory waits, nominal:            %.3f ms\n", waits);
    std::printf("  the program's own cost:              %.3f ms per pass (outside its waits; rounds %.3f to %.3f)\n",
                median(ownMs), *std::min_element(ownMs.begin(), ownMs.end()), *std::max_element(ownMs.begin(), ownMs.end()));
    std::printf("  window paints:                       %.2f per pass, %.3f ms each (recent average)\n",
                median(paintsPerPass), static_cast<double>(pacer.PaintCostNs()) / 1e6);
    // The waits alone, in rounds of their own: a pass minus these also counts any waits
    // that run longer inside the loop than alone (under load, the competing threads
    // take the processor from a pause's last stretch more often after work).
    std::printf("  cross-check: the waits alone (median) %.3f ms; time per pass minus these: %.3f ms\n", waitsReal,
                perPass - waitsReal);
    // Where the waits lose time: how late each ended, in the loop and alone.
    for (auto* late : {&loopLate, &aloneLate}) {
        std::sort(late->begin(), late->end());
        const auto at = [&](double q) { return static_cast<double>((*late)[static_cast<std::size_t>(q * static_cast<double>(late->size() - 1))]) / 1e3; };
        double sum = 0, over100 = 0;
        for (const std::int64_t ns : *late) {
            sum += static_cast<double>(ns);
            if (ns > 100'000) over100 += static_cast<double>(ns);
        }
        const int n = late == &loopLate ? passes : alonePasses;
        std::printf("  waits ending late, %-6s median %.1f us, p90 %.1f, p99 %.1f, max %.0f; %.3f ms per pass, %.3f ms of it in waits over 0.1 ms late\n",
                    late == &loopLate ? "loop:" : "alone:", at(0.5), at(0.9), at(0.99), at(1.0), sum / n / 1e6, over100 / n / 1e6);
    }
}

// The strip chart's cost: rounds with the chart closed and open (on the 10 min span, with
// ten minutes of readings at 100 a second already in it) alternate; the difference of
// the median pass times is what the chart adds to a pass.
void ChartRounds(qvin::qt::GuiProgram& gui, WaitRecordingClock& clock, double seconds, int& round0) {
    qvin::ui::frmQvin27319& w = gui.app->main;
    qvin::ui::frmStripChart& chart = gui.app->chart;
    const auto now = std::chrono::system_clock::now();
    for (int i = 60'000; i > 0; --i) {
        qvin::ui::ChartSample s;
        s.time = now - std::chrono::milliseconds(10 * i);
        const float angle = static_cast<float>(i % 6000) * 0.06f;
        s.values = {3.3f, 0.0f, 25.0f, angle, angle > 180 ? angle - 360 : angle};
        s.newData = true;
        s.alarm = angle > 90;
        chart.AddReading(s);
    }
    gui.chartView->resize(900, 760);
    for (const int span : {2, 1}) {
        chart.optSpan(span).UserClick();
        const int rounds = 7;
        std::vector<double> closedMs, openMs, drawMs;
        for (int round = 0; round < rounds; ++round) {
            for (const bool open : {false, true}) {
                if (open) gui.tk.Show(chart);
                else chart.Hide();
                QCoreApplication::processEvents();
                const Round r = LoopRound(w, clock, seconds, round0);
                (open ? openMs : closedMs).push_back(r.ms / std::max(1, r.passes));
                if (open) drawMs.push_back(static_cast<double>(gui.chartView->panel()->lastDrawUs()) / 1000.0);
            }
        }
        std::sort(closedMs.begin(), closedMs.end());
        std::sort(openMs.begin(), openMs.end());
        std::sort(drawMs.begin(), drawMs.end());
        std::printf("strip chart, %s span (%zu readings held):\n", span == 2 ? "10 min" : "1 min", chart.live.samples().size());
        std::printf("  time per pass, chart closed (median): %.3f ms\n", closedMs[rounds / 2]);
        std::printf("  time per pass, chart open (median):   %.3f ms\n", openMs[rounds / 2]);
        std::printf("  added by the chart:                   %.3f ms per pass\n", openMs[rounds / 2] - closedMs[rounds / 2]);
        std::printf("  one redraw, reduction and series (median): %.2f ms\n", drawMs[rounds / 2]);
    }
}

// The run's settings and data logs, in a folder of its own (two runs at once, or another
// user's, never share it), removed however the run ends.
struct RunFolder {
    std::filesystem::path path;
    RunFolder() {
        std::string name = (std::filesystem::temp_directory_path() / "qvin-bench-gui-XXXXXX").string();
        if (!mkdtemp(name.data())) throw std::runtime_error("cannot make a folder in " + std::filesystem::temp_directory_path().string());
        path = name;
    }
    ~RunFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
};

int main(int argc, char** argv) {
    qvin::bench::AsAnOrdinaryUserIfAsked();
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");  // QT_QPA_PLATFORM=xcb to run under xvfb
    QApplication application(argc, argv);
    qvin::qt::KeepNumbersWithAPoint();
    const RunFolder run;
    const std::filesystem::path& folder = run.path;
    if (!qvin::SaveConfig({qvin::Interface::UsbAdapter, 0, 0}, folder / qvin::kSettingsFileName).empty()) return 1;
    qvin::ui::AppConfig config;
    config.programFolder = folder;
    config.dataFolder = folder;
    config.settingsFile = folder / qvin::kSettingsFileName;

    WaitRecordingClock clock;
    qvin::qt::GuiProgram gui(clock, "sim", config);
    gui.p->timer.FinalTrialMs = 300.0f;
    gui.Start();
    if (!std::getenv("QVIN_BENCH_HIDDEN")) gui.mainView->show();
    gui.app->Start();
    qvin::ui::frmQvin27319& w = gui.app->main;
    if (std::getenv("QVIN_BENCH_NODIAL")) gui.mainView->dial()->hide();
    w.txtLoopDelay.UserType("10");
    w.chkDatalog.UserClick();  // the log line is part of a pass, and it counts the passes

    const double seconds = argc > 1 ? std::atof(argv[1]) : 0.5;
    const std::string mode = argc > 2 ? argv[2] : "both";
    int round0 = 0;
    PaintCounter counter;
    if (std::getenv("QVIN_BENCH_PAINTS")) {
        application.installEventFilter(&counter);
        Rounds(gui, clock, seconds, "counting paints", round0);
        application.removeEventFilter(&counter);
        const int passes = std::atoi(w.lblLoopCount.caption().c_str());
        for (const auto* kind : {&counter.paints, &counter.layouts}) {
            std::printf("%s in the last round's %d passes and all others:\n", kind == &counter.paints ? "paints" : "layouts", passes);
            std::vector<std::pair<int, std::string>> top;
            for (const auto& [name, n] : *kind) top.push_back({n, name});
            std::sort(top.rbegin(), top.rend());
            for (std::size_t i = 0; i < top.size() && i < 25; ++i) std::printf("  %6d  %s\n", top[i].first, top[i].second.c_str());
        }
        return 0;
    }
    if (mode == "chart") {
        ChartRounds(gui, clock, seconds, round0);
        return 0;
    }
    if (mode != "loaded") Rounds(gui, clock, seconds, "quiet", round0);
    if (mode != "quiet") {
        qvin::bench::Load load;
        Rounds(gui, clock, seconds, "loaded (a busy thread per core)", round0);
    }
    return 0;
}
