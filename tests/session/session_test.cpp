// The session under qvin-cli and the Python module: every 16-bit word a user may write,
// a bench transfer that leaves the bus as it found it, a pass that raises the alarm when
// any output does, the data log's header as the main window writes it, and an adapter
// that comes back after it was pulled out.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "device/register_map.h"
#include "session/session.h"
#include "sim/qvin_chip.h"
#include "support/recorded_messages.h"
#include "support/sim_session.h"

namespace qvin {
namespace {

using test::SimSession;

TEST(Session, WritesTakeEverySixteenBitWordSignedOrUnsignedAndNothingWider) {
    SimSession b;
    for (const std::int32_t v : {-32768, -1, 0, 1, 32767, 32768, 40000, 65535}) {
        b.s.Write(reg::Alm_Mag1, v);
        EXPECT_EQ(b.s.Read(reg::Alm_Mag1).raw, static_cast<std::uint16_t>(v)) << v;
    }
    for (const std::int32_t v : {-32769, 65536, 1 << 20}) {
        EXPECT_THROW(b.s.Write(reg::Alm_Mag1, v), session::Error) << v;
    }
    EXPECT_EQ(b.s.Read(reg::Alm_Mag1).raw, 0xFFFF) << "a refused value writes nothing";
}

// The bench's inverted data input is for its own transfer: the register reads after it
// see the part's words as they are.
TEST(Session, ANegativePolarityTransferLeavesTheReadsAfterItAsTheyWere) {
    SimSession b;
    EXPECT_EQ(b.s.SpiTransfer({0x5600, 0}, 1, true)[1], static_cast<std::uint16_t>(~27319u));
    EXPECT_EQ(b.s.Read(reg::Product).count, 27319);
    EXPECT_EQ(b.s.SpiTransfer({0x5600, 0}, 1, false)[1], 27319);
}

// The error flag of each output alone raises the pass's alarm (and a capture row's).
TEST(Session, AnyOutputsErrorFlagIsTheAlarmOfItsPass) {
    const std::uint8_t addresses[] = {sim::addr::Supply_Out, sim::addr::Aux_ADC, sim::addr::Temp_Out, sim::addr::Incl_Out,
                                      sim::addr::Incl_180_Out};
    for (std::size_t k = 0; k < 5; ++k) {
        SimSession b;
        EXPECT_FALSE(b.s.ReadPass().alarm);
        b.chip.OverrideOutput(addresses[k], 0x4000 | 0x0100);
        EXPECT_TRUE(b.s.ReadPass().alarm) << k;
        for (const bool burst : {true, false}) {
            EXPECT_TRUE(b.s.ReadOutputs({0, 1, 2, 3, 4}, burst).alarm) << k;
            EXPECT_FALSE(b.s.ReadOutputs({(k + 1) % 5}, burst).alarm) << "another output's flag is no alarm of this one";
        }
    }
}

// A sample period register of 0 is taken as 1, as the main window takes it: 0.244 ms.
TEST(Session, TheLogHeaderTakesASamplePeriodOfZeroAsOne) {
    SimSession b;
    b.s.Write(reg::Smpl_Prd, 0);
    EXPECT_EQ(b.s.LogHeader(25.0f).samplePeriodText, "0.244");
    b.s.Write(reg::Smpl_Prd, 8);
    EXPECT_EQ(b.s.LogHeader(25.0f).samplePeriodText, "1.099");
    b.s.Write(reg::Avg_Cnt, 12);
    EXPECT_EQ(b.s.LogHeader(25.0f).avgCntText, "8");
}

// An adapter pulled out fails every request until it is back; then the next request
// finds it again, without a new session.
TEST(Session, AnAdapterThatComesBackIsFoundAgain) {
    SimSession b;
    EXPECT_EQ(b.s.Read(reg::Product).count, 27319);
    ASSERT_FALSE(b.board.faults.Add("unplug@1,replug@12"));
    int failed = 0;
    for (int i = 0; i < 20 && failed < 20; ++i) {
        try {
            b.s.Read(reg::Product);
            if (failed > 0) break;
        } catch (const session::Error& e) {
            EXPECT_EQ(e.code, qvin::kNoInterface) << e.what();
            ++failed;
        }
    }
    EXPECT_GT(failed, 0) << "the adapter was never gone";
    EXPECT_LT(failed, 20) << "the adapter was never found again";
    EXPECT_EQ(b.s.Read(reg::Product).count, 27319);
}

// The parallel port is reset once it is prepared, before the first frame: the status port
// 40, then the data port 0 (as the main window and the port window do).
TEST(Session, AParallelPortIsResetBeforeItsFirstFrame) {
    const auto file = std::filesystem::temp_directory_path() / ("qvin-session-lpt-" + std::to_string(::getpid()) + ".trace");
    ::setenv("QVIN_TRACE", file.c_str(), 1);
    {
        VirtualClock clock;
        test::RecordedMessages messages;
        session::Options o;
        o.board = "sim";
        o.settingsFile = "/nonexistent/Qvin27319.cfg";
        o.interface.interface = Interface::ParallelPort;
        o.interface.port = 0x378;
        session::Session s(clock, o, messages);
        EXPECT_EQ(s.Read(reg::Product).count, 27319);
        EXPECT_EQ(s.CloseTrace(), "");
    }
    ::unsetenv("QVIN_TRACE");
    std::ifstream in(file);
    std::vector<std::string> port;
    for (std::string line; std::getline(in, line);)
        if (const auto at = line.find("port-out"); at != std::string::npos) port.push_back(line.substr(at));
    std::filesystem::remove(file);
    ASSERT_GE(port.size(), 2u);
    EXPECT_EQ(port[0], "port-out 379 40");
    EXPECT_EQ(port[1], "port-out 378 00");
}

}  // namespace
}  // namespace qvin
