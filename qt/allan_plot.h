#pragma once
// The Allan deviation on log-log axes, with its 68 % intervals as error bars, the noise
// model fitted to it drawn over it and its terms named, under a title that names the file,
// its samples and the time between them; guides of slope -1/2 (white noise) and +1/2
// (random walk) where no model could be fitted. Painted into the Noise Analysis window
// and into qvin-cli noise --png's picture (drawn without a display).

#include <string>
#include <vector>

#include <QRectF>

#include "analysis/allan_picture.h"

class QPainter;

namespace qvin::qt {

// Paints `picture` into `rect` on one pair of axes: the title above (when it has one),
// decades labelled along both axes, and with `legend` each curve's name and noise terms in
// a column right of the plot (without, the terms are said elsewhere). The curves take the
// colours of a single plot from `colour` on.
void PaintAllan(QPainter& g, const QRectF& rect, const analysis::AllanPicture& picture, bool legend, int colour = 0);

// The picture as a PNG file: one plot where the outputs share a unit, else a plot for each
// output in its own unit, under one title. Why it could not be written, or nothing.
std::string DrawAllanPng(const analysis::AllanPicture& picture, const std::string& file);

}  // namespace qvin::qt
