// The libusb back end, unmodified, against emulated adapters: umockdev's testbed provides
// the sysfs records libusb enumerates and answers the usbdevfs ioctls of the device nodes,
// feeding bulk OUT transfers to the same adapter firmware model as the simulated back end.
// Run under LD_PRELOAD=libumockdev-preload.so.0.

#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <linux/capability.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <umockdev.h>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "board/replay_board.h"
#include "core/clock.h"
#include "device/register_access.h"
#include "device/usb_spi.h"
#include "device/usb_adapter.h"
#include "platform/usb/libusb_driver.h"
#include "sim/adapter_firmware.h"
#include "sim/qvin_chip.h"
#include "support/idle_port.h"
#include "support/recorded_messages.h"
#include "support/sim_fixture.h"
#include "support/usbdevfs_device.h"

namespace qvin {
namespace {

struct AdapterLayout {
    std::vector<std::uint8_t> endpoints;  // in descriptor order
    std::uint16_t maxPacket;
    int speedMbps;
};

const AdapterLayout kHighSpeed{{0x01, 0x81, 0x02, 0x86}, 512, 480};
const AdapterLayout kFullSpeedOtherEndpoints{{0x02, 0x86, 0x04, 0x88}, 64, 12};
const AdapterLayout kTwoEndpoints{{0x02, 0x86}, 512, 480};

std::string Record(const std::string& port, int devnum, std::uint16_t vendor, std::uint16_t product, const AdapterLayout& a) {
    return test::UsbRecord({port, devnum, vendor, product, 0x0200, 0, a.endpoints, a.maxPacket, a.speedMbps});
}

// One emulated adapter's device node: bulk OUT on its first endpoint feeds the firmware
// model, IN on its second takes the firmware's reply.
class EmulatedAdapter : public test::UsbdevfsDevice {
public:
    EmulatedAdapter(sim::QvinChip& chip, const AdapterLayout& layout) : firmware(&chip), layout_(layout) {}

    sim::AdapterFirmware firmware;
    bool shortReply = false, silent = false;

private:
    void BulkOut(std::uint8_t endpoint, std::span<const std::uint8_t> bytes) override {
        if (endpoint == layout_.endpoints[0]) firmware.Command(bytes);
    }
    std::vector<std::uint8_t> BulkIn(std::uint8_t endpoint, std::size_t room) override {
        std::vector<std::uint8_t> reply;
        if (layout_.endpoints.size() > 1 && endpoint == layout_.endpoints[1] && !silent) reply = firmware.TakeReply(room);
        if (shortReply && reply.size() > 1) reply.resize(reply.size() - 1);
        return reply;
    }
    // GET_DESCRIPTOR for strings 0 (languages), 1 and 2.
    std::optional<std::size_t> Control(const std::uint8_t* setup, std::uint8_t* data) override {
        const int value = setup[2] | setup[3] << 8, length = setup[6] | setup[7] << 8;
        if (!(setup[1] == 6 && (value >> 8) == 3)) return std::nullopt;
        const int index = value & 0xFF;
        const char* text = index == 1 ? "Emulated adapter" : index == 2 ? "Firmware 2.0 over usbdevfs" : nullptr;
        if (index != 0 && !text) return std::nullopt;
        const std::vector<std::uint8_t> d = test::StringDescriptor(index, text);
        const std::size_t n = std::min<std::size_t>(d.size(), static_cast<std::size_t>(length));
        std::memcpy(data, d.data(), n);
        return n;
    }

    AdapterLayout layout_;
};

class LibusbOnEmulatedAdapter : public ::testing::Test {
protected:
    void TearDown() override {
        program_.reset();
        driver_.reset();  // libusb_exit before the testbed goes
        if (adapter_) {
            std::lock_guard lock(adapter_->mutex);
            EXPECT_EQ(adapter_->claims, adapter_->releases) << "every claim is released when the driver ends";
        }
        for (auto& h : handlers_) g_object_unref(h);
        if (testbed_) g_object_unref(testbed_);
    }

