// The fault rules: their grammar, when they strike, and that a seeded run repeats.

#include <gtest/gtest.h>

#include "device/register_access.h"
#include "device/usb_spi.h"
#include "sim/faults.h"
#include "support/sim_fixture.h"

namespace qvin::sim {
namespace {

TEST(FaultRules, BadRulesAreRefusedByName) {
    const std::pair<const char*, const char*> bad[] = {
        {"unplug", "\"unplug\" needs @N"},
        {"unplugg@3", "unknown kind \"unplugg\""},
        {"send-fail@0", "whole number from 1 up"},
        {"send-fail@-1", "whole number from 1 up"},
        {"send-fail@x", "whole number from 1 up"},
        {"send-fail@3++", "whole number from 1 up"},
        {"timeout%101", "percentage from 0 to 100"},
        {"timeout%-5", "percentage from 0 to 100"},
        {"timeout%nan", "percentage from 0 to 100"},
        {"send-fail%0x10", "percentage from 0 to 100"},
        {"send-fail%1e1", "percentage from 0 to 100"},
        {"send-fail%1e-400", "percentage from 0 to 100"},
        {"send-fail% 5", "percentage from 0 to 100"},
        {"bit-flip@2,", "\"\" needs @N"},
        {"bit-flip@2,miso-high", "\"miso-high\" needs @N"},
    };
    for (const auto& [rule, says] : bad) {
        FaultPlan plan;
        const auto error = plan.Add(rule);
        ASSERT_TRUE(error) << rule;
        EXPECT_NE(error->find(says), std::string::npos) << rule << ": " << *error;
        EXPECT_TRUE(plan.empty()) << rule << " added something";
    }
    FaultPlan plan;
    EXPECT_FALSE(plan.Add("send-fail@3,receive-fail@2+,short-reply%12.5,timeout@1,unplug@9,replug@10,bit-flip%1,"
                          "no-new-data@4+,miso-high@7,miso-low%0"));
}

// Each rule keeps a random generator of some kilobytes: thousands of them were once taken.
TEST(FaultRules, APlanHoldsABoundedNumberOfRules) {
    FaultPlan plan;
    std::string many;
    for (std::size_t i = 0; i < FaultPlan::kMaxRules; ++i) many.append(i ? "," : "").append("bit-flip%1");
    EXPECT_FALSE(plan.Add(many));
    const auto more = plan.Add("bit-flip%1");
    ASSERT_TRUE(more);
    EXPECT_EQ(*more, "at most 64 fault rules (65 given)");
    std::string huge;
    for (int i = 0; i < 11'900; ++i) huge += "send-fail%1,";
    FaultPlan fresh;
    EXPECT_TRUE(fresh.Add(huge));
    EXPECT_TRUE(fresh.empty());
}

TEST(FaultRules, OnceOnwardAndNeverStrikeWhenTheyShould) {
    FaultPlan plan;
    ASSERT_FALSE(plan.Add("send-fail@3,receive-fail@2+,timeout%0,unplug%100"));
    std::vector<int> send, receive;
    for (int i = 1; i <= 5; ++i) {
        if (plan.Strike(FaultKind::SendFail)) send.push_back(i);
        if (plan.Strike(FaultKind::ReceiveFail)) receive.push_back(i);
        EXPECT_FALSE(plan.Strike(FaultKind::Timeout));
        EXPECT_TRUE(plan.Strike(FaultKind::Unplug));
        EXPECT_FALSE(plan.Strike(FaultKind::BitFlip));  // no rule of that kind
    }
    EXPECT_EQ(send, std::vector<int>{3});
    EXPECT_EQ(receive, (std::vector<int>{2, 3, 4, 5}));
}

TEST(FaultRules, ASeededProbabilityRepeatsAndTheSeedChangesIt) {
    auto strikes = [](std::uint32_t seed) {
        FaultPlan plan;
        plan.SetSeed(seed);
        EXPECT_FALSE(plan.Add("bit-flip%30"));
        std::vector<int> at;
        for (int i = 0; i < 200; ++i)
            if (plan.Strike(FaultKind::BitFlip)) at.push_back(i);
        return at;
    };
    const auto a = strikes(1), b = strikes(1), c = strikes(2);
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
    EXPECT_GT(a.size(), 40u);  // about 60 of 200
    EXPECT_LT(a.size(), 80u);
}

// Through the whole stack on the simulated board.
struct FaultsOnTheBoard : ::testing::Test {
    test::SimProgram sim;
    std::uint16_t ReadWord(std::int16_t index) {
        ReadReg(sim.p, index);
        return static_cast<std::uint16_t>(sim.p.reg.RegRaw);
    }
};

TEST_F(FaultsOnTheBoard, FrameFaultsReachBothTransportsAlike) {
    for (const bool usb : {false, true}) {
        SCOPED_TRACE(usb ? "USB" : "parallel port");
        test::SimProgram s;
        if (usb) s.UseUsb();
        auto word = [&](std::int16_t index) {
            ReadReg(s.p, index);
            return static_cast<std::uint16_t>(s.p.reg.RegRaw);
        };
        EXPECT_EQ(word(reg::Product), 27319);
        ASSERT_FALSE(s.board.faults.Add("miso-high@1+"));
        EXPECT_EQ(word(reg::Product), 0xFFFF);
        EXPECT_EQ(word(reg::Msc_Ctrl), 0xFFFF);
    }
    test::SimProgram s;
    ASSERT_FALSE(s.board.faults.Add("miso-low@1+"));
    ReadReg(s.p, reg::Product);
    EXPECT_EQ(s.p.reg.RegData, 0);
}

TEST_F(FaultsOnTheBoard, NoNewDataAndBitFlipChangeOneAnswer) {
    sim.clock.Advance(10'000'000);
    // The read request is the first frame, the answer comes in the second.
    ASSERT_FALSE(sim.board.faults.Add("no-new-data@2"));
    EXPECT_EQ(ReadWord(reg::Incl_Out) & 0x8000, 0);
    sim.clock.Advance(10'000'000);
    EXPECT_EQ(ReadWord(reg::Incl_Out) & 0x8000, 0x8000);

    ASSERT_FALSE(sim.board.faults.Add("bit-flip@4"));  // two frames a read: the second read's answer
    const std::uint16_t product = 27319;
    EXPECT_EQ(ReadWord(reg::Product), product);
    const std::uint16_t flipped = ReadWord(reg::Product);
    EXPECT_EQ(__builtin_popcount(flipped ^ product), 1) << std::hex << flipped;
    EXPECT_EQ(ReadWord(reg::Product), product);
}

TEST_F(FaultsOnTheBoard, TimeoutWaitsTheTimeLimitThenFailsOnce) {
    sim.UseUsb();
    ASSERT_FALSE(sim.board.faults.Add("timeout@1"));
    const std::int64_t start = sim.clock.NowNs();
    ReadReg(sim.p, reg::Product);
    EXPECT_EQ(sim.messages.Take(), std::vector<std::string>{"Error Writing SPI"});
    EXPECT_FALSE(sim.p.UsbReady());
    const std::int64_t waited = sim.clock.NowNs() - start;
    EXPECT_GE(waited, kRequestTimeLimitNs);
    EXPECT_LT(waited, kRequestTimeLimitNs + 1'000'000);
}

TEST_F(FaultsOnTheBoard, UnplugThenReplugFindsTheAdapterAgain) {
    sim.UseUsb();
    ASSERT_FALSE(sim.board.faults.Add("unplug@1,replug@4"));
    ReadReg(sim.p, reg::Product);  // request 1: the open fails
    EXPECT_EQ(sim.messages.Take(), std::vector<std::string>{"Error Writing SPI"});
    EXPECT_TRUE(sim.board.usbLink.unplugged());
    // The search opens Ezusb-0 to Ezusb-3 (requests 2 to 5); the 4th brings the adapter
    // back, after Ezusb-0 was tried, so this search finds nothing ...
    FindUsbBoards(sim.p);
    EXPECT_FALSE(sim.p.UsbReady());
    EXPECT_EQ(sim.messages.Take(), std::vector<std::string>{"No USB Buffers Found, Please Verify Setup and Restart"});
    FindUsbBoards(sim.p);  // ... and the next one finds it
    EXPECT_TRUE(sim.p.UsbReady());
    EXPECT_TRUE(sim.messages.Take().empty());
    ReadReg(sim.p, reg::Product);
    EXPECT_EQ(sim.p.reg.RegData, 27319);
}

}  // namespace
}  // namespace qvin::sim
