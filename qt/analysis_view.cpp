#include "qt/analysis_view.h"

#include <QAccessibleWidget>
#include <QCloseEvent>
#include <QComboBox>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QVBoxLayout>
#include <QPainter>
#include <QSplitter>
#include <QTextDocument>
#include <QFontMetricsF>

#include <algorithm>

#include "qt/bindings.h"
#include "qt/allan_plot.h"
#include "qt/view_parts.h"

namespace qvin::qt {

namespace {
// A plain widget shown as a window is a "filler" to a screen reader; this one is a window.
QAccessibleInterface* AccessibleAnalysisWindow(const QString&, QObject* o) {
    if (auto* view = dynamic_cast<AnalysisView*>(o)) return new QAccessibleWidget(view, QAccessible::Window);
    if (auto* w = qobject_cast<QWidget*>(o); w && w->objectName() == "picAllan") return new QAccessibleWidget(w, QAccessible::Chart);
    return nullptr;
}

// Tab stops past the widest field before a tab, so that every row's columns line up
// (the noise terms' names are longer than the statistics').
void AlignColumns(QPlainTextEdit* t) {
    const QFontMetricsF metrics(t->font());
    qreal widest = 0;
    for (const QString& line : t->toPlainText().split('\n')) {
        const QStringList fields = line.split('\t');
        for (qsizetype i = 0; i + 1 < fields.size(); ++i) widest = std::max(widest, metrics.horizontalAdvance(fields[i]));
    }
    const qreal distance = widest + 2 * metrics.horizontalAdvance(QLatin1Char(' '));
    if (t->tabStopDistance() != distance) t->setTabStopDistance(distance);
}

QPlainTextEdit* TextArea(ui::TextBox& m, QWidget* parent, const QString& name) {
    auto* t = new QPlainTextEdit(parent);
    t->setReadOnly(true);
    t->setLineWrapMode(QPlainTextEdit::NoWrap);
    t->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    t->setAccessibleName(name);
    t->setMinimumSize(120, 60);
    Bind(m, t);
    // The document's own signal: the binding sets the text with the widget's signals blocked.
    QObject::connect(t->document(), &QTextDocument::contentsChanged, t, [t] { AlignColumns(t); });
    AlignColumns(t);
    return t;
}

// The deviation plot, painted as qvin-cli noise --png paints it, at the widget's size; the
// noise terms are in the figures beside it.
class AllanPlotView final : public QWidget {
public:
    AllanPlotView(ui::AllanPlotBox& model, QWidget* parent) : QWidget(parent), model_(model) {
        setObjectName(QString::fromStdString(model.name()));
        setMinimumSize(260, 200);
        setToolTip(QString::fromStdString(model.toolTip()));
        setAccessibleDescription(toolTip());
        model_.observer = [this] { update(); };
    }
    ~AllanPlotView() override { model_.observer = nullptr; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter g(this);
        g.fillRect(rect(), Qt::white);
        PaintAllan(g, QRectF(rect()), model_.picture(), false);
    }

private:
    ui::AllanPlotBox& model_;
};
}  // namespace

AnalysisView::AnalysisView(ui::frmAnalysis& m, QWidget* parent) : QWidget(parent, Qt::Window), model_(m) {
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(AccessibleAnalysisWindow);
        return true;
    }();
    (void)factoryInstalled;
    setWindowTitle(QString::fromStdString(m.caption()));
    auto* outer = new QVBoxLayout(this);
    // What is analysed on one row, what to do with it on the next: the window's least width
    // is that of the wider row.
    auto* top = new QHBoxLayout();
    QLabel* output = NewLabel(m.lblOutput, this);
    auto* list = new QComboBox(this);
    list->setAccessibleName("Output");
    output->setBuddy(list);
    Bind(m.cmboOutput, list);
    top->addWidget(output);
    top->addWidget(list);
    QLabel* deviation = NewLabel(m.lblDeviation, this);
    auto* deviations = new QComboBox(this);
    deviations->setAccessibleName("Deviation");
    deviation->setBuddy(deviations);
    Bind(m.cmboDeviation, deviations);
    top->addSpacing(12);
    top->addWidget(deviation);
    top->addWidget(deviations);
    top->addStretch();
    outer->addLayout(top);
    auto* buttons = new QHBoxLayout();
    buttons->addWidget(NewButton(m.cmdChart, this));
    buttons->addWidget(NewButton(m.cmdOpen, this));
    buttons->addStretch();
    buttons->addWidget(NewButton(m.cmdExportPng, this));
    buttons->addWidget(NewButton(m.cmdExportCsv, this));
    buttons->addWidget(NewButton(m.cmdClose, this));
    outer->addLayout(buttons);
    QLabel* source = NewLabel(m.lblSource, this);
    // A long source wraps instead of widening the window for good.
    source->setWordWrap(true);
    source->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    outer->addWidget(source);

    // The plot beside the figures; the user moves the border between them, and a small
    // window shrinks both instead of cutting them off.
    auto* split = new QSplitter(Qt::Horizontal, this);
    auto* plot = new AllanPlotView(m.picAllan, split);
    plot->setAccessibleName("Deviation plot");
    split->addWidget(plot);
    auto* texts = new QSplitter(Qt::Vertical, split);
    texts->addWidget(TextArea(m.txtStats, texts, "Statistics"));
    texts->addWidget(TextArea(m.txtTable, texts, "Deviation table"));
    texts->setStretchFactor(0, 2);
    texts->setStretchFactor(1, 3);
    split->addWidget(texts);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);
    split->setChildrenCollapsible(false);
    outer->addWidget(split, 1);
    resize(1040, 620);
}

void AnalysisView::closeEvent(QCloseEvent* e) {
    e->ignore();
    model_.UserClose();
}

}  // namespace qvin::qt
