#include "cli/noise_command.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <cctype>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string_view>
#include <unistd.h>

#include "analysis/deviations.h"
#include "analysis/series.h"
#include "analysis/noise_terms.h"
#include "analysis/power_density.h"
#include "board/replay_board.h"
#include "board/vcd_export.h"
#include "device/data_log.h"
#include "session/capture.h"
#include "analysis/stability.h"
#include "core/excerpt.h"
#include "core/file_safety.h"
#include "core/number_text.h"

namespace qvin::cli {

namespace {

using session::Error;

// Ctrl-C, SIGTERM and SIGHUP end a capture between two passes; the file is then complete.
volatile std::sig_atomic_t gSignal = 0;
extern "C" void OnSignal(int number) { gSignal = number; }

// The signals that end a capture, caught while it runs and given back after.
class StopSignals {
public:
    StopSignals() {
        gSignal = 0;
        struct sigaction sa {};
        sa.sa_handler = OnSignal;
        for (std::size_t i = 0; i < 3; ++i) sigaction(kSignals[i], &sa, &old_[i]);
    }
    ~StopSignals() {
        for (std::size_t i = 0; i < 3; ++i) sigaction(kSignals[i], &old_[i], nullptr);
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;
    static std::string Name(int number) { return number == SIGINT ? "Ctrl-C" : number == SIGTERM ? "SIGTERM" : "SIGHUP"; }

private:
    static constexpr int kSignals[3] = {SIGINT, SIGTERM, SIGHUP};
    struct sigaction old_[3];
};

std::string IsoNow() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t t = std::chrono::system_clock::to_time_t(now);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[96];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                  tm.tm_sec, static_cast<int>(ms));
    return buf;
}

using analysis::kCaptureHead;

// Rows handed to `put` on a thread of their own, in chunks of whole rows: a disk that
// stalls for a moment (a journal commit, write-back) must not stall the reads, or the part's
// samples go by unread. At most kMaxPending bytes wait; beyond that the reads wait too.
class RowWriter {
public:
    explicit RowWriter(std::function<bool(const std::string&)> put) : put_(std::move(put)), thread_([this] { Run(); }) {}
    ~RowWriter() { Finish(); }
    RowWriter(const RowWriter&) = delete;
    RowWriter& operator=(const RowWriter&) = delete;

    void Add(const std::string& row) {
        std::unique_lock lock(mutex_);
        room_.wait(lock, [this] { return pending_.size() < kMaxPending || failed_; });
        pending_ += row;
        ready_.notify_one();
    }
    bool failed() const { return failed_; }
    // Writes what waits and ends the thread; false when a write failed.
    bool Finish() {
        {
            std::lock_guard lock(mutex_);
            if (done_) return !failed_;
            done_ = true;
        }
        ready_.notify_one();
        thread_.join();
        return !failed_;
    }

private:
    static constexpr std::size_t kMaxPending = 16 << 20;
    void Run() {
        std::string chunk;
        for (;;) {
            {
                std::unique_lock lock(mutex_);
                ready_.wait(lock, [this] { return !pending_.empty() || done_; });
                if (pending_.empty() && done_) return;
                chunk.swap(pending_);
                pending_.clear();
            }
            room_.notify_all();
            if (!failed_ && !put_(chunk)) {
                std::lock_guard lock(mutex_);
                failed_ = true;
                room_.notify_all();
            }
            chunk.clear();
        }
    }
    std::function<bool(const std::string&)> put_;
    std::mutex mutex_;
    std::condition_variable ready_, room_;
    std::string pending_;
    std::atomic<bool> failed_{false};
    bool done_ = false;
    std::thread thread_;
};

std::string Number(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.9g", v);
    return buf;
}

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
        o << "  (below tau " << Number(t.fromTau) << " s the curve follows none of the model's noises, as where the readings are averages "
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

}  // namespace

