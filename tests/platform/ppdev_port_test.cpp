// The ppdev back end, unmodified, against an emulated /dev/parport0: umockdev's preload
// library redirects the device node to a testbed whose ioctl handler drives the
// simulated board's bit-level SPI slave. Run under LD_PRELOAD=libumockdev-preload.so.0.

#include <gtest/gtest.h>
#include <thread>
#include <chrono>
#include <unistd.h>
#include <fstream>
#include <filesystem>
#include <sys/ioctl.h>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <umockdev.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "core/clock.h"
#include "core/trace.h"
#include "device/program.h"
#include "device/register_access.h"
#include "platform/port/ppdev_port.h"
#include "sim/lpt_spi_slave.h"
#include "sim/qvin_chip.h"
#include "support/recorded_messages.h"

namespace qvin {
namespace {

// The emulated port: answers claim, release, data writes and status reads. Runs on
// umockdev's worker thread and completes every request exactly once.
struct EmulatedParport {
    explicit EmulatedParport(const Clock& clock) : chip(clock), slave(chip) {}

    static gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
        return static_cast<EmulatedParport*>(self)->Handle(client);
    }

    gboolean Handle(UMockdevIoctlClient* client) {
        std::lock_guard lock(mutex);
        const gulong request = umockdev_ioctl_client_get_request(client);
        UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
        ++requests;
        switch (request) {
            case PPCLAIM:
                if (refuseClaim) {
                    umockdev_ioctl_client_complete(client, -1, EBUSY);
                    return TRUE;
                }
                if (otherHolds) {  // the kernel keeps the claim waiting until the port is free
                    waitingClaim = UMOCKDEV_IOCTL_CLIENT(g_object_ref(client));
                    return TRUE;
                }
                claimed = true;
                break;
            case PPRELEASE:
                claimed = false;
                ++releases;
                break;
            case PPWDATA: {
                UMockdevIoctlData* d = umockdev_ioctl_data_resolve(arg, 0, 1, nullptr);
                if (!d || !claimed) {
                    umockdev_ioctl_client_complete(client, -1, d ? EINVAL : EFAULT);
                    return TRUE;
                }
                slave.WriteData(d->data[0]);
                break;
            }
            case PPRSTATUS: {
                UMockdevIoctlData* d = umockdev_ioctl_data_resolve(arg, 0, 1, nullptr);
                if (!d || failStatusReads) {
                    umockdev_ioctl_client_complete(client, -1, d ? EIO : EFAULT);
                    return TRUE;
                }
                d->data[0] = slave.ReadStatus();
                break;
            }
            default:
                umockdev_ioctl_client_complete(client, -1, ENOTTY);
                return TRUE;
        }
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
    }

    std::mutex mutex;
    sim::QvinChip chip;
    sim::LptSpiSlave slave;
    bool claimed = false;
    bool refuseClaim = false;
    bool otherHolds = false;  // another program has the port
    UMockdevIoctlClient* waitingClaim = nullptr;
    // The other program gives the port back: a waiting claim is had.
    void OtherReleases() {
        std::lock_guard lock(mutex);
        otherHolds = false;
        if (!waitingClaim) return;
        claimed = true;
        umockdev_ioctl_client_complete(waitingClaim, 0, 0);
        g_object_unref(waitingClaim);
        waitingClaim = nullptr;
    }
    bool failStatusReads = false;
    int releases = 0;
    std::atomic<int> requests{0};
};

class PpdevOnEmulatedPort : public ::testing::Test {
protected:
    void SetUp() override {
        // The testbed exists before anything opens the device node.
        testbed = umockdev_testbed_new();
        ASSERT_TRUE(umockdev_in_mock_environment());
        GError* error = nullptr;
        ASSERT_TRUE(umockdev_testbed_add_from_string(testbed,
                                                     "P: /devices/parport0\n"
                                                     "N: parport0=00\n"
                                                     "A: dev=99:0\n"
                                                     "E: SUBSYSTEM=ppdev\n"
                                                     "E: DEVNAME=/dev/parport0\n",
                                                     &error))
            << (error ? error->message : "");
        handler = umockdev_ioctl_base_new();
        g_signal_connect(handler, "handle-ioctl", G_CALLBACK(EmulatedParport::OnIoctl), &port);
        ASSERT_TRUE(umockdev_testbed_attach_ioctl(testbed, "/dev/parport0", handler, &error))
            << (error ? error->message : "");
    }
    void TearDown() override {
        umockdev_testbed_detach_ioctl(testbed, "/dev/parport0", nullptr);
        g_object_unref(handler);
        g_object_unref(testbed);
    }

