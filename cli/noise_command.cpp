#include "cli/noise_command.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <ostream>
#include <sstream>
#include <unistd.h>

#include "analysis/series.h"
#include "board/vcd_export.h"
#include "analysis/stability.h"
#include "core/excerpt.h"
#include "core/file_safety.h"
#include "core/number_text.h"

namespace qvin::cli {

namespace {

using session::Error;

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Ctrl-C ends a capture between two passes; the file is then complete.
std::atomic<bool> gInterrupted{false};
extern "C" void OnInterrupt(int) { gInterrupted = true; }

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

std::string Number(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.9g", v);
    return buf;
}

}  // namespace

Action Capture(Command& c) {
    long long count = -1;
    double seconds = -1;
    std::string out;
    for (std::size_t i = 1; i < c.words.size(); ++i) {
        const std::string& w = c.words[i];
        if (i + 1 >= c.words.size()) throw Error(kBadInput, "capture: " + w + " needs a value");
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
        } else {
            throw Error(kBadInput, "capture: unknown option '" + Excerpt(w) + "'");
        }
    }
    if ((count > 0) == (seconds > 0)) throw Error(kBadInput, "capture: give either --count N or --seconds S");
    if (!out.empty())
        if (const std::string why = WriteRefusal(out); !why.empty()) throw Error(kFileError, why);
    return [&c, count, seconds, out] {
        std::ofstream file;
        std::ostream* to = &c.out;
        if (!out.empty()) {
            file.open(out, std::ios::binary | std::ios::trunc);
            if (!file) throw Error(kFileError, out + ": " + std::strerror(errno));
            to = &file;
        }
        gInterrupted = false;
        struct sigaction sa {}, old {};
        sa.sa_handler = OnInterrupt;
        sigaction(SIGINT, &sa, &old);
        const bool progress = ::isatty(STDERR_FILENO) && !out.empty();
        *to << kCaptureHead << IsoNow() << ",SUPPLY_OUT (V),AUX_ADC (V),TEMP_OUT (dgrC),INCL_360 (dgr),INCL_180 (dgr),New,Alarm,Status\n";
        Clock& clock = c.s.program().clock;
        const std::int64_t start = clock.NowNs();
        const std::int64_t end = seconds > 0 ? start + static_cast<std::int64_t>(seconds * 1e9) : 0;
        long long kept = 0, passes = 0;
        std::int64_t shownAt = start;
        try {
            // As fast as the interface allows; a sample is kept once, when it is new.
            while (!gInterrupted && (count < 0 || kept < count) && (seconds < 0 || clock.NowNs() < end)) {
                const session::Pass p = c.s.ReadPass();
                const std::int64_t now = clock.NowNs();
                ++passes;
                if (!p.newData) continue;
                ++kept;
                *to << Number(static_cast<double>(now - start) / 1e9);
                for (float v : p.values) *to << ',' << FormatGeneral(v);
                *to << ',' << (p.newData ? 1 : 0) << ',' << (p.alarm ? 1 : 0) << ',' << p.status << '\n';
                if (progress && now - shownAt > 250'000'000) {
                    shownAt = now;
                    const double t = static_cast<double>(now - start) / 1e9;
                    c.err << "\rcapture: " << kept << " samples, " << static_cast<long long>(kept / std::max(t, 1e-9)) << "/s" << std::flush;
                }
            }
        } catch (...) {
            sigaction(SIGINT, &old, nullptr);
            to->flush();
            throw;
        }
        sigaction(SIGINT, &old, nullptr);
        to->flush();
        if (!out.empty() && !file) throw Error(kFileError, out + ": " + std::strerror(errno));
        const double t = static_cast<double>(clock.NowNs() - start) / 1e9;
        if (progress) c.err << '\r';
        if (!out.empty())
            c.err << "capture: " << kept << " samples in " << FormatFixed(t, 1) << " s (" << passes << " passes read)"
                  << (gInterrupted ? ", stopped by Ctrl-C" : "") << " into " << out << '\n';
    };
}

