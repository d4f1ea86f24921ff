#include "qt/strip_chart_view.h"

#include <algorithm>
#include <chrono>

#include <QAccessibleWidget>
#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "qt/bindings.h"
#include "qt/view_parts.h"

namespace qvin::qt {

namespace {
// A plain widget shown as a window is a "filler" to a screen reader; this one is a window.
QAccessibleInterface* AccessibleChartWindow(const QString&, QObject* o) {
    if (auto* view = dynamic_cast<StripChartView*>(o)) return new QAccessibleWidget(view, QAccessible::Window);
    if (auto* panel = dynamic_cast<ChartPanel*>(o)) return new QAccessibleWidget(panel, QAccessible::Chart);
    return nullptr;
}
}  // namespace

StripChartView::StripChartView(ui::frmStripChart& m, QWidget* parent) : QWidget(parent, Qt::Window), model_(m) {
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(AccessibleChartWindow);
        return true;
    }();
    (void)factoryInstalled;
    setWindowTitle(QString::fromStdString(m.caption()));
    auto* outer = new QVBoxLayout(this);

    auto* controls = new QHBoxLayout();
    for (int i = 0; i < ui::kChartSeries; ++i) {
        auto* box = new QCheckBox(this);
        Bind(m.chkSeries(i), box);
        controls->addWidget(box);
    }
    // The outputs and the spans on one row, the buttons on the next: the window's least
    // width is that of the wider row, not of all in one, and stays so when Live shows.
    controls->addStretch();
    for (int i = 0; i < ui::frmStripChart::kSpanCount; ++i) {
        auto* option = new QRadioButton(this);
        Bind(m.optSpan(i), option);
        controls->addWidget(option);
    }
    outer->addLayout(controls);

    auto* row = new QHBoxLayout();
    row->addWidget(NewButton(m.cmdPause, this));
    row->addWidget(NewButton(m.cmdLive, this));
    row->addWidget(NewButton(m.cmdClear, this));
    row->addWidget(NewButton(m.cmdResetZoom, this));
    row->addStretch();
    row->addWidget(NewButton(m.cmdOpenLog, this));
    row->addWidget(NewButton(m.cmdExportPng, this));
    row->addWidget(NewButton(m.cmdExportCsv, this));
    row->addWidget(NewButton(m.cmdAnalysis, this));
    row->addWidget(NewButton(m.cmdClose, this));
    outer->addLayout(row);

    QLabel* source = NewLabel(m.lblSource, this);
    source->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // A long log name wraps (or, without a space, is cut) instead of widening the window
    // for good: a window that grew does not shrink back.
    source->setWordWrap(true);
    source->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    outer->addWidget(source);

    panel_ = new ChartPanel(this);
    panel_->setAccessibleName("Strip chart");
    panel_->setToolTip(QString::fromStdString(m.picChart.toolTip()));
    panel_->setAccessibleDescription(panel_->toolTip());
    panel_->onWheel = [&m](double notches, double at) { m.picChart.UserWheel(notches, at); };
    panel_->onDrag = [&m](double share) { m.picChart.UserDrag(share); };
    panel_->onKey = [&m](const QKeyEvent& key) { m.picChart.UserKeyDown(KeyCode(key), ShiftState(key.modifiers())); };
    outer->addWidget(panel_, 1);
    resize(900, 760);

    timer_.setInterval(kMinIntervalMs);
    connect(&timer_, &QTimer::timeout, this, [this] { Refresh(); });
}

void StripChartView::Refresh() {
    if (!isVisible() || model_.revision() == drawn_) return;
    drawn_ = model_.revision();
    const ui::frmStripChart::Shown shown = model_.shown();
    panel_->Draw(shown);
    // Redrawing sooner than the time one pixel column stands for would move nothing (on
    // the 10 min span that is more than half a second); where drawing and painting are
    // slow the chart redraws less often, so that it takes no more than about a thirtieth
    // of the processor from the read loop.
    const auto spanMs = std::chrono::duration_cast<std::chrono::milliseconds>(shown.to - shown.from).count();
    const auto columnMs = spanMs / std::max(1, panel_->columns());
    const auto costMs = (panel_->lastDrawUs() + panel_->TakePaintUs()) * kCostFactor / 1000;
    timer_.setInterval(static_cast<int>(std::clamp<std::int64_t>(std::max(columnMs, costMs), kMinIntervalMs, 2000)));
}

void StripChartView::closeEvent(QCloseEvent* e) {
    e->ignore();
    model_.UserClose();
}

void StripChartView::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    drawn_ = ~std::uint64_t{0};  // as many columns as the new width
}

void StripChartView::showEvent(QShowEvent* e) {
    QWidget::showEvent(e);
    drawn_ = ~std::uint64_t{0};
    timer_.start();
    Refresh();
}

void StripChartView::hideEvent(QHideEvent* e) {
    QWidget::hideEvent(e);
    timer_.stop();
}

}  // namespace qvin::qt
