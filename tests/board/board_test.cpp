#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "board/board.h"
#include "platform/port/ppdev_port.h"
#include "sim/sim_board.h"

namespace qvin {
namespace {

TEST(Boards, TableNamesHardwareAndSimulation) {
    VirtualClock clock;
    Trace trace;
    auto sim = MakeBoard("sim", clock, trace);
    ASSERT_TRUE(sim);
    EXPECT_NE(sim->simulated(), nullptr);
    auto hw = MakeBoard("hardware", clock, trace);
    ASSERT_TRUE(hw);
    EXPECT_EQ(hw->simulated(), nullptr);
    EXPECT_EQ(MakeBoard("nonsense", clock, trace), nullptr);

    setenv("QVIN_BOARD", "sim", 1);
    EXPECT_EQ(BoardNameFromEnvironment(), "sim");
    std::string error;
    setenv("QVIN_BOARD", "", 1);
    EXPECT_EQ(BoardNameFromEnvironment(&error), "hardware");
    EXPECT_EQ(error, "");
    for (const char* bad : {"other", "replay:", "Sim"}) {
        setenv("QVIN_BOARD", bad, 1);
        EXPECT_EQ(BoardNameFromEnvironment(&error), "hardware") << bad;
        EXPECT_EQ(error, "QVIN_BOARD=" + std::string(bad) + " names no board (sim, hardware or replay:FILE; unset for the hardware)");
        error.clear();
    }
    unsetenv("QVIN_BOARD");
}

TEST(Boards, SimulatedPortExistsOnlyAt378) {
    VirtualClock clock;
    Trace trace;
    auto board = MakeBoard("sim", clock, trace);
    PortIo& port = board->port();
    EXPECT_EQ(port.In(0x379), 0xFF);  // no access before preparation
    const PortAccessError e = port.Prepare(0x278);
    EXPECT_EQ(e.kind, PortAccessError::Kind::NoSuchPort);
    EXPECT_NE(e.reason.find("278"), std::string::npos);
    EXPECT_FALSE(port.Prepared());
    EXPECT_FALSE(port.Prepare(0x378));
    EXPECT_EQ(port.In(0x379) & 0x40, 0x40);
}

class PpdevMapping : public ::testing::Test {
protected:
    void SetUp() override {
        proc = std::filesystem::temp_directory_path() /
               ("qvin-parport-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        std::filesystem::remove_all(proc);
    }
    void TearDown() override { std::filesystem::remove_all(proc); }
    void AddPort(const std::string& name, const std::string& baseAddr) {
        std::filesystem::create_directories(proc / name);
        std::ofstream(proc / name / "base-addr") << baseAddr;
    }
    std::filesystem::path proc;
};

TEST_F(PpdevMapping, MatchesTheKernelsBaseAddresses) {
    AddPort("parport0", "888\t1912\n");
    AddPort("parport1", "53248\t53256\n");  // a PCI card at 0xD000
    PpdevPort port(proc, "/devroot");
    EXPECT_EQ(port.DeviceFor(0x378), "/devroot/parport0");
    EXPECT_EQ(port.DeviceFor(0xD000), "/devroot/parport1");
    EXPECT_EQ(port.DeviceFor(0x278), "");  // listed ports are authoritative
}

TEST_F(PpdevMapping, ConventionalNumberingWhenTheKernelListsNone) {
    PpdevPort port(proc, "/devroot");
    EXPECT_EQ(port.DeviceFor(0x378), "/devroot/parport0");
    EXPECT_EQ(port.DeviceFor(0x278), "/devroot/parport1");
    EXPECT_EQ(port.DeviceFor(0x3BC), "/devroot/parport2");
    EXPECT_EQ(port.DeviceFor(0x123), "");
}

TEST_F(PpdevMapping, MissingDeviceIsAClearFailure) {
    AddPort("parport0", "888 0");
    PpdevPort port(proc, proc / "dev");
    const PortAccessError e = port.Prepare(0x378);
    EXPECT_EQ(e.kind, PortAccessError::Kind::NoSuchPort);
    EXPECT_NE(e.reason.find("parport0"), std::string::npos);
    EXPECT_FALSE(port.Prepared());
    EXPECT_EQ(port.In(0x379), 0xFF);
    const PortAccessError none = port.Prepare(0x300);
    EXPECT_EQ(none.kind, PortAccessError::Kind::NoSuchPort);
    EXPECT_EQ(none.reason, "no parallel port at address 300 (the ports here: parport0 at 378)");
}

TEST(PpdevErrors, EachFailureSaysWhatToDo) {
    EXPECT_EQ(PpdevErrorFor(EACCES, "/dev/parport0", "cannot open").kind, PortAccessError::Kind::NoPermission);
    EXPECT_NE(PpdevErrorFor(EACCES, "/dev/parport0", "cannot open").reason.find("'lp' group"), std::string::npos);
    EXPECT_EQ(PpdevErrorFor(ENODEV, "/dev/parport0", "cannot open").kind, PortAccessError::Kind::NoSuchPort);
    EXPECT_EQ(PpdevErrorFor(EBUSY, "/dev/parport0", "cannot claim").kind, PortAccessError::Kind::Busy);
    const PortAccessError other = PpdevErrorFor(EIO, "/dev/parport0", "cannot claim");
    EXPECT_EQ(other.kind, PortAccessError::Kind::Other);
    EXPECT_EQ(other.reason.rfind("cannot claim /dev/parport0: ", 0), 0u);
}

}  // namespace
}  // namespace qvin
