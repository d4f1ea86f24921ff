#pragma once
// "Noise Analysis": how noisy and how stable an output is, over the strip chart's readings
// (the span it shows), a data log or a capture opened here: the statistics, the
// overlapping Allan deviation at octave averaging times with its 68 % intervals, the
// noise terms fitted to it, and the curve on log-log axes (labelled decades, error bars,
// the fitted model or slope guides); the plot and the table go out as PNG and CSV. A
// window beside the others.

#include <string>
#include <vector>

#include "analysis/deviations.h"
#include "analysis/noise_terms.h"
#include "analysis/series.h"
#include "analysis/stability.h"
#include "ui/chart/allan_plot_box.h"
#include "ui/controls.h"
#include "ui/window.h"

namespace qvin::ui {

class App;

class frmAnalysis : public Window {
public:
    explicit frmAnalysis(App& app);

    // Analyses what the strip chart shows now and shows the window.
    void ShowChart();
    void cmboOutput_Click();
    void cmboDeviation_Click() { Analyse(); }
    void cmdChart_Click() { ShowChart(); }
    void cmdOpen_Click();
    void cmdExportPng_Click();
    void cmdExportCsv_Click();
    void cmdClose_Click() { Hide(); }

    Label lblSource{"lblSource"}, lblOutput{"lblOutput"}, lblDeviation{"lblDeviation"};
    ComboBox cmboOutput{"cmboOutput", false};
    // The deviation the table and the plot show: oadev first, then as kDeviations lists them.
    ComboBox cmboDeviation{"cmboDeviation", false};
    TextBox txtStats{"txtStats"}, txtTable{"txtTable"};
    AllanPlotBox picAllan{"picAllan"};
    Button cmdChart{"cmdChart"}, cmdOpen{"cmdOpen"}, cmdClose{"cmdClose"};
    Button cmdExportPng{"cmdExportPng"}, cmdExportCsv{"cmdExportCsv"};

    // The curve shown now (tests and the view's tool tips read it).
    const std::vector<analysis::AllanPoint>& curve() const { return curve_; }

private:
    void Use(analysis::Series s, std::string source);
    void Analyse();
    void Draw();
    // The deviation chosen, and the output's name with its unit.
    analysis::Deviation Shown() const;
    std::string OutputName() const;
    // The plot as exported: under a title naming the output, the deviation and the source.
    analysis::AllanPicture Titled() const;

    App& app_;
    analysis::Series series_;
    std::vector<analysis::AllanPoint> curve_;
    analysis::NoiseTerms terms_;
};

// The figures of one output as the window shows them, for a text box.
std::string StatsText(const analysis::Stats& s, const analysis::NoiseTerms& f, const std::string& unit);
// The deviations the window offers, in its list's order, and how the list names them.
inline constexpr analysis::Deviation kDeviationOrder[] = {analysis::Deviation::Oadev, analysis::Deviation::Adev, analysis::Deviation::Mdev,
                                                           analysis::Deviation::Tdev, analysis::Deviation::Hdev, analysis::Deviation::Ohdev,
                                                           analysis::Deviation::Totdev};
std::string DeviationLabel(analysis::Deviation d);
std::string AllanTableText(const std::vector<analysis::AllanPoint>& curve, analysis::Deviation d);

}  // namespace qvin::ui
