// The FTDI MPSSE back end, unmodified, with the real libftdi1 and libusb, against emulated
// FT232H adapters: umockdev's testbed holds their sysfs records and answers the usbdevfs
// requests of their device nodes; FTDI's vendor requests are taken, and the bytes sent to
// the MPSSE engine are carried out bit by bit on the simulated part's pins. Run under
// LD_PRELOAD=libumockdev-preload.so.0.

#include <gtest/gtest.h>
#include <umockdev.h>

#include <algorithm>
#include <cstring>
#include <tuple>
#include <mutex>
#include <optional>
#include <sstream>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "core/clock.h"
#include "core/trace.h"
#include "device/program.h"
#include "device/register_access.h"
#include "device/transports.h"
#include "platform/spi/ftdi_mpsse_bus.h"
#include "sim/qvin_chip.h"
#include "support/idle_port.h"
#include "support/mpsse_engine.h"
#include "support/recorded_messages.h"
#include "support/usbdevfs_device.h"

namespace qvin {
namespace {

constexpr std::uint8_t kBitmodeMpsse = 0x02;

// An FT232H: strings, FTDI's vendor requests (the bit mode among them) and its one channel,
// whose bulk IN packets start with the two modem status bytes, as a real one's do.
class EmulatedFt232h : public test::UsbdevfsDevice {
public:
    EmulatedFt232h(sim::SpiTarget& chip, std::string serial) : engine(chip), serial_(std::move(serial)) {}

    test::MpsseEngine engine;
    std::uint8_t bitmode = 0, pinDirections = 0;
    bool dropLastByte = false;  // the engine's answers come back a byte short
    bool mute = false;          // the engine answers nothing

private:
    std::optional<std::size_t> Control(const std::uint8_t* setup, std::uint8_t* data) override {
        const int request = setup[1], value = setup[2] | setup[3] << 8, length = setup[6] | setup[7] << 8;
        if (setup[0] == 0x80 && request == 6 && (value >> 8) == 3) {  // a string descriptor
            const int index = value & 0xFF;
            const char* text = index == 1 ? "FTDI" : index == 2 ? "Single RS232-HS" : index == 3 ? serial_.c_str() : "";
            const std::vector<std::uint8_t> d = test::StringDescriptor(index, text);
            const std::size_t n = std::min<std::size_t>(d.size(), static_cast<std::size_t>(length));
            std::memcpy(data, d.data(), n);
            return n;
        }
        if (setup[0] == 0x40) {  // FTDI's vendor requests out: reset, purge, baud rate, latency, bit mode
            if (request == 0x00) engine.Purge();
            if (request == 0x0B) {
                bitmode = static_cast<std::uint8_t>(value >> 8);
                pinDirections = static_cast<std::uint8_t>(value);
            }
            return 0;
        }
        if (setup[0] == 0xC0) {  // vendor requests in: latency, modem status, pins
            std::memset(data, request == 0x05 ? 0x01 : 0x01, static_cast<std::size_t>(length));
            return static_cast<std::size_t>(length);
        }
        return std::nullopt;
    }
    void BulkOut(std::uint8_t endpoint, std::span<const std::uint8_t> bytes) override {
        if (endpoint == 0x02 && bitmode == kBitmodeMpsse) engine.Write(bytes);
    }
    std::vector<std::uint8_t> BulkIn(std::uint8_t endpoint, std::size_t room) override {
        if (endpoint != 0x81 || room < 2) return {};
        std::vector<std::uint8_t> packet = {0x32, 0x60};
        if (mute) return packet;
        std::vector<std::uint8_t> data = engine.Read(std::min<std::size_t>(room, 512) - 2);
        if (dropLastByte && !data.empty() && engine.waiting() == 0) data.pop_back();
        packet.insert(packet.end(), data.begin(), data.end());
        return packet;
    }

