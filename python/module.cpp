// The qvin27319 Python module: the program's own session layer (board, connection,
// registers, the read loop's pass) and data log reader, for scripts and notebooks. Long
// waits release the GIL and are cut into slices, so Ctrl-C stops a watch or a capture
// within a twentieth of a second, leaving the board usable.

#include <unistd.h>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <mutex>
#include <charconv>
#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <cstring>
#include <variant>
#include <vector>

#include "board/replay_board.h"
#include "core/clock.h"
#include "analysis/deviations.h"
#include "analysis/stability.h"
#include "analysis/noise_terms.h"
#include "analysis/power_density.h"
#include "core/hex_text.h"
#include "session/doctor.h"
#include "platform/port/ppdev_port.h"
#include "device/transports.h"
#include "device/data_log_reader.h"
#include "platform/spi/ftdi_mpsse_bus.h"
#include "session/capture.h"
#include "session/paced_passes.h"
#include "session/session.h"
#include "sim/sim_board.h"

namespace py = pybind11;
using namespace qvin;

namespace {

// The classes of the Python exceptions, set when the module is made.
PyObject* gQvinError = nullptr;
PyObject* gBadInput = nullptr;
PyObject* gNoInterface = nullptr;
PyObject* gReplayStopped = nullptr;
PyObject* gFileError = nullptr;

// The adapter's and the port's messages ("Error Writing SPI"), kept for the exception
// that follows them and for Board.messages.
// Kept under a lock of their own: a thread may read them while another's exchange adds one.
class Collected final : public MessageService {
public:
    void Message(std::string_view text, std::string_view) override {
        std::lock_guard lock(mutex_);
        all_.emplace_back(text);
    }
    std::vector<std::string> all() const {
        std::lock_guard lock(mutex_);
        return all_;
    }
    std::size_t size() const {
        std::lock_guard lock(mutex_);
        return all_.size();
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> all_;
};

// A value as the part means it: the single-precision number the program computes, given to
// Python as the shortest decimal that reads back as it (3.30132, not 3.3013200759887695).
double AsThePartMeansIt(float v) {
    char text[32];
    const auto written = std::to_chars(text, text + sizeof text, v);
    double d = v;
    std::from_chars(text, written.ptr, d);
    return d;
}

constexpr const char* kOutputKeys[] = {"supply_out", "aux_adc", "temp_out", "incl_360", "incl_180"};
constexpr std::int64_t kSliceNs = 50'000'000;  // Ctrl-C is heard between slices of a pause
constexpr double kLongestPauseMs = 86'400'000;

struct WatchPass {
    std::int64_t index;
    double time;  // seconds since the watch or capture started, on the monotonic clock
    std::array<float, 5> values;
    bool newData, alarm;
    std::int32_t status;
};

class PyBoard {
public:
    PyBoard(std::unique_ptr<Clock> clock, session::Options options, std::string kind)
        : clock_(std::move(clock)), kind_(std::move(kind)) {
        session_ = std::make_unique<session::Session>(*clock_, options, messages_);
        settingsFile_ = options.settingsFile;
    }

    static std::unique_ptr<PyBoard> Sim(std::optional<double> angle, const std::optional<std::string>& faults, std::optional<std::uint32_t> seed, bool virtualClock,
                                      const std::string& settings, const std::optional<std::string>& noise) {
        session::Options o;
        o.board = "sim";
        o.settingsFile = settings;
        o.calibrationMs = 20.0f;
        // Each argument given wins over its QVIN_SIM_* variable, which is then not read.
        if (angle) {
            if (!std::isfinite(*angle) || *angle < -360 || *angle > 360)
                throw session::Error(qvin::kBadInput, "angle " + std::to_string(*angle) + " is out of range (-360 to 360)");
            o.sim.angle = FormatGeneralDouble(*angle);
        }
        if (seed == 0) throw session::Error(qvin::kBadInput, "seed must be a whole number from 1 to 4294967295");
        if (seed) o.sim.seed = std::to_string(*seed);
        if (faults) o.sim.faults = *faults;
        if (noise) o.sim.noise = *noise;
        std::unique_ptr<Clock> clock = virtualClock ? std::unique_ptr<Clock>(std::make_unique<VirtualClock>())
                                                    : std::unique_ptr<Clock>(std::make_unique<RealClock>());
        return std::make_unique<PyBoard>(std::move(clock), o, "sim");
    }

    static std::unique_ptr<PyBoard> Hardware(session::InterfaceChoice choice, const std::string& settings) {
        session::Options o;
        o.board = "hardware";
        o.interface = choice;
        o.settingsFile = settings;
        return std::make_unique<PyBoard>(std::make_unique<RealClock>(), o, "hardware");
    }

    static std::unique_ptr<PyBoard> Replay(const std::string& path, const std::string& settings) {
        session::Options o;
        o.board = ReplayBoardName(path);
        o.settingsFile = settings;
        auto clock = std::make_unique<VirtualClock>();
        Clock* c = clock.get();
        auto b = std::make_unique<PyBoard>(std::move(clock), o, "replay");
        // The recorded pace passes on the board's own clock: no real waiting.
        b->session_->board().replay()->SetClock(c);
        return b;
    }

    // The board for one whole exchange: other threads wait their turn (without the GIL, and
    // hearing Ctrl-C between slices of their wait), so that two exchanges never mix on the
    // wire. A board belongs to the process that opened it: after fork() the child shares its
    // recording's read position and its adapter, and would take them from the parent.
    std::unique_lock<std::timed_mutex> Hold() {
        if (::getpid() != pid_)
            throw session::Error(qvin::kNoInterface, "this board was opened in process " + std::to_string(pid_) +
                                                            "; after fork() open another one in this process");
        std::unique_lock lock(busy_, std::defer_lock);
        for (;;) {
            {
                py::gil_scoped_release release;
                if (lock.try_lock_for(std::chrono::nanoseconds(kSliceNs))) break;
            }
            if (PyErr_CheckSignals() != 0) throw py::error_already_set();
        }
        if (!session_) throw session::Error(qvin::kNoInterface, "the board is closed");
        return lock;
    }

