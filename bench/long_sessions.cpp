// Long sessions and large logs, each against a baseline in the same process:
//  - the data log reader: a log streamed through it against the same bytes read bare
//    (MB/s and the ratio), and the memory it takes (resident set before and after);
//  - the strip chart over a 48-hour session at the 10 ms loop: what it keeps (buckets,
//    bytes), the time per reading added, and the time to reduce each span to 1000 columns
//    when the session is 1 hour old against when it is 48 hours old (target: the same);
//  - the data log itself: the time to write a pass at the start of a file against after
//    10 million passes in it (target: the same).
// Usage: bench_long_sessions [PASSES-IN-THE-READ-LOG (default 5000000)] [PASSES-BEFORE-THE-LATE-WRITES (default 10000000)]
// QVIN_BENCH_EVERY_HOURS=N also reduces every N hours of the chart's session.

#include <stdlib.h>  // mkdtemp
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <fcntl.h>

#include "device/data_log.h"
#include "device/data_log_reader.h"
#include "ui/chart/strip_chart_data.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

// The resident set in kB, from /proc.
long ResidentKb() {
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return 0;
}

// A folder of this run's own, removed however the run ends.
struct RunFolder {
    fs::path path;
    RunFolder() {
        std::string name = (fs::temp_directory_path() / "qvin-bench-long-XXXXXX").string();
        if (!mkdtemp(name.data())) throw std::runtime_error("cannot make a folder in " + fs::temp_directory_path().string());
        path = name;
    }
    ~RunFolder() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};

std::string Header() {
    qvin::DataLogHeader h;
    h.date = "6/1/2026 08:00:00";
    h.loopDelayMs = 10;
    h.samplePeriodText = "1.099";
    h.avgCntText = '7';  // a char: GCC 12 warns falsely (bug 105329) on a one-letter literal at -O3
    return qvin::DataLogHeaderText(h);
}

std::string Pass(std::int32_t i) {
    const float v = 30.0f + 0.0001f * static_cast<float>((i * 7919LL) % 1000);
    return qvin::DataLogLine(i, {3.30132f, 0.0f, 24.99998f, v, v}, true, false, 0);
}

void Reader(const fs::path& folder, std::int32_t passes) {
    const fs::path file = folder / "read.txt";
    {
        std::ofstream out(file, std::ios::binary);
        out << Header();
        std::string block;
        for (std::int32_t i = 1; i <= passes; ++i) {
            block += Pass(i);
            if (block.size() > (1 << 20)) out << block, block.clear();
        }
        out << block;
    }
    const double mb = static_cast<double>(fs::file_size(file)) / 1e6;
    std::printf("data log reader, %d passes (%.0f MB, in the page cache after the first round):\n", passes, mb);
    for (int round = 0; round < 3; ++round) {
        auto t0 = Clock::now();
        const int fd = ::open(file.c_str(), O_RDONLY);
        std::vector<char> chunk(1 << 20);
        while (::read(fd, chunk.data(), chunk.size()) > 0) {
        }
        ::close(fd);
        const double bare = Seconds(t0);

        const long before = ResidentKb();
        long peak = before;
        qvin::DataLogParser parser;
        std::size_t seen = 0;
        parser.onPass = [&](std::size_t, const qvin::LogPass&) {
            if ((++seen & 0xFFFFF) == 0) peak = std::max(peak, ResidentKb());
        };
        t0 = Clock::now();
        const std::string error = qvin::StreamDataLog(file, parser);
        const double streamed = Seconds(t0);
        if (!error.empty() || seen != static_cast<std::size_t>(passes)) std::printf("  FAILED: %s (%zu passes)\n", error.c_str(), seen);
        std::printf("  round %d: bare read %.0f MB/s, reader %.0f MB/s (%.1f million passes/s): %.1f times the bare read's time;"
                    " resident set grew %ld kB\n",
                    round, mb / bare, mb / streamed, static_cast<double>(passes) / streamed / 1e6, streamed / bare, peak - before);
    }
}