    std::string serial_;
};

test::UsbDeviceShape Shape(std::string port, int devnum, std::uint16_t product) {
    return {std::move(port), devnum, 0x0403, product, 0x0900, 3, {0x81, 0x02}, 512, 480};
}

class FtdiOnEmulatedAdapter : public ::testing::Test {
protected:
    void TearDown() override {
        program_.reset();
        bus_.reset();
        for (auto& h : handlers_) g_object_unref(h);
        if (testbed_) g_object_unref(testbed_);
    }
    // The testbed, with an FT232R (a serial adapter without MPSSE) beside the FT232Hs.
    void Build(std::vector<std::string> serials) {
        testbed_ = umockdev_testbed_new();
        ASSERT_TRUE(umockdev_in_mock_environment());
        std::string records = test::UsbRecord(Shape("1-1", 2, 0x6001));
        for (std::size_t i = 0; i < serials.size(); ++i)
            records += test::UsbRecord(Shape("1-" + std::to_string(i + 2), static_cast<int>(i + 3), 0x6014));
        GError* error = nullptr;
        ASSERT_TRUE(umockdev_testbed_add_from_string(testbed_, records.c_str(), &error)) << (error ? error->message : "");
        for (std::size_t i = 0; i < serials.size(); ++i) {
            adapters_.emplace_back(std::make_unique<EmulatedFt232h>(*chips_.emplace_back(std::make_unique<sim::QvinChip>(clock_)), serials[i]));
            char node[32];
            std::snprintf(node, sizeof node, "/dev/bus/usb/001/%03d", static_cast<int>(i + 3));
            handlers_.push_back(adapters_.back()->Attach(testbed_, node, &error));
            ASSERT_EQ(error, nullptr) << error->message;
        }
        bus_.emplace(250);  // room for a loaded machine; the faults wait it out once each
        program_.emplace(clock_, port_, usb_, trace_, messages_);
        StartProgram(*program_, "/nonexistent/Qvin27319.cfg");
        program_->settings.InterfaceType = Interface::Spidev;
        program_->spiBus = &*bus_;
    }
    std::string Open(const std::string& device) {
        program_->spiDevice = device;
        return FindTransport(Interface::Spidev)->open(*program_, std::nullopt).error;
    }
    Program& p() { return *program_; }
    EmulatedFt232h& adapter(std::size_t i) { return *adapters_[i]; }

    VirtualClock clock_;
    test::IdlePort port_;
    NoUsbDriver usb_;
    Trace trace_;
    test::RecordedMessages messages_;
    UMockdevTestbed* testbed_ = nullptr;
    std::vector<UMockdevIoctlBase*> handlers_;
    std::vector<std::unique_ptr<sim::QvinChip>> chips_;
    std::vector<std::unique_ptr<EmulatedFt232h>> adapters_;
    std::optional<FtdiMpsseBus> bus_;
    std::optional<Program> program_;
};


// The adapters with MPSSE are listed (not the FT232R beside them) and one is opened by its
// serial number or as the first found; the engine is put in MPSSE mode with the clock, data
// out and chip select as outputs, proves that it listens, and then carries each frame in
// SPI mode 1 at 1 MHz with chip select of its own and the part's pause after it.
TEST_F(FtdiOnEmulatedAdapter, OpenedByItsSerialNumberItCarriesEachFrameAsThePartWantsIt) {
    Build({"FT5EMUL1", "FT5EMUL2"});
    std::string why;
    const std::vector<FtdiAdapter> listed = FtdiMpsseBus::List(why);
    EXPECT_EQ(why, "");
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[0].serial + " " + listed[0].chip + " " + listed[0].description, "FT5EMUL1 FT232H Single RS232-HS");
    EXPECT_EQ(listed[1].serial, "FT5EMUL2");

    EXPECT_EQ(Open("ftdi:NOPE"), "no FTDI adapter with the serial number NOPE found");
    ASSERT_EQ(Open("ftdi:FT5EMUL2"), "");
    EXPECT_EQ(bus_->device(), "ftdi:FT5EMUL2");
    EXPECT_EQ(adapter(0).bitmode, 0) << "the other adapter is left alone";
    EXPECT_EQ(adapter(1).bitmode, kBitmodeMpsse);
    EXPECT_EQ(adapter(1).pinDirections, mpsse::kClock | mpsse::kDataOut | mpsse::kChipSelect);

    EXPECT_EQ(ReadReg(p(), reg::Product)->data, 27319);
    WriteReg(p(), reg::Msc_Ctrl, 0x0123);
    EXPECT_EQ(chips_[1]->Word(0x34), 0x0123);
    EXPECT_EQ(ReadReg(p(), reg::Msc_Ctrl)->data, 0x0123);