    // Runs `f` holding the board, without the GIL: a read over USB or a pause must not stop
    // other threads.
    // An error carries the messages said on the way to it ("The required I/O drivers could
    // not be installed." and why): a script sees the cause in the exception it catches.
    template <typename F>
    auto Unlocked(F&& f) {
        const auto held = Hold();
        const std::size_t said = messages_.size();
        try {
            py::gil_scoped_release release;
            return f();
        } catch (const session::Error& e) {
            const std::vector<std::string> all = messages_.all();
            std::string said_;
            for (std::size_t i = said; i < all.size(); ++i) {
                std::string m = all[i];
                for (std::size_t at; (at = m.find("\r\n")) != std::string::npos;) m.replace(at, 2, " ");
                if (std::string(e.what()).find(m) == std::string::npos) said_ += (said_.empty() ? "" : "; ") + m;
            }
            throw session::Error(e.code, said_.empty() ? std::string(e.what()) : std::string(e.what()) + " [" + said_ + "]");
        }
    }

    // A board on real hardware is reached when it is opened: one that is not there, or that
    // cannot be had, says so at once.
    static std::unique_ptr<PyBoard> Connected(std::unique_ptr<PyBoard> b) {
        b->Unlocked([&] { b->session_->Connect(); });
        return b;
    }

    // Ends the session: the adapter or the port let go, the trace closed. Again is nothing.
    void Close() {
        if (!session_) return;
        const auto held = Hold();
        session_.reset();
    }
    bool closed() const { return !session_; }

    // "<Board sim on Ezusb-0>", "<Board hardware on the parallel port at 378>", "<Board closed>".
    std::string Repr() const {
        if (!session_) return "<Board " + kind_ + ", closed>";
        const Program& p = session_->program();
        std::string on;
        if (const Transport* t = FindTransport(p.settings.InterfaceType)) {
            const std::string opened = t->opened(p);
            on = " on " + (opened.empty() ? t->where(p.settings) : opened);
        }
        return "<Board " + kind_ + on + ">";
    }

    // A register by name ("Incl_360", any case) or by index (13, or "13").
    std::int16_t IndexOf(const py::object& reg) const {
        if (!session_) throw session::Error(qvin::kNoInterface, "the board is closed");
        if (py::isinstance<py::bool_>(reg)) throw session::Error(qvin::kBadInput, "a register is a name or an index 1 to 65");
        if (py::isinstance<py::int_>(reg)) {
            int overflow = 0;
            const long long i = PyLong_AsLongLongAndOverflow(reg.ptr(), &overflow);
            return session::Session::RegisterAt(overflow != 0 ? 0 : i, py::str(reg).cast<std::string>());
        }
        if (!py::isinstance<py::str>(reg)) throw session::Error(qvin::kBadInput, "a register is a name or an index 1 to 65");
        return session_->RegisterIndex(reg.cast<std::string>());
    }

    session::Reading ReadRaw(const py::object& reg) {
        const std::int16_t index = IndexOf(reg);
        return Unlocked([&] { return session_->Read(index); });
    }
    double Read(const py::object& reg) { return AsThePartMeansIt(ReadRaw(reg).value); }
    // Several registers in one exchange: their values, or as read with `raw`.
    py::list ReadMany(const py::iterable& regs, bool raw) {
        if (py::isinstance<py::str>(regs)) throw session::Error(qvin::kBadInput, "read_many takes a list of registers, not one name");
        std::vector<std::int16_t> indexes;
        for (const py::handle r : regs) indexes.push_back(IndexOf(py::reinterpret_borrow<py::object>(r)));
        if (indexes.empty()) return py::list();
        const auto readings = Unlocked([&] { return session_->ReadMany(indexes); });
        py::list out;
        for (const session::Reading& r : readings) {
            if (raw) out.append(py::cast(r));
            else out.append(AsThePartMeansIt(r.value));
        }
        return out;
    }
    // What stands between this machine and a first read (qvin-cli doctor).
    py::dict Doctor() {
        if (!session_) throw session::Error(qvin::kNoInterface, "the board is closed");
        const session::Diagnosis d = Unlocked([&] { return session::Diagnose(*session_, settingsFile_); });
        py::list findings;
        for (const session::Finding& f : d.findings) {
            py::dict one;
            one["topic"] = f.topic;
            one["ok"] = f.ok;
            one["text"] = f.text;
            one["fix"] = f.fix;
            findings.append(one);
        }
        py::dict out;
        out["findings"] = findings;
        out["reachable"] = d.boardReachable;
        return out;
    }

    // Every readable register by its name, in one exchange.
    py::dict ReadAll() {
        if (!session_) throw session::Error(qvin::kNoInterface, "the board is closed");
        std::vector<std::int16_t> indexes;
        for (const session::RegisterRow& r : session_->Registers())
            if (r.readable) indexes.push_back(static_cast<std::int16_t>(r.index));
        const auto readings = Unlocked([&] { return session_->ReadMany(indexes); });
        py::dict d;
        for (std::size_t i = 0; i < readings.size(); ++i) d[py::str(session_->Label(indexes[i]))] = AsThePartMeansIt(readings[i].value);
        return d;
    }

    void Write(const py::object& reg, std::int32_t value) {
        const std::int16_t index = IndexOf(reg);
        // As qvin-cli notes it: written all the same, for the chip to take or ignore.
        if (!session_->program().map[index].RegWritable) {
            const std::string note = session_->Label(index) + " is read-only; the chip may ignore the write";
            if (PyErr_WarnEx(PyExc_UserWarning, note.c_str(), 1) != 0) throw py::error_already_set();
        }
        Unlocked([&] { session_->Write(index, value); });
    }

