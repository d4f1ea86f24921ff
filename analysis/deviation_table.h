#pragma once
// A deviation curve as CSV, one row per averaging time, as `noise --csv` writes it and the
// Noise Analysis window exports it: the column, tau, the averaging factor, the differences
// averaged, the noise's exponent, the degrees of freedom, the deviation and its interval.

#include <string>
#include <vector>

#include "analysis/deviations.h"
#include "analysis/stability.h"

namespace qvin::analysis {

// "column,tau_s,m,n,alpha,edf,oadev,oadev_lo,oadev_hi\n"
std::string DeviationCsvHeader(Deviation d);
void AppendDeviationCsv(std::string& csv, const std::string& column, const std::vector<AllanPoint>& curve);

}  // namespace qvin::analysis
