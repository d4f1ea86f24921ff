#include "cli/noise_command.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string_view>

#include "analysis/deviation_table.h"
#include "analysis/deviations.h"
#include "analysis/series.h"
#include "analysis/noise_terms.h"
#include "analysis/power_density.h"
#include "analysis/stability.h"
#include "core/excerpt.h"
#include "core/file_safety.h"
#include "core/number_text.h"

namespace qvin::cli {

namespace {

using session::Error;

// Nine significant digits: a double's figures as far as they mean anything here.
std::string Precise(double v) { return FormatSignificant(v, 9); }

// JSON's pieces: a number (null where not finite), a string with its escapes.
std::string JsonNumber(double v) {
    if (!std::isfinite(v)) return "null";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.17g", v);
    return buf;
}

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (const char ch : text) {
        const auto u = static_cast<unsigned char>(ch);
        if (ch == '"' || ch == '\\') {
            out += '\\';
            out += ch;
        } else if (u < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", u);
            out += buf;
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

// The fitted noise terms, one a line, each with its uncertainty and unit or "not resolved".
std::string NoiseTermsText(const analysis::NoiseTerms& t, const std::string& unit) {
    std::ostringstream o;
    if (t.fromTau > 0)
        o << "  (below tau " << Precise(t.fromTau) << " s the curve follows none of the model's noises, as where the readings are averages "
          << "over that long: the terms are fitted from there)\n";
    if (!t.fitted) {
        o << "  noise terms: " << t.points << " octave averaging times, too few to fit them (" << analysis::kMinTermPoints << " at least: "
          << (std::size_t{1} << (analysis::kMinTermPoints + 1)) << " samples)\n";
        return o.str();
    }
    o << "  noise terms (the IEEE 952 model fitted to the octave Allan variance, " << t.points << " points, reduced chi-square "
      << FormatFixed(t.reducedChiSquare, 2) << (t.reducedChiSquare > 3 ? ": the model fits the curve poorly" : "") << "; +- about 95 %):\n";
    for (std::size_t k = 0; k < 5; ++k) {
        char head[80];
        std::snprintf(head, sizeof head, "    %s %-42s ", analysis::kTermNames[k], analysis::kTermWhat[k]);
        o << head;
        if (k == 0 && t.averaged) {
            o << "not fitted (the readings are averaged: the 1/tau^2 term is the averaging's)\n";
        } else if (const auto& term = t.terms[k]) {
            o << analysis::TermText(*term) << " " << analysis::TermUnit(k, unit);
            if (k == 1)
                o << " (the deviation at 1 s; one-sided spectral density sqrt(2) N = "
                  << analysis::TermText({std::sqrt(2.0) * term->value, std::sqrt(2.0) * term->uncertainty}) << ")";
            o << '\n';
        } else {
            o << "not resolved\n";
        }
    }
    return o.str();
}

// What noise was asked to do.
struct NoiseRequest {
    std::string file, column, png, csv, psd, json;
    analysis::SeriesOptions options;
    analysis::AllanOptions allan;
    analysis::Deviation deviation = analysis::Deviation::Oadev;
};

// The value after an option that takes one, stored where it belongs.
void TakeNoiseOption(NoiseRequest& r, const std::string& w, const std::string& v) {
    if (w == "--column") r.column = v;
    else if (w == "--deviation") {
        const auto d = analysis::DeviationNamed(v);
        if (!d) throw Error(kBadInput, "bad --deviation '" + Excerpt(v) + "' (adev, oadev, mdev, tdev, hdev, ohdev or totdev)");
        r.deviation = *d;
    } else if (w == "--taus") {
        if (v == "octave") r.allan.taus = analysis::TauSet::Octave;
        else if (v == "decade") r.allan.taus = analysis::TauSet::Decade;
        else if (v == "all") r.allan.taus = analysis::TauSet::All;
        else throw Error(kBadInput, "bad --taus '" + Excerpt(v) + "' (octave, decade or all)");
    } else if (w == "--confidence") {
        const NumberScan n = ScanLeadingNumber(v);
        if (n.length != v.size() || !(n.value > 0 && n.value < 1))
            throw Error(kBadInput, "bad --confidence '" + Excerpt(v) + "' (a probability between 0 and 1, 0.683 for one sigma)");
        r.allan.confidence = n.value;
    }
    else if (w == "--run") r.options.run = static_cast<std::size_t>(ParseInteger(v, 1, 1'000'000, "run"));
    else if (w == "--png") r.png = v;
    else if (w == "--csv") r.csv = v;
    else if (w == "--psd") r.psd = v;
    else if (w == "--json") r.json = v;
    else {
        const NumberScan s = ScanLeadingNumber(v);
        if (s.length != v.size() || !(s.value > 0 && s.value <= 1e6)) throw Error(kBadInput, "bad --tau0 '" + Excerpt(v) + "' (seconds)");
        r.options.tau0 = s.value;
    }
}

NoiseRequest ParseNoise(const std::vector<std::string>& words) {
    NoiseRequest r;
    for (std::size_t i = 1; i < words.size(); ++i) {
        const std::string& w = words[i];
        if (w == "--column" || w == "--tau0" || w == "--png" || w == "--csv" || w == "--psd" || w == "--json" || w == "--run" || w == "--taus" ||
            w == "--confidence" || w == "--deviation") {
            if (i + 1 >= words.size() || words[i + 1].empty()) throw Error(kBadInput, "noise: " + w + " needs a value");
            TakeNoiseOption(r, w, words[++i]);
        } else if (w.size() > 1 && w[0] == '-') {
            throw Error(kBadInput, "noise: unknown option '" + Excerpt(w) + "'");
        } else if (r.file.empty()) {
            r.file = w;
        } else {
            throw Error(kBadInput, "noise takes one file");
        }
    }
    if (r.file.empty()) throw Error(kBadInput, "noise needs a capture, a data log or a file of values");
    return r;
}

// Each output a file of its own, none of them the input, the recording or the trace, each
// one that can be written.
void CheckNoiseOutputs(const Command& c, const NoiseRequest& r) {
    const std::pair<const char*, const std::string*> outputs[] = {{"--png", &r.png}, {"--csv", &r.csv}, {"--psd", &r.psd}, {"--json", &r.json}};
    for (std::size_t a = 0; a < std::size(outputs); ++a)
        for (std::size_t b = a + 1; b < std::size(outputs); ++b)
            if (!outputs[a].second->empty() && !outputs[b].second->empty() && SameFile(*outputs[a].second, *outputs[b].second))
                throw Error(kBadInput, std::string(outputs[a].first) + " and " + outputs[b].first + " name one file, " + *outputs[b].second +
                                           "; give each its own");
    for (const std::string& o : {r.png, r.csv, r.psd, r.json}) {
        if (o.empty()) continue;
        if (const std::string why = SameFileRefusal(o, r.file); !why.empty()) throw Error(kBadInput, why);
        if (const std::string why = c.s.OutputRefusal(o); !why.empty()) throw Error(kBadInput, why);
        if (const std::string why = WriteRefusal(o); !why.empty()) throw Error(kFileError, why);
    }
    if (!r.png.empty() && !c.allanPng) throw Error(kBadInput, "--png is not available: this qvin-cli was built without Qt");
    if (!r.png.empty() && r.deviation != analysis::Deviation::Oadev) throw Error(kBadInput, "--png draws the overlapping Allan deviation; leave out --deviation");
}

// The samples to analyse, or an error saying what the file lacks.
analysis::Series ReadNoiseSeries(const NoiseRequest& r) {
    std::string why;
    analysis::SeriesOptions only = r.options;
    if (!r.column.empty()) only.column = r.column;
    auto read = analysis::ReadSeries(r.file, only, why);
    if (!read && !r.options.tau0 && why.ends_with("neither a capture nor a data log"))
        throw Error(kBadInput, why + ": give --tau0 SECONDS for its values");
    if (!read) throw Error(kFileError, why);
    analysis::Series& s = *read;
    if (s.names.empty()) throw Error(kBadInput, "no column '" + Excerpt(r.column) + "' in " + r.file);
    if (r.options.run && *r.options.run > s.runs.size())
        throw Error(kBadInput, r.file + " holds " + std::to_string(s.runs.size()) + (s.runs.size() == 1 ? " run" : " runs") + ", no run " +
                                   std::to_string(*r.options.run));
    if (s.samples == 0) throw Error(kBadInput, r.file + " holds no sample" + (s.malformed ? " (" + std::to_string(s.malformed) + " malformed lines skipped)" : ""));
    if (!(s.tau0 > 0))
        throw Error(kBadInput, r.file + (s.nominalTau0 ? ": the run's header gives no loop delay" : ": too few samples to tell the time between them") +
                                   "; give --tau0 SECONDS");
    return std::move(*read);
}

// Where the samples come from and what is missing of them.
void ReportSeries(std::ostream& out, const NoiseRequest& r, const analysis::Series& s) {
    out << r.file << ": tau0 " << Precise(s.tau0) << " s (" << s.note << ")\n";
    if (s.runs.size() > 1) {
        for (std::size_t k = 0; k < s.runs.size(); ++k) out << "  run " << s.runs[k] << (k == s.run ? "  <- analysed" : "") << '\n';
        if (!r.options.run) out << "  (the longest run; --run N picks another)\n";
    }
    out << s.samples << " samples, " << analysis::GapSummary(s) << "; missing samples are left out of every sum\n";
    if (s.withoutNewData) out << s.withoutNewData << (s.withoutNewData == 1 ? " pass" : " passes") << " without new data left out as missing\n";
    if (s.malformed) out << s.malformed << (s.malformed == 1 ? " malformed line" : " malformed lines") << " skipped\n";
}

// "INCL_360 (dgr)" gives "dgr"; a column without a unit, "units".
std::string ColumnUnit(const std::string& name) {
    const std::size_t open = name.find('(');
    return open != std::string::npos ? name.substr(open + 1, name.find(')') - open - 1) : "units";
}

// The deviation's table as text, with what its columns mean.
void ReportCurve(std::ostream& out, const NoiseRequest& r, const std::vector<analysis::AllanPoint>& curve) {
    std::string upper = analysis::DeviationName(r.deviation);
    for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    char head[160];
    std::snprintf(head, sizeof head, "  %-12s %8s %9s %5s %9s  %-12s %-12s %-12s\n", "tau (s)", "m", "n", "alpha", "edf", "low", upper.c_str(), "high");
    out << head;
    bool carried = false;
    for (const analysis::AllanPoint& p : curve) {
        const char mark = p.alphaBy == analysis::AllanPoint::NoiseBy::Carried ? '*' : p.alphaBy == analysis::AllanPoint::NoiseBy::Ratios ? '+' : ' ';
        carried = carried || mark != ' ';
        char line[200];
        std::snprintf(line, sizeof line, "  %-12.6g %8zu %9zu %4d%c %9.1f  %-12.6g %-12.6g %-12.6g\n", p.tau, p.m, p.terms, p.alpha, mark, p.edf, p.lo,
                      p.adev, p.hi);
        out << line;
    }
    out << "  (alpha: the noise's exponent, S(f) ~ f^alpha: 0 white, -1 flicker, -2 random walk, 1 and 2 falling faster than\n"
        << "  white with averaging (a differenced or quantized output); from the lag-1 autocorrelation"
        << (carried ? ", * carried from a shorter tau (too few points here), + from the B1 and R(n) ratios" : "") << ";\n"
        << "  low and high: the " << FormatFixed(r.allan.confidence * 100, 1) << " % interval from "
        << (r.deviation == analysis::Deviation::Totdev ? "the total deviation's" : "Greenhall's") << " degrees of freedom for that noise)\n";
}

// One output's statistics, table and noise terms, as --json gives them.
std::string ColumnJson(const std::string& column, const analysis::Stats& st, const std::string& name, const std::vector<analysis::AllanPoint>& curve,
                       const analysis::NoiseTerms& terms, const std::string& unit) {
    std::string o = "{\"column\": " + JsonString(column) + ", \"statistics\": {\"count\": " + std::to_string(st.count) +
                    ", \"mean\": " + JsonNumber(st.mean) + ", \"std_dev\": " + JsonNumber(st.stdDev) + ", \"min\": " + JsonNumber(st.min) +
                    ", \"max\": " + JsonNumber(st.max) + ", \"peak_to_peak\": " + JsonNumber(st.peakToPeak) + "}, \"table\": [";
    for (std::size_t i = 0; i < curve.size(); ++i) {
        const analysis::AllanPoint& p = curve[i];
        o += std::string(i ? ", " : "") + "{\"tau_s\": " + JsonNumber(p.tau) + ", \"m\": " + std::to_string(p.m) + ", \"n\": " +
             std::to_string(p.terms) + ", \"alpha\": " + std::to_string(p.alpha) + ", \"edf\": " + JsonNumber(p.edf) + ", " +
             JsonString(name) + ": " + JsonNumber(p.adev) + ", " + JsonString(name + "_lo") + ": " + JsonNumber(p.lo) + ", " +
             JsonString(name + "_hi") + ": " + JsonNumber(p.hi) + "}";
    }
    o += "], \"terms\": {";
    for (std::size_t t = 0; t < 5; ++t) {
        o += std::string(t ? ", " : "") + JsonString(analysis::kTermNames[t]) + ": ";
        const auto& term = terms.terms[t];
        if (term)
            o += "{\"value\": " + JsonNumber(term->value) + ", \"uncertainty\": " + JsonNumber(term->uncertainty) + ", \"unit\": " +
                 JsonString(analysis::TermUnit(t, unit)) + "}";
        else
            o += "null";
    }
    o += "}, \"terms_fit\": {\"fitted\": " + std::string(terms.fitted ? "true" : "false") + ", \"points\": " + std::to_string(terms.points) +
         ", \"from_tau_s\": " + JsonNumber(terms.fromTau) + ", \"averaged\": " + (terms.averaged ? "true" : "false") +
         ", \"reduced_chi_square\": " + JsonNumber(terms.reducedChiSquare) + "}}";
    return o;
}

// What the analysis of every column leaves for the files.
struct NoiseFindings {
    std::vector<analysis::AllanCurve> curves;
    std::string table;    // --csv
    std::string spectra;  // --psd
    std::string outputsJson;
};

// Column `k` analysed, reported on `out` and added to `f`. The readings are taken from `s`
// where the octave Allan table can work in their memory.
void AnalyseColumn(std::ostream& out, const NoiseRequest& r, analysis::Series& s, std::size_t k, NoiseFindings& f) {
    const std::string& column = s.names[k];
    const std::vector<double>& y = s.columns[k];
    const analysis::Stats st = analysis::Describe(y);
    if (!std::isfinite(st.stdDev) || !std::isfinite(st.peakToPeak))
        throw Error(kBadInput, r.file + ": " + column + ": the values spread wider than the largest number a double holds (1.8e308)");
    // The spectrum first: the octave Allan table, which the noise terms are read from
    // too, works in the readings' own memory and takes them.
    std::string unheard;
    const auto sp = analysis::WelchSpectrum(y, s.tau0, 0, &unheard);
    const bool octaveAllan = r.deviation == analysis::Deviation::Oadev && r.allan.taus == analysis::TauSet::Octave && !r.allan.alpha;
    std::string why;
    const auto curve = octaveAllan ? analysis::DeviationCurve(std::move(s.columns[k]), s.tau0, r.deviation, r.allan, &why)
                                   : analysis::DeviationCurve(y, s.tau0, r.deviation, r.allan, &why);
    if (!why.empty()) throw Error(kBadInput, r.file + ": " + why);
    out << '\n' << column << '\n'
        << "  count " << st.count << ", mean " << Precise(st.mean) << ", std dev " << Precise(st.stdDev) << ", min " << Precise(st.min)
        << ", max " << Precise(st.max) << ", peak-to-peak " << Precise(st.peakToPeak) << '\n';
    const std::string unit = ColumnUnit(column);
    if (sp) {
        out << "  spectral floor " << Precise(sp->whiteFloor) << " " << unit << "/sqrt(Hz) (one-sided, the upper half of the band; Welch: "
            << sp->segments << " segments of " << sp->segmentLength << " samples, Hann, half overlapping)\n";
        for (std::size_t b = 0; b < sp->frequency.size(); ++b)
            f.spectra += column + "," + Precise(sp->frequency[b]) + "," + Precise(sp->density[b]) + "," + Precise(std::sqrt(sp->density[b])) + "\n";
    } else {
        out << "  spectrum: " << unheard << '\n';
    }
    if (curve.empty()) {
        out << "  too few samples for an Allan deviation (4 at least)\n";
        return;
    }
    ReportCurve(out, r, curve);
    analysis::AppendDeviationCsv(f.table, column, curve);
    // The terms come from the octave Allan variance whatever curve is shown.
    const analysis::NoiseTerms terms = analysis::FitNoiseTerms(octaveAllan ? curve : analysis::OctaveAdev(y, s.tau0));
    out << NoiseTermsText(terms, unit);
    f.curves.push_back({column, unit, curve, terms});
    if (!r.json.empty())
        f.outputsJson += (f.outputsJson.empty() ? "" : ", ") + ColumnJson(column, st, analysis::DeviationName(r.deviation), curve, terms, unit);
}

// The whole report for --json: the file's gaps, then each output's findings.
std::string ReportJson(const NoiseRequest& r, const analysis::Series& s, const std::string& outputsJson) {
    return "{\"file\": " + JsonString(r.file) + ", \"tau0_s\": " + JsonNumber(s.tau0) + ", \"tau0_from\": " + JsonString(s.note) +
           ", \"samples\": " + std::to_string(s.samples) + ", \"deviation\": " + JsonString(analysis::DeviationName(r.deviation)) + ", \"confidence\": " +
           JsonNumber(r.allan.confidence) + ", \"gaps\": {\"count\": " + std::to_string(s.gaps) + ", \"missing\": " +
           std::to_string(s.missing) + ", \"longest\": " + std::to_string(s.longestGap) + ", \"longest_at_s\": " +
           JsonNumber(s.longestGapAt) + "}, \"outputs\": [" + outputsJson + "]}\n";
}

// The picture's title: the deviation, then the file, its samples, gaps and tau0.
std::string AllanPngTitle(const NoiseRequest& r, const analysis::Series& s) {
    return "Overlapping Allan deviation, " + FormatFixed(r.allan.confidence * 100, 1) + " % intervals\n" +
           std::filesystem::path(r.file).filename().string() + ": " + std::to_string(s.samples) + " samples" +
           (s.missing ? ", " + std::to_string(s.missing) + " missing in " + std::to_string(s.gaps) + (s.gaps == 1 ? " gap" : " gaps") : ", no gap") +
           ", tau0 " + FormatGeneral(static_cast<float>(s.tau0 * 1000)) + " ms";
}

void WriteNoiseFiles(const Command& c, const NoiseRequest& r, const analysis::Series& s, const NoiseFindings& f) {
    // Data with nothing to draw is the data's fault, not the picture file's; said before
    // either file is written.
    const bool drawable = std::any_of(f.curves.begin(), f.curves.end(), [](const analysis::AllanCurve& a) {
        return std::any_of(a.points.begin(), a.points.end(), [](const analysis::AllanPoint& p) { return p.adev > 0; });
    });
    if (!r.png.empty() && !drawable)
        throw Error(kBadInput, r.file + ": no Allan deviation above zero to draw (4 samples at least, not all alike); " + r.png + " is not written");
    if (!r.csv.empty())
        if (const std::string why = WriteWholeFile(r.csv, f.table); !why.empty()) throw Error(kFileError, why);
    if (!r.psd.empty())
        if (const std::string why = WriteWholeFile(r.psd, f.spectra); !why.empty()) throw Error(kFileError, why);
    if (!r.json.empty())
        if (const std::string why = WriteWholeFile(r.json, ReportJson(r, s, f.outputsJson)); !why.empty()) throw Error(kFileError, why);
    if (!r.png.empty())
        if (const std::string why = c.allanPng({AllanPngTitle(r, s), "Allan deviation", f.curves}, r.png); !why.empty()) throw Error(kFileError, why);
}

}  // namespace

Action Noise(Command& c) {
    const NoiseRequest r = ParseNoise(c.words);
    CheckNoiseOutputs(c, r);
    return [&c, r] {
        analysis::Series s = ReadNoiseSeries(r);
        NoiseFindings f;
        f.table = analysis::DeviationCsvHeader(r.deviation);
        f.spectra = "column,f_hz,psd,asd\n";
        ReportSeries(c.out, r, s);
        // Only the asked column was read.
        for (std::size_t k = 0; k < s.names.size(); ++k) AnalyseColumn(c.out, r, s, k, f);
        WriteNoiseFiles(c, r, s, f);
    };
}

}  // namespace qvin::cli
