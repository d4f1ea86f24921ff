#pragma once
// "Noise Analysis": how noisy and how stable an output is, over the strip chart's readings
// (the span it shows), a data log or a capture opened here: the statistics, the
// overlapping Allan deviation at octave averaging times with its 68 % intervals, the
// noise terms fitted to it, and the Allan curve on log-log axes
// (decades as grid lines, error bars at each point). A window beside the others.

#include <string>
#include <vector>

#include "analysis/deviations.h"
#include "analysis/noise_terms.h"
#include "analysis/series.h"
#include "analysis/stability.h"
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
    void cmdClose_Click() { Hide(); }

    Label lblSource{"lblSource"}, lblOutput{"lblOutput"}, lblDeviation{"lblDeviation"};
    ComboBox cmboOutput{"cmboOutput", false};
    // The deviation the table and the plot show: oadev first, then as kDeviations lists them.
    ComboBox cmboDeviation{"cmboDeviation", false};
    TextBox txtStats{"txtStats"}, txtTable{"txtTable"};
    PictureBox picAllan{"picAllan", 480, 320};
    Label lblTauAxis{"lblTauAxis"}, lblAdevAxis{"lblAdevAxis"};
    Button cmdChart{"cmdChart"}, cmdOpen{"cmdOpen"}, cmdClose{"cmdClose"};

    // The curve shown now (tests and the view's tool tips read it).
    const std::vector<analysis::AllanPoint>& curve() const { return curve_; }

private:
    void Use(analysis::Series s, std::string source);
    void Analyse();
    void Draw();

    App& app_;
    analysis::Series series_;
    std::vector<analysis::AllanPoint> curve_;
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