void Chart() {
    using namespace std::chrono;
    const auto t0 = qvin::ui::ChartClock::time_point{} + seconds(1'780'300'800);
    qvin::ui::StripChartData data;
    const std::array<std::pair<const char*, qvin::ui::ChartClock::duration>, 5> spans{
        {{"10 s", seconds(10)}, {"1 min", seconds(60)}, {"10 min", seconds(600)}, {"1 h", seconds(3600)}, {"All", {}}}};
    auto reduceTimes = [&] {
        std::array<double, 5> us{};
        const auto to = *data.newest();
        for (std::size_t s = 0; s < spans.size(); ++s) {
            const auto from = s + 1 < spans.size() ? to - spans[s].second : *data.oldest();
            std::vector<double> times;
            for (int r = 0; r < 9; ++r) {
                const auto a = Clock::now();
                const auto cols = data.Reduce(from, to, 1000);
                times.push_back(Seconds(a) * 1e6);
                if (cols.size() != 1000) std::printf("  FAILED: %zu columns\n", cols.size());
            }
            std::sort(times.begin(), times.end());
            us[s] = times[times.size() / 2];
        }
        return us;
    };
    const std::int64_t perHour = 360'000;  // the 10 ms loop
    std::array<double, 5> atOneHour{};
    double addSeconds = 0;
    for (std::int64_t i = 0; i < 48 * perHour; ++i) {
        qvin::ui::ChartSample s;
        s.time = t0 + milliseconds(10 * i);
        const float v = 30.0f + 0.0001f * static_cast<float>((i * 7919) % 1000);
        s.values = {3.3f, 0.0f, 25.0f, v, v};
        s.newData = true;
        const auto a = Clock::now();
        data.Add(s);
        addSeconds += Seconds(a);
        if (i + 1 == perHour) atOneHour = reduceTimes();
        if (std::getenv("QVIN_BENCH_EVERY_HOURS") && (i + 1) % (perHour * std::atoi(std::getenv("QVIN_BENCH_EVERY_HOURS"))) == 0) {
            const auto t = reduceTimes();
            std::printf("  at %lld h: %.0f %.0f %.0f %.0f %.0f us\n", static_cast<long long>((i + 1) / perHour), t[0], t[1], t[2], t[3], t[4]);
        }
    }
    const auto atTwoDays = reduceTimes();
    const double bucketMb = static_cast<double>(data.buckets() * sizeof(qvin::ui::ChartBucket)) / 1e6;
    const double rawMb = static_cast<double>(data.samples().size() * sizeof(qvin::ui::ChartSample)) / 1e6;
    std::printf("strip chart, 48 h at the 10 ms loop (%llu readings): %zu buckets of %zu bytes (%.1f MB) and the last ten"
                " minutes' %zu readings (%.1f MB); %.0f ns a reading added\n",
                static_cast<unsigned long long>(data.count()), data.buckets(), sizeof(qvin::ui::ChartBucket), bucketMb,
                data.samples().size(), rawMb, addSeconds / static_cast<double>(data.count()) * 1e9);
    std::printf("  reduce to 1000 columns (median of 9), at 1 h of session and at 48 h:\n");
    for (std::size_t s = 0; s < spans.size(); ++s)
        std::printf("    %-6s %8.0f us  %8.0f us  (%.2f times)\n", spans[s].first, atOneHour[s], atTwoDays[s], atTwoDays[s] / atOneHour[s]);
}

void Writer(const fs::path& folder, std::int32_t before) {
    const fs::path file = folder / "write.txt";
    qvin::DataLogFile log;
    if (!log.Open(file) || !log.Write(Header())) {
        std::printf("data log writer: FAILED: %s\n", log.error().c_str());
        return;
    }
    auto timeWrites = [&](std::int32_t from, std::int32_t n) {
        std::vector<double> us;
        for (std::int32_t i = from; i < from + n; ++i) {
            const std::string line = Pass(i);
            const auto a = Clock::now();
            if (!log.Write(line)) std::printf("  FAILED: %s\n", log.error().c_str());
            us.push_back(Seconds(a) * 1e6);
        }
        std::sort(us.begin(), us.end());
        return std::array<double, 3>{us[us.size() / 2], us[us.size() * 99 / 100], us.back()};
    };
    const auto early = timeWrites(1, 100'000);
    // The lines in between, written as fast as they go (the same calls).
    for (std::int32_t i = 100'001; i <= before; ++i) log.Write(Pass(i));
    const auto late = timeWrites(before + 1, 100'000);
    std::printf("data log, a pass written (median / p99 / max, us): at the start %.2f / %.2f / %.0f, after %d passes"
                " (%.0f MB) %.2f / %.2f / %.0f: %.2f times the start's median\n",
                early[0], early[1], early[2], before, static_cast<double>(fs::file_size(file)) / 1e6, late[0], late[1], late[2],
                late[0] / early[0]);
}

}  // namespace

int main(int argc, char** argv) {
    const std::int32_t readPasses = argc > 1 ? std::atoi(argv[1]) : 5'000'000;
    const std::int32_t writePasses = argc > 2 ? std::atoi(argv[2]) : 10'000'000;
    const RunFolder run;
    Reader(run.path, readPasses);
    Chart();
    Writer(run.path, writePasses);
    return 0;
}