Action Capture(Command& c) {
    long long count = -1;
    double seconds = -1;
    std::string out;
    session::CaptureRequest request;
    for (std::size_t i = 1; i < c.words.size(); ++i) {
        const std::string& w = c.words[i];
        if (i + 1 >= c.words.size()) throw Error(kBadInput, "capture: " + Excerpt(w) + " needs a value");
        const std::string& v = c.words[++i];
        if (w == "--count") {
            count = ParseInteger(v, 1, 100'000'000, "count");
        } else if (w == "--seconds") {
            const NumberScan s = ScanLeadingNumber(v);
            if (s.length != v.size() || v.find_first_not_of("0123456789.") != std::string::npos || !(s.value > 0 && s.value <= 1e6))
                throw Error(kBadInput, "bad duration '" + Excerpt(v) + "' (seconds, more than 0, at most 1000000)");
            seconds = s.value;
        } else if (w == "--out") {
            if (v.empty()) throw Error(kBadInput, "capture: --out needs a file name");
            out = v;
        } else if (w == "--outputs") {
            request.outputs = session::ParseOutputs(v);
        } else if (w == "--sample-period") {
            const NumberScan s = ScanLeadingNumber(v);
            if (s.length != v.size() || v.find_first_not_of("0123456789.") != std::string::npos)
                throw Error(kBadInput, "bad sample period '" + Excerpt(v) + "' (milliseconds, for example 2.197)");
            session::SamplePeriodCode(s.value);  // refused here, before the board is touched
            request.samplePeriodMs = s.value;
        } else {
            throw Error(kBadInput, "capture: unknown option '" + Excerpt(w) + "'");
        }
    }
    if ((count > 0) == (seconds > 0)) throw Error(kBadInput, "capture: give either --count N or --seconds S");
    if (count > 0) request.count = count;
    if (seconds > 0) request.seconds = seconds;
    if (!out.empty()) {
        if (const std::string why = c.s.OutputRefusal(out); !why.empty()) throw Error(kBadInput, why);
        if (const std::string why = WriteRefusal(out); !why.empty()) throw Error(kFileError, why);
    }
    return [&c, request, out] {
        std::string head = kCaptureHead + IsoNow();
        for (const std::size_t k : request.outputs) head += ',' + session::OutputColumn(session::kOutputs[k]);
        head += ",Alarm,Status,Missed\n";
        const bool progress = ::isatty(STDERR_FILENO) && !out.empty();
        StopSignals signals;
        session::CaptureSummary sum;
        // Rows go out whole, in chunks of whole rows: a crash, a kill or a full disk leaves
        // whole rows. A write that fails stops the capture at its next pass.
        auto run = [&](const std::function<bool(const std::string&)>& put) {
            if (!put(head)) return;
            std::int64_t shownAt = 0, rows = 0;
            std::string line;
            RowWriter writer(put);
            sum = session::Capture(
                c.s, request,
                [&](const session::CaptureRow& r) {
                    line = Number(r.seconds);
                    for (const float v : r.values) line.append(1, ',').append(FormatGeneral(v));
                    line.append(r.alarm ? ",1," : ",0,").append(std::to_string(r.status)).append(1, ',').append(std::to_string(r.missed)).append(1, '\n');
                    writer.Add(line);
                    ++rows;
                    const auto now = static_cast<std::int64_t>(r.seconds * 4);
                    if (progress && now != shownAt) {
                        shownAt = now;
                        c.err << "\rcapture: " << rows << " samples" << std::flush;
                    }
                },
                [&] { return writer.failed() || gSignal != 0; });
            writer.Finish();
            if (progress) c.err << '\r';
        };
        auto report = [&](const std::string& where) {
            c.err << session::CaptureReport(sum, request.outputs.size()) << '\n';
            if (gSignal != 0) c.err << "capture: stopped by " << StopSignals::Name(gSignal) << where << '\n';
            else if (!where.empty()) c.err << "capture: written" << where << '\n';
        };
        if (out.empty()) {
            std::string failure;
            run([&](const std::string& text) {
                c.out << text << std::flush;
                if (!c.out) failure = std::strerror(errno);
                return failure.empty();
            });
            if (!failure.empty()) throw Error(kFileError, "cannot write standard output: " + failure);
            report("");
            return;
        }
        // Into a new file beside the old one, renamed over it when the capture has ended: a
        // capture that fails leaves the old file as it was and keeps its own rows apart.
        KeepPartial keep;
        long long rows = -1;  // the header is no row
        int code = kFileError;
        const std::string why = ReplaceFile(out, [&](const std::filesystem::path& temp) -> std::string {
            DataLogFile file;
            if (!file.Open(temp)) return file.error();
            std::string failure;
            try {
                run([&](const std::string& text) {
                    if (!file.Write(text)) {
                        failure = file.error();
                        return false;
                    }
                    rows += std::count(text.begin(), text.end(), '\n');
                    keep.wanted = rows > 0;
                    return true;
                });
            } catch (const Error& e) {
                code = e.code;
                return e.what();
            } catch (const ReplayStopped& e) {
                code = kNoInterface;
                return e.message;
            }
            return failure;
        }, &keep);
        if (!why.empty()) {
            // The session's own failures read as they always do; where the rows are follows.
            std::string message = code == kFileError ? why : why.substr(std::min(why.size(), out.size() + 2));
            if (!keep.where.empty())
                message += "\ncapture: the " + std::to_string(rows) + (rows == 1 ? " row" : " rows") + " captured before it are in " +
                           keep.where.string() + (keep.where == std::filesystem::path(out) ? "" : " (" + out + " is as it was)");
            throw Error(code, message);
        }
        report(" into " + out);
    };
}