    py::dict Info() {
        const session::PartInfo i = Unlocked([&] { return session_->Info(); });
        py::dict d;
        d["name"] = i.name;
        d["revision"] = AsThePartMeansIt(i.revision);
        // A datetime.date; a part whose date registers hold no date (unprogrammed) gives None,
        // and its fields stay in date_fields as read.
        d["date_fields"] = py::make_tuple(i.year, i.month, i.day);
        try {
            d["date"] = py::module_::import("datetime").attr("date")(i.year, i.month, i.day);
        } catch (const py::error_already_set& e) {
            if (!e.matches(PyExc_ValueError)) throw;
            d["date"] = py::none();
        }
        d["flash_cycles"] = i.flashCycles;
        d["rotation"] = i.reverseRotation ? "Reverse" : "Normal";
        return d;
    }

    py::list Registers() {
        py::list rows;
        if (!session_) throw session::Error(qvin::kNoInterface, "the board is closed");
        for (const session::RegisterRow& r : session_->Registers()) {
            py::dict d;
            d["index"] = r.index;
            // A name read() takes: an unnamed register's is "#N".
            d["name"] = session_->Label(static_cast<std::int16_t>(r.index));
            d["address"] = r.address;
            d["bytes"] = r.bytes;
            d["readable"] = r.readable;
            d["writable"] = r.writable;
            d["signed"] = r.isSigned;
            d["scale"] = AsThePartMeansIt(r.scale);
            d["offset"] = AsThePartMeansIt(r.offset);
            d["unit"] = r.unit;
            rows.append(d);
        }
        return rows;
    }

    std::string UserRegisters() { return Unlocked([&] { return session_->UserRegisterTable(); }); }

    py::list Adapters() { return Rows(Unlocked([&] { return session_->Adapters(); })); }
    py::list FtdiAdapters() { return Rows(Unlocked([&] { return session_->FtdiAdapters(); })); }
    static py::list Rows(const std::vector<session::AdapterRow>& rows) {
        py::list out;
        for (const session::AdapterRow& a : rows) {
            py::dict d;
            d["device"] = a.device;
            d["kind"] = a.kind;
            d["descriptor1"] = a.descriptor1;
            d["descriptor2"] = a.descriptor2;
            d["revision"] = AsThePartMeansIt(a.revision);
            d["speed"] = AsThePartMeansIt(a.speed);
            out.append(d);
        }
        return out;
    }

    std::vector<std::uint16_t> Spi(const std::vector<std::int32_t>& words, int channel, bool negative, std::optional<int> delayUs,
                                   std::optional<int> staticBits) {
        if (delayUs && (*delayUs < 1 || *delayUs > 255)) throw session::Error(qvin::kBadInput, "delay_us must be 1 to 255");
        if (staticBits && (*staticBits & ~0x78)) throw session::Error(qvin::kBadInput, "static_bits holds only bits 3 to 6 (0x78)");
        for (std::int32_t w : words)
            if (w < 0 || w > 0xFFFF) throw session::Error(qvin::kBadInput, "an SPI word is 0 to 0xFFFF");
        return Unlocked([&] {
            std::optional<std::uint8_t> d, b;
            if (delayUs) d = static_cast<std::uint8_t>(*delayUs);
            if (staticBits) b = static_cast<std::uint8_t>(*staticBits);
            session_->SpiSetUp(d, b);
            return words.empty() ? std::vector<std::uint16_t>{} : session_->SpiTransfer(words, channel, negative);
        });
    }

    // A pause in slices; Ctrl-C (or any Python signal handler raising) ends it.
    void Pause(double ms) {
        if (!(ms >= 0 && ms <= kLongestPauseMs))
            throw session::Error(qvin::kBadInput, "ms must be a number from 0 to " + std::to_string(static_cast<long long>(kLongestPauseMs)) + " (a day)");
        std::int64_t left = static_cast<std::int64_t>(std::ceil(ms * 1e6));
        while (left > 0) {
            const std::int64_t slice = std::min(left, kSliceNs);
            Unlocked([&] { session_->Pause(static_cast<float>(static_cast<double>(slice) / 1e6)); });
            left -= slice;
            if (PyErr_CheckSignals() != 0) throw py::error_already_set();
        }
    }