    // Builds the testbed (before libusb starts) with a mouse beside the adapter.
    EmulatedAdapter& Build(const AdapterLayout& layout) {
        testbed_ = umockdev_testbed_new();
        EXPECT_TRUE(umockdev_in_mock_environment());
        GError* error = nullptr;
        const std::string records = Record("1-1", 2, 0x046D, 0xC077, kHighSpeed) +
                                    Record("1-2", 3, kAdapterVendorId, kKappaProductId, layout);
        EXPECT_TRUE(umockdev_testbed_add_from_string(testbed_, records.c_str(), &error)) << (error ? error->message : "");
        adapter_.emplace(chip_, layout);
        handlers_.push_back(adapter_->Attach(testbed_, "/dev/bus/usb/001/003", &error));
        EXPECT_EQ(error, nullptr) << (error ? error->message : "");
        Start();
        trace_.Attach(memory_.stream());
        return *adapter_;
    }
    // The program (again), as a fresh run of it: its own driver.
    void Start() {
        program_.reset();
        driver_.reset();
        driver_.emplace(50);
        program_.emplace(clock_, port_, *driver_, trace_, messages_);
        InitRegisterTable(program_->map);
        program_->timer.CalibrateDelay();
        program_->settings.InterfaceType = Interface::UsbAdapter;
    }

    Program& p() { return *program_; }
    std::vector<std::string> UsbLines() {
        std::vector<std::string> out;
        for (const std::string& l : memory_.Take())
            if (l.rfind("usb-in ", 0) == 0 || l.rfind("usb-out ", 0) == 0) out.push_back(l);
        return out;
    }
    // Each fault of the adapter's in turn fails one read with one message, leaves the
    // adapter unusable and the interface released; unplugged last, it is gone for good.
    void ExpectEachFaultFailsTheRead(EmulatedAdapter& a) {
        auto failingRead = [&](const char* what, auto setUp) {
            {
                std::lock_guard lock(a.mutex);
                setUp();
            }
            p().SetUsbReady(true);
            ReadReg(p(), reg::Product);
            EXPECT_EQ(messages_.Take(), std::vector<std::string>{"Error Reading SPI"}) << what;
            EXPECT_FALSE(p().UsbReady()) << what;
        };
        failingRead("stall", [&] { a.stallNextIn = true; });
        EXPECT_EQ(a.clearHalts, 1);
        failingRead("short reply", [&] { a.shortReply = true; });
        failingRead("timeout", [&] {
            a.shortReply = false;
            a.silent = true;
        });
        ExpectBalancedClaims();  // the same claim throughout
        EXPECT_FALSE(driver_->Unplugged("Ezusb-0"));
        failingRead("unplug", [&] {
            a.silent = false;
            a.unplugAfterOut = true;
        });
        EXPECT_TRUE(driver_->Unplugged("Ezusb-0"));
        EXPECT_EQ(OpenUsbDriver(p(), "Ezusb-0"), nullptr);
        EXPECT_EQ(driver_->OpenFailure(), "Ezusb-0: unplugged");
    }
    // The adapter is claimed once, on first use, and held (released only when the driver
    // ends, which TearDown checks).
    void ExpectBalancedClaims() {
        std::lock_guard lock(adapter_->mutex);
        EXPECT_EQ(adapter_->claims, 1);
        EXPECT_EQ(adapter_->releases, 0);
    }

