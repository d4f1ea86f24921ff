#include "session/session.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>

#include "board/replay_board.h"
#include "core/file_safety.h"
#include "core/hex_text.h"
#include "core/number_text.h"
#include "device/lpt_transport.h"
#include "device/output_pass.h"
#include "device/part_info.h"
#include "device/port_access.h"
#include "device/register_access.h"
#include "device/register_burst.h"
#include "device/transports.h"
#include "device/usb_adapter.h"
#include "device/usb_spi.h"
#include "device/user_register_table.h"

namespace qvin::session {

std::string OutputColumn(const OutputName& o) { return o.column; }

namespace {

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string Trimmed(std::string s) {
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

bool AllDigits(const std::string& s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

// The adapter's messages go to the caller's service, but for a search whose "no adapter"
// box is for a window: the session says that in its own words.
class Session::Relay final : public MessageService {
public:
    explicit Relay(MessageService& to) : to_(to) {}
    bool muted = false;
    void Message(std::string_view text, std::string_view title) override {
        if (muted) return;
        if (holding_) held_.emplace_back(text, title);
        else to_.Message(text, title);
    }
    // Keeps the messages back until Release, which passes them on but `except`.
    void Hold() { holding_ = true; }
    void Release(const std::string& except) {
        holding_ = false;
        for (const auto& [text, title] : held_)
            if (text != except) to_.Message(text, title);
        held_.clear();
    }

private:
    MessageService& to_;
    bool holding_ = false;
    std::vector<std::pair<std::string, std::string>> held_;
};

Session::Session(Clock& clock, const Options& options, MessageService& messages) : options_(options) {
    relay_ = std::make_unique<Relay>(messages);
    bench_ = std::make_unique<Bench>(clock, options.board, *relay_, options.sim, Bench::TraceOpening::WithFirstExchange);
    const ReplayBoard* replay = bench_->board->replay();
    if (replay && replay->Interface().type == qvin::Interface::None)
        throw Error(kFileError, "the recording " + replay->file().string() + " holds no exchange with a board");
    program_ = bench_->program.get();
    Program& p = *program_;
    p.timer.ShortStart = true;
    p.timer.FinalTrialMs = options.calibrationMs;
    bench_->Start(options.settingsFile);
    const InterfaceChoice& choice = options.interface;
    p.spiDevice = choice.device;
    if (choice.interface) {
        p.settings.InterfaceType = *choice.interface;
        if (choice.port) p.settings.PortAddress = static_cast<std::int16_t>(*choice.port);
    } else if (bench_->board->simulated()) {
        p.settings.InterfaceType = Interface::UsbAdapter;
    } else if (replay) {
        bench_->UseRecordedInterface();
        if (p.spiDevice.empty()) p.spiDevice = replay->Interface().device;
    }
}

Session::~Session() = default;

std::string Session::CloseTrace() { return bench_->trace.Close(); }

std::string Session::OutputRefusal(const std::string& file) const {
    if (const ReplayBoard* r = bench_->board->replay()) {
        const std::string recording = r->file().string();
        if (SameFile(file, recording)) return file + " is the recording being replayed; it would be overwritten";
    }
    const std::string& trace = bench_->traceTarget();
    if (!trace.empty() && trace != "-" && SameFile(file, trace))
        return file + " is the trace (QVIN_TRACE); the two would be written into one file";
    return {};
}

void Session::Connect() {
    bench_->OpenTrace();
    Program& p = *program_;
    const Transport* t = FindTransport(p.settings.InterfaceType);
    if (!t) throw Error(kNoInterface, "no interface selected; give --lpt ADDR, --usb or --spidev DEVICE");
    // Opened once; an interface that failed since is opened again.
    if (connected_ && t->ready(p)) return;
    // What the opening says that its error repeats is not said twice.
    relay_->Hold();
    TransportOpened opened;
    try {
        opened = t->open(p, options_.interface.unit);
    } catch (...) {
        relay_->Release({});
        throw;
    }
    relay_->Release(opened.covered);
    if (!opened.error.empty()) throw Error(kNoInterface, opened.error);
    connected_ = true;
}

// Register traffic silently stops when the interface fails; say so.
void Session::CheckAdapter() {
    const Program& p = *program_;
    if (const Transport* t = FindTransport(p.settings.InterfaceType); t && !t->ready(p)) throw Error(kNoInterface, t->lost(p));
}

std::int16_t Session::RegisterAt(long long index, const std::string& shown) {
    if (index >= 1 && RegisterMap::Valid(static_cast<int>(std::min(index, 1000LL)))) return static_cast<std::int16_t>(index);
    throw Error(kBadInput, "no register with index " + shown + " (indices run from 1 to 65)");
}

std::int16_t Session::RegisterIndex(const std::string& text) const {
    const Program& p = *program_;
    // "#9", as Label names an unnamed register, is its index too.
    if (AllDigits(text) || (text.size() > 1 && text[0] == '#' && AllDigits(text.substr(1)))) {
        const std::string digits = text[0] == '#' ? text.substr(1) : text;
        return RegisterAt(digits.size() <= 3 ? std::strtol(digits.c_str(), nullptr, 10) : 0, text);
    }
    const std::string want = Lower(text);
    for (const OutputName& o : kOutputs)
        if (want == Lower(o.name)) return o.index;
    if (want != "n/a") {
        for (int i = 1; i <= kRegisterCount; ++i) {
            const std::string name = Trimmed(p.map[i].RegName);
            if (!name.empty() && Lower(name) == want) return static_cast<std::int16_t>(i);
        }
    }
    throw Error(kBadInput, "unknown register '" + text + "' (unnamed registers are read by index)");
}

std::string Session::Label(std::int16_t index) const {
    const std::string name = Trimmed(program_->map[index].RegName);
    return name.empty() || name == "N/A" ? std::string(1, '#').append(std::to_string(index)) : name;
}

Reading Session::Read(std::int16_t index) {
    Program& p = *program_;
    const RegisterInfo& r = p.map[index];
    if (!r.RegReadable) throw Error(kBadInput, Label(index) + " cannot be read");
    Connect();
    const std::optional<RegReading> got = ReadReg(p, index);
    CheckAdapter();
    if (!got) throw Error(kNoInterface, Label(index) + " was not read");
    Reading out;
    out.index = index;
    out.name = Label(index);
    out.raw = got->raw;
    out.count = got->data;
    out.value = got->value;
    if (r.RegHasNewData) out.newData = got->newData;  // none for a register without the flag
    if (r.RegHasError) out.error = got->error;
    return out;
}

void Session::Write(std::int16_t index, std::int32_t value) {
    if (value < -32768 || value > 65535) throw Error(kBadInput, "value " + std::to_string(value) + " is out of range (-32768 to 65535)");
    Connect();
    WriteReg(*program_, index, value);
    CheckAdapter();
}

std::string Session::UserRegisterTable() {
    Connect();
    std::string table = ReadUserRegisterTable(*program_);
    CheckAdapter();
    return table;
}

PartInfo Session::Info() {
    Connect();
    Program& p = *program_;
    ReadPartInfo(p);
    CheckAdapter();
    const PartState& s = p.part;
    return {s.PartName, s.PartRevision, s.PartDay, s.PartMonth, s.PartYear, s.FlashCycles, s.ReverseRotation};
}

std::vector<RegisterRow> Session::Registers() const {
    const Program& p = *program_;
    auto unit = [](std::int16_t index) -> std::string {
        for (const OutputName& o : kOutputs)
            if (o.index == index) return o.unit;
        return index == reg::Aux_DAC ? "V" : index == reg::Xaccel_Out || index == reg::Yaccel_Out ? "g" : "";
    };
    std::vector<RegisterRow> rows;
    for (int i = 1; i <= kRegisterCount; ++i) {
        const RegisterInfo& r = p.map[i];
        rows.push_back({i, r.RegName.empty() ? "-" : Trimmed(r.RegName), static_cast<int>(r.RegAddr), int{r.RegBytes},
                        r.RegReadable, r.RegWritable, r.RegSigned, r.RegScale, r.RegOffset, unit(static_cast<std::int16_t>(i))});
    }
    return rows;
}

std::vector<AdapterRow> Session::Adapters() {
    bench_->OpenTrace();
    Program& p = *program_;
    relay_->muted = true;
    FindUsbBoards(p);
    relay_->muted = false;
    // The search replaced the current adapter: the next command connects again.
    if (p.settings.InterfaceType == Interface::UsbAdapter) connected_ = false;
    return AdaptersFound(p);
}

std::vector<AdapterRow> Session::FtdiAdapters() {
    std::string why;
    std::vector<AdapterRow> rows;
    for (const SpiAdapterInfo& a : bench_->board->spi().Adapters(why)) rows.push_back({a.device, a.kind, a.description, "MPSSE, chip select on ADBUS3", 0.0f, 2.0f});
    if (!why.empty()) throw Error(kNoInterface, why);
    return rows;
}

std::vector<AdapterRow> AdaptersFound(const Program& p) {
    if (std::none_of(p.usb.UsbBoards.begin(), p.usb.UsbBoards.end(), [](const UsbBoardInfo& b) { return b.Present; }))
        throw Error(kNoInterface, NoUsableAdapter(p));
    std::vector<AdapterRow> rows;
    for (const UsbBoardInfo& b : p.usb.UsbBoards)
        if (b.Present)
            rows.push_back({b.DeviceName, b.BoardType, b.Descriptor1, b.Descriptor2, b.FirmwareRev, static_cast<float>(LeadingNumber(b.UsbSpeed))});
    return rows;
}

void Session::SpiSetUp(std::optional<std::uint8_t> delayUs, std::optional<std::uint8_t> staticBits) {
    Program& p = *program_;
    if (p.settings.InterfaceType != Interface::UsbAdapter) throw Error(kBadInput, "spi needs the USB adapter (--usb)");
    Connect();
    if (staticBits) UsbSpiSetBits(p, *staticBits);
    if (delayUs) {
        std::uint8_t d = *delayUs;
        UsbSpiSetup(p, d);
    }
    CheckAdapter();
}

std::pair<int, std::uint8_t> Session::SpiReadSetUp() {
    Program& p = *program_;
    if (p.settings.InterfaceType != Interface::UsbAdapter) throw Error(kBadInput, "spi needs the USB adapter (--usb)");
    Connect();
    UsbSpiReadSetup(p);
    CheckAdapter();
    return {int{p.spi.SpiDelay}, p.spi.SpiStaticBits};
}

std::vector<std::uint16_t> Session::SpiTransfer(const std::vector<std::int32_t>& words, int channel, bool negative) {
    Program& p = *program_;
    if (p.settings.InterfaceType != Interface::UsbAdapter) throw Error(kBadInput, "spi needs the USB adapter (--usb)");
    if (words.empty() || words.size() > 16) throw Error(kBadInput, "spi: give 1 to 16 words");
    if (channel < 1 || channel > 5) throw Error(kBadInput, "channel " + std::to_string(channel) + " is out of range (1 to 5)");
    Connect();
    p.spi.SpiChannel = static_cast<std::uint8_t>(channel);
    p.spi.SpiDataPolarity = !negative;
    for (std::size_t i = 0; i < words.size(); ++i) p.spi.SpiWriteWords[i + 1] = words[i];
    UsbSpiTransfer(p, static_cast<int>(words.size()));
    p.spi.SpiDataPolarity = true;
    CheckAdapter();
    std::vector<std::uint16_t> back;
    for (std::size_t i = 0; i < words.size(); ++i) back.push_back(static_cast<std::uint16_t>(p.spi.SpiReadWords[i + 1]));
    return back;
}

std::vector<Reading> Session::ReadMany(const std::vector<std::int16_t>& indexes) {
    Program& p = *program_;
    for (const std::int16_t index : indexes)
        if (!RegisterMap::Valid(index) || !p.map[index].RegReadable) throw Error(kBadInput, Label(index) + " cannot be read");
    Connect();
    const BurstResult burst = ReadRegisters(p, indexes);
    CheckAdapter();
    std::vector<Reading> out;
    for (std::size_t i = 0; i < indexes.size(); ++i) {
        const RegisterInfo& r = p.map[indexes[i]];
        const RegReading& a = burst.answers.at(i);
        Reading& reading = out.emplace_back();
        reading.index = indexes[i];
        reading.name = Label(indexes[i]);
        reading.raw = static_cast<std::uint16_t>(a.raw);
        reading.count = a.data;
        reading.value = a.value;
        if (r.RegHasNewData) reading.newData = a.newData;
        if (r.RegHasError) reading.error = a.error;
    }
    return out;
}

Pass Session::ReadPass() {
    const OutputsRead r = ReadOutputs({0, 1, 2, 3, 4});
    Pass pass;
    std::copy(r.values.begin(), r.values.end(), pass.values.begin());
    pass.newData = r.anyNew;
    pass.alarm = r.alarm;
    pass.status = r.status;
    return pass;
}

Session::OutputsRead Session::ReadOutputs(const std::vector<std::size_t>& which, bool burst) {
    Connect();
    Program& p = *program_;
    OutputsRead out;
    out.beforeNs = bench_->clock.NowNs();
    std::vector<std::int16_t> indexes;
    for (const std::size_t k : which) indexes.push_back(kOutputs.at(k).index);
    indexes.push_back(reg::Status);
    if (burst) {
        const BurstResult b = ReadRegisters(p, indexes);
        CheckAdapter();
        out.takenNs = b.firstTakenNs;
        for (std::size_t i = 0; i + 1 < indexes.size(); ++i) {
            out.values.push_back(b.answers[i].value);
            out.alarm |= b.answers[i].error;
            out.anyNew |= b.answers[i].newData;
        }
        out.firstNew = !which.empty() && b.answers[0].newData;
        out.status = b.answers.back().data;
        return out;
    }
    const OutputPass pass = qvin::ReadPass(p, indexes);
    CheckAdapter();
    out.takenNs = pass.firstTakenNs;
    for (std::size_t i = 0; i + 1 < pass.readings.size(); ++i) out.values.push_back(pass.readings[i].value);
    out.firstNew = !which.empty() && pass.readings[0].newData;
    out.alarm = pass.alarm;
    out.anyNew = pass.fresh;
    out.status = pass.readings.back().data;
    return out;
}

DataLogHeader Session::LogHeader(float loopDelayMs) {
    Connect();
    Program& p = *program_;
    ReadPartInfo(p);
    const std::optional<RegReading> period = ReadReg(p, reg::Smpl_Prd);
    const std::optional<RegReading> avg = ReadReg(p, reg::Avg_Cnt);
    const std::optional<RegReading> misc = ReadReg(p, reg::Msc_Ctrl);
    CheckAdapter();
    if (!period || !avg || !misc) throw Error(kNoInterface, "the part's set-up was not read");
    DataLogHeader h;
    h.date = DataLogDate(std::chrono::system_clock::now());
    h.loopDelayMs = loopDelayMs;
    h.samplePeriodText = FormatFixed(SmplPrdToMs(std::clamp(period->data, 1, 255)), 3);
    h.avgCntText = std::to_string(std::min(avg->data, 8));
    h.selfTest = misc->data & kSelfTestBit;
    h.reverseRotation = p.part.ReverseRotation;
    return h;
}

void Session::Pause(float ms) { program_->Delay(ms); }

}  // namespace qvin::session
