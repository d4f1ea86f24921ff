#pragma once
// The noise analysis window: its controls laid out, the Allan curve in a picture, the
// figures and the table in read-only text areas.

#include <QWidget>

#include "ui/chart/frm_analysis.h"

namespace qvin::qt {

class AnalysisView : public QWidget {
public:
    AnalysisView(ui::frmAnalysis& model, QWidget* parent);

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    ui::frmAnalysis& model_;
};

}  // namespace qvin::qt
