#pragma once
// What an Allan plot shows: each output's curve with the noise terms fitted to it, under a
// title. Filled by the noise command, drawn by the Qt front end.

#include <string>
#include <vector>

#include "analysis/noise_terms.h"
#include "analysis/stability.h"

namespace qvin::analysis {

struct AllanCurve {
    std::string name;  // "INCL_360 (dgr)"
    std::string unit;  // "dgr"
    std::vector<AllanPoint> points;
    NoiseTerms terms;
};
// Its title names the file, its samples and the time between them (a line break between
// its two lines; none at all in a window that says so beside it). `axis` names the
// deviation drawn.
struct AllanPicture {
    std::string title;
    std::string axis = "Allan deviation";
    std::vector<AllanCurve> curves;
};

}  // namespace qvin::analysis
