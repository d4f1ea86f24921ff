#pragma once
// The strip chart's window: the outputs to show, the time span, pause, export, the data
// log viewer, and the charts. It redraws on a timer, never from the read loop itself, and
// only when something new is to be shown, so a loop at a hundred passes a second pays for
// a redraw a few times a second at most.

#include <cstdint>

#include <QTimer>
#include <QWidget>

#include "qt/chart_panel.h"
#include "ui/chart/frm_strip_chart.h"

namespace qvin::qt {

class StripChartView : public QWidget {
public:
    StripChartView(ui::frmStripChart& model, QWidget* parent);
    ChartPanel* panel() const { return panel_; }
    // Redraws now if anything changed since the last redraw.
    void Refresh();

    // The shortest time between redraws; longer when a redraw is slow (see Refresh).
    static constexpr int kMinIntervalMs = 150;
    static constexpr int kCostFactor = 30;  // the interval is at least this many times a redraw's cost

protected:
    void closeEvent(QCloseEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;

private:
    ui::frmStripChart& model_;
    ChartPanel* panel_ = nullptr;
    QTimer timer_;
    std::uint64_t drawn_ = ~std::uint64_t{0};
};

}  // namespace qvin::qt