    const test::MpsseEngine& e = adapter(1).engine;
    EXPECT_EQ(e.badCommands, 1) << "only the one sent to prove the engine listens";
    EXPECT_EQ(e.aborted, 0);
    EXPECT_EQ(e.periodNs(), 1000);
    ASSERT_EQ(e.frames.size(), 6u);  // a read's two frames, the write's two, a read's two
    for (std::size_t i = 0; i < e.frames.size(); ++i) {
        EXPECT_TRUE(e.frames[i].clockIdledLow) << "frame " << i;
        EXPECT_TRUE(e.frames[i].edgesRight) << "frame " << i;
        if (i > 0) {
            EXPECT_EQ(e.frames[i].gapNs, 25'000) << "frame " << i;
        }
    }
    EXPECT_EQ(messages_.texts.size(), 0u);
}

// Answers cut short, an engine that answers nothing, an unplug and an adapter another
// program holds: each fails its exchange or its opening once, saying why, within the
// answer time; the adapter is closed and opened again when it is still there.
TEST_F(FtdiOnEmulatedAdapter, EachFaultEndsItsExchangeOnceAndNamesWhy) {
    Build({"FT5EMUL1", "FT5EMUL2"});
    ASSERT_EQ(Open("ftdi:"), "");
    EXPECT_EQ(bus_->device(), "ftdi:FT5EMUL1");
    const Transport& t = *FindTransport(Interface::Spidev);
    auto failingRead = [&](const char* what, auto setUp, const std::string& why) {
        setUp();
        ReadReg(p(), reg::Product);
        EXPECT_FALSE(t.ready(p())) << what;
        EXPECT_EQ(t.lost(p()), "the SPI device stopped answering (" + why + ")") << what;
    };
    failingRead("a byte short", [&] { adapter(0).dropLastByte = true; }, "ftdi:FT5EMUL1: 3 of 4 bytes came back");
    adapter(0).dropLastByte = false;
    ASSERT_EQ(Open("ftdi:FT5EMUL1"), "") << "opened again, it works again";
    EXPECT_EQ(ReadReg(p(), reg::Product)->data, 27319);
    failingRead("mute", [&] { adapter(0).mute = true; }, "ftdi:FT5EMUL1: 0 of 4 bytes came back");
    adapter(0).mute = false;

    // A line from the part stuck high reads as all ones, the exchange whole.
    ASSERT_EQ(Open("ftdi:FT5EMUL1"), "");
    adapter(0).engine.stuckMisoHigh = true;
    EXPECT_EQ(ReadReg(p(), reg::Product)->data, 0xFFFF);
    EXPECT_TRUE(t.ready(p()));
    adapter(0).engine.stuckMisoHigh = false;

    failingRead("unplug", [&] { adapter(0).unplugAfterOut = true; }, "ftdi:FT5EMUL1: receiving failed (usb bulk read failed)");
    EXPECT_NE(Open("ftdi:FT5EMUL1"), "");

    adapter(1).busy = true;
    EXPECT_EQ(Open("ftdi:FT5EMUL2").rfind("FT232H on bus 1 address 4: ", 0), 0u) << Open("ftdi:FT5EMUL2");
    EXPECT_EQ(messages_.texts.size(), 0u);
}

// qvin-cli on the hardware board as a user runs it: --ftdi takes the adapter by its serial
// number (a command after --ftdi is no serial number), reads three registers in one
// exchange, and an adapter unplugged before watch ends it with status 2, said once.
TEST_F(FtdiOnEmulatedAdapter, TheCliReachesThePartThroughTheAdapterAndEndsOnceWhenItIsGone) {
    Build({"FT5EMUL1"});
    auto cli = [&](const std::vector<std::string>& args) {
        std::istringstream in;
        std::ostringstream out, err;
        cli::CliContext ctx{clock_, in, out, err, "hardware"};
        ctx.settingsFile = "/nonexistent/Qvin27319.cfg";
        ctx.calibrationMs = 20.0f;
        const int status = cli::RunCli(args, ctx);
        return std::tuple(status, out.str(), err.str());
    };
    const auto [status, out, err] = cli({"--ftdi", "FT5EMUL1", "read", "Product", "Supply_Out", "Temp_Out"});
    EXPECT_EQ(status, 0) << err;
    EXPECT_NE(out.find("Product       raw=6AB7 count=27319"), std::string::npos) << out;
    const test::MpsseEngine& e = adapter(0).engine;
    EXPECT_EQ(e.frames.size(), 4u) << "three requests and the frame that clocks out the last answer";
    const auto [firstStatus, firstOut, firstErr] = cli({"--ftdi", "info"});
    EXPECT_EQ(firstStatus, 0) << firstErr;
    EXPECT_NE(firstOut.find("QVIN27319"), std::string::npos);

    adapter(0).unplugAfterOut = true;
    const auto [watchStatus, watchOut, watchErr] = cli({"--ftdi", "watch", "--count", "20"});
    EXPECT_EQ(watchStatus, 2);
    // Gone at the first bytes sent: the opening says so, naming the adapter.
    EXPECT_EQ(watchErr, "qvin-cli: ftdi:FT5EMUL1: receiving failed (usb bulk read failed)\n");
    EXPECT_EQ(std::count(watchErr.begin(), watchErr.end(), '\n'), 1) << watchErr;
}

}  // namespace
}  // namespace qvin

#include "support/umockdev_main.h"
