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
// Its title names the file, its samples and the time between them.
struct AllanPicture {
    std::string title;
    std::vector<AllanCurve> curves;
};

}  // namespace qvin::analysis