    // No kernel port list, so 0x378 maps to parport0 by the usual numbering.
    static constexpr const char* kNoProc = "/nonexistent/parport";

    VirtualClock clock;
    EmulatedParport port{clock};
    UMockdevTestbed* testbed = nullptr;
    UMockdevIoctlBase* handler = nullptr;
};

TEST_F(PpdevOnEmulatedPort, RegistersReadAndWriteThroughTheRealBackEnd) {
    Trace trace;
    {
        PpdevPort ppdev(kNoProc);
        ASSERT_FALSE(ppdev.Prepare(0x378)) << "prepare failed";
        EXPECT_TRUE(port.claimed);

        NoUsbDriver usb;
        test::RecordedMessages messages;
        Program p(clock, ppdev, usb, trace, messages);
        StartProgram(p, "/nonexistent/Qvin27319.cfg");
        p.settings.InterfaceType = Interface::ParallelPort;
        p.settings.PortAddress = 0x378;

        ReadReg(p, reg::Product);
        EXPECT_EQ(p.reg.RegData, 27319);
        WriteReg(p, reg::Msc_Ctrl, 0x0123);
        EXPECT_EQ(port.chip.Word(0x34), 0x0123);
        ReadReg(p, reg::Msc_Ctrl);
        EXPECT_EQ(p.reg.RegData, 0x0123);
        EXPECT_EQ(port.slave.DroppedFrames(), 0u);
        EXPECT_EQ(ppdev.lastError(), "");
    }
    // The claim ends with the back end.
    EXPECT_FALSE(port.claimed);
    EXPECT_EQ(port.releases, 1);
}

// Where another program holds the port the kernel's claim waits until it is free: after a
// second the port is reported busy instead of waited on for ever. The claim, had later, is
// given back; then the port can be had.
TEST_F(PpdevOnEmulatedPort, AClaimNotHadWithinASecondIsBusyAndGivenBackWhenHadLater) {
    port.otherHolds = true;
    PpdevPort ppdev(kNoProc);
    const auto start = std::chrono::steady_clock::now();
    const PortAccessError e = ppdev.Prepare(0x378);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(e.kind, PortAccessError::Kind::Busy);
    EXPECT_EQ(e.reason, "/dev/parport0 is in use by another program");
    EXPECT_FALSE(ppdev.Prepared());
    EXPECT_GE(waited, std::chrono::milliseconds(950));
    EXPECT_LT(waited, std::chrono::seconds(5));
    port.OtherReleases();
    for (int i = 0; i < 500; ++i) {
        {
            std::lock_guard lock(port.mutex);
            if (port.releases == 1) break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    {
        std::lock_guard lock(port.mutex);
        EXPECT_EQ(port.releases, 1) << "the late claim is given back";
        EXPECT_FALSE(port.claimed);
    }
    EXPECT_FALSE(ppdev.Prepare(0x378));
    EXPECT_TRUE(ppdev.Prepared());
}

TEST_F(PpdevOnEmulatedPort, ClaimRefusedIsReportedAndNothingIsSent) {
    port.refuseClaim = true;
    PpdevPort ppdev(kNoProc);
    const PortAccessError e = ppdev.Prepare(0x378);
    EXPECT_EQ(e.kind, PortAccessError::Kind::Busy);
    EXPECT_EQ(e.reason, "/dev/parport0 is in use by another program");
    EXPECT_FALSE(ppdev.Prepared());
    const int before = port.requests;
    ppdev.Out(0x378, 5);
    EXPECT_EQ(ppdev.In(0x379), 0xFF);
    EXPECT_EQ(port.requests, before);
}

TEST_F(PpdevOnEmulatedPort, PortWithoutDeviceNodeIsNoSuchPort) {
    PpdevPort ppdev(kNoProc);
    const PortAccessError e = ppdev.Prepare(0x278);  // parport1 is not emulated
    EXPECT_EQ(e.kind, PortAccessError::Kind::NoSuchPort);
    EXPECT_EQ(e.device, "/dev/parport1");
}

// A PCIe card's port sits at an address of its own: an address no port has is refused
// naming the ports the kernel knows, or saying that it knows none.
TEST_F(PpdevOnEmulatedPort, AnAddressWithoutAPortNamesThePortsThatExist) {
    const std::filesystem::path proc = std::filesystem::temp_directory_path() / ("qvin-parport-" + std::to_string(::getpid()));
    std::filesystem::remove_all(proc);
    for (const auto& [name, base] : {std::pair{"parport1", "632\t1656\n"}, std::pair{"parport0", "53264\t53272\n"}}) {
        std::filesystem::create_directories(proc / name);
        std::ofstream(proc / name / "base-addr") << base;
    }
    PpdevPort ppdev(proc);
    PortAccessError e = ppdev.Prepare(0x378);
    EXPECT_EQ(e.kind, PortAccessError::Kind::NoSuchPort);
    EXPECT_EQ(e.reason, "no parallel port at address 378 (the ports here: parport0 at D010, parport1 at 278)");
    std::filesystem::remove_all(proc);
    std::filesystem::create_directories(proc);
    e = PpdevPort(proc).Prepare(0x3E8);
    EXPECT_EQ(e.reason, "no parallel port at address 3E8 (the kernel lists no parallel port: is the parport_pc module loaded?)");
    std::filesystem::remove_all(proc);
}

// A port chosen by its device: the address the kernel lists for it, the usual one where it
// lists none; a name that is no port device, or a port it does not list, is refused.
TEST(PpdevAddress, ADeviceNodeGivesItsPortsAddress) {
    const std::filesystem::path proc = std::filesystem::temp_directory_path() / ("qvin-parport-path-" + std::to_string(::getpid()));
    std::filesystem::remove_all(proc);
    std::filesystem::create_directories(proc / "parport1");
    std::ofstream(proc / "parport1" / "base-addr") << "53264\t53272\n";
    std::string why;
    EXPECT_EQ(PpdevAddressOf("/dev/parport1", why, proc), 0xD010);
    EXPECT_FALSE(PpdevAddressOf("/dev/parport0", why, proc));
    EXPECT_EQ(why, "the kernel lists no port parport0");
    EXPECT_FALSE(PpdevAddressOf("/dev/sda", why, proc));
    EXPECT_EQ(why, "'/dev/sda' is no parallel port device (/dev/parportN)");
    EXPECT_FALSE(PpdevAddressOf("/dev/parport", why, proc));
    std::filesystem::remove_all(proc);
    EXPECT_EQ(PpdevAddressOf("/dev/parport0", why, proc), 0x378);
    EXPECT_EQ(PpdevAddressOf("/dev/parport1", why, proc), 0x278);
    EXPECT_FALSE(PpdevAddressOf("/dev/parport7", why, proc));
    EXPECT_EQ(why, "the kernel lists no port parport7 (is the parport_pc module loaded?)");
}

TEST_F(PpdevOnEmulatedPort, FailingStatusReadsReadAsAnIdleLine) {
    PpdevPort ppdev(kNoProc);
    ASSERT_FALSE(ppdev.Prepare(0x378));
    port.failStatusReads = true;
    EXPECT_EQ(ppdev.In(0x379), 0xFF);
    EXPECT_NE(ppdev.lastError(), "");
}

}  // namespace
}  // namespace qvin

#include "support/umockdev_main.h"