    std::int64_t NowNs() const { return clock_->NowNs(); }
    session::Session& session() { return *session_; }
    std::vector<std::string> Messages() const { return messages_.all(); }
    const std::string& kind() const { return kind_; }

private:
    std::unique_ptr<Clock> clock_;
    Collected messages_;
    std::unique_ptr<session::Session> session_;
    std::string kind_;
    pid_t pid_ = ::getpid();
    std::timed_mutex busy_;
    std::string settingsFile_;
};

// board.watch(): an iterator of passes, paced like the read loop: the board's lock held
// for each pass, not across the pause, which Ctrl-C can end.
class Watch {
public:
    Watch(PyBoard& b, std::optional<std::int64_t> count, double delayMs) : loop_(Loop(b, count, delayMs)) {}
    WatchPass Next() {
        const std::optional<session::PacedPass> p = loop_.Next();
        if (!p) throw py::stop_iteration();
        if (PyErr_CheckSignals() != 0) throw py::error_already_set();
        return WatchPass{p->index, p->seconds, p->pass.values, p->pass.newData, p->pass.alarm, p->pass.status};
    }

private:
    static session::PacedPasses Loop(PyBoard& b, std::optional<std::int64_t> count, double delayMs) {
        if (count && *count < 0) throw session::Error(qvin::kBadInput, "count must be 0 or more");
        if (!(delayMs >= 0 && delayMs <= 60000)) throw session::Error(qvin::kBadInput, "delay_ms must be 0 to 60000");
        session::PacedPasses::Steps steps;
        steps.read = [&b] { return b.Unlocked([&] { return b.session().ReadPass(); }); };
        steps.pause = [&b](double ms) { b.Pause(ms); };
        return session::PacedPasses(b.session(), count, delayMs, std::move(steps));
    }
    session::PacedPasses loop_;
};

// Columns as NumPy arrays when NumPy is there, as lists otherwise.
bool HaveNumpy() {
    try {
        py::module_::import("numpy");
        return true;
    } catch (const py::error_already_set&) {
        return false;
    }
}

template <typename T>
py::object Column(const std::vector<T>& v) {
    if (!HaveNumpy()) return py::cast(v);
    py::array_t<T> a(static_cast<py::ssize_t>(v.size()));
    std::copy(v.begin(), v.end(), a.mutable_data());
    return a;
}

py::object Flags(const std::vector<bool>& v) {
    if (!HaveNumpy()) return py::cast(v);
    py::array_t<bool> a(static_cast<py::ssize_t>(v.size()));
    std::copy(v.begin(), v.end(), a.mutable_data());
    return a;
}

// The CLI's capture: as fast as the interface allows, each new sample once with its time
// and the samples missed before it. Ctrl-C ends it and gives back what it collected,
// with "stopped" true, as the CLI's capture keeps its file whole.
py::dict Capture(PyBoard& b, std::optional<std::int64_t> count, std::optional<double> seconds, const py::object& outputs,
                 std::optional<double> samplePeriodMs) {
    session::CaptureRequest request;
    if (count.has_value() == seconds.has_value()) throw session::Error(qvin::kBadInput, "give either count or seconds");
    if (count && (*count < 1 || *count > 100'000'000)) throw session::Error(qvin::kBadInput, "count must be 1 to 100000000");
    if (seconds && !(*seconds > 0 && *seconds <= 1e6)) throw session::Error(qvin::kBadInput, "seconds must be more than 0, at most 1000000");
    request.count = count;
    request.seconds = seconds;
    if (!outputs.is_none()) {
        std::string list;
        if (py::isinstance<py::str>(outputs)) {
            list = outputs.cast<std::string>();
        } else {
            for (const py::handle item : outputs) list += (list.empty() ? "" : ",") + py::cast<std::string>(item);
        }
        request.outputs = session::ParseOutputs(list);
    }
    if (samplePeriodMs) {
        session::SamplePeriodCode(*samplePeriodMs);
        request.samplePeriodMs = samplePeriodMs;
    }
    std::vector<double> time, missed;
    std::vector<std::vector<double>> cols(request.outputs.size());
    std::vector<bool> alarmBits;
    std::vector<std::int32_t> statusWords;
    bool interrupted = false;
    const auto held = b.Hold();  // one capture is one exchange with the board
    Clock& clock = b.session().program().clock;
    std::int64_t checkedAt = clock.NowNs();
    session::CaptureSummary sum;
    {
        py::gil_scoped_release release;
        sum = session::Capture(
            b.session(), request,
            [&](const session::CaptureRow& r) {
                time.push_back(r.seconds);
                for (std::size_t k = 0; k < r.values.size(); ++k) cols[k].push_back(AsThePartMeansIt(r.values[k]));
                alarmBits.push_back(r.alarm);
                statusWords.push_back(r.status);
                missed.push_back(static_cast<double>(r.missed));
            },
            [&] {
                // Signals are Python's to hear: ask it now and then, not every pass.
                if (clock.NowNs() - checkedAt < kSliceNs) return false;
                checkedAt = clock.NowNs();
                py::gil_scoped_acquire acquire;
                if (PyErr_CheckSignals() == 0) return false;
                if (!PyErr_ExceptionMatches(PyExc_KeyboardInterrupt)) throw py::error_already_set();
                PyErr_Clear();
                interrupted = true;
                return true;
            });
    }
    py::dict d;
    d["time"] = Column(time);
    for (std::size_t k = 0; k < request.outputs.size(); ++k) d[kOutputKeys[request.outputs[k]]] = Column(cols[k]);
    d["alarm"] = Flags(alarmBits);
    d["status"] = Column(statusWords);
    std::vector<std::int64_t> missedCounts(missed.begin(), missed.end());
    d["missed"] = Column(missedCounts);
    d["kept"] = sum.kept;
    d["missed_total"] = sum.missed;
    d["sample_period_ms"] = sum.periodMs;
    d["seconds"] = sum.seconds;
    d["stopped"] = interrupted;
    return d;
}

py::dict ReadLog(const std::string& path) {
    std::string why;
    const auto log = ReadDataLog(path, why);
    if (!log) throw session::Error(qvin::kFileError, why);
    py::list runs;
    for (const LogRun& r : log->runs) {
        py::dict run;
        run["date"] = r.date;
        run["loop_delay_ms"] = r.loopDelayMs;
        std::vector<std::int32_t> index, status;
        std::vector<double> cols[5];
        std::vector<bool> fresh, error;
        for (const LogPass& p : r.passes) {
            index.push_back(p.index);
            for (int k = 0; k < 5; ++k) cols[k].push_back(p.values[static_cast<std::size_t>(k)]);
            fresh.push_back(p.newData);
            error.push_back(p.error);
            status.push_back(p.status);
        }
        run["index"] = Column(index);
        for (int k = 0; k < 5; ++k) run[kOutputKeys[k]] = Column(cols[k]);
        run["new_data"] = Flags(fresh);
        run["error"] = Flags(error);
        run["status"] = Column(status);
        runs.append(run);
    }
    py::dict d;
    d["runs"] = runs;
    d["skipped"] = log->skipped;
    return d;
}

// For the overhead benchmark: n reads in C++ alone, in seconds.
double TimeReadsInCpp(PyBoard& b, const py::object& reg, int n) {
    const std::int16_t index = b.IndexOf(reg);
    const auto held = b.Hold();
    py::gil_scoped_release release;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < n; ++i) b.session().Read(index);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The errors, each with the exit status qvin-cli ends with, and how C++ errors become them.
void RegisterErrors(py::module_& m) {
    py::object base = py::reinterpret_steal<py::object>(PyErr_NewExceptionWithDoc(
        "qvin27319.QvinError", "An error of the evaluation program; .code is qvin-cli's exit status for it.", PyExc_RuntimeError, nullptr));
    m.attr("QvinError") = base;
    gQvinError = base.ptr();
    auto sub = [&m](const char* name, const char* doc, PyObject* parent, int code, PyObject*& slot) {
        py::object cls = py::reinterpret_steal<py::object>(PyErr_NewExceptionWithDoc(name, doc, parent, nullptr));
        cls.attr("code") = code;
        m.attr(std::string(name).substr(10).c_str()) = cls;
        slot = cls.ptr();
    };
    base.attr("code") = 0;
    sub("qvin27319.BadInputError", "Bad input: an unknown register, a number out of range, a bad fault rule (status 1).", gQvinError, 1, gBadInput);
    sub("qvin27319.NoInterfaceError", "No usable interface, or the adapter stopped answering (status 2).", gQvinError, 2, gNoInterface);
    sub("qvin27319.ReplayStoppedError", "A replay asked for what its recording does not hold next (status 2).", gNoInterface, 2, gReplayStopped);
    // Also an OSError, as Python's own file errors are: `except OSError` catches it too.
    const py::tuple fileBases = py::make_tuple(py::handle(gQvinError), py::handle(PyExc_OSError));
    sub("qvin27319.FileError", "A file cannot be read or written (status 3); also an OSError.", fileBases.ptr(), 3, gFileError);

    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) std::rethrow_exception(p);
        } catch (const session::Error& e) {
            PyObject* cls = e.code == kBadInput ? gBadInput : e.code == kNoInterface ? gNoInterface : e.code == kFileError ? gFileError : gQvinError;
            if (cls != gFileError) {
                PyErr_SetString(cls, e.what());
                return;
            }
            // A file error is also an OSError, with its errno where the system gave one: the
            // file layers name a system error "FILE: its text", so the errno is the one whose
            // text ends the message. Only errno is set: with strerror or filename too, Python
            // would print "[Errno 2] ..." instead of the program's message.
            PyObject* error = PyObject_CallFunction(cls, "s", e.what());
            if (!error) return;
            const std::string_view what = e.what();
            for (int code = 1; code < 134; ++code) {
                const std::string tail = std::string(": ") + std::strerror(code);
                if (what.size() > tail.size() && what.substr(what.size() - tail.size()) == tail) {
                    PyObject* number = PyLong_FromLong(code);
                    if (number) PyObject_SetAttrString(error, "errno", number);
                    Py_XDECREF(number);
                    break;
                }
            }
            PyErr_SetObject(cls, error);
            Py_DECREF(error);
        } catch (const ReplayStopped& e) {
            PyErr_SetString(gReplayStopped, e.message.c_str());
        }
    });

}

