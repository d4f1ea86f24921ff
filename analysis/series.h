#pragma once
// Samples to analyse, from a file: a capture (qvin-cli capture's CSV), a data log (the
// time between samples from its loop delay) or one value a line (the time between them
// given). Read strictly and in bounded lines; a bad line is named.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace qvin::analysis {

struct Series {
    std::vector<std::string> names;  // "INCL_360 (dgr)", or "value"
    std::vector<std::vector<double>> columns;
    double tau0 = 0;   // seconds between samples
    std::string note;  // where tau0 came from
};

// The capture's first header field starts so, followed by its start in ISO 8601.
inline constexpr const char* kCaptureHead = "seconds since ";

// Nothing, with `error` set, when the file cannot be read; `tau0`, when given, overrides
// what the file says (and is needed for plain values: without it such a file is "neither
// a capture nor a data log").
std::optional<Series> ReadSeries(const std::filesystem::path& file, std::optional<double> tau0, std::string& error);

}  // namespace qvin::analysis
