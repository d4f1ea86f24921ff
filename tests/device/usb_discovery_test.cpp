#include <gtest/gtest.h>

#include "device/usb_adapter.h"
#include "support/sim_fixture.h"

namespace qvin {
namespace {

using sim::SimUsbDevice;
using sim::UsbRequest;
using sim::UsbRequestKind;

class Discovery : public ::testing::Test {
protected:
    sim::SimUsbDriver& usb() { return sim.board.usb; }
    std::vector<std::string> Find() {
        FindUsbBoards(sim.p);
        return sim.messages.Take();
    }
    test::SimProgram sim;
};

TEST_F(Discovery, TheSimulatedAdapterDescribesItself) {
    EXPECT_TRUE(Find().empty());
    ASSERT_TRUE(sim.p.UsbReady());
    const UsbBoardInfo& b = sim.p.usb.CurrentBoard;
    EXPECT_EQ(b.DeviceName, "Ezusb-0");
    EXPECT_EQ(b.BoardType, "KAPPA");
    EXPECT_NE(b.Descriptor1.find("simulated"), std::string::npos);
    EXPECT_FLOAT_EQ(b.FirmwareRev, 2.0f);
    EXPECT_EQ(b.UsbSpeed, "2");
    EXPECT_EQ(sim.p.usb.UsbBoardNum, 0);
    EXPECT_EQ(usb().openHandles(), 0);
}

TEST_F(Discovery, AdaptersOnDevicesOneAndThree) {
    usb().Place(0, std::nullopt);
    usb().Place(1, SimUsbDevice{});
    SimUsbDevice rho;
    rho.productId = kRhoProductId;
    usb().Place(3, rho);
    EXPECT_TRUE(Find().empty());
    EXPECT_EQ(sim.p.usb.UsbBoardCount, 2);
    EXPECT_TRUE(sim.p.usb.UsbBoards[1].Present);
    EXPECT_FALSE(sim.p.usb.UsbBoards[2].Present);
    EXPECT_EQ(sim.p.usb.UsbBoards[3].BoardType, "RHO");
    EXPECT_EQ(sim.p.usb.UsbBoardNum, 1);
    EXPECT_EQ(sim.p.usb.CurrentBoard.DeviceName, "Ezusb-1");
}

TEST_F(Discovery, NoDeviceAtAll) {
    usb().Place(0, std::nullopt);
    EXPECT_EQ(Find(), std::vector<std::string>{"No USB Buffers Found, Please Verify Setup and Restart"});
    EXPECT_FALSE(sim.p.UsbReady());
    EXPECT_EQ(sim.p.usb.UsbBoardNum, -1);
}

TEST_F(Discovery, OtherProductsAndVendorsAreNotAdapters) {
    SimUsbDevice other;
    other.productId = 0xC5A2;
    usb().Place(0, other);
    SimUsbDevice mouse;
    mouse.vendorId = 0x046D;
    usb().Place(1, mouse);
    EXPECT_EQ(Find(), std::vector<std::string>{"No USB Buffers Found, Please Verify Setup and Restart"});
    EXPECT_EQ(sim.p.usb.UsbBoardCount, 0);
}

TEST_F(Discovery, AFailedDescriptorReadIsNotMistakenForThePreviousDevice) {
    usb().Place(1, SimUsbDevice{});
    usb().failWhen = [](const UsbRequest& r) { return r.kind == UsbRequestKind::DeviceDescriptor && r.device == 1; };
    EXPECT_TRUE(Find().empty());
    EXPECT_EQ(sim.p.usb.UsbBoardCount, 1);
    EXPECT_FALSE(sim.p.usb.UsbBoards[1].Present);
}

TEST_F(Discovery, UnreadableBoardInfoLeavesTheAdapterOut) {
    const UsbRequestKind failing[] = {UsbRequestKind::StringDescriptor, UsbRequestKind::BulkOut,
                                      UsbRequestKind::BulkIn, UsbRequestKind::PipeInfo};
    for (const UsbRequestKind kind : failing) {
        usb().failWhen = [kind](const UsbRequest& r) { return r.kind == kind; };
        EXPECT_EQ(Find(), (std::vector<std::string>{"Error getting Board Info",
                                                    "No Valid USB Buffers Found, Please Verify Setup and Restart"}))
            << static_cast<int>(kind);
        EXPECT_EQ(sim.p.usb.UsbBoardCount, 1);
        EXPECT_FALSE(sim.p.UsbReady());
        EXPECT_EQ(sim.p.usb.UsbBoardNum, -1);
    }
    EXPECT_EQ(usb().openHandles(), 0);
}

TEST_F(Discovery, AnotherAdapterIsStillChosenWhenOneFails) {
    usb().Place(2, SimUsbDevice{});
    usb().failWhen = [](const UsbRequest& r) { return r.kind == UsbRequestKind::PipeInfo && r.device == 0; };
    EXPECT_EQ(Find(), std::vector<std::string>{"Error getting Board Info"});
    EXPECT_EQ(sim.p.usb.UsbBoardNum, 2);
    EXPECT_TRUE(sim.p.UsbReady());
}

TEST_F(Discovery, FirmwareRevisionAndSpeed) {
    SimUsbDevice full;
    full.highSpeed = false;
    usb().Place(0, full);
    usb().firmware(0)->major = 1;
    usb().firmware(0)->minor = 3;
    Find();
    EXPECT_FLOAT_EQ(sim.p.usb.CurrentBoard.FirmwareRev, 1.3f);
    EXPECT_EQ(sim.p.usb.CurrentBoard.UsbSpeed, "1.1");
}

TEST_F(Discovery, TheSpeedComesFromPipeThreeAlone) {
    // Pipes that differ in size: only pipe 3's decides, at 64 bytes or less full speed.
    const std::pair<std::array<std::uint16_t, 4>, const char*> cases[] = {
        {{512, 512, 512, 64}, "1.1"}, {{64, 64, 64, 512}, "2"}, {{512, 64, 512, 65}, "2"}, {{64, 512, 64, 64}, "1.1"}};
    for (const auto& [sizes, speed] : cases) {
        SimUsbDevice mixed;
        mixed.pipeSizes = sizes;
        usb().Place(0, mixed);
        Find();
        EXPECT_EQ(sim.p.usb.CurrentBoard.UsbSpeed, speed) << sizes[3];
    }
}

TEST_F(Discovery, AdapterWithoutAFourthPipeCannotTellItsSpeed) {
    SimUsbDevice twoPipes;
    twoPipes.pipes = 2;
    usb().Place(0, twoPipes);
    EXPECT_EQ(Find().front(), "Error getting Board Info");
}

struct StringCase {
    std::vector<std::uint8_t> bytes;
    std::string text;
};

TEST_F(Discovery, StringDescriptorsAreReadSafely) {
    const StringCase cases[] = {
        {{10, 3, 'A', 0, 'B', 0, 'C', 0, 'D', 0}, "ABCD"},  // length 10: four characters
        {{2, 3}, ""},
        {{0, 3, 'A', 0}, "None"},                          // a length below the header
        {{1, 3}, "None"},
        {{7, 3, 'A', 0, 'B', 0, 'C'}, "ABC"},              // odd length: the last low byte still counts
        {{40, 3, 'X', 0, 'Y', 0}, "XY"},                   // claims more than came back
        {{6, 3, 0xE9, 0, 0x07, 0}, "\xC3\xA9?"},           // Latin-1 becomes UTF-8, controls a '?'
        {{}, "None"},                                      // nothing at all
    };
    for (const StringCase& c : cases) {
        SimUsbDevice d;
        d.rawStrings[1] = c.bytes;
        usb().Place(0, d);
        auto h = OpenUsbDriver(sim.p, "Ezusb-0");
        EXPECT_EQ(GetStringDescriptor(sim.p, h.get(), 1), c.text) << c.bytes.size() << " bytes";
    }
    EXPECT_EQ(GetStringDescriptor(sim.p, nullptr, 1), "None");
}

TEST_F(Discovery, BulkTransferWithoutADeviceIsMinusTwo) {
    std::array<std::uint8_t, 4> b{};
    std::int32_t count = 4;
    EXPECT_EQ(UsbBulkTransfer(sim.p, nullptr, 0, b, count), -2);
    EXPECT_EQ(count, 0);
    auto h = OpenUsbDriver(sim.p, "Ezusb-0");
    count = 8;  // more than the buffer holds
    EXPECT_EQ(UsbBulkTransfer(sim.p, h.get(), 0, b, count), 0);
    count = 1;
    EXPECT_EQ(UsbBulkTransfer(sim.p, h.get(), 17, b, count), 0);
    EXPECT_EQ(GetPipeMaxPacket(sim.p, h.get(), 3), 512);
    EXPECT_EQ(GetPipeMaxPacket(sim.p, nullptr, 3), 0);
    EXPECT_EQ(OpenUsbDriver(sim.p, "Ezusb-4"), nullptr);
}

}  // namespace
}  // namespace qvin
