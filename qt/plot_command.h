#pragma once
// qvin-cli plot: a data log drawn as the strip chart draws it, into a PNG file, without a
// display (Qt's offscreen platform).

#include <chrono>
#include <memory>
#include <string>

#include "core/exit_status.h"

class QApplication;

namespace qvin::qt {

// The application a command's drawing needs, on the offscreen platform, quiet about itself;
// nothing when one exists already (keep what it returns while drawing).
std::unique_ptr<QApplication> OffscreenApplication();

// The line above the picture: the data log's summary and its first and last pass on this
// computer's clock, as the time axis gives them ("QVIN27319 data log a.txt: 200 passes in 1
// run, 2026-06-01 08:00:00 to 08:00:19"; the date again when it changed).
std::string PlotHeading(const std::string& source, std::chrono::system_clock::time_point first, std::chrono::system_clock::time_point last);

// The data log `log` drawn into the PNG file `png` of width x height pixels. Says the file,
// its source and the picture's size when written; kBadInput for a log without passes or a
// size too small, kFileError for a file that cannot be read or written, each with why.
Outcome DrawPlotPng(const std::string& log, const std::string& png, int width, int height);

}  // namespace qvin::qt
