#include "sim/faults.h"

#include <algorithm>
#include <cstdlib>

#include "core/excerpt.h"

namespace qvin::sim {

namespace {

struct KindName {
    FaultKind kind;
    std::string_view name;
};
constexpr KindName kKinds[] = {
    {FaultKind::SendFail, "send-fail"},   {FaultKind::ReceiveFail, "receive-fail"}, {FaultKind::ShortReply, "short-reply"},
    {FaultKind::Timeout, "timeout"},      {FaultKind::Unplug, "unplug"},            {FaultKind::Replug, "replug"},
    {FaultKind::BitFlip, "bit-flip"},     {FaultKind::NoNewData, "no-new-data"},    {FaultKind::MisoHigh, "miso-high"},
    {FaultKind::MisoLow, "miso-low"},     {FaultKind::NoPermission, "no-permission"}, {FaultKind::Busy, "busy"},
};

std::string KindList() {
    std::string list;
    for (const KindName& k : kKinds) list += (list.empty() ? "" : ", ") + std::string(k.name);
    return list;
}

// Digits only, as a whole number from 1 up.
std::optional<std::int64_t> Count(std::string_view text) {
    if (text.empty() || text.size() > 12) return std::nullopt;
    std::int64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + (c - '0');
    }
    return v >= 1 ? std::optional(v) : std::nullopt;
}

// A percentage 0 to 100: digits with an optional decimal fraction, nothing else (no
// sign, exponent or hexadecimal, which strtod would take).
std::optional<double> Percent(std::string_view text) {
    if (text.empty() || text.size() > 12) return std::nullopt;
    const std::size_t point = text.find('.');
    const std::string_view whole = text.substr(0, point);
    const std::string_view fraction = point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
    auto digits = [](std::string_view d) { return std::all_of(d.begin(), d.end(), [](char c) { return c >= '0' && c <= '9'; }); };
    if (whole.empty() || !digits(whole) || !digits(fraction) || (point != std::string_view::npos && fraction.empty()))
        return std::nullopt;
    const double v = std::strtod(std::string(text).c_str(), nullptr);
    if (!(v >= 0.0 && v <= 100.0)) return std::nullopt;
    return v;
}

}  // namespace

std::optional<std::string> FaultPlan::Add(std::string_view text) {
    if (text.size() > kMaxRulesText) return "the fault rules are longer than " + std::to_string(kMaxRulesText) + " characters";
    std::vector<Rule> added;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t comma = text.find(',', start);
        const std::string_view item = text.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
        start = comma == std::string_view::npos ? text.size() + 1 : comma + 1;
        const std::string shown = Quoted(item, 40);
        const std::size_t op = item.find_first_of("@%");
        if (op == std::string_view::npos)
            return "fault rule " + shown + " needs @N, @N+ or %P after its kind (for example unplug@200)";
        const std::string_view name = item.substr(0, op);
        const KindName* kind = nullptr;
        for (const KindName& k : kKinds)
            if (k.name == name) kind = &k;
        if (!kind) return "fault rule " + shown + ": unknown kind \"" + std::string(name) + "\" (kinds: " + KindList() + ")";
        Rule r;
        r.kind = kind->kind;
        std::string_view arg = item.substr(op + 1);
        if (item[op] == '%') {
            const auto p = Percent(arg);
            if (!p) return "fault rule " + shown + ": the probability must be a percentage from 0 to 100";
            r.percent = *p;
        } else {
            if (!arg.empty() && arg.back() == '+') {
                r.onward = true;
                arg.remove_suffix(1);
            }
            const auto n = Count(arg);
            if (!n) return "fault rule " + shown + ": the event number must be a whole number from 1 up";
            r.at = *n;
        }
        added.push_back(std::move(r));
    }
    if (rules_.size() + added.size() > kMaxRules)
        return "at most " + std::to_string(kMaxRules) + " fault rules (" + std::to_string(rules_.size() + added.size()) + " given)";
    for (Rule& r : added) {
        // Each rule draws from its own generator: adding a rule never changes when another
        // one strikes.
        r.random.seed(seed_ + static_cast<std::uint32_t>(rules_.size()));
        rules_.push_back(std::move(r));
    }
    bits_.seed(seed_);
    return std::nullopt;
}

bool FaultPlan::Strike(FaultKind kind) {
    bool strikes = false;
    for (Rule& r : rules_) {
        if (r.kind != kind) continue;
        ++r.seen;
        if (r.percent >= 0) strikes |= std::uniform_real_distribution<double>(0.0, 100.0)(r.random) < r.percent;
        else strikes |= r.onward ? r.seen >= r.at : r.seen == r.at;
    }
    return strikes;
}

int FaultPlan::NextBit() { return static_cast<int>(bits_() % 16); }