// What a read gives: one register, a pass of the outputs, the watch that yields passes.
void BindReadings(py::module_& m) {
    py::class_<session::Reading>(m, "Reading", "One register as read: the word off the wire, the count, the value, the flags.")
        .def_readonly("index", &session::Reading::index)
        .def_readonly("name", &session::Reading::name)
        .def_readonly("raw", &session::Reading::raw)
        .def_readonly("count", &session::Reading::count)
        .def_property_readonly("value", [](const session::Reading& r) { return AsThePartMeansIt(r.value); })
        .def_readonly("new_data", &session::Reading::newData, "None where the register has no new-data flag")
        .def_readonly("error", &session::Reading::error, "None where the register has no error flag")
        .def("to_dict", [](const session::Reading& r) {
            py::dict d;
            d["index"] = r.index;
            d["name"] = r.name;
            d["raw"] = r.raw;
            d["count"] = r.count;
            d["value"] = AsThePartMeansIt(r.value);
            d["new_data"] = r.newData;
            d["error"] = r.error;
            return d;
        })
        .def("__repr__", [](const session::Reading& r) {
            return "<Reading " + r.name + " raw=0x" + [&] {
                char b[8];
                std::snprintf(b, sizeof b, "%04X", r.raw);
                return std::string(b);
            }() + " value=" + FormatGeneral(r.value) + ">";
        });

    py::class_<WatchPass>(m, "Pass", "The five outputs and the status, as one pass of the read loop takes them.")
        .def_readonly("index", &WatchPass::index, "the pass number, from 1")
        .def_readonly("time", &WatchPass::time, "seconds since the watch started, on the monotonic clock")
        .def_property_readonly("supply_out", [](const WatchPass& p) { return AsThePartMeansIt(p.values[0]); })
        .def_property_readonly("aux_adc", [](const WatchPass& p) { return AsThePartMeansIt(p.values[1]); })
        .def_property_readonly("temp_out", [](const WatchPass& p) { return AsThePartMeansIt(p.values[2]); })
        .def_property_readonly("incl_360", [](const WatchPass& p) { return AsThePartMeansIt(p.values[3]); })
        .def_property_readonly("incl_180", [](const WatchPass& p) { return AsThePartMeansIt(p.values[4]); })
        .def_property_readonly("values", [](const WatchPass& p) {
            std::vector<double> v;
            for (const float f : p.values) v.push_back(AsThePartMeansIt(f));
            return v;
        })
        .def("to_dict", [](const WatchPass& p) {
            py::dict d;
            d["index"] = p.index;
            d["time"] = p.time;
            for (std::size_t k = 0; k < p.values.size(); ++k) d[kOutputKeys[k]] = AsThePartMeansIt(p.values[k]);
            d["new_data"] = p.newData;
            d["alarm"] = p.alarm;
            d["status"] = p.status;
            return d;
        })
        .def_readonly("new_data", &WatchPass::newData)
        .def_readonly("alarm", &WatchPass::alarm)
        .def_readonly("status", &WatchPass::status)
        .def("__repr__", [](const WatchPass& p) { return "<Pass " + std::to_string(p.index) + " at " + std::to_string(p.time) + " s>"; });

    py::class_<Watch>(m, "Watch", "An iterator of passes (board.watch()).")
        .def("__iter__", [](Watch& w) -> Watch& { return w; })
        .def("__next__", &Watch::Next);

}

