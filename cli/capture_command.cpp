#include "cli/capture_command.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <mutex>
#include <ostream>
#include <thread>
#include <unistd.h>

#include "analysis/series.h"
#include "board/replay_board.h"
#include "core/excerpt.h"
#include "core/file_safety.h"
#include "core/number_text.h"
#include "device/data_log.h"
#include "session/capture.h"

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

// What capture was asked to do, and where to put its rows (standard output when empty).
struct CaptureArgs {
    session::CaptureRequest request;
    std::string out;
};

CaptureArgs ParseCapture(const std::vector<std::string>& words) {
    long long count = -1;
    double seconds = -1;
    CaptureArgs a;
    session::CaptureRequest& request = a.request;
    for (std::size_t i = 1; i < words.size(); ++i) {
        const std::string& w = words[i];
        if (i + 1 >= words.size()) throw Error(kBadInput, "capture: " + Excerpt(w) + " needs a value");
        const std::string& v = words[++i];
        if (w == "--count") {
            count = ParseInteger(v, 1, 100'000'000, "count");
        } else if (w == "--seconds") {
            const NumberScan s = ScanLeadingNumber(v);
            if (s.length != v.size() || v.find_first_not_of("0123456789.") != std::string::npos || !(s.value > 0 && s.value <= 1e6))
                throw Error(kBadInput, "bad duration '" + Excerpt(v) + "' (seconds, more than 0, at most 1000000)");
            seconds = s.value;
        } else if (w == "--out") {
            if (v.empty()) throw Error(kBadInput, "capture: --out needs a file name");
            a.out = v;
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
    return a;
}

// Takes the capture, handing the header and then whole rows to `put`, in chunks of whole
// rows: a crash, a kill or a full disk leaves whole rows. A write that fails stops the
// capture at its next pass, as a stop signal does.
session::CaptureSummary CaptureRows(Command& c, const CaptureArgs& a, const std::function<bool(const std::string&)>& put) {
    std::string head = kCaptureHead + IsoNow();
    for (const std::size_t k : a.request.outputs) head += ',' + session::OutputColumn(session::kOutputs[k]);
    head += ",Alarm,Status,Missed\n";
    if (!put(head)) return {};
    const bool progress = ::isatty(STDERR_FILENO) && !a.out.empty();
    std::int64_t shownAt = 0, rows = 0;
    std::string line;
    RowWriter writer(put);
    const session::CaptureSummary sum = session::Capture(
        c.s, a.request,
        [&](const session::CaptureRow& r) {
            line = FormatSignificant(r.seconds, 9);
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
    return sum;
}

// The summary on standard error, how the capture ended and `where` its rows went.
void ReportCapture(Command& c, const CaptureArgs& a, const session::CaptureSummary& sum, const std::string& where) {
    c.err << session::CaptureReport(sum, a.request.outputs.size()) << '\n';
    if (gSignal != 0) c.err << "capture: stopped by " << StopSignals::Name(gSignal) << where << '\n';
    else if (!where.empty()) c.err << "capture: written" << where << '\n';
}

void CaptureToOutput(Command& c, const CaptureArgs& a) {
    std::string failure;
    const session::CaptureSummary sum = CaptureRows(c, a, [&](const std::string& text) {
        c.out << text << std::flush;
        if (!c.out) failure = std::strerror(errno);
        return failure.empty();
    });
    if (!failure.empty()) throw Error(kFileError, "cannot write standard output: " + failure);
    ReportCapture(c, a, sum, "");
}

// Into a new file beside the old one, renamed over it when the capture has ended: a capture
// that fails leaves the old file as it was and keeps its own rows apart.
void CaptureToFile(Command& c, const CaptureArgs& a) {
    const std::string& out = a.out;
    KeepPartial keep;
    long long rows = -1;  // the header is no row
    int code = kFileError;
    session::CaptureSummary sum;
    const std::string why = ReplaceFile(out, [&](const std::filesystem::path& temp) -> std::string {
        DataLogFile file;
        if (!file.Open(temp)) return file.error();
        std::string failure;
        try {
            sum = CaptureRows(c, a, [&](const std::string& text) {
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
    ReportCapture(c, a, sum, " into " + out);
}

}  // namespace

Action Capture(Command& c) {
    const CaptureArgs a = ParseCapture(c.words);
    if (!a.out.empty()) {
        if (const std::string why = c.s.OutputRefusal(a.out); !why.empty()) throw Error(kBadInput, why);
        if (const std::string why = WriteRefusal(a.out); !why.empty()) throw Error(kFileError, why);
    }
    return [&c, a] {
        StopSignals signals;
        if (a.out.empty()) CaptureToOutput(c, a);
        else CaptureToFile(c, a);
    };
}

}  // namespace qvin::cli
