#pragma once
// The sensor's noise terms as IEEE Std 952 defines them, from the Allan variance model
//
//   AVAR(tau) = 3 Q^2 / tau^2 + N^2 / tau + (2 ln 2 / pi) B^2 + K^2 tau / 3 + R^2 tau^2 / 2
//
// Q quantization (units s), N the white noise or angle random walk (units/sqrt(Hz), the
// deviation at 1 s; a one-sided spectral density of the readings is sqrt(2) N), B the
// bias instability (units, the flat floor over 0.664), K the rate random walk
// (units sqrt(Hz)) and R the rate ramp (units/s). The model's five coefficients are
// fitted to the overlapping Allan variance at octave averaging times by least squares,
// each point weighted by its degrees of freedom (a variance read from edf averages is
// uncertain by sqrt(2 / edf) of itself), none below zero. A term is reported only where
// the data support it: its coefficient above its own expanded uncertainty; otherwise it
// is not resolved (a floor that never shows, a walk beyond the record) and left out of
// the model, which is then fitted again without it.

#include <cstddef>
#include <optional>
#include <span>
#include <string>

#include "analysis/stability.h"

namespace qvin::analysis {

struct NoiseTerm {
    double value = 0;
    double uncertainty = 0;  // expanded to about 95 % (Student's t over the fit's spare points)
};
// "0.00502 +- 3.6e-05": the value to the digits its uncertainty leaves, two of the uncertainty's.
std::string TermText(const NoiseTerm& t);

struct NoiseTerms {
    // Q, N, B, K, R in that order; empty where not resolved.
    std::optional<NoiseTerm> terms[5];
    std::size_t points = 0;  // Allan points the fit used
    bool fitted = false;     // false: fewer than kMinTermPoints, nothing could be told
    bool averaged = false;   // the readings are averages (a hump at the curve's start): Q is then always empty
    double fromTau = 0;      // the fit began here, past what averaged readings make of the curve; 0: at the first point
    double reducedChiSquare = 0;
    const std::optional<NoiseTerm>& Q() const { return terms[0]; }
    const std::optional<NoiseTerm>& N() const { return terms[1]; }
    const std::optional<NoiseTerm>& B() const { return terms[2]; }
    const std::optional<NoiseTerm>& K() const { return terms[3]; }
    const std::optional<NoiseTerm>& R() const { return terms[4]; }
};

inline constexpr const char* kTermNames[5] = {"Q", "N", "B", "K", "R"};
inline constexpr const char* kTermWhat[5] = {"quantization", "white noise", "bias instability", "rate random walk", "rate ramp"};
// A term's unit for readings in `unit`: "dgr s", "dgr/sqrt(Hz)", "dgr", "dgr sqrt(Hz)", "dgr/s".
std::string TermUnit(std::size_t term, const std::string& unit);

// Below this many octave points (a record of 128 readings), five terms cannot be told apart
// and whatever shape the first few points take (the part's own averaging, say) would be
// read as a term.
inline constexpr std::size_t kMinTermPoints = 6;

// Fits the model to an octave overlapping Allan curve (points above zero; others ignored),
// from the first averaging time where the model follows the points (readings averaged
// over longer than tau0 make the curve's start follow no noise of the model).
NoiseTerms FitNoiseTerms(std::span<const AllanPoint> curve);

// The model's Allan deviation at tau from the resolved terms.
double ModelAdev(const NoiseTerms& t, double tau);

}  // namespace qvin::analysis
