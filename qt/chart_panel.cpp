#include "qt/chart_panel.h"

#include <QLegendMarker>
#include <optional>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>

#include <QChart>
#include <QGraphicsLayout>
#include <QChartView>
#include <QDateTime>
#include <QCategoryAxis>
#include <QElapsedTimer>
#include <QFontMetricsF>
#include <QLineSeries>
#include <QMouseEvent>
#include <QWheelEvent>
#include <QKeyEvent>
#include <QTimer>
#include <QValueAxis>
#include <QVBoxLayout>

namespace qvin::qt {

namespace {

// A chart view that adds what its painting costs to a counter, so that the window can
// redraw less often where painting is slow.
class TimedChartView final : public QChartView {
public:
    TimedChartView(QChart* chart, QWidget* parent, std::int64_t& paintNs) : QChartView(chart, parent), paintNs_(paintNs) {}

protected:
    void paintEvent(QPaintEvent* e) override {
        QElapsedTimer timer;
        timer.start();
        QChartView::paintEvent(e);
        paintNs_ += timer.nsecsElapsed();
    }

private:
    std::int64_t& paintNs_;
};

qreal Ms(ui::ChartClock::time_point t) {
    return static_cast<qreal>(std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count());
}

QDateTime ToDateTime(ui::ChartClock::time_point t) {
    return QDateTime::fromMSecsSinceEpoch(std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count());
}

// Marks `axis` at `at` with `labels` over [min, max]; laid out again only when they changed.
void SetTicks(QCategoryAxis* axis, const QList<qreal>& at, const QStringList& labels, qreal min, qreal max) {
    bool same = axis->categoriesLabels() == labels;
    for (qsizetype i = 0; same && i < labels.size(); ++i) same = axis->endValue(labels[i]) == at[i];
    if (!same) {
        for (const QString& l : axis->categoriesLabels()) axis->remove(l);
        axis->setStartValue(min);
        for (qsizetype i = 0; i < labels.size(); ++i) axis->append(labels[i], at[i]);
    }
    if (axis->min() != min || axis->max() != max) axis->setRange(min, max);
}

QCategoryAxis* NewTimeAxis() {
    auto* axis = new QCategoryAxis();
    axis->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    return axis;
}

void Tidy(QChart* chart) {
    chart->legend()->hide();
    chart->setMargins(QMargins(ChartPanel::kMargin, 2, ChartPanel::kMargin, 2));
    // The room around the chart's own layout goes to the plots.
    chart->layout()->setContentsMargins(0, 0, 0, 0);
    chart->setBackgroundRoundness(0);
    // Animations would redraw for a while after every update: a chart fed ten times a
    // second would never stop animating.
    chart->setAnimationOptions(QChart::NoAnimation);
    QFont f = chart->titleFont();
    f.setPointSizeF(f.pointSizeF() * 0.9);
    f.setBold(true);
    chart->setTitleFont(f);
}

}  // namespace

ChartPanel::ChartPanel(QWidget* parent) : QWidget(parent) {
    setObjectName("picChart");
    // Keys move through time; the charts inside leave the focus to the panel.
    setFocusPolicy(Qt::StrongFocus);
    auto* layout = new QVBoxLayout(this);
    // Off the picture's edges when the panel is the whole picture (plot, Export PNG).
    layout->setContentsMargins(2 * kMargin, 0, 2 * kMargin, 0);
    layout->setSpacing(0);
    heading_ = new QLabel(this);
    heading_->setAlignment(Qt::AlignCenter);
    heading_->setWordWrap(true);
    QFont bold = heading_->font();
    bold.setBold(true);
    heading_->setFont(bold);
    heading_->setContentsMargins(0, kMargin, 0, kMargin);
    heading_->hide();
    layout->addWidget(heading_);
    for (int i = 0; i < ui::kChartSeries; ++i) {
        plots_[static_cast<std::size_t>(i)] = NewPlot(QString::fromUtf8(ui::kChartSeriesNames[i]));
        layout->addWidget(plots_[static_cast<std::size_t>(i)].view, 3);
    }

    // The flags: one row of marks for new data, one for alarms.
    flags_.chart = new QChart();
    Tidy(flags_.chart);
    // Each flag a trace that steps up while it is set, as a logic analyser shows it: one
    // line however many readings (markers would be an item each, too slow to redraw).
    newData_ = new QLineSeries();
    newData_->setName("New data");
    newData_->setPen(QPen(QColor(0, 150, 0), 2));
    alarm_ = new QLineSeries();
    alarm_->setName("Alarm");
    alarm_->setPen(QPen(QColor(220, 0, 0), 2));
    flags_.chart->addSeries(newData_);
    flags_.chart->addSeries(alarm_);
    flags_.time = NewTimeAxis();
    // Two rows of marks, named by the legend beside them.
    auto* rows = new QValueAxis();
    rows->setRange(0, 2);
    rows->setLabelsVisible(false);
    rows->setGridLineVisible(false);
    rows->setTickCount(2);
    flags_.chart->legend()->setVisible(true);
    flags_.chart->legend()->setAlignment(Qt::AlignTop);
    flags_.chart->addAxis(flags_.time, Qt::AlignBottom);
    flags_.chart->addAxis(rows, Qt::AlignLeft);
    for (QLineSeries* s : {newData_, alarm_}) {
        s->attachAxis(flags_.time);
        s->attachAxis(rows);
    }
    flags_.view = new TimedChartView(flags_.chart, this, paintNs_);
    flags_.view->setAccessibleName("Flags");
    flags_.view->setMouseTracking(true);
    flags_.view->setFocusPolicy(Qt::NoFocus);
    flags_.view->viewport()->installEventFilter(this);
    flags_.view->setRenderHint(QPainter::Antialiasing, false);
    // Room for the legend, two rows of marks and the time labels, which the chart would
    // otherwise cut to "...".
    // What they need and no more: the outputs' plots take the rest of the window.
    flags_.view->setFixedHeight(flags_.view->fontMetrics().height() * 15 / 2);
    layout->addWidget(flags_.view, 0);

    hover_ = new QLabel(this);
    hover_->setAccessibleName("Reading under the mouse");
    hover_->setMinimumHeight(hover_->fontMetrics().height() + 4);
    hover_->setIndent(2 * kMargin);  // in line with the charts' frames, off the window's edge
    layout->addWidget(hover_);
}

void ChartPanel::SetHeading(const QString& text) {
    heading_->setText(text);
    heading_->setVisible(!text.isEmpty());
}

void ChartPanel::AlignCharts() {
    // One moment at the same place in every chart: each chart's margins grow by what its
    // labels take less room than the roomiest chart's, on the left (value labels) and on
    // the right (the last time label, which only the bottom chart writes).
    struct Room {
        QChart* chart;
        qreal left, right;
    };
    std::vector<Room> rooms;
    qreal left = 0, right = 0;
    for (std::size_t i = 0; i <= plots_.size(); ++i) {
        const Plot& p = i < plots_.size() ? plots_[i] : flags_;
        if (i < plots_.size() && !p.view->isVisible()) continue;
        const QRectF area = p.chart->plotArea();
        const QMargins m = p.chart->margins();
        const Room r{p.chart, area.left() - m.left() + kMargin, p.chart->size().width() - area.right() - m.right() + kMargin};
        rooms.push_back(r);
        left = std::max(left, r.left);
        right = std::max(right, r.right);
    }
    for (const Room& r : rooms) {
        QMargins m = r.chart->margins();
        const int wantLeft = kMargin + static_cast<int>(std::lround(left - r.left));
        const int wantRight = kMargin + static_cast<int>(std::lround(right - r.right));
        if (m.left() != wantLeft || m.right() != wantRight) {
            m.setLeft(wantLeft);
            m.setRight(wantRight);
            r.chart->setMargins(m);
        }
    }
}

ChartPanel::Plot ChartPanel::NewPlot(const QString& title) {
    Plot p;
    p.chart = new QChart();
    Tidy(p.chart);
    p.chart->setTitle(title);
    p.line = new QLineSeries();
    p.line->setName(title);
    QPen pen(QColor(0, 70, 170));
    pen.setWidthF(1.0);
    p.line->setPen(pen);
    p.chart->addSeries(p.line);
    // The times are written once, under the flags at the bottom. The charts above count
    // milliseconds from the left edge instead, so that their axis stays put while the
    // time goes on: a moving axis makes the chart lay out the whole line again.
    p.offset = NewTimeAxis();
    p.offset->setLabelsVisible(false);
    p.value = new QValueAxis();
    p.value->setLabelFormat("%.6g");
    p.value->setTickCount(3);
    p.chart->addAxis(p.offset, Qt::AlignBottom);
    p.chart->addAxis(p.value, Qt::AlignLeft);
    p.line->attachAxis(p.offset);
    p.line->attachAxis(p.value);
    p.view = new TimedChartView(p.chart, this, paintNs_);
    p.view->setAccessibleName(title);
    p.view->setMouseTracking(true);
    p.view->setFocusPolicy(Qt::NoFocus);
    p.view->viewport()->installEventFilter(this);
    // Thin lines drawn without smoothing cost far less, and a strip chart wants them crisp.
    p.view->setRenderHint(QPainter::Antialiasing, false);
    return p;
}

namespace {

qreal spanMsOf(const ui::frmStripChart::Shown& shown) { return std::chrono::duration<qreal, std::milli>(shown.to - shown.from).count(); }

// The time axis's marks: at round times, as many as their labels fit side by side with room
// between them (the longest form, with milliseconds, decides whether it is needed). A mark
// whose label would reach past the right edge is left out, not cut off.
struct TimeMarks {
    QList<qreal> ms;
    QStringList labels, indexes;
};

TimeMarks MarkTimes(const ui::frmStripChart::Shown& shown, const QFont& font, qreal panelWidth, qreal plotWidth) {
    const QFontMetricsF timeFont(font);
    const qreal labelWidth = timeFont.horizontalAdvance(QStringLiteral("00:00:00.000"));
    const ui::TimeTicks ticks = ui::RoundTimeTicks(shown.from, shown.to, std::max(2, static_cast<int>(panelWidth / (1.5 * labelWidth))));
    TimeMarks marks;
    const qreal msPerPixel = spanMsOf(shown) / std::max(1.0, plotWidth);
    for (const ui::ChartClock::time_point t : ticks.at) {
        const QString label = ToDateTime(t).toString(QString::fromStdString(ticks.format));
        if (Ms(shown.to) - Ms(t) < (timeFont.horizontalAdvance(label) / 2 - ChartPanel::kMargin) * msPerPixel && !marks.ms.isEmpty()) continue;
        marks.ms.append(Ms(t));
        marks.labels.append(label);
        marks.indexes.append(QString::number(marks.indexes.size()));
    }
    return marks;
}

// A stretch without readings more than three of their usual intervals long (the median of
// the last readings held) is a gap: before a Start, after a Stop, between the runs of a log.
// Drawn from summaries, only a stretch well over a summary and a column is one: a summary
// marks the column it starts in.
qreal GapMs(const ui::frmStripChart::Shown& shown, int columns) {
    std::vector<double> intervals;
    const auto& held = shown.data->samples();
    const std::size_t n = held.size(), from = n > 1000 ? n - 1000 : 0;
    for (std::size_t k = from + 1; k < n; ++k) intervals.push_back(Ms(held[k].time) - Ms(held[k - 1].time));
    qreal gapMs = std::numeric_limits<qreal>::infinity();
    if (!intervals.empty()) {
        std::nth_element(intervals.begin(), intervals.begin() + static_cast<std::ptrdiff_t>(intervals.size() / 2), intervals.end());
        gapMs = 3.0 * std::max(intervals[intervals.size() / 2], 1.0);
    }
    const qreal resolutionMs = std::chrono::duration<qreal, std::milli>(shown.data->Resolution(shown.from, shown.to, columns)).count();
    if (resolutionMs > 0) gapMs = std::max(gapMs, 1.5 * (resolutionMs + spanMsOf(shown) / columns));
    return gapMs;
}

// Where each stretch of columns begins (the first column with readings after a gap), and
// which empty columns lie in a gap (or before the first reading, or after the last). No
// line crosses a gap; the flags are blank there.
struct Stretches {
    std::vector<bool> starts, inGap;
};

Stretches FindStretches(const std::vector<ui::ChartColumn>& cols, qreal gapMs) {
    Stretches s{std::vector<bool>(cols.size(), false), std::vector<bool>(cols.size(), true)};
    std::optional<qreal> lastEnd;
    for (std::size_t k = 0; k < cols.size(); ++k) {
        if (!cols[k].any) continue;
        if (!lastEnd || Ms(cols[k].from) - *lastEnd > gapMs) s.starts[k] = true;
        lastEnd = Ms(cols[k].to);
    }
    bool open = false;  // inside a stretch, going backwards: a later column with readings belongs to it
    for (std::size_t k = cols.size(); k-- > 0;) {
        if (cols[k].any) {
            s.inGap[k] = false;
            open = !s.starts[k];
        } else {
            s.inGap[k] = !open;
        }
    }
    return s;
}

// Output `i`'s lines, a list of points a stretch, from the left edge (`left`): each column's
// extremes in the order they came. `lo` and `hi` become the extremes drawn.
std::vector<QList<QPointF>> ValueLines(const std::vector<ui::ChartColumn>& cols, const Stretches& st, std::size_t i, qreal left, float& lo, float& hi) {
    std::vector<QList<QPointF>> lines;
    lo = std::numeric_limits<float>::max(), hi = std::numeric_limits<float>::lowest();
    for (std::size_t k = 0; k < cols.size(); ++k) {
        const ui::ChartColumn& c = cols[k];
        if (!c.any) continue;
        if (st.starts[k]) lines.emplace_back();
        QList<QPointF>& points = lines.back();
        const qreal x = (Ms(c.from) + Ms(c.to)) / 2 - left;
        const float first = c.minFirst[i] ? c.min[i] : c.max[i];
        const float second = c.minFirst[i] ? c.max[i] : c.min[i];
        points.append(QPointF(x, first));
        if (second != first) points.append(QPointF(x, second));
        lo = std::min(lo, c.min[i]);
        hi = std::max(hi, c.max[i]);
    }
    return lines;
}

// A flag's steps between `low` (off) and `high` (on): a point where it changes, and at both
// ends of each stretch of readings.
std::vector<QList<QPointF>> FlagSteps(const std::vector<ui::ChartColumn>& cols, const Stretches& st, bool ui::ChartColumn::*flag, qreal low, qreal high) {
    std::vector<QList<QPointF>> steps;
    bool last = false;
    qreal end = 0;
    for (std::size_t k = 0; k < cols.size(); ++k) {
        if (st.inGap[k]) continue;
        const bool on = cols[k].*flag;
        if (st.starts[k]) {
            if (!steps.empty()) steps.back().append(QPointF(end, last ? high : low));
            steps.emplace_back();
            steps.back().append(QPointF(Ms(cols[k].from), on ? high : low));
        } else if (on != last) {
            steps.back().append(QPointF(Ms(cols[k].from), last ? high : low));
            steps.back().append(QPointF(Ms(cols[k].from), on ? high : low));
        }
        last = on;
        if (cols[k].any) end = Ms(cols[k].to);
    }
    if (!steps.empty()) steps.back().append(QPointF(end, last ? high : low));
    return steps;
}

}  // namespace

void ChartPanel::DrawStretches(QChart* chart, QLineSeries* first, std::vector<QLineSeries*>& more,
                               const std::vector<QList<QPointF>>& stretches) {
    for (std::size_t k = 0; k < std::max<std::size_t>(1, stretches.size()) || k <= more.size(); ++k) {
        if (k > 0 && k > more.size()) {
            auto* line = new QLineSeries();
            line->setPen(first->pen());
            chart->addSeries(line);
            for (QAbstractAxis* axis : first->attachedAxes()) line->attachAxis(axis);
            for (QLegendMarker* marker : chart->legend()->markers(line)) marker->setVisible(false);
            more.push_back(line);
        }
        QLineSeries* line = k == 0 ? first : more[k - 1];
        if (k < stretches.size()) line->replace(stretches[k]);
        else if (line->count() > 0) line->clear();
    }
}

void ChartPanel::Draw(const ui::frmStripChart::Shown& shown) {
    QElapsedTimer timer;
    timer.start();
    shown_ = shown;
    if (!shown.data) return;
    const TimeMarks marks = MarkTimes(shown, flags_.time->labelsFont(), width(), flags_.chart->plotArea().width());
    // As many columns as the plots are wide: each gets the extremes of its readings.
    int columns = 0;
    for (std::size_t i = 0; i < plots_.size(); ++i) {
        plots_[i].view->setVisible(shown.visible[i]);
        if (shown.visible[i]) columns = std::max(columns, static_cast<int>(plots_[i].chart->plotArea().width()));
    }
    if (columns <= 0) columns = std::max(1, width() - 80);
    columns_ = columns;
    const std::vector<ui::ChartColumn> cols = shown.data->Reduce(shown.from, shown.to, columns);
    const Stretches stretches = FindStretches(cols, GapMs(shown, columns));
    // The legend: each output's mean, standard deviation and peak-to-peak over the span.
    const auto stats = shown.data->Stats(shown.from, shown.to);
    for (std::size_t i = 0; i < plots_.size(); ++i) {
        if (!shown.visible[i]) continue;
        const QString title = QString::fromStdString(ui::LegendText(static_cast<int>(i), stats[i]));
        if (plots_[i].chart->title() != title) plots_[i].chart->setTitle(title);
        float lo = 0, hi = 0;
        const std::vector<QList<QPointF>> lines = ValueLines(cols, stretches, i, Ms(shown.from), lo, hi);
        DrawValues(plots_[i], shown, marks.ms, marks.indexes, lines, lo, hi);
    }
    DrawStretches(flags_.chart, newData_, moreNewData_, FlagSteps(cols, stretches, &ui::ChartColumn::newData, 1.15, 1.85));
    DrawStretches(flags_.chart, alarm_, moreAlarm_, FlagSteps(cols, stretches, &ui::ChartColumn::alarm, 0.15, 0.85));
    SetTicks(flags_.time, marks.ms, marks.labels, Ms(shown.from), Ms(shown.to));
    // Once the charts have laid out their new labels, line them up (not from inside their
    // own layout, which does not expect its margins to change under it).
    QTimer::singleShot(0, this, [this] { AlignCharts(); });
    lastDrawUs_ = timer.nsecsElapsed() / 1000;
}

void ChartPanel::DrawValues(Plot& p, const ui::frmStripChart::Shown& shown, const QList<qreal>& marksMs, const QStringList& markIndexes,
                            const std::vector<QList<QPointF>>& lines, float lo, float hi) {
    const qreal left = Ms(shown.from), spanMs = Ms(shown.to) - left;
    QList<qreal> offsets;
    for (const qreal at : marksMs) offsets.append(at - left);
    SetTicks(p.offset, offsets, markIndexes, 0, spanMs);
    DrawStretches(p.chart, p.line, p.more, lines);
    if (lines.empty() || !std::isfinite(lo) || !std::isfinite(hi)) {
        if (p.value->min() != 0 || p.value->max() != 1) p.value->setRange(0, 1);
        return;
    }
    // Ticks at round values, no closer than 1.6 label heights (labels that would touch are
    // cut to "..." by the chart), at the ends of the axis too.
    const qreal labelHeight = QFontMetricsF(p.value->labelsFont()).height();
    const int room = std::clamp(static_cast<int>(p.chart->plotArea().height() / (1.6 * labelHeight)), 1, 6);
    const ui::ValueTicks axis = ui::RoundValueAxis(lo, hi, room);
    // Unchanged most of the time; a change lays the chart out again.
    if (p.value->tickCount() != axis.count) p.value->setTickCount(axis.count);
    if (p.value->min() != axis.bottom || p.value->max() != axis.top) p.value->setRange(axis.bottom, axis.top);
}

QString ChartPanel::TextAt(QPoint pos) const {
    if (!shown_.data || shown_.data->samples().empty()) return {};
    const Plot* over = nullptr;
    int series = -1;
    for (std::size_t i = 0; i < plots_.size(); ++i) {
        if (plots_[i].view->isVisible() && plots_[i].view->geometry().contains(pos)) {
            over = &plots_[i];
            series = static_cast<int>(i);
        }
    }
    if (flags_.view->geometry().contains(pos)) over = &flags_;
    if (!over) return {};
    const QPointF scene = over->view->mapToScene(over->view->viewport()->mapFrom(this, pos));
    const QPointF inChart = over->chart->mapFromScene(scene);
    if (!over->chart->plotArea().contains(inChart)) return {};
    const bool flags = over == &flags_;
    QAbstractSeries* anchor = flags ? static_cast<QAbstractSeries*>(newData_) : over->line;
    const qreal ms = over->chart->mapToValue(inChart, anchor).x() + (flags ? 0 : Ms(shown_.from));
    const auto t = ui::ChartClock::time_point(std::chrono::duration_cast<ui::ChartClock::duration>(
        std::chrono::milliseconds(static_cast<std::int64_t>(std::llround(ms)))));

    // The reading nearest that time, where the chart holds its readings one by one.
    const auto& samples = shown_.data->samples();
    const auto column = (shown_.to - shown_.from) / std::max(1, columns_);
    if (samples.empty() || t < samples.front().time - column) {
        // Older readings are held as their extremes: the pixel column's, with its times.
        if (t < shown_.from || t > shown_.to) return {};
        const std::vector<ui::ChartColumn> c = shown_.data->Reduce(t - column / 2, t + column / 2, 1);
        if (c.empty() || !c.front().any) return "no reading";
        const ui::ChartColumn& col = c.front();
        QString text = ToDateTime(col.from).toString("hh:mm:ss.zzz") + " to " + ToDateTime(col.to).toString("hh:mm:ss.zzz");
        if (series >= 0 && over != &flags_) {
            const std::size_t k = static_cast<std::size_t>(series);
            text += QString("   %1 = %2").arg(QString::fromUtf8(ui::kChartSeriesNames[series])).arg(static_cast<double>(col.min[k]), 0, 'f', 3);
            if (col.max[k] != col.min[k]) text += QString(" to %1").arg(static_cast<double>(col.max[k]), 0, 'f', 3);
        }
        text += col.newData ? "   New data" : "   Old data";
        if (col.alarm) text += "   Alarm";
        return text;
    }
    auto it = std::lower_bound(samples.begin(), samples.end(), t,
                               [](const ui::ChartSample& s, ui::ChartClock::time_point v) { return s.time < v; });
    if (it == samples.end()) --it;
    if (it != samples.begin() && t - std::prev(it)->time < it->time - t) --it;
    if (it->time < shown_.from || it->time > shown_.to) return {};
    QString text = ToDateTime(it->time).toString("hh:mm:ss.zzz");
    if (series >= 0 && over != &flags_)
        text += QString("   %1 = %2").arg(QString::fromUtf8(ui::kChartSeriesNames[series])).arg(static_cast<double>(it->values[static_cast<std::size_t>(series)]), 0, 'f', 3);
    text += it->newData ? "   New data" : "   Old data";
    if (it->alarm) text += "   Alarm";
    return text;
}

std::pair<qreal, qreal> ChartPanel::TimeAxisSpan() const {
    const QRectF area = flags_.chart->plotArea();
    const QPoint left = flags_.view->mapTo(this, flags_.view->mapFromScene(flags_.chart->mapToScene(area.topLeft())));
    return {static_cast<qreal>(left.x()), std::max<qreal>(1, area.width())};
}

bool ChartPanel::eventFilter(QObject* watched, QEvent* event) {
    auto* viewport = qobject_cast<QWidget*>(watched);
    if (!viewport || !isAncestorOf(viewport)) return QWidget::eventFilter(watched, event);
    switch (event->type()) {
        case QEvent::MouseMove: {
            const QPointF at = viewport->mapTo(this, static_cast<QMouseEvent*>(event)->position().toPoint());
            hover_->setText(TextAt(at.toPoint()));
            if (dragFrom_ && onDrag) {
                const qreal moved = at.x() - *dragFrom_;
                dragFrom_ = at.x();
                if (moved != 0) onDrag(moved / TimeAxisSpan().second);
            }
            break;
        }
        case QEvent::MouseButtonPress: {
            const auto* press = static_cast<QMouseEvent*>(event);
            if (press->button() != Qt::LeftButton) break;
            setFocus(Qt::MouseFocusReason);
            dragFrom_ = viewport->mapTo(this, press->position().toPoint()).x();
            setCursor(Qt::ClosedHandCursor);
            return true;
        }
        case QEvent::MouseButtonRelease:
            if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
                dragFrom_.reset();
                unsetCursor();
                return true;
            }
            break;
        case QEvent::Wheel: {
            const auto* wheel = static_cast<QWheelEvent*>(event);
            const auto [left, width] = TimeAxisSpan();
            const qreal x = viewport->mapTo(this, wheel->position().toPoint()).x();
            // A notch is 120 eighths of a degree; touchpads send less, in many events.
            if (onWheel && wheel->angleDelta().y() != 0) onWheel(wheel->angleDelta().y() / 120.0, std::clamp((x - left) / width, 0.0, 1.0));
            return true;  // the chart would scroll itself
        }
        case QEvent::Leave: hover_->clear(); break;
        default: break;
    }
    return QWidget::eventFilter(watched, event);
}

void ChartPanel::keyPressEvent(QKeyEvent* event) {
    if (onKey) onKey(*event);
    QWidget::keyPressEvent(event);
}

}  // namespace qvin::qt