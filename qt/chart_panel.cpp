#include "qt/chart_panel.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>

#include <QChart>
#include <QChartView>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QElapsedTimer>
#include <QFontMetricsF>
#include <QLineSeries>
#include <QMouseEvent>
#include <QScatterSeries>
#include <QTimer>
#include <QValueAxis>
#include <QVBoxLayout>

namespace qvin::qt {

namespace {

qreal Ms(ui::ChartClock::time_point t) {
    return static_cast<qreal>(std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count());
}

QDateTime ToDateTime(ui::ChartClock::time_point t) {
    return QDateTime::fromMSecsSinceEpoch(std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count());
}

// Seconds for a few minutes of readings, the day as well for a log of several days.
QString TimeFormat(ui::ChartClock::duration span) {
    if (span > std::chrono::hours(20)) return "dd.MM. hh:mm";
    if (span > std::chrono::minutes(30)) return "hh:mm";
    return "hh:mm:ss";
}

// The smallest round step (1, 2, 2.5 or 5 times a power of ten) that cuts `range` into
// at most `intervals` pieces.
double NiceStep(double range, int intervals) {
    const double rough = range / std::max(1, intervals);
    if (!(rough > 0) || !std::isfinite(rough)) return 1;
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    for (double f : {1.0, 2.0, 2.5, 5.0, 10.0})
        if (f * power >= rough * (1 - 1e-9)) return f * power;
    return 10 * power;
}

void Tidy(QChart* chart) {
    chart->legend()->hide();
    chart->setMargins(QMargins(ChartPanel::kMargin, 2, ChartPanel::kMargin, 2));
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
    setObjectName("chartPanel");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (int i = 0; i < ui::kChartSeries; ++i) {
        plots_[static_cast<std::size_t>(i)] = NewPlot(QString::fromUtf8(ui::kChartSeriesNames[i]));
        layout->addWidget(plots_[static_cast<std::size_t>(i)].view, 3);
    }

    // The flags: one row of marks for new data, one for alarms.
    flags_.chart = new QChart();
    Tidy(flags_.chart);
    newData_ = new QScatterSeries();
    newData_->setName("New data");
    newData_->setMarkerSize(6);
    newData_->setColor(QColor(0, 160, 0));
    newData_->setBorderColor(QColor(0, 160, 0));
    alarm_ = new QScatterSeries();
    alarm_->setName("Alarm");
    alarm_->setMarkerSize(6);
    alarm_->setColor(QColor(220, 0, 0));
    alarm_->setBorderColor(QColor(220, 0, 0));
    flags_.chart->addSeries(newData_);
    flags_.chart->addSeries(alarm_);
    flags_.time = new QDateTimeAxis();
    flags_.time->setFormat("hh:mm:ss");
    flags_.time->setTickCount(6);
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
    for (QScatterSeries* s : {newData_, alarm_}) {
        s->attachAxis(flags_.time);
        s->attachAxis(rows);
    }
    flags_.view = new QChartView(flags_.chart, this);
    flags_.view->setAccessibleName("Flags");
    flags_.view->setMouseTracking(true);
    flags_.view->viewport()->installEventFilter(this);
    flags_.view->setRenderHint(QPainter::Antialiasing, false);
    layout->addWidget(flags_.view, 3);

    hover_ = new QLabel(this);
    hover_->setAccessibleName("Reading under the mouse");
    hover_->setMinimumHeight(hover_->fontMetrics().height() + 4);
    layout->addWidget(hover_);
}

void ChartPanel::AlignCharts() {
    // One moment at the same place in every chart: each chart's left margin grows by what
    // its value labels are narrower than the widest chart's.
    std::vector<std::pair<QChart*, qreal>> natural;
    qreal widest = 0;
    for (std::size_t i = 0; i <= plots_.size(); ++i) {
        const Plot& p = i < plots_.size() ? plots_[i] : flags_;
        if (!p.view->isVisible() && i < plots_.size()) continue;
        const qreal left = p.chart->plotArea().left() - p.chart->margins().left() + kMargin;
        natural.emplace_back(p.chart, left);
        widest = std::max(widest, left);
    }
    for (const auto& [chart, left] : natural) {
        QMargins m = chart->margins();
        const int wanted = kMargin + static_cast<int>(std::lround(widest - left));
        if (m.left() != wanted) {
            m.setLeft(wanted);
            chart->setMargins(m);
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
    p.time = new QDateTimeAxis();
    p.time->setFormat("hh:mm:ss");
    p.time->setTickCount(6);
    p.value = new QValueAxis();
    p.value->setLabelFormat("%.6g");
    p.value->setTickCount(3);
    p.chart->addAxis(p.time, Qt::AlignBottom);
    p.chart->addAxis(p.value, Qt::AlignLeft);
    p.line->attachAxis(p.time);
    p.line->attachAxis(p.value);
    p.view = new QChartView(p.chart, this);
    p.view->setAccessibleName(title);
    p.view->setMouseTracking(true);
    p.view->viewport()->installEventFilter(this);
    // Thin lines drawn without smoothing cost far less, and a strip chart wants them crisp.
    p.view->setRenderHint(QPainter::Antialiasing, false);
    return p;
}

void ChartPanel::Draw(const ui::frmStripChart::Shown& shown) {
    QElapsedTimer timer;
    timer.start();
    shown_ = shown;
    if (!shown.data) return;
    const QDateTime from = ToDateTime(shown.from), to = ToDateTime(shown.to);
    const QString format = TimeFormat(shown.to - shown.from);

    // As many columns as the plots are wide: each gets the extremes of its readings.
    int columns = 0;
    for (std::size_t i = 0; i < plots_.size(); ++i) {
        plots_[i].view->setVisible(shown.visible[i]);
        if (shown.visible[i]) columns = std::max(columns, static_cast<int>(plots_[i].chart->plotArea().width()));
    }
    if (columns <= 0) columns = std::max(1, width() - 80);
    const std::vector<ui::ChartColumn> cols = shown.data->Reduce(shown.from, shown.to, columns);
    const qreal labelHeight = QFontMetricsF(plots_[0].value->labelsFont()).height();

    for (std::size_t i = 0; i < plots_.size(); ++i) {
        Plot& p = plots_[i];
        p.time->setFormat(format);
        p.time->setRange(from, to);
        if (!shown.visible[i]) continue;
        QList<QPointF> points;
        points.reserve(static_cast<qsizetype>(cols.size() * 2));
        float lo = std::numeric_limits<float>::max(), hi = std::numeric_limits<float>::lowest();
        for (const ui::ChartColumn& c : cols) {
            if (!c.any) continue;
            const qreal x = (Ms(c.from) + Ms(c.to)) / 2;
            const float first = c.minFirst[i] ? c.min[i] : c.max[i];
            const float second = c.minFirst[i] ? c.max[i] : c.min[i];
            points.append(QPointF(x, first));
            if (second != first) points.append(QPointF(x, second));
            lo = std::min(lo, c.min[i]);
            hi = std::max(hi, c.max[i]);
        }
        p.line->replace(points);
        if (points.isEmpty() || !std::isfinite(lo) || !std::isfinite(hi)) {
            p.value->setRange(0, 1);
        } else {
            // A flat trace gets a band around it; otherwise a little room above and below.
            const double pad = hi > lo ? (hi - lo) * 0.08 : std::max(1e-3, std::fabs(static_cast<double>(hi)) * 0.01);
            p.value->setRange(lo - pad, hi + pad);
            // Ticks at round values, no closer than two label heights: labels that would
            // touch are cut to "..." by the chart.
            const int room = static_cast<int>(p.chart->plotArea().height() / (2.0 * labelHeight));
            p.value->setTickType(QValueAxis::TicksDynamic);
            p.value->setTickAnchor(0);
            p.value->setTickInterval(NiceStep(hi - lo + 2 * pad, std::clamp(room, 1, 6)));
        }
    }

    QList<QPointF> fresh, alarms;
    for (const ui::ChartColumn& c : cols) {
        const qreal x = (Ms(c.from) + Ms(c.to)) / 2;
        if (c.newData) fresh.append(QPointF(x, 1.5));
        if (c.alarm) alarms.append(QPointF(x, 0.5));
    }
    newData_->replace(fresh);
    alarm_->replace(alarms);
    flags_.time->setFormat(format);
    flags_.time->setRange(from, to);
    // Once the charts have laid out their new labels, line them up (not from inside their
    // own layout, which does not expect its margins to change under it).
    QTimer::singleShot(0, this, [this] { AlignCharts(); });
    lastDrawUs_ = timer.nsecsElapsed() / 1000;
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
    const QAbstractSeries* anchor = over == &flags_ ? static_cast<QAbstractSeries*>(newData_) : over->line;
    const qreal ms = over->chart->mapToValue(inChart, const_cast<QAbstractSeries*>(anchor)).x();
    const auto t = ui::ChartClock::time_point(std::chrono::duration_cast<ui::ChartClock::duration>(
        std::chrono::milliseconds(static_cast<std::int64_t>(std::llround(ms)))));

    // The reading nearest that time.
    const auto& samples = shown_.data->samples();
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

bool ChartPanel::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseMove) {
        auto* viewport = qobject_cast<QWidget*>(watched);
        const auto* move = static_cast<QMouseEvent*>(event);
        if (viewport && isAncestorOf(viewport)) hover_->setText(TextAt(viewport->mapTo(this, move->position().toPoint())));
    } else if (event->type() == QEvent::Leave) {
        hover_->clear();
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace qvin::qt
