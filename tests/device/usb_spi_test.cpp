#include <gtest/gtest.h>

#include "device/register_access.h"
#include "device/usb_spi.h"
#include "support/sim_fixture.h"

namespace qvin {
namespace {

using sim::UsbRequest;
using sim::UsbRequestKind;

class UsbSpi : public ::testing::Test {
protected:
    void SetUp() override { sim.UseUsb(); }
    std::vector<std::string> UsbLines() {
        std::vector<std::string> lines;
        for (const std::string& l : sim.memory.Take()) {
            if (l.rfind("usb-in ", 0) == 0 || l.rfind("usb-out ", 0) == 0) lines.push_back(l);
        }
        return lines;
    }
    // Fails bulk requests whose first byte (OUT) is `command`, or all IN requests.
    void FailCommand(int command) {
        sim.board.usb.failWhen = [command](const UsbRequest& r) {
            if (command < 0) return r.kind == UsbRequestKind::BulkIn;
            return r.kind == UsbRequestKind::BulkOut && !r.data.empty() && r.data[0] == command;
        };
    }
    test::SimProgram sim;
};

TEST_F(UsbSpi, TransferMessageLayoutAndReply) {
    sim.p.spi.SpiWriteWords[1] = 0x5600;
    sim.p.spi.SpiWriteWords[2] = 0xFF00;
    sim.p.spi.SpiChannel = 9;  // limited to 5
    UsbSpiTransfer(sim.p, 2);
    EXPECT_EQ(sim.p.spi.SpiChannel, 5);
    EXPECT_EQ(sim.p.spi.SpiWordCount, 2);
    // Nothing is attached to channel 5: the line floats high.
    EXPECT_EQ(UsbLines(), (std::vector<std::string>{"usb-out 0 0D 05 02 56 00 FF 00", "usb-in 1 FF FF FF FF"}));

    sim.p.spi.SpiChannel = 1;
    sim.p.spi.SpiDataPolarity = false;
    sim.p.spi.SpiWriteWords[1] = 0x5600;
    sim.p.spi.SpiWriteWords[2] = 0x0000;
    UsbSpiTransfer(sim.p, 2);
    EXPECT_EQ(UsbLines().front(), "usb-out 0 0E 01 02 56 00 00 00");
    EXPECT_EQ(sim.p.spi.SpiReadWords[2], 0xFFFF & ~27319);  // the inverted polarity inverts the data
    EXPECT_EQ(sim.board.usb.openHandles(), 0);
}

TEST_F(UsbSpi, NoMoreThanSixteenWordsTravel) {
    for (int i = 1; i <= 16; ++i) sim.p.spi.SpiWriteWords[static_cast<std::size_t>(i)] = 0x5600;
    UsbSpiTransfer(sim.p, 40);
    EXPECT_EQ(sim.p.spi.SpiWordCount, 16);
    EXPECT_EQ(sim.p.spi.SpiReadWords[16], 27319);
    UsbSpiTransfer(sim.p, 0);  // nothing to send: no request at all
    EXPECT_EQ(UsbLines().size(), 2u);
}

TEST_F(UsbSpi, SetUpCommandsReachTheFirmware) {
    std::uint8_t delay = 0;
    UsbSpiSetup(sim.p, delay);
    EXPECT_EQ(delay, 1);  // 0 is raised in the caller's variable
    EXPECT_EQ(sim.board.usb.firmware(0)->delay(), 1);
    UsbSpiSetBits(sim.p, 0xFF);
    EXPECT_EQ(sim.board.usb.firmware(0)->staticBits(), 0xFF);
    UsbSpiReadSetup(sim.p);
    EXPECT_EQ(sim.p.spi.SpiDelay, 1);
    EXPECT_EQ(sim.p.spi.SpiStaticBits, 0x78);  // only bits 3 to 6 are kept
    EXPECT_TRUE(sim.messages.Take().empty());
}

struct FailureCase {
    int command;  // -1: every reply fails
    const char* what;
    std::vector<std::string> messages;
};

TEST_F(UsbSpi, EachFailedCommandSaysSoAndDeselectsTheAdapter) {
    const FailureCase cases[] = {
        {1, "read set-up", {"Error Setting up SPI", "Error Reading SPI"}},
        {-1, "read set-up reply", {"Error Reading SPI"}},
        {11, "set delay", {"Error Setting up SPI"}},
        {12, "set bits", {"Error Setting SPI Bits"}},
        {13, "transfer", {"Error Writing SPI"}},
        {-1, "transfer reply", {"Error Reading SPI"}},
    };
    for (const FailureCase& c : cases) {
        sim.UseUsb();
        ASSERT_TRUE(sim.p.UsbReady());
        sim.messages.Take();
        FailCommand(c.command);
        std::uint8_t delay = 5;
        const std::string what = c.what;
        if (what.rfind("read set-up", 0) == 0) UsbSpiReadSetup(sim.p);
        else if (what == "set delay") UsbSpiSetup(sim.p, delay);
        else if (what == "set bits") UsbSpiSetBits(sim.p, 0x10);
        else UsbSpiTransfer(sim.p, 1);
        EXPECT_EQ(sim.messages.Take(), c.messages) << what;
        EXPECT_FALSE(sim.p.UsbReady()) << what;
        EXPECT_EQ(sim.board.usb.openHandles(), 0) << what;

        // Until an adapter is selected again, nothing is sent and nothing is said.
        sim.board.usb.failWhen = nullptr;
        sim.memory.Take();
        UsbSpiTransfer(sim.p, 1);
        UsbSpiSetBits(sim.p, 1);
        EXPECT_TRUE(UsbLines().empty());
        EXPECT_TRUE(sim.messages.Take().empty());
    }
}

TEST_F(UsbSpi, AShortReplyIsAFailureAndKeepsTheOldWords) {
    sim::SimUsbDevice stingy;
    stingy.replyLimit = 3;  // one byte short of two words
    sim.board.usb.Place(0, stingy);
    sim.UseUsb();
    sim.p.spi.SpiReadWords[1] = 0x1111;
    sim.p.spi.SpiReadWords[2] = 0x2222;
    UsbSpiTransfer(sim.p, 2);
    EXPECT_EQ(sim.messages.Take(), std::vector<std::string>{"Error Reading SPI"});
    EXPECT_FALSE(sim.p.UsbReady());
    EXPECT_EQ(sim.p.spi.SpiReadWords[1], 0x1111);
    EXPECT_EQ(sim.p.spi.SpiReadWords[2], 0x2222);
}

TEST_F(UsbSpi, UnpluggedBetweenCommandAndReply) {
    sim.board.usb.failWhen = [this](const UsbRequest& r) {
        if (r.kind == UsbRequestKind::BulkOut) sim.board.usb.SetUnplugged(0, true);
        return false;
    };
    UsbSpiTransfer(sim.p, 2);
    EXPECT_EQ(sim.messages.Take(), std::vector<std::string>{"Error Reading SPI"});
    EXPECT_EQ(sim.board.usb.openHandles(), 0);
}

TEST_F(UsbSpi, RegisterAccessTravelsAsTwoWordsOnChannelOne) {
    sim.p.spi.SpiChannel = 3;
    WriteReg(sim.p, reg::Msc_Ctrl, 0x0123);
    EXPECT_EQ(UsbLines(), (std::vector<std::string>{"usb-out 0 0D 01 02 B5 01 B4 23", "usb-in 1 00 00 00 00"}));
    EXPECT_EQ(sim.p.spi.SpiChannel, 1);
    sim.p.spi.SpiChannel = 4;
    ReadReg(sim.p, reg::Msc_Ctrl);
    EXPECT_EQ(UsbLines(), (std::vector<std::string>{"usb-out 0 0D 01 02 34 00 34 00", "usb-in 1 00 00 01 23"}));
    EXPECT_EQ(sim.p.reg.RegData, 0x0123);
    EXPECT_EQ(sim.p.spi.SpiChannel, 1);
}

TEST_F(UsbSpi, RegistersReadTheSameOverEitherTransport) {
    ReadReg(sim.p, reg::Product);
    const std::int32_t usb = sim.p.reg.RegData;
    sim.p.settings.InterfaceType = Interface::ParallelPort;
    ReadReg(sim.p, reg::Product);
    EXPECT_EQ(usb, 27319);
    EXPECT_EQ(sim.p.reg.RegData, 27319);
}

TEST_F(UsbSpi, ALostAdapterReadsNothingInsteadOfTheLastWord) {
    ReadReg(sim.p, reg::Product);
    sim.board.usb.SetUnplugged(0, true);
    ReadReg(sim.p, reg::Msc_Ctrl);
    EXPECT_EQ(sim.messages.Take(), std::vector<std::string>{"Error Writing SPI"});
    EXPECT_FALSE(sim.p.UsbReady());
    // Not the product word decoded as Msc_Ctrl: the last read stays as it was.
    EXPECT_EQ(sim.p.reg.RegData, 27319);
    EXPECT_EQ(sim.p.reg.RegValue, 27319.0f);
    ReadReg(sim.p, reg::Incl_Out);  // no adapter: no request, no message
    EXPECT_TRUE(sim.messages.Take().empty());
    EXPECT_EQ(sim.p.reg.RegData, 27319);
}

}  // namespace
}  // namespace qvin
