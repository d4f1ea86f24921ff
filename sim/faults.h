#pragma once
// Seeded fault injection for the simulated board, as wrappers around its back ends: the
// adapter requests (a UsbDriver around the simulated adapters) and the SPI frames (a
// SpiTarget around the chip, which both the parallel-port wiring and the adapter clock).
//
//   RULE[,RULE...]   RULE = KIND@N   strike once, at the N-th event of its kind (from 1)
//                        | KIND@N+  strike at the N-th and every later one
//                        | KIND%P   strike each event with probability P percent
//
// Events, per kind:
//   send-fail     a bulk transfer to the adapter fails, nothing is sent
//   receive-fail  a bulk transfer from the adapter fails, its reply is lost
//   short-reply   a bulk transfer from the adapter returns one byte less than it sent
//   timeout       a bulk transfer either way answers nothing until its time limit (1 s)
//   unplug        any adapter request (open, descriptor, transfer): the adapter is gone
//                 from this request on, open handles included
//   replug        any adapter request: the adapter is back, so a search finds it again
//   bit-flip      a frame the chip answers: one bit of its answer is inverted
//   no-new-data   a frame: its answer's new-data bit (15) is clear
//   miso-high     a frame: the data line from the chip stays high (a disconnected cable)
//   miso-low      a frame: the data line stays low (a miswired cable)
//   no-permission an adapter that is there is opened: the system refuses it (no udev rule)
//   busy          an adapter that is there is opened: another program holds it
// Every rule counts the events of its kind on its own. Probabilities and the flipped bit
// come from generators seeded with the plan's seed, so a run repeats exactly.

#include <cstdint>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "core/clock.h"
#include "platform/usb/usb_driver.h"
#include "sim/spi_target.h"

namespace qvin::sim {

enum class FaultKind { SendFail, ReceiveFail, ShortReply, Timeout, Unplug, Replug, BitFlip, NoNewData, MisoHigh, MisoLow, NoPermission, Busy };

// How long a request waits for an answer that never comes (as the libusb back end does).
inline constexpr std::int64_t kRequestTimeLimitNs = 1'000'000'000;

class FaultPlan {
public:
    // Each rule keeps a generator of its own (some kilobytes): a plan holds a bounded number.
    static constexpr std::size_t kMaxRules = 64;
    static constexpr std::size_t kMaxRulesText = 4096;
    // Adds rules; a bad rule adds nothing and returns a message that names it.
    std::optional<std::string> Add(std::string_view rules);
    // Seeds the generators of the rules added from now on (QVIN_SIM_SEED, default 1).
    void SetSeed(std::uint32_t seed) { seed_ = seed; }
    bool empty() const { return rules_.empty(); }

    // Counts one event of `kind` for every rule of that kind; true when one strikes.
    bool Strike(FaultKind kind);
    // A bit position 0 to 15 for a bit flip, from the plan's own generator.
    int NextBit();

private:
    struct Rule {
        FaultKind kind = FaultKind::SendFail;
        std::int64_t at = 0;
        bool onward = false;
        double percent = -1;  // a probability rule when 0 or more
        std::int64_t seen = 0;
        std::mt19937 random;
    };
    std::vector<Rule> rules_;
    std::uint32_t seed_ = 1;
    std::mt19937 bits_{1};
};

// QVIN_SIM_FAULTS and QVIN_SIM_SEED into a plan; a message naming a bad rule or seed.
// `seed` and `rules`, when given, are used instead of their variables.
std::optional<std::string> AddFaultsFromEnvironment(FaultPlan& plan, const std::optional<std::string>& seed = std::nullopt,
                                                    const std::optional<std::string>& rules = std::nullopt);

// The chip through the frame faults.
class FaultyFrames final : public SpiTarget {
public:
    FaultyFrames(SpiTarget& chip, FaultPlan& plan) : chip_(chip), plan_(plan) {}
    std::uint16_t PendingOutput() override;
    void Receive(std::uint16_t mosi) override { chip_.Receive(mosi); }

private:
    SpiTarget& chip_;
    FaultPlan& plan_;
};

// Adapters through the request faults. Failed and timed-out requests fail as the driver
// reports them; a timeout first lets the request's time limit pass on the clock.
class FaultyUsbDriver final : public UsbDriver {
public:
    FaultyUsbDriver(UsbDriver& adapters, FaultPlan& plan, Clock& clock) : adapters_(adapters), plan_(plan), clock_(clock) {}
    std::unique_ptr<UsbDevice> Open(const std::string& name) override;
    std::string OpenFailure() const override { return failure_; }
    bool unplugged() const { return unplugged_; }
    bool Unplugged(const std::string& name) const override { return unplugged_ || adapters_.Unplugged(name); }

    // One adapter request: counts it for unplug and replug; false while unplugged.
    bool Request();
    FaultPlan& plan() { return plan_; }
    Clock& clock() { return clock_; }

private:
    UsbDriver& adapters_;
    FaultPlan& plan_;
    Clock& clock_;
    bool unplugged_ = false;
    std::string failure_;
};

}  // namespace qvin::sim