Action Noise(Command& c) {
    std::string file, column, png, csv, psd, json;
    analysis::SeriesOptions options;
    analysis::AllanOptions allan;
    analysis::Deviation deviation = analysis::Deviation::Oadev;
    for (std::size_t i = 1; i < c.words.size(); ++i) {
        const std::string& w = c.words[i];
        if (w == "--column" || w == "--tau0" || w == "--png" || w == "--csv" || w == "--psd" || w == "--json" || w == "--run" || w == "--taus" ||
            w == "--confidence" || w == "--deviation") {
            if (i + 1 >= c.words.size() || c.words[i + 1].empty()) throw Error(kBadInput, "noise: " + w + " needs a value");
            const std::string& v = c.words[++i];
            if (w == "--column") column = v;
            else if (w == "--deviation") {
                const auto d = analysis::DeviationNamed(v);
                if (!d) throw Error(kBadInput, "bad --deviation '" + Excerpt(v) + "' (adev, oadev, mdev, tdev, hdev, ohdev or totdev)");
                deviation = *d;
            } else if (w == "--taus") {
                if (v == "octave") allan.taus = analysis::TauSet::Octave;
                else if (v == "decade") allan.taus = analysis::TauSet::Decade;
                else if (v == "all") allan.taus = analysis::TauSet::All;
                else throw Error(kBadInput, "bad --taus '" + Excerpt(v) + "' (octave, decade or all)");
            } else if (w == "--confidence") {
                const NumberScan n = ScanLeadingNumber(v);
                if (n.length != v.size() || !(n.value > 0 && n.value < 1))
                    throw Error(kBadInput, "bad --confidence '" + Excerpt(v) + "' (a probability between 0 and 1, 0.683 for one sigma)");
                allan.confidence = n.value;
            }
            else if (w == "--run") options.run = static_cast<std::size_t>(ParseInteger(v, 1, 1'000'000, "run"));
            else if (w == "--png") png = v;
            else if (w == "--csv") csv = v;
            else if (w == "--psd") psd = v;
            else if (w == "--json") json = v;
            else {
                const NumberScan s = ScanLeadingNumber(v);
                if (s.length != v.size() || !(s.value > 0 && s.value <= 1e6)) throw Error(kBadInput, "bad --tau0 '" + Excerpt(v) + "' (seconds)");
                options.tau0 = s.value;
            }
        } else if (w.size() > 1 && w[0] == '-') {
            throw Error(kBadInput, "noise: unknown option '" + Excerpt(w) + "'");
        } else if (file.empty()) {
            file = w;
        } else {
            throw Error(kBadInput, "noise takes one file");
        }
    }
    if (file.empty()) throw Error(kBadInput, "noise needs a capture, a data log or a file of values");
    // Each output a file of its own.
    const std::pair<const char*, const std::string*> outputs[] = {{"--png", &png}, {"--csv", &csv}, {"--psd", &psd}, {"--json", &json}};
    for (std::size_t a = 0; a < std::size(outputs); ++a)
        for (std::size_t b = a + 1; b < std::size(outputs); ++b)
            if (!outputs[a].second->empty() && !outputs[b].second->empty() && SameFile(*outputs[a].second, *outputs[b].second))
                throw Error(kBadInput, std::string(outputs[a].first) + " and " + outputs[b].first + " name one file, " + *outputs[b].second +
                                           "; give each its own");
    for (const std::string& o : {png, csv, psd, json}) {
        if (o.empty()) continue;
        if (const std::string why = SameFileRefusal(o, file); !why.empty()) throw Error(kBadInput, why);
        if (const std::string why = c.s.OutputRefusal(o); !why.empty()) throw Error(kBadInput, why);
        if (const std::string why = WriteRefusal(o); !why.empty()) throw Error(kFileError, why);
    }
    if (!png.empty() && !c.allanPng) throw Error(kBadInput, "--png is not available: this qvin-cli was built without Qt");
    if (!png.empty() && deviation != analysis::Deviation::Oadev) throw Error(kBadInput, "--png draws the overlapping Allan deviation; leave out --deviation");
    return [&c, file, column, png, csv, psd, json, options, allan, deviation] {
        const std::string name = analysis::DeviationName(deviation);
        std::string upper = name;
        for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        std::string why;
        analysis::SeriesOptions only = options;
        if (!column.empty()) only.column = column;
        auto read = analysis::ReadSeries(file, only, why);
        if (!read && !options.tau0 && why.ends_with("neither a capture nor a data log"))
            throw Error(kBadInput, why + ": give --tau0 SECONDS for its values");
        if (!read) throw Error(kFileError, why);
        analysis::Series& s = *read;
        if (s.names.empty()) throw Error(kBadInput, "no column '" + Excerpt(column) + "' in " + file);
        if (options.run && *options.run > s.runs.size())
            throw Error(kBadInput, file + " holds " + std::to_string(s.runs.size()) + (s.runs.size() == 1 ? " run" : " runs") + ", no run " +
                                       std::to_string(*options.run));
        if (s.samples == 0) throw Error(kBadInput, file + " holds no sample" + (s.malformed ? " (" + std::to_string(s.malformed) + " malformed lines skipped)" : ""));
        if (!(s.tau0 > 0))
            throw Error(kBadInput, file + (s.nominalTau0 ? ": the run's header gives no loop delay" : ": too few samples to tell the time between them") +
                                       "; give --tau0 SECONDS");
        // Only the asked column was read.
        std::vector<std::size_t> picked(s.names.size());
        for (std::size_t k = 0; k < picked.size(); ++k) picked[k] = k;
        std::vector<analysis::AllanCurve> curves;
        std::string table = "column,tau_s,m,n,alpha,edf," + name + "," + name + "_lo," + name + "_hi\n";
        std::string spectra = "column,f_hz,psd,asd\n";
        // Everything the report says, for programs: the file's gaps, then each output's
        // statistics, table and noise terms.
        std::string outputsJson;
        c.out << file << ": tau0 " << Number(s.tau0) << " s (" << s.note << ")\n";
        if (s.runs.size() > 1) {
            for (std::size_t r = 0; r < s.runs.size(); ++r) c.out << "  run " << s.runs[r] << (r == s.run ? "  <- analysed" : "") << '\n';
            if (!options.run) c.out << "  (the longest run; --run N picks another)\n";
        }
        c.out << s.samples << " samples, " << analysis::GapSummary(s) << "; missing samples are left out of every sum\n";
        if (s.withoutNewData) c.out << s.withoutNewData << (s.withoutNewData == 1 ? " pass" : " passes") << " without new data left out as missing\n";
        if (s.malformed) c.out << s.malformed << (s.malformed == 1 ? " malformed line" : " malformed lines") << " skipped\n";
        for (std::size_t k : picked) {
            const std::vector<double>& y = s.columns[k];
            const analysis::Stats st = analysis::Describe(y);
            if (!std::isfinite(st.stdDev) || !std::isfinite(st.peakToPeak))
                throw Error(kBadInput, file + ": " + s.names[k] + ": the values spread wider than the largest number a double holds (1.8e308)");
            // The spectrum first: the octave Allan table, which the noise terms are read from
            // too, works in the readings' own memory and takes them.
            std::string unheard;
            const auto sp = analysis::WelchSpectrum(y, s.tau0, 0, &unheard);
            const bool octaveAllan = deviation == analysis::Deviation::Oadev && allan.taus == analysis::TauSet::Octave && !allan.alpha;
            std::string why;
            const auto curve = octaveAllan ? analysis::DeviationCurve(std::move(s.columns[k]), s.tau0, deviation, allan, &why)
                                           : analysis::DeviationCurve(y, s.tau0, deviation, allan, &why);
            if (!why.empty()) throw Error(kBadInput, file + ": " + why);
            c.out << '\n' << s.names[k] << '\n'
                  << "  count " << st.count << ", mean " << Number(st.mean) << ", std dev " << Number(st.stdDev) << ", min " << Number(st.min)
                  << ", max " << Number(st.max) << ", peak-to-peak " << Number(st.peakToPeak) << '\n';
            const std::string unit = s.names[k].find('(') != std::string::npos
                                         ? s.names[k].substr(s.names[k].find('(') + 1, s.names[k].find(')') - s.names[k].find('(') - 1)
                                         : "units";
            if (sp) {
                c.out << "  spectral floor " << Number(sp->whiteFloor) << " " << unit << "/sqrt(Hz) (one-sided, the upper half of the band; Welch: "
                      << sp->segments << " segments of " << sp->segmentLength << " samples, Hann, half overlapping)\n";
                for (std::size_t b = 0; b < sp->frequency.size(); ++b)
                    spectra += s.names[k] + "," + Number(sp->frequency[b]) + "," + Number(sp->density[b]) + "," + Number(std::sqrt(sp->density[b])) + "\n";
            } else {
                c.out << "  spectrum: " << unheard << '\n';
            }
            if (curve.empty()) {
                c.out << "  too few samples for an Allan deviation (4 at least)\n";
                continue;
            }
            char head[160];
            std::snprintf(head, sizeof head, "  %-12s %8s %9s %5s %9s  %-12s %-12s %-12s\n", "tau (s)", "m", "n", "alpha", "edf", "low", upper.c_str(), "high");
            c.out << head;
            bool carried = false;
            for (const analysis::AllanPoint& p : curve) {
                const char mark = p.alphaBy == analysis::AllanPoint::NoiseBy::Carried ? '*' : p.alphaBy == analysis::AllanPoint::NoiseBy::Ratios ? '+' : ' ';
                carried = carried || mark != ' ';
                char line[200];
                std::snprintf(line, sizeof line, "  %-12.6g %8zu %9zu %4d%c %9.1f  %-12.6g %-12.6g %-12.6g\n", p.tau, p.m, p.terms, p.alpha, mark, p.edf, p.lo,
                              p.adev, p.hi);
                c.out << line;
                table += s.names[k] + "," + Number(p.tau) + "," + std::to_string(p.m) + "," + std::to_string(p.terms) + "," + std::to_string(p.alpha) + "," +
                         Number(p.edf) + "," + Number(p.adev) + "," + Number(p.lo) + "," + Number(p.hi) + "\n";
            }
            c.out << "  (alpha: the noise's exponent, S(f) ~ f^alpha: 0 white, -1 flicker, -2 random walk, 1 and 2 falling faster than\n"
                  << "  white with averaging (a differenced or quantized output); from the lag-1 autocorrelation"
                  << (carried ? ", * carried from a shorter tau (too few points here), + from the B1 and R(n) ratios" : "") << ";\n"
                  << "  low and high: the " << FormatFixed(allan.confidence * 100, 1) << " % interval from "
                  << (deviation == analysis::Deviation::Totdev ? "the total deviation's" : "Greenhall's") << " degrees of freedom for that noise)\n";
            // The terms come from the octave Allan variance whatever curve is shown.
            const analysis::NoiseTerms terms = analysis::FitNoiseTerms(octaveAllan ? curve : analysis::OctaveAdev(y, s.tau0));
            c.out << NoiseTermsText(terms, unit);
            curves.push_back({s.names[k], unit, curve, terms});
            if (!json.empty()) {
                std::string o = "{\"column\": " + JsonString(s.names[k]) + ", \"statistics\": {\"count\": " + std::to_string(st.count) +
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
                outputsJson += (outputsJson.empty() ? "" : ", ") + o;
            }
        }
        // Data with nothing to draw is the data's fault, not the picture file's; said before
        // either file is written.
        const bool drawable = std::any_of(curves.begin(), curves.end(), [](const analysis::AllanCurve& a) {
            return std::any_of(a.points.begin(), a.points.end(), [](const analysis::AllanPoint& p) { return p.adev > 0; });
        });
        if (!png.empty() && !drawable)
            throw Error(kBadInput, file + ": no Allan deviation above zero to draw (4 samples at least, not all alike); " + png + " is not written");
        if (!csv.empty())
            if (const std::string why = WriteWholeFile(csv, table); !why.empty()) throw Error(kFileError, why);
        if (!psd.empty())
            if (const std::string why = WriteWholeFile(psd, spectra); !why.empty()) throw Error(kFileError, why);
        if (!json.empty()) {
            const std::string text = "{\"file\": " + JsonString(file) + ", \"tau0_s\": " + JsonNumber(s.tau0) + ", \"tau0_from\": " + JsonString(s.note) +
                                     ", \"samples\": " + std::to_string(s.samples) + ", \"deviation\": " + JsonString(name) + ", \"confidence\": " +
                                     JsonNumber(allan.confidence) + ", \"gaps\": {\"count\": " + std::to_string(s.gaps) + ", \"missing\": " +
                                     std::to_string(s.missing) + ", \"longest\": " + std::to_string(s.longestGap) + ", \"longest_at_s\": " +
                                     JsonNumber(s.longestGapAt) + "}, \"outputs\": [" + outputsJson + "]}\n";
            if (const std::string why = WriteWholeFile(json, text); !why.empty()) throw Error(kFileError, why);
        }
        if (!png.empty())
            if (const std::string why = c.allanPng(
                    {"Overlapping Allan deviation, " + FormatFixed(allan.confidence * 100, 1) + " % intervals\n" +
                         std::filesystem::path(file).filename().string() + ": " + std::to_string(s.samples) + " samples" +
                         (s.missing ? ", " + std::to_string(s.missing) + " missing in " + std::to_string(s.gaps) + (s.gaps == 1 ? " gap" : " gaps") : ", no gap") +
                         ", tau0 " + FormatGeneral(static_cast<float>(s.tau0 * 1000)) + " ms",
                     curves},
                    png);
                !why.empty())
                throw Error(kFileError, why);
    };
}