// The board and its operations.
void BindBoard(py::module_& m) {
    py::class_<PyBoard>(m, "Board", "An evaluation board, simulated, on real hardware or answered from a recording.")
        .def_static("sim", &PyBoard::Sim, py::arg("angle") = py::none(), py::arg("faults") = py::none(), py::arg("seed") = py::none(),
                    py::arg("virtual_clock") = false, py::arg("settings") = "Qvin27319.cfg", py::arg("noise") = py::none(),
                    "The simulated evaluation board on its USB adapter. angle holds the inclination (degrees) instead of\n"
                    "turning it; faults takes fault rules (\"unplug@200,send-fail%1\"), seeded by seed; with virtual_clock\n"
                    "pauses take no real time; noise sets the sensor's noise (\"off\", \"white=0.4,walk=0.0005,drift=0.005,seed=1\";\n"
                    "by default a real part's). Each argument given wins over its QVIN_SIM_* variable; one left out\n"
                    "takes the variable's value, if set.")
        .def_static(
            "usb", [](int n, const std::string& settings) {
                if (n < 0 || n > 3) throw session::Error(qvin::kBadInput, "there is no adapter at Ezusb-" + std::to_string(n) + " (adapters are Ezusb-0 to Ezusb-3)");
                session::InterfaceChoice c;
                c.interface = Interface::UsbAdapter;
                c.unit = n;
                return PyBoard::Connected(PyBoard::Hardware(c, settings));
            },
            py::arg("n") = 0, py::arg("settings") = "Qvin27319.cfg", "The board behind the USB adapter Ezusb-n.")
        .def_static(
            "lpt", [](const std::variant<long long, std::string>& port, const std::string& settings) {
                session::InterfaceChoice c;
                c.interface = Interface::ParallelPort;
                if (const auto* device = std::get_if<std::string>(&port)) {
                    std::string why;
                    const auto address = PpdevAddressOf(*device, why);
                    if (!address) throw session::Error(qvin::kBadInput, why);
                    c.port = *address;
                } else {
                    const long long address = std::get<long long>(port);
                    if (address <= 0 || address > 0xFFFF) throw session::Error(qvin::kBadInput, "a port address is 1 to 0xFFFF");
                    c.port = static_cast<std::uint16_t>(address);
                }
                return PyBoard::Connected(PyBoard::Hardware(c, settings));
            },
            py::arg("address") = 0x378, py::arg("settings") = "Qvin27319.cfg",
            "The board on the parallel port at address (0x378), or behind a port device (\"/dev/parport1\").")
        .def_static(
            "spidev", [](const std::string& device, const std::string& settings) {
                if (device.empty()) throw session::Error(qvin::kBadInput, "an SPI device is a path such as /dev/spidev0.0");
                session::InterfaceChoice c;
                c.interface = Interface::Spidev;
                c.device = device;
                return PyBoard::Connected(PyBoard::Hardware(c, settings));
            },
            py::arg("device") = "/dev/spidev0.0", py::arg("settings") = "Qvin27319.cfg",
            "The board on a Linux SPI controller's device (\"/dev/spidev0.0\"): SPI mode 1, 1 MHz, 16-bit frames.")
        .def_static(
            "ftdi", [](const std::optional<std::string>& serial, const std::string& settings) {
                session::InterfaceChoice c;
                c.interface = Interface::Spidev;  // an FTDI adapter's MPSSE engine is an SPI bus
                c.device = kFtdiPrefix + serial.value_or("");
                if (serial && (serial->empty() || !std::all_of(serial->begin(), serial->end(), [](unsigned char ch) { return std::isalnum(ch); })))
                    throw session::Error(qvin::kBadInput, "an FTDI serial number is letters and digits");
                return PyBoard::Connected(PyBoard::Hardware(c, settings));
            },
            py::arg("serial") = py::none(), py::arg("settings") = "Qvin27319.cfg",
            "The board on an FTDI FT232H, FT2232H or FT4232H (by serial number, or the first found) in MPSSE mode:\n"
            "channel A, chip select on ADBUS3, SPI mode 1, 1 MHz, 16-bit frames.")
        .def_static("replay", &PyBoard::Replay, py::arg("path"), py::arg("settings") = "Qvin27319.cfg",
                    "A board that answers from a recording made with QVIN_TRACE.")
        .def_property_readonly("kind", &PyBoard::kind, "\"sim\", \"hardware\" or \"replay\"")
        .def("read", &PyBoard::Read, py::arg("register"), "A register's value in its units (V, degrees, degrees Celsius, counts).")
        .def("read_raw", &PyBoard::ReadRaw, py::arg("register"), "A register as read, with its word, count and flags.")
        .def("read_many", &PyBoard::ReadMany, py::arg("registers"), py::kw_only(), py::arg("raw") = false,
             "Several registers in one exchange (each request answered in the next frame): their values in order,\n"
             "or with raw=True as read_raw gives them.")
        .def("doctor", &PyBoard::Doctor,
             "What stands between this machine and a first read, as qvin-cli doctor tells it: findings (topic, ok, text,\n"
             "fix) and whether a board can be reached.")
        .def("read_all", &PyBoard::ReadAll, "Every readable register's value by its name (\"#N\" for an unnamed one), in one exchange.")
        .def("write", &PyBoard::Write, py::arg("register"), py::arg("value"), "Writes a 16-bit value (-32768 to 65535).")
        .def("info", &PyBoard::Info, "The part's name, revision, production date, flash cycles and rotation.")
        .def("registers", &PyBoard::Registers, "All 65 rows of the register map.")
        .def("user_registers", &PyBoard::UserRegisters, "The user register table, as the register window shows it.")
        .def("adapters", &PyBoard::Adapters, "The USB adapters present.")
        .def("spi", &PyBoard::Spi, py::arg("words"), py::arg("channel") = 1, py::arg("negative") = false, py::arg("delay_us") = py::none(),
             py::arg("static_bits") = py::none(), "The bench: up to 16 words through the USB adapter; the words clocked back.")
        .def(
            "watch", [](PyBoard& b, std::optional<std::int64_t> count, double delayMs) { return Watch(b, count, delayMs); },
            py::arg("count") = py::none(), py::arg("delay_ms") = 25.0, py::keep_alive<0, 1>(),
            "Passes of the five outputs and the status, delay_ms apart, count times (or until stopped).")
        .def("capture", &Capture, py::arg("count") = py::none(), py::kw_only(), py::arg("seconds") = py::none(), py::arg("outputs") = py::none(),
             py::arg("sample_period_ms") = py::none(),
             "Reads the outputs (names such as \"incl_360\", or all five) and the status, in one exchange a pass, as fast as the\n"
             "interface allows, count new samples or for seconds, as columns (NumPy arrays when NumPy is installed): time, each\n"
             "output, alarm, status, missed (samples that went by unread before each), and kept, missed_total, sample_period_ms,\n"
             "seconds, stopped. sample_period_ms sets the part's\n"
             "sample period meanwhile. Ctrl-C ends it and returns what it collected, with stopped True.")
        .def("pause", &PyBoard::Pause, py::arg("ms"), "Waits, as the program waits (Ctrl-C ends it).")
        .def_property_readonly("messages", &PyBoard::Messages, "The adapter's and the port's messages so far.")
        .def("__repr__", &PyBoard::Repr)
        .def("close", &PyBoard::Close,
             "Lets the board go: the adapter or the port is released and the trace closed. Closing again does nothing;\n"
             "any other call then raises NoInterfaceError. A board also closes at the end of a with block, or when collected.")
        .def_property_readonly("closed", &PyBoard::closed)
        .def("__enter__", [](PyBoard& b) -> PyBoard& { return b; })
        .def("__exit__", [](PyBoard& b, py::args) {
            b.Close();
            return false;  // an exception in the block goes on
        });

}

