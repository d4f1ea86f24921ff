// The spidev back end, unmodified, against an emulated /dev/spidev0.0: umockdev's preload
// library redirects the device node to a testbed whose ioctl handler answers the mode,
// word size and clock requests and clocks each SPI_IOC_MESSAGE's frames through the
// simulated part. Run under LD_PRELOAD=libumockdev-preload.so.0.

#include <gtest/gtest.h>
#include <linux/spi/spidev.h>
#include <sys/ioctl.h>
#include <umockdev.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <sstream>
#include <vector>

#include "cli/cli.h"
#include "core/clock.h"
#include "core/trace.h"
#include "device/program.h"
#include "device/register_access.h"
#include "device/transports.h"
#include "platform/spi/spidev_bus.h"
#include "sim/qvin_chip.h"
#include "support/idle_port.h"
#include "support/recorded_messages.h"

namespace qvin {
namespace {

// What one frame of a message asked of the controller.
struct Frame {
    std::uint32_t len, speed;
    std::uint16_t delayUs;
    std::uint8_t bits, csChange;
};

struct EmulatedSpidev {
    explicit EmulatedSpidev(const Clock& clock) : chip(clock) {}

    static gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
        return static_cast<EmulatedSpidev*>(self)->Handle(client);
    }

    gboolean Handle(UMockdevIoctlClient* client) {
        std::lock_guard lock(mutex);
        const gulong request = umockdev_ioctl_client_get_request(client);
        UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
        auto fail = [&](int error) {
            umockdev_ioctl_client_complete(client, -1, error);
            return TRUE;
        };
        if (request == SPI_IOC_WR_MODE || request == SPI_IOC_WR_BITS_PER_WORD) {
            UMockdevIoctlData* d = umockdev_ioctl_data_resolve(arg, 0, 1, nullptr);
            if (!d) return fail(EFAULT);
            (request == SPI_IOC_WR_MODE ? mode : bits) = d->data[0];
        } else if (request == SPI_IOC_WR_MAX_SPEED_HZ) {
            UMockdevIoctlData* d = umockdev_ioctl_data_resolve(arg, 0, 4, nullptr);
            if (!d) return fail(EFAULT);
            std::memcpy(&speed, d->data, 4);
        } else if (_IOC_TYPE(request) == SPI_IOC_MAGIC && _IOC_NR(request) == 0 && _IOC_DIR(request) == _IOC_WRITE) {
            if (messages >= unplugAfter) return fail(ENODEV);
            ++messages;
            const std::size_t n = _IOC_SIZE(request) / sizeof(spi_ioc_transfer);
            UMockdevIoctlData* all = umockdev_ioctl_data_resolve(arg, 0, n * sizeof(spi_ioc_transfer), nullptr);
            if (!all) return fail(EFAULT);
            int total = 0;
            for (std::size_t i = 0; i < n; ++i) {
                spi_ioc_transfer t;
                std::memcpy(&t, all->data + i * sizeof t, sizeof t);
                frames.push_back({t.len, t.speed_hz, t.delay_usecs, t.bits_per_word, t.cs_change});
                UMockdevIoctlData* tx = umockdev_ioctl_data_resolve(all, i * sizeof t + offsetof(spi_ioc_transfer, tx_buf), t.len, nullptr);
                UMockdevIoctlData* rx = umockdev_ioctl_data_resolve(all, i * sizeof t + offsetof(spi_ioc_transfer, rx_buf), t.len, nullptr);
                if (!tx || !rx || t.len != 2) return fail(EINVAL);
                const std::uint16_t answer = chip.Transfer(static_cast<std::uint16_t>(tx->data[0] << 8 | tx->data[1]));
                rx->data[0] = static_cast<std::uint8_t>(answer >> 8);
                rx->data[1] = static_cast<std::uint8_t>(answer);
                total += static_cast<int>(t.len);
            }
            umockdev_ioctl_client_complete(client, total, 0);
            return TRUE;
        } else {
            return fail(ENOTTY);
        }
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
    }

    std::mutex mutex;
    sim::QvinChip chip;
    std::uint8_t mode = 0xFF, bits = 0;
    std::uint32_t speed = 0;
    int messages = 0;
    int unplugAfter = 1 << 30;  // messages answered before the device is gone
    std::vector<Frame> frames;
};

class SpidevOnEmulatedDevice : public ::testing::Test {
protected:
    void SetUp() override {
        testbed = umockdev_testbed_new();
        ASSERT_TRUE(umockdev_in_mock_environment());
        GError* error = nullptr;
        ASSERT_TRUE(umockdev_testbed_add_from_string(testbed,
                                                     "P: /devices/platform/soc/spi0/spidev0.0\n"
                                                     "N: spidev0.0\n"
                                                     "A: dev=153:0\n"
                                                     "E: SUBSYSTEM=spidev\n"
                                                     "E: DEVNAME=/dev/spidev0.0\n",
                                                     &error))
            << (error ? error->message : "");
        handler = umockdev_ioctl_base_new();
        g_signal_connect(handler, "handle-ioctl", G_CALLBACK(EmulatedSpidev::OnIoctl), &device);
        ASSERT_TRUE(umockdev_testbed_attach_ioctl(testbed, "/dev/spidev0.0", handler, &error)) << (error ? error->message : "");
    }
    void TearDown() override {
        umockdev_testbed_detach_ioctl(testbed, "/dev/spidev0.0", nullptr);
        g_object_unref(handler);
        g_object_unref(testbed);
    }

