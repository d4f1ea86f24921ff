#include "analysis/deviation_table.h"

#include "core/number_text.h"

namespace qvin::analysis {

namespace {
// Nine digits: a double read back from the file is the number within a part in 10^9.
std::string Precise(double v) { return FormatSignificant(v, 9); }
}  // namespace

std::string DeviationCsvHeader(Deviation d) {
    const std::string name = DeviationName(d);
    return "column,tau_s,m,n,alpha,edf," + name + "," + name + "_lo," + name + "_hi\n";
}

void AppendDeviationCsv(std::string& csv, const std::string& column, const std::vector<AllanPoint>& curve) {
    for (const AllanPoint& p : curve) {
        csv += column;
        for (const std::string& field : {Precise(p.tau), std::to_string(p.m), std::to_string(p.terms), std::to_string(p.alpha), Precise(p.edf),
                                         Precise(p.adev), Precise(p.lo), Precise(p.hi)}) {
            csv += ',';
            csv += field;
        }
        csv += '\n';
    }
}

}  // namespace qvin::analysis
