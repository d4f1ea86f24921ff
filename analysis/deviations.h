#pragma once
// The deviations of the frequency-stability literature (IEEE 1139, NIST SP 1065) of a
// series of readings, each with the noise type found at its averaging times and the
// interval that noise gives: the normal and overlapping Allan (adev, oadev), modified Allan
// (mdev), time (tdev, in the readings' units times seconds), normal and overlapping
// Hadamard (hdev, ohdev) and total (totdev) deviations. The readings are taken as the
// literature takes fractional frequency: the phase is their running sum times tau0.

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/stability.h"

namespace qvin::analysis {

enum class Deviation { Adev, Oadev, Mdev, Tdev, Hdev, Ohdev, Totdev };
inline constexpr Deviation kDeviations[] = {Deviation::Adev, Deviation::Oadev, Deviation::Mdev, Deviation::Tdev,
                                            Deviation::Hdev, Deviation::Ohdev, Deviation::Totdev};
// "adev", "oadev" ... as the options and the tables' columns name them; any case.
std::optional<Deviation> DeviationNamed(std::string_view name);
std::string DeviationName(Deviation d);

// The curve at the averaging factors asked for: up to a quarter of the readings (half for
// the total deviation, which reflects the record at its ends). oadev leaves missing
// readings (NaN) out as AdevCurve does; the others need a record without them, and say so
// in `why` with an empty curve.
std::vector<AllanPoint> DeviationCurve(std::span<const double> y, double tau0, Deviation d, const AllanOptions& options, std::string* why = nullptr);
// The same taking the readings' memory: the overlapping Allan deviation works in it (a
// record of ten million needs no second copy); the others read it as the one above does.
std::vector<AllanPoint> DeviationCurve(std::vector<double>&& y, double tau0, Deviation d, const AllanOptions& options, std::string* why = nullptr);

}  // namespace qvin::analysis