std::optional<std::string> AddFaultsFromEnvironment(FaultPlan& plan, const std::optional<std::string>& seedGiven,
                                                    const std::optional<std::string>& rulesGiven) {
    const char* seedVariable = std::getenv("QVIN_SIM_SEED");
    const std::string seed = seedGiven ? *seedGiven : seedVariable ? seedVariable : "";
    if (!seed.empty()) {
        const auto n = Count(seed);
        if (!n || *n == 0 || *n > 0xFFFFFFFF)
            return (seedGiven ? "seed \"" : "QVIN_SIM_SEED \"") + Excerpt(seed) + "\" is no whole number from 1 to 4294967295";
        plan.SetSeed(static_cast<std::uint32_t>(*n));
    }
    const char* rulesVariable = std::getenv("QVIN_SIM_FAULTS");
    const std::string rules = rulesGiven ? *rulesGiven : rulesVariable ? rulesVariable : "";
    if (!rules.empty())
        if (auto error = plan.Add(rules)) return (rulesGiven ? "faults: " : "QVIN_SIM_FAULTS: ") + *error;
    return std::nullopt;
}

std::uint16_t FaultyFrames::PendingOutput() {
    std::uint16_t word = chip_.PendingOutput();
    // Every rule sees every frame, whichever strikes.
    const bool flip = plan_.Strike(FaultKind::BitFlip);
    const bool stale = plan_.Strike(FaultKind::NoNewData);
    const bool high = plan_.Strike(FaultKind::MisoHigh);
    const bool low = plan_.Strike(FaultKind::MisoLow);
    if (stale) word &= 0x7FFF;
    if (flip) word ^= static_cast<std::uint16_t>(1u << plan_.NextBit());
    if (high) word = 0xFFFF;
    if (low) word = 0x0000;
    return word;
}

namespace {

class FaultyUsbDevice final : public UsbDevice {
public:
    FaultyUsbDevice(FaultyUsbDriver& driver, std::unique_ptr<UsbDevice> device) : driver_(driver), device_(std::move(device)) {}

    bool GetDeviceDescriptor(std::span<std::uint8_t> buffer) override {
        return driver_.Request() && device_->GetDeviceDescriptor(buffer);
    }
    bool GetStringDescriptor(std::uint8_t index, std::span<std::uint8_t> buffer, std::size_t& received) override {
        received = 0;
        return driver_.Request() && device_->GetStringDescriptor(index, buffer, received);
    }
    bool GetPipeInfo(std::span<std::uint8_t> buffer) override { return driver_.Request() && device_->GetPipeInfo(buffer); }
    bool PipeIsInput(int pipe) const override { return device_->PipeIsInput(pipe); }

    bool BulkTransfer(int pipe, std::span<std::uint8_t> buffer, std::int32_t& count) override {
        const std::int32_t asked = count;
        const bool present = driver_.Request();
        FaultPlan& plan = driver_.plan();
        const bool in = device_->PipeIsInput(pipe);
        const bool timeout = plan.Strike(FaultKind::Timeout);
        const bool fail = plan.Strike(in ? FaultKind::ReceiveFail : FaultKind::SendFail);
        const bool shortReply = in && plan.Strike(FaultKind::ShortReply);
        count = 0;
        if (!present) return false;
        if (timeout) {
            driver_.clock().Elapse(kRequestTimeLimitNs);
            return false;
        }
        if (fail && !in) return false;
        count = asked;
        const bool ok = device_->BulkTransfer(pipe, buffer, count);
        if (fail) {  // the reply came and was lost on the way
            count = 0;
            return false;
        }
        if (ok && shortReply) {
            count = count > 0 ? count - 1 : 0;
            return count > 0;
        }
        return ok;
    }

private:
    FaultyUsbDriver& driver_;
    std::unique_ptr<UsbDevice> device_;
};

}  // namespace

bool FaultyUsbDriver::Request() {
    const bool back = plan_.Strike(FaultKind::Replug);
    const bool gone = plan_.Strike(FaultKind::Unplug);
    if (back) unplugged_ = false;
    if (gone) unplugged_ = true;
    return !unplugged_;
}

std::unique_ptr<UsbDevice> FaultyUsbDriver::Open(const std::string& name) {
    failure_.clear();
    if (!Request()) return nullptr;
    auto device = adapters_.Open(name);
    if (!device) return nullptr;
    // Every rule of each kind counts the opening; either refusal closes the adapter again.
    const bool denied = plan_.Strike(FaultKind::NoPermission);
    const bool busy = plan_.Strike(FaultKind::Busy);
    if (denied || busy) {
        failure_ = denied ? UsbNoPermission(name) : UsbBusy(name);
        return nullptr;
    }
    return std::make_unique<FaultyUsbDevice>(*this, std::move(device));
}

}  // namespace qvin::sim