    // qvin-cli as a user runs it, on the hardware board: standard output, error, status.
    struct Run {
        std::string out, err;
        int status;
    };
    Run Cli(const std::vector<std::string>& args) {
        std::istringstream in;
        std::ostringstream out, err;
        cli::CliContext ctx{clock, in, out, err, "hardware"};
        ctx.settingsFile = "/nonexistent/Qvin27319.cfg";
        ctx.calibrationMs = 20.0f;
        const int status = cli::RunCli(args, ctx);
        return {out.str(), err.str(), status};
    }

    VirtualClock clock;
    EmulatedSpidev device{clock};
    UMockdevTestbed* testbed = nullptr;
    UMockdevIoctlBase* handler = nullptr;
};

// The mode, word size and clock are set before the first frame; every frame is 16 bits in
// two bytes with chip select of its own (released after each but a message's last, which
// releases it anyway), the word delay after it; a read is its request and a copy that
// clocks the answer out, a write its two byte frames.
TEST_F(SpidevOnEmulatedDevice, TheModeIsSetAndEveryFrameHasChipSelectOfItsOwn) {
    SpidevBus bus;
    test::IdlePort port;
    NoUsbDriver usb;
    Trace trace;
    test::RecordedMessages messages;
    Program p(clock, port, usb, trace, messages);
    StartProgram(p, "/nonexistent/Qvin27319.cfg");
    p.settings.InterfaceType = Interface::Spidev;
    p.spiBus = &bus;
    p.spiDevice = "/dev/spidev0.0";
    ASSERT_EQ(FindTransport(Interface::Spidev)->open(p, std::nullopt).error, "");
    EXPECT_EQ(device.mode, SPI_MODE_1);
    EXPECT_EQ(device.bits, 8);
    EXPECT_EQ(device.speed, 1'000'000u);

    EXPECT_EQ(ReadReg(p, reg::Product)->data, 27319);
    WriteReg(p, reg::Msc_Ctrl, 0x0123);
    EXPECT_EQ(device.chip.Word(0x34), 0x0123);
    EXPECT_EQ(ReadReg(p, reg::Msc_Ctrl)->data, 0x0123);
    ASSERT_EQ(device.messages, 3);  // a read, the write's two byte frames, a read
    ASSERT_EQ(device.frames.size(), 6u);
    for (std::size_t i = 0; i < device.frames.size(); ++i) {
        const Frame& f = device.frames[i];
        EXPECT_EQ(f.len, 2u);
        EXPECT_EQ(f.bits, 8);
        EXPECT_EQ(f.speed, 1'000'000u);
        EXPECT_EQ(f.delayUs, 25);
        EXPECT_EQ(f.csChange, i % 2 == 0 ? 1 : 0) << "frame " << i;
    }
    EXPECT_EQ(messages.texts.size(), 0u);
}

// Through qvin-cli: the part named and its outputs read in one burst of N + 1 frames; a
// device that is gone ends watch with status 2, said once, and is asked nothing more.
TEST_F(SpidevOnEmulatedDevice, TheCliReadsThePartAndEndsOnceWhenTheDeviceIsGone) {
    const Run product = Cli({"--spidev", "/dev/spidev0.0", "read", "Product", "Supply_Out", "Temp_Out"});
    EXPECT_EQ(product.status, 0) << product.err;
    EXPECT_NE(product.out.find("Product       raw=6AB7 count=27319"), std::string::npos) << product.out;
    EXPECT_NE(product.out.find("Supply_Out"), std::string::npos);
    ASSERT_EQ(device.messages, 1) << "three registers in one exchange";
    EXPECT_EQ(device.frames.size(), 4u);

    device.unplugAfter = device.messages + 5;
    const Run watch = Cli({"--spidev", "/dev/spidev0.0", "watch", "--count", "20"});
    EXPECT_EQ(watch.status, 2);
    const std::string said = "qvin-cli: the SPI device stopped answering (/dev/spidev0.0: unplugged)\n";
    EXPECT_EQ(watch.err, said);
    const int asked = device.messages;
    EXPECT_EQ(Cli({"--spidev", "/dev/spidev1.0", "info"}).err, "qvin-cli: /dev/spidev1.0: No such file or directory\n");
    EXPECT_EQ(device.messages, asked);
}

}  // namespace
}  // namespace qvin

#include "support/umockdev_main.h"
