#include "qt/analysis_view.h"

#include <QAccessibleWidget>
#include <QCloseEvent>
#include <QComboBox>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QVBoxLayout>

#include "qt/bindings.h"
#include "qt/picture_view.h"
#include "qt/view_parts.h"

namespace qvin::qt {

namespace {
// A plain widget shown as a window is a "filler" to a screen reader; this one is a window.
QAccessibleInterface* AccessibleAnalysisWindow(const QString&, QObject* o) {
    if (auto* view = dynamic_cast<AnalysisView*>(o)) return new QAccessibleWidget(view, QAccessible::Window);
    return nullptr;
}

QPlainTextEdit* TextArea(ui::TextBox& m, QWidget* parent, const QString& name) {
    auto* t = new QPlainTextEdit(parent);
    t->setReadOnly(true);
    t->setLineWrapMode(QPlainTextEdit::NoWrap);
    t->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    t->setTabStopDistance(t->fontMetrics().horizontalAdvance(QLatin1Char(' ')) * 14);
    t->setAccessibleName(name);
    Bind(m, t);
    return t;
}
}  // namespace

AnalysisView::AnalysisView(ui::frmAnalysis& m, QWidget* parent) : QWidget(parent, Qt::Window), model_(m) {
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(AccessibleAnalysisWindow);
        return true;
    }();
    (void)factoryInstalled;
    setWindowTitle(QString::fromStdString(m.caption()));
    auto* outer = new QVBoxLayout(this);
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
    top->addSpacing(12);
    top->addWidget(NewButton(m.cmdChart, this));
    top->addWidget(NewButton(m.cmdOpen, this));
    top->addStretch();
    top->addWidget(NewButton(m.cmdClose, this));
    outer->addLayout(top);
    outer->addWidget(NewLabel(m.lblSource, this));

    auto* middle = new QHBoxLayout();
    auto* plot = new QVBoxLayout();
    plot->addWidget(NewLabel(m.lblAdevAxis, this));
    auto* picture = new PictureView(m.picAllan, this);
    picture->setAccessibleName("Allan deviation plot");
    picture->setMinimumSize(480, 320);
    plot->addWidget(picture, 1);
    plot->addWidget(NewLabel(m.lblTauAxis, this));
    middle->addLayout(plot, 3);
    auto* texts = new QVBoxLayout();
    texts->addWidget(TextArea(m.txtStats, this, "Statistics"), 2);
    texts->addWidget(TextArea(m.txtTable, this, "Allan deviation table"), 3);
    middle->addLayout(texts, 2);
    outer->addLayout(middle, 1);
    resize(980, 560);
}

void AnalysisView::closeEvent(QCloseEvent* e) {
    e->ignore();
    model_.UserClose();
}

}  // namespace qvin::qt