// allan()'s keywords, checked.
analysis::AllanOptions AllanOptionsFrom(double tau0, const std::string& taus, double confidence) {
    if (!(tau0 > 0) || !std::isfinite(tau0)) throw session::Error(qvin::kBadInput, "tau0 must be a time in seconds above 0");
    analysis::AllanOptions options;
    if (taus == "octave") options.taus = analysis::TauSet::Octave;
    else if (taus == "decade") options.taus = analysis::TauSet::Decade;
    else if (taus == "all") options.taus = analysis::TauSet::All;
    else throw session::Error(qvin::kBadInput, "taus is octave, decade or all");
    if (!(confidence > 0 && confidence < 1)) throw session::Error(qvin::kBadInput, "confidence is a probability between 0 and 1");
    options.confidence = confidence;
    return options;
}

// The curve's table as columns, the deviation's under its name (the overlapping Allan
// deviation's also under its first names).
void PutCurve(py::dict& d, const std::vector<analysis::AllanPoint>& curve, analysis::Deviation kind) {
    std::vector<double> tau, adev, lo, hi, edf;
    std::vector<std::int64_t> m, n, alpha;
    for (const analysis::AllanPoint& p : curve) {
        tau.push_back(p.tau);
        adev.push_back(p.adev);
        lo.push_back(p.lo);
        hi.push_back(p.hi);
        edf.push_back(p.edf);
        m.push_back(static_cast<std::int64_t>(p.m));
        n.push_back(static_cast<std::int64_t>(p.terms));
        alpha.push_back(p.alpha);
    }
    d["tau"] = Column(tau);
    d["m"] = Column(m);
    d["n"] = Column(n);
    d["alpha"] = Column(alpha);
    const std::string name = analysis::DeviationName(kind);
    d["deviation"] = name;
    d[py::str(name)] = Column(adev);
    d[py::str(name + "_lo")] = Column(lo);
    d[py::str(name + "_hi")] = Column(hi);
    if (kind == analysis::Deviation::Oadev) {
        d["adev"] = Column(adev);
        d["adev_lo"] = Column(lo);
        d["adev_hi"] = Column(hi);
    }
    d["edf"] = Column(edf);
}

// The noise terms, each {'value', 'uncertainty'} or None, and how the fit went.
void PutTerms(py::dict& d, const analysis::NoiseTerms& terms) {
    py::dict t;
    for (std::size_t k = 0; k < 5; ++k) {
        py::object entry = py::none();
        if (const auto& term = terms.terms[k]) {
            py::dict e;
            e["value"] = term->value;
            e["uncertainty"] = term->uncertainty;
            entry = e;
        }
        t[analysis::kTermNames[k]] = entry;
    }
    d["terms"] = t;
    py::dict fit;
    fit["fitted"] = terms.fitted;
    fit["points"] = terms.points;
    fit["from_tau"] = terms.fromTau;
    fit["averaged"] = terms.averaged;
    fit["reduced_chi_square"] = terms.reducedChiSquare;
    d["terms_fit"] = fit;
}

