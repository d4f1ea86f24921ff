#pragma once
// qvin-cli plot: a data log drawn as the strip chart draws it, into a PNG file, without a
// display (Qt's offscreen platform).

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

class QApplication;

namespace qvin::qt {

// `args`: LOG --png OUT [--size WxH]. Returns qvin-cli's exit status: 0 written, 1 bad
// input (no passes in the log, a bad size), 3 a file that cannot be read or written.
// The application a command's drawing needs, on the offscreen platform, quiet about itself;
// nothing when one exists already (keep what it returns while drawing).
std::unique_ptr<QApplication> OffscreenApplication();

int PlotCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace qvin::qt