    VirtualClock clock_;
    sim::QvinChip chip_{clock_};
    test::IdlePort port_;
    Trace trace_;
    test::MemoryTrace memory_;
    test::RecordedMessages messages_;
    UMockdevTestbed* testbed_ = nullptr;
    std::vector<UMockdevIoctlBase*> handlers_;
    std::optional<EmulatedAdapter> adapter_;
    std::optional<LibusbDriver> driver_;
    std::optional<Program> program_;
};

// A session recorded through the real driver (what a bench recording is) answers the
// same session again with no adapter at all.
TEST_F(LibusbOnEmulatedAdapter, ARecordingThroughTheDriverReplaysWithoutIt) {
    Build(kHighSpeed);
    const auto session = [](Program& p) {
        FindUsbBoards(p);
        std::uint8_t delay = 8;
        UsbSpiSetup(p, delay);
        WriteReg(p, reg::Msc_Ctrl, 0x0123);
        std::vector<std::int32_t> seen;
        for (std::int16_t r : {reg::Msc_Ctrl, reg::Supply_Out, reg::Incl_Out}) {
            ReadReg(p, r);
            seen.push_back(p.reg.RegData);
        }
        return std::pair(p.usb.CurrentBoard.Descriptor2, seen);
    };
    const auto recorded = session(p());
    ASSERT_TRUE(p().UsbReady());
    const std::filesystem::path file = std::filesystem::temp_directory_path() / ("qvin-libusb-" + std::to_string(::getpid()) + ".trace");
    std::ofstream(file) << memory_.All();

    VirtualClock clock;
    std::string why;
    auto board = ReplayBoard::Open(file, &clock, why);
    ASSERT_TRUE(board) << why;
    Trace silent;
    test::RecordedMessages messages;
    Program replayed(clock, board->port(), board->usb(), silent, messages);
    InitRegisterTable(replayed.map);
    replayed.timer.CalibrateDelay();
    replayed.settings.InterfaceType = Interface::UsbAdapter;
    EXPECT_EQ(session(replayed), recorded);
    EXPECT_TRUE(messages.texts.empty());
    EXPECT_FALSE(board->stopped());
    std::filesystem::remove(file);
}

TEST_F(LibusbOnEmulatedAdapter, DiscoveryWriteAndReadMatchTheSimulatedBackEnd) {
    Build(kHighSpeed);
    FindUsbBoards(p());
    EXPECT_TRUE(messages_.Take().empty());
    ASSERT_TRUE(p().UsbReady());
    EXPECT_EQ(p().usb.UsbBoardCount, 1);  // the mouse is not an adapter
    EXPECT_EQ(p().usb.CurrentBoard.DeviceName, "Ezusb-0");
    EXPECT_EQ(p().usb.CurrentBoard.Descriptor1, "Emulated adapter");
    EXPECT_EQ(p().usb.CurrentBoard.Descriptor2, "Firmware 2.0 over usbdevfs");
    EXPECT_FLOAT_EQ(p().usb.CurrentBoard.FirmwareRev, 2.0f);
    EXPECT_EQ(p().usb.CurrentBoard.UsbSpeed, "2");
    ExpectBalancedClaims();
    UsbLines();

    WriteReg(p(), reg::Msc_Ctrl, 0x0123);
    ReadReg(p(), reg::Msc_Ctrl);
    EXPECT_EQ(p().reg.RegData, 0x0123);
    const std::vector<std::string> real = UsbLines();
    ExpectBalancedClaims();

    test::SimProgram sim;
    sim.UseUsb();
    WriteReg(sim.p, reg::Msc_Ctrl, 0x0123);
    ReadReg(sim.p, reg::Msc_Ctrl);
    std::vector<std::string> simulated;
    for (const std::string& l : sim.memory.Take())
        if (l.rfind("usb-in ", 0) == 0 || l.rfind("usb-out ", 0) == 0) simulated.push_back(l);
    EXPECT_EQ(real, simulated);
    EXPECT_EQ(real.size(), 4u);
}

TEST_F(LibusbOnEmulatedAdapter, EndpointsAndPacketSizeComeFromTheDescriptors) {
    Build(kFullSpeedOtherEndpoints);
    FindUsbBoards(p());
    ASSERT_TRUE(p().UsbReady()) << driver_->lastError();
    EXPECT_EQ(p().usb.CurrentBoard.UsbSpeed, "1.1");
    ReadReg(p(), reg::Product);
    EXPECT_EQ(p().reg.RegData, 27319);
    ExpectBalancedClaims();
}

TEST_F(LibusbOnEmulatedAdapter, AdapterWithTwoPipesCannotTellItsSpeed) {
    Build(kTwoEndpoints);
    FindUsbBoards(p());
    EXPECT_EQ(messages_.Take(), (std::vector<std::string>{"Error getting Board Info",
                                                         "No Valid USB Buffers Found, Please Verify Setup and Restart"}));
    ExpectBalancedClaims();
}

TEST_F(LibusbOnEmulatedAdapter, StallShortReplyTimeoutAndUnplugAreFailedRequests) {
    EmulatedAdapter& a = Build(kHighSpeed);
    FindUsbBoards(p());
    ASSERT_TRUE(p().UsbReady());
    messages_.Take();
    ExpectEachFaultFailsTheRead(a);
}

// A capture polls for each transfer's end instead of sleeping until it comes: the same
// answers, and each fault the same single failure, the timeout included (not a hang).
TEST_F(LibusbOnEmulatedAdapter, PolledTransfersAnswerAndFailAsWaitedOnesDo) {
    EmulatedAdapter& a = Build(kHighSpeed);
    const BusyWaiting busy;
    FindUsbBoards(p());
    ASSERT_TRUE(p().UsbReady());
    EXPECT_TRUE(messages_.Take().empty());
    for (std::int32_t v : {0x0123, 0x0102}) {
        WriteReg(p(), reg::Msc_Ctrl, v);
        ReadReg(p(), reg::Msc_Ctrl);
        EXPECT_EQ(p().reg.RegData, v);
    }
    ReadReg(p(), reg::Product);
    EXPECT_EQ(p().reg.RegData, 27319);
    EXPECT_TRUE(messages_.Take().empty());
    ExpectEachFaultFailsTheRead(a);
}

// An adapter that is there but cannot be had is not a missing adapter: the search says
// what kept it (held by another program; no permission) after the program's own message,
// and the recording of it carries the cause.
TEST_F(LibusbOnEmulatedAdapter, ABusyOrForbiddenAdapterIsNamedWithItsCause) {
    EmulatedAdapter& a = Build(kHighSpeed);
    {
        std::lock_guard lock(a.mutex);
        a.busy = true;
    }
    FindUsbBoards(p());
    EXPECT_FALSE(p().UsbReady());
    EXPECT_EQ(messages_.Take(), (std::vector<std::string>{"No USB Buffers Found, Please Verify Setup and Restart",
                                                          "Ezusb-0: busy (another program has it open)"}));
    bool recorded = false;
    for (const std::string& l : memory_.Take()) recorded = recorded || l == "usb-open Ezusb-0 none Ezusb-0: busy (another program has it open)";
    EXPECT_TRUE(recorded);
    {
        std::lock_guard lock(a.mutex);
        a.busy = false;
    }
    FindUsbBoards(p());
    EXPECT_TRUE(p().UsbReady());
    EXPECT_TRUE(messages_.Take().empty());
    // No permission on the device node, as for a user the udev rule does not yet admit: root
    // is admitted anyway, so the right to pass over permissions is given up on this thread.
    // A program started afresh (this one holds the adapter now).
    Start();
    const std::string node = std::string(umockdev_testbed_get_root_dir(testbed_)) + "/dev/bus/usb/001/003";
    ASSERT_EQ(::chmod(node.c_str(), 0), 0);
    std::thread([&] {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct caps[2]{};
        ASSERT_EQ(syscall(SYS_capget, &header, caps), 0);
        for (const int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER})
            caps[cap / 32].effective &= ~(1u << (cap % 32));
        ASSERT_EQ(syscall(SYS_capset, &header, caps), 0);
        FindUsbBoards(p());
    }).join();
    EXPECT_FALSE(p().UsbReady());
    const std::vector<std::string> said = messages_.Take();
    ASSERT_EQ(said.size(), 2u);
    EXPECT_EQ(said[1], "Ezusb-0: no permission to open it (install the udev rule 60-qvin27319.rules, add your user to the plugdev group "
                       "and log in again)");
}

// An adapter, once found, keeps its name while it stays plugged in: a second one plugged in
// later, on a port that comes first in bus and port order, takes a free name and never
// answers in its place; a device of the adapter's vendor that is no adapter takes no name;
// and when the first goes, its failure is said to be an unplug.
TEST_F(LibusbOnEmulatedAdapter, AnAdapterKeepsItsNameAndOnePluggedInLaterNeverAnswersInItsPlace) {
    EmulatedAdapter& first = Build(kHighSpeed);
    FindUsbBoards(p());
    ASSERT_TRUE(p().UsbReady());
    WriteReg(p(), reg::Msc_Ctrl, 0x0123);

    sim::QvinChip otherChip{clock_};
    EmulatedAdapter second(otherChip, kHighSpeed);
    GError* error = nullptr;
    ASSERT_TRUE(umockdev_testbed_add_from_string(testbed_,
                                                 (Record("1-1.3", 4, kAdapterVendorId, kRhoProductId, kHighSpeed) +
                                                  Record("1-1.2", 5, kAdapterVendorId, 0x1234, kHighSpeed)).c_str(),
                                                 &error));
    handlers_.push_back(second.Attach(testbed_, "/dev/bus/usb/001/004", &error));
    ASSERT_EQ(error, nullptr);
    for (const char* device : {"/sys/devices/pci0000:00/usb1/1-1.3", "/sys/devices/pci0000:00/usb1/1-1.2"})
        umockdev_testbed_uevent(testbed_, device, "add");
    // libusb learns of new devices on its own thread.
    for (int tries = 0; tries < 500 && p().usb.UsbBoardCount < 2; ++tries) {
        ReadReg(p(), reg::Msc_Ctrl);
        EXPECT_EQ(p().reg.RegData, 0x0123) << "the current adapter answers, not the one plugged in";
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const UsbBoardInfo current = p().usb.CurrentBoard;
        ScanUsbBoards(p());
        p().usb.CurrentBoard = current;
    }
    ASSERT_EQ(p().usb.UsbBoardCount, 2);
    EXPECT_EQ(p().usb.UsbBoards[0].BoardType, "KAPPA");
    EXPECT_EQ(p().usb.UsbBoards[1].BoardType, "RHO");
    EXPECT_FALSE(p().usb.UsbBoards[2].Present);  // the vendor's other device
    ReadReg(p(), reg::Msc_Ctrl);
    EXPECT_EQ(p().reg.RegData, 0x0123);
    EXPECT_TRUE(messages_.Take().empty());

    {
        std::lock_guard lock(first.mutex);
        first.unplugged = true;
    }
    ReadReg(p(), reg::Msc_Ctrl);
    EXPECT_EQ(messages_.Take(), std::vector<std::string>{"Error Writing SPI"});
    EXPECT_TRUE(driver_->Unplugged("Ezusb-0"));
    EXPECT_FALSE(driver_->Unplugged("Ezusb-1"));
    // A new search finds the other one under its own name, and says nothing of the one gone
    // as long as another answers.
    FindUsbBoards(p());
    ASSERT_TRUE(p().UsbReady());
    EXPECT_EQ(p().usb.CurrentBoard.DeviceName, "Ezusb-1");
    EXPECT_EQ(p().usb.OpenFailures, std::vector<std::string>{"Ezusb-0: unplugged"});
    ReadReg(p(), reg::Msc_Ctrl);
    EXPECT_NE(p().reg.RegData, 0x0123);
    EXPECT_TRUE(messages_.Take().empty());
    program_.reset();
    driver_.reset();
    std::lock_guard lock(second.mutex);
    EXPECT_EQ(second.claims, 1);
    EXPECT_EQ(second.releases, 1);
}

}  // namespace
}  // namespace qvin

#include "support/umockdev_main.h"