Action ExportVcdCommand(Command& c) {
    std::string recording, out;
    for (std::size_t i = 1; i < c.words.size(); ++i) {
        const std::string& w = c.words[i];
        if (w == "--out") {
            if (i + 1 >= c.words.size() || c.words[i + 1].empty()) throw Error(kBadInput, "export-vcd: --out needs a file name");
            out = c.words[++i];
        } else if (w.size() > 1 && w[0] == '-') {
            throw Error(kBadInput, "export-vcd: unknown option '" + Excerpt(w) + "'");
        } else if (recording.empty()) {
            recording = w;
        } else {
            throw Error(kBadInput, "export-vcd takes one recording");
        }
    }
    if (recording.empty() || out.empty()) throw Error(kBadInput, "export-vcd needs a recording and --out FILE.vcd");
    if (const std::string why = SameFileRefusal(out, recording); !why.empty()) throw Error(kBadInput, why);
    if (const std::string why = c.s.OutputRefusal(out); !why.empty()) throw Error(kBadInput, why);
    if (const std::string why = WriteRefusal(out); !why.empty()) throw Error(kFileError, why);
    return [&c, recording, out] {
        // Written beside the file and renamed: a failed export leaves nothing half-done.
        VcdSummary summary;
        std::string failure;
        const std::string why = ReplaceFile(out, [&](const std::filesystem::path& temp) -> std::string {
            std::ofstream file(temp, std::ios::binary | std::ios::trunc);
            errno = 0;
            const std::string why = ExportVcd(recording, file, summary);
            // The waveform's own file failing is named with its reason (a full disk, the
            // file-size limit); the recording's faults are said as they are.
            if (!file) return std::string(std::strerror(errno ? errno : EIO));
            failure = why;
            if (!failure.empty()) return failure;
            file.close();
            return file ? std::string() : std::string(std::strerror(errno));
        });
        if (!failure.empty()) throw Error(kFileError, failure);
        if (!why.empty()) throw Error(kFileError, why);
        c.out << out << ": " << summary.frames << " words on the " << summary.interface
              << (summary.failed ? ", " + std::to_string(summary.failed) + " transfers refused by the adapter" : std::string())
              << (summary.timed ? "" : " (no times recorded: a microsecond a line)") << '\n';
    };
}

}  // namespace qvin::cli
