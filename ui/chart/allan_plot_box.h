#pragma once
// A control that shows a deviation against averaging time on log-log axes: it holds what
// to draw, and a toolkit paints it (the same picture qvin-cli noise --png draws).

#include <utility>

#include "analysis/allan_picture.h"
#include "ui/controls.h"

namespace qvin::ui {

class AllanPlotBox : public Control {
public:
    using Control::Control;
    const analysis::AllanPicture& picture() const { return picture_; }
    void SetPicture(analysis::AllanPicture p) {
        picture_ = std::move(p);
        Notify();
    }

private:
    analysis::AllanPicture picture_;
};

}  // namespace qvin::ui
