#pragma once
// The strip chart's drawing: one chart per output, stacked, each with its own value axis
// and all over the same time range, and a row below them where the new-data and alarm
// flags are marked. It draws the reduced readings (the extremes per pixel column), so a
// redraw costs the same for ten seconds of readings as for ten minutes.

#include <array>
#include <vector>
#include <cstdint>
#include <functional>
#include <optional>
#include <utility>

#include <QLabel>
#include <QWidget>

#include "ui/chart/frm_strip_chart.h"

class QChart;
class QKeyEvent;
class QChartView;
class QCategoryAxis;
class QLineSeries;
class QValueAxis;

namespace qvin::qt {

class ChartPanel : public QWidget {
public:
    explicit ChartPanel(QWidget* parent = nullptr);
    static constexpr int kMargin = 4;  // the charts' own margins, left and right

    // Draws what `shown` holds; `shown.data` must stay valid until the next call (the
    // value under the mouse is looked up there).
    void Draw(const ui::frmStripChart::Shown& shown);
    // What the last Draw cost, in microseconds.
    std::int64_t lastDrawUs() const { return lastDrawUs_; }
    // What painting the charts has cost since the last call, in microseconds.
    std::int64_t TakePaintUs() {
        const std::int64_t us = paintNs_ / 1000;
        paintNs_ = 0;
        return us;
    }
    // How many pixel columns the last Draw reduced the readings to.
    int columns() const { return columns_; }
    // A line above the charts saying what they show (a picture on its own); none by default.
    void SetHeading(const QString& text);
    // The text under the charts: the reading nearest the mouse.
    QLabel* hoverLabel() const { return hover_; }
    // The reading nearest to `pos` (in the panel's coordinates) as the hover line says it,
    // or where the chart holds only extremes, those of the pixel column with its times;
    // empty when the mouse is over no chart or there are no readings.
    QString TextAt(QPoint pos) const;

    // The user moving through time: wheel notches (positive: in) at a share of the plots'
    // width, a drag by a share of it (positive: to the right), a key while the panel has
    // the focus.
    std::function<void(double notches, double at)> onWheel;
    std::function<void(double share)> onDrag;
    std::function<void(const QKeyEvent& key)> onKey;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    struct Plot {
        QChartView* view = nullptr;
        QChart* chart = nullptr;
        QLineSeries* line = nullptr;
        QCategoryAxis* time = nullptr;   // the flags chart's: labels at round times
        QCategoryAxis* offset = nullptr;  // the charts above: milliseconds from the left edge, lines at the same times
        QValueAxis* value = nullptr;
        std::vector<QLineSeries*> more;  // the line's stretches after a gap in the readings
    };
    Plot NewPlot(const QString& title);
    // Draws `stretches` as lines apart (no line across a gap), the first into `first`, the
    // rest into series kept in `more` (made like `first`, left out of the legend).
    void DrawStretches(QChart* chart, QLineSeries* first, std::vector<QLineSeries*>& more, const std::vector<QList<QPointF>>& stretches);
    // One output's `lines` (its readings from `lo` to `hi`), its value axis round about them
    // and its time marks (at `marksMs`, named by their index).
    void DrawValues(Plot& p, const ui::frmStripChart::Shown& shown, const QList<qreal>& marksMs, const QStringList& markIndexes,
                    const std::vector<QList<QPointF>>& lines, float lo, float hi);
    void AlignCharts();
    // The plots' time axis in the panel's coordinates: its left edge and width.
    std::pair<qreal, qreal> TimeAxisSpan() const;

    std::array<Plot, ui::kChartSeries> plots_;
    Plot flags_;
    QLineSeries* newData_ = nullptr;
    QLineSeries* alarm_ = nullptr;
    std::vector<QLineSeries*> moreNewData_, moreAlarm_;
    QLabel* hover_ = nullptr;
    QLabel* heading_ = nullptr;
    ui::frmStripChart::Shown shown_;
    std::int64_t lastDrawUs_ = 0;
    std::int64_t paintNs_ = 0;
    int columns_ = 0;
    std::optional<qreal> dragFrom_;  // where a drag last was, in the panel's coordinates
};

}  // namespace qvin::qt