Action Noise(Command& c) {
    std::string file, column, png, csv;
    std::optional<double> tau0;
    for (std::size_t i = 1; i < c.words.size(); ++i) {
        const std::string& w = c.words[i];
        if (w == "--column" || w == "--tau0" || w == "--png" || w == "--csv") {
            if (i + 1 >= c.words.size() || c.words[i + 1].empty()) throw Error(kBadInput, "noise: " + w + " needs a value");
            const std::string& v = c.words[++i];
            if (w == "--column") column = v;
            else if (w == "--png") png = v;
            else if (w == "--csv") csv = v;
            else {
                const NumberScan s = ScanLeadingNumber(v);
                if (s.length != v.size() || !(s.value > 0 && s.value <= 1e6)) throw Error(kBadInput, "bad --tau0 '" + Excerpt(v) + "' (seconds)");
                tau0 = s.value;
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
    for (const std::string& o : {png, csv}) {
        if (o.empty()) continue;
        if (const std::string why = SameFileRefusal(o, file); !why.empty()) throw Error(kBadInput, why);
        if (const std::string why = WriteRefusal(o); !why.empty()) throw Error(kFileError, why);
    }
    if (!png.empty() && !c.allanPng) throw Error(kBadInput, "--png is not available: this qvin-cli was built without Qt");
    return [&c, file, column, png, csv, tau0] {
        std::string why;
        const auto read = analysis::ReadSeries(file, tau0, why);
        if (!read && !tau0 && why.ends_with("neither a capture nor a data log"))
            throw Error(kBadInput, why + ": give --tau0 SECONDS for its values");
        if (!read) throw Error(kFileError, why);
        const analysis::Series& s = *read;
        if (!(s.tau0 > 0)) throw Error(kBadInput, file + ": too few samples to tell the time between them; give --tau0 SECONDS");
        std::vector<std::size_t> picked;
        for (std::size_t k = 0; k < s.names.size(); ++k) {
            const std::string name = Lower(s.names[k].substr(0, s.names[k].find(' ')));
            if (column.empty() || Lower(column) == name || Lower(column) == Lower(s.names[k])) picked.push_back(k);
        }
        if (picked.empty()) throw Error(kBadInput, "no column '" + Excerpt(column) + "' in " + file);
        std::vector<AllanCurve> curves;
        std::string table = "column,tau_s,m,adev,adev_lo,adev_hi,edf\n";
        c.out << file << ": tau0 " << Number(s.tau0) << " s (" << s.note << ")\n";
        for (std::size_t k : picked) {
            const std::vector<double>& y = s.columns[k];
            const analysis::Stats st = analysis::Describe(y);
            const auto curve = analysis::OctaveAdev(y, s.tau0);
            const analysis::NoiseFigures f = analysis::ReadNoise(curve);
            c.out << '\n' << s.names[k] << '\n'
                  << "  count " << st.count << ", mean " << Number(st.mean) << ", std dev " << Number(st.stdDev) << ", min " << Number(st.min)
                  << ", max " << Number(st.max) << ", peak-to-peak " << Number(st.peakToPeak) << '\n';
            if (curve.empty()) {
                c.out << "  too few samples for an Allan deviation (4 at least)\n";
                continue;
            }
            c.out << "  tau (s)         ADEV            68 % interval                   edf\n";
            for (const analysis::AllanPoint& p : curve) {
                char line[160];
                std::snprintf(line, sizeof line, "  %-14.6g  %-14.6g  %-14.6g %-14.6g  %.1f\n", p.tau, p.adev, p.lo, p.hi, p.edf);
                c.out << line;
                table += s.names[k] + "," + Number(p.tau) + "," + std::to_string(p.m) + "," + Number(p.adev) + "," + Number(p.lo) + "," +
                         Number(p.hi) + "," + Number(p.edf) + "\n";
            }
            const std::string unit = s.names[k].find('(') != std::string::npos
                                         ? s.names[k].substr(s.names[k].find('(') + 1, s.names[k].find(')') - s.names[k].find('(') - 1)
                                         : "units";
            if (f.whiteDensity)
                c.out << "  white noise density " << Number(*f.whiteDensity) << " " << unit << "/sqrt(Hz) (from " << f.whitePoints
                      << " points of slope -1/2)\n";
            else
                c.out << "  white noise density: no region of slope -1/2\n";
            c.out << "  bias instability " << Number(f.biasInstability) << " " << unit << " (minimum ADEV / 0.664, at tau " << Number(f.biasTau)
                  << " s)\n";
            curves.push_back({s.names[k], curve});
        }
        if (!csv.empty())
            if (const std::string why = WriteWholeFile(csv, table); !why.empty()) throw Error(kFileError, why);
        if (!png.empty())
            if (const std::string why = c.allanPng(curves, png); !why.empty()) throw Error(kFileError, why);
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
    if (const std::string why = WriteRefusal(out); !why.empty()) throw Error(kFileError, why);
    return [&c, recording, out] {
        // Written beside the file and renamed: a failed export leaves nothing half-done.
        VcdSummary summary;
        std::string failure;
        const std::string why = ReplaceFile(out, [&](const std::filesystem::path& temp) -> std::string {
            std::ofstream file(temp, std::ios::binary | std::ios::trunc);
            failure = ExportVcd(recording, file, summary);
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