py::dict Allan(const std::vector<double>& values, double tau0, const std::string& deviation, const std::string& taus, double confidence) {
    const auto kind = analysis::DeviationNamed(deviation);
    if (!kind) throw session::Error(qvin::kBadInput, "deviation is adev, oadev, mdev, tdev, hdev, ohdev or totdev");
    const analysis::AllanOptions options = AllanOptionsFrom(tau0, taus, confidence);
    std::vector<analysis::AllanPoint> curve;
    {
        py::gil_scoped_release release;
        std::string why;
        curve = analysis::DeviationCurve(values, tau0, *kind, options, &why);
        if (!why.empty()) throw session::Error(qvin::kBadInput, why);
    }
    py::dict d;
    PutCurve(d, curve, *kind);
    // The noise terms from the octave overlapping Allan variance, whatever was asked for.
    const bool octaveAllan = *kind == analysis::Deviation::Oadev && options.taus == analysis::TauSet::Octave;
    analysis::NoiseTerms terms;
    {
        py::gil_scoped_release release;
        terms = analysis::FitNoiseTerms(octaveAllan ? curve : analysis::OctaveAdev(values, tau0));
    }
    PutTerms(d, terms);
    // The older readings of the curve, kept for the programs that use them.
    const analysis::NoiseFigures f = analysis::ReadNoise(curve);
    d["white_density"] = f.whiteDensity ? py::cast(*f.whiteDensity) : py::none();
    d["bias_instability"] = f.biasInstability;
    d["bias_tau"] = f.biasTau;
    return d;
}

// The analysis of values from any source: statistics, stability, spectra.
void BindAnalysis(py::module_& m) {
    m.def(
        "describe",
        [](const std::vector<double>& values) {
            const analysis::Stats st = analysis::Describe(values);
            py::dict d;
            d["count"] = st.count;
            d["mean"] = st.mean;
            d["std_dev"] = st.stdDev;
            d["min"] = st.min;
            d["max"] = st.max;
            d["peak_to_peak"] = st.peakToPeak;
            return d;
        },
        py::arg("values"), "Count, mean, sample standard deviation, min, max and peak-to-peak of the values.");
    m.def(
        "allan", &Allan,
        py::arg("values"), py::arg("tau0"), py::kw_only(), py::arg("deviation") = "oadev", py::arg("taus") = "octave",
        py::arg("confidence") = analysis::kOneSigma,
        "A deviation (oadev, the overlapping Allan, unless adev, mdev, tdev, hdev, ohdev or totdev is named; its values\n"
        "under its name, and oadev's also as adev) at octave (or decade, or all) averaging times from tau0 to a quarter of the\n"
        "record: m, n (differences), alpha (the noise type there), edf and the interval at `confidence` (one sigma by\n"
        "default); terms: the IEEE 952 noise terms Q, N, B, K, R fitted to the octave overlapping Allan variance, each\n"
        "{'value', 'uncertainty' (about 95 %)} or None where not resolved (N is the deviation at 1 s, in units/sqrt(Hz));\n"
        "terms_fit: points, from_tau (where averaged readings let the fit begin), averaged, reduced_chi_square, fitted\n"
        "(False below 6 octave points). white_density and bias_instability are the older readings of the slope -1/2 and of\n"
        "the minimum / 0.664.");
    m.def(
        "psd",
        [](const std::vector<double>& values, double tau0, std::size_t segment) {
            if (!(tau0 > 0) || !std::isfinite(tau0)) throw session::Error(qvin::kBadInput, "tau0 must be a time in seconds above 0");
            std::optional<analysis::Spectrum> sp;
            {
                py::gil_scoped_release release;
                std::string why;
                sp = analysis::WelchSpectrum(values, tau0, segment, &why);
                if (!sp) throw session::Error(qvin::kBadInput, why);
            }
            std::vector<double> asd(sp->density.size());
            for (std::size_t i = 0; i < asd.size(); ++i) asd[i] = std::sqrt(sp->density[i]);
            py::dict d;
            d["f"] = Column(sp->frequency);
            d["psd"] = Column(sp->density);
            d["asd"] = Column(asd);
            d["floor"] = sp->whiteFloor;
            d["segments"] = sp->segments;
            d["segment_length"] = sp->segmentLength;
            return d;
        },
        py::arg("values"), py::arg("tau0"), py::kw_only(), py::arg("segment") = 0,
        "The one-sided power spectral density by Welch's method (Hann-windowed segments of `segment` samples, a power of\n"
        "two, half overlapping, each less its mean; by default the longest giving eight segments, at most 65536; a segment\n"
        "with a NaN is left out): f (Hz), psd (units^2/Hz), asd (units/sqrt(Hz)), floor (the asd over the upper half of the\n"
        "band: sqrt(2) times the Allan deviation at 1 s on white noise), segments and segment_length.");
}

// What is on this machine (adapters, what stands in the way) and data logs on disk.
void BindMachine(py::module_& m) {
    m.def(
        "adapters",
        []() {
            // A listing: nothing plugged in is an empty list; an adapter that is there but
            // cannot be had is an error naming why.
            // The USB-SPI adapters first, then the FTDI adapters (their device "ftdi:SERIAL").
            const auto board = PyBoard::Hardware({}, "Qvin27319.cfg");
            py::list rows;
            try {
                rows = board->Adapters();
            } catch (const session::Error& e) {
                if (std::string(e.what()).rfind("no USB adapter found", 0) != 0) throw;
            }
            for (const py::handle row : board->FtdiAdapters()) rows.append(row);
            return rows;
        },
        "The USB adapters present, as Board.adapters() lists them, then the FTDI adapters with MPSSE\n"
        "(device \"ftdi:SERIAL\", for Board.ftdi); [] when none is plugged in.");
    m.def(
        "doctor", []() { return PyBoard::Hardware({}, "Qvin27319.cfg")->Doctor(); },
        "What stands between this machine and a first read on real hardware (qvin-cli doctor).");
    m.def("read_log", &ReadLog, py::arg("path"), "A data log's runs, each with its date, loop delay and columns.");
    m.def("_time_reads_in_cpp", &TimeReadsInCpp, py::arg("board"), py::arg("register"), py::arg("n"));
}

}  // namespace

PYBIND11_MODULE(_core, m) {
    m.doc() = "The QVIN27319 evaluation program's session layer: boards, registers, the read loop's passes, data logs.";
    m.attr("__version__") = QVIN_VERSION;

    RegisterErrors(m);
    BindReadings(m);
    BindBoard(m);
    BindAnalysis(m);
    BindMachine(m);
}
