#include <gtest/gtest.h>

#include <vector>

#include "core/clock.h"
#include "core/trace.h"
#include "device/lpt_transport.h"
#include "device/program.h"
#include "support/recorded_messages.h"

namespace qvin {
namespace {

// Records every port write and answers status reads with a fixed byte.
class ScriptedPort final : public PortIo {
public:
    PortAccessError Prepare(std::uint16_t) override { return {}; }
    bool Prepared() const override { return true; }
    void Out(std::uint16_t port, std::uint8_t value) override { writes.push_back({port, value}); }
    std::uint8_t In(std::uint16_t port) override {
        reads.push_back(port);
        return status;
    }
    struct Write {
        std::uint16_t port;
        std::uint8_t value;
        bool operator==(const Write&) const = default;
    };
    std::vector<Write> writes;
    std::vector<std::uint16_t> reads;
    std::uint8_t status = 0;
};

class LptTransport : public ::testing::Test {
protected:
    void SetUp() override {
        p.timer.CalibrateDelay();
        p.settings.InterfaceType = Interface::ParallelPort;
        p.settings.PortAddress = 0x278;
    }
    std::vector<std::uint8_t> Values() const {
        std::vector<std::uint8_t> v;
        for (const auto& w : port.writes) {
            EXPECT_EQ(w.port, 0x278);
            v.push_back(w.value);
        }
        return v;
    }
    VirtualClock clock;
    Trace trace;
    ScriptedPort port;
    NoUsbDriver usb;
    test::RecordedMessages messages;
    Program p{clock, port, usb, trace, messages};
};

TEST_F(LptTransport, WriteFrameShiftsMostSignificantBitFirstWithInvertedData) {
    clock.ResetIterations();
    const std::int64_t start = clock.NowNs();
    LptSpiWrite(p, 0x8000);
    std::vector<std::uint8_t> expected{4, 5, 7, 3, 1, 5};
    for (int bit = 14; bit >= 0; --bit) expected.insert(expected.end(), {7, 7, 5, 5});
    expected.push_back(0);
    EXPECT_EQ(Values(), expected);
    EXPECT_EQ(port.writes.size(), 67u);
    // 66 shortest pauses (counted) after the frame's writes, then the 0.1 ms closing pause
    // (on the clock).
    EXPECT_EQ(clock.Iterations(), 66 * 40);
    EXPECT_GE(clock.NowNs() - start, 66 * 40 + 100'000);
    EXPECT_LE(clock.NowNs() - start, 66 * 40 + 100'001);  // 0.1 in single precision is a hair more
}

TEST_F(LptTransport, ReadSamplesTheInvertedStatusBitWhileTheClockIsHigh) {
    port.status = 0x40;  // data line 0 on every sample
    EXPECT_EQ(LptSpiRead(p, 0x0C), 0);
    port.status = 0xBF;  // every bit but bit 6 set: data line 1 on every sample
    port.writes.clear();
    port.reads.clear();
    EXPECT_EQ(LptSpiRead(p, 0x8C), 0xFFFF);  // the address keeps its low 7 bits
    ASSERT_EQ(port.reads.size(), 16u);
    for (std::uint16_t r : port.reads) EXPECT_EQ(r, 0x279);

    // The request frame for address 0x0C, then 4, 5, sixteen times (7, sample, 5), 0.
    const std::vector<std::uint8_t> v = Values();
    ASSERT_EQ(v.size(), 67u + 2 + 32 + 1);
    std::vector<std::uint8_t> clockOut{4, 5};
    for (int i = 0; i < 16; ++i) clockOut.insert(clockOut.end(), {7, 5});
    clockOut.push_back(0);
    EXPECT_EQ(std::vector<std::uint8_t>(v.begin() + 67, v.end()), clockOut);
    // Bits 11 and 10 of 0x0C00 are ones: 7, 3, 1, 5 at bits 11 and 10.
    EXPECT_EQ(std::vector<std::uint8_t>(v.begin() + 2 + 4 * 4, v.begin() + 2 + 6 * 4),
              (std::vector<std::uint8_t>{7, 3, 1, 5, 7, 3, 1, 5}));
}

TEST_F(LptTransport, ResetIdlesTheLines) {
    LptReset(p);
    EXPECT_EQ(port.writes, (std::vector<ScriptedPort::Write>{{0x279, 0x40}, {0x278, 0}}));
}

TEST_F(LptTransport, NothingHappensWithoutAnInterface) {
    p.settings.InterfaceType = Interface::None;
    LptSpiWrite(p, 0x1234);
    LptReset(p);
    EXPECT_EQ(LptSpiRead(p, 2), 0);
    EXPECT_TRUE(port.writes.empty());
    EXPECT_TRUE(port.reads.empty());
}

}  // namespace
}  // namespace qvin
