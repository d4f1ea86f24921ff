#include "window_fixture.h"

namespace qvin::ui::test {
namespace {

using PortWindow = WindowTest;

TEST_F(PortWindow, OkTakesTheAddressAndSelectsTheParallelPort) {
    StartOnUsb();
    s.tk.Queue([&] {
        EXPECT_EQ(port().txtUser.text(), "0");
        port().txtUser.UserType("278");
        port().cmdOK.UserClick();
    });
    Expect("The required I/O drivers could not be installed.\r\nno parallel port at address 278 (the simulated board is at 378)",
           "Error");
    Click(w().mnuPort);
    EXPECT_EQ(p().settings.PortAddress, 632);
    EXPECT_EQ(p().settings.InterfaceType, Interface::ParallelPort);
    EXPECT_EQ(port().txtUser.text(), "278");
    EXPECT_TRUE(w().mnuPort.checked());
    EXPECT_FALSE(w().mnuUSB.checked());
    EXPECT_TRUE(p().GiveIoInstalled);  // set even when the preparation failed
}

TEST_F(PortWindow, EmptyOkStaysOpenAndCancelChangesNothing) {
    StartOnUsb();
    s.tk.Queue([&] {
        port().txtUser.UserType("");
        port().cmdOK.UserClick();
        EXPECT_TRUE(port().visible());
        port().txtUser.UserType("3BC");
        port().cmdCancel.UserClick();
    });
    Click(w().mnuPort);
    EXPECT_EQ(p().settings.PortAddress, 0);
    EXPECT_EQ(p().settings.InterfaceType, Interface::UsbAdapter);  // USB stays selected
    EXPECT_TRUE(w().mnuUSB.checked());
    s.tk.Queue([&] {
        EXPECT_EQ(port().txtUser.text(), "0");  // the stored address again
        port().cmdCancel.UserClick();
    });
    Click(w().mnuPort);
}

TEST_F(PortWindow, PreparationRunsOnlyOnTheFirstOkForThePort) {
    Expect("Please select an interface before taking data");
    s.Start();
    EXPECT_FALSE(s.board.port.Prepared());
    s.tk.Queue([&] {
        port().txtUser.UserType("378");
        port().cmdOK.UserClick();
    });
    s.capture.Take();
    Click(w().mnuPort);
    EXPECT_TRUE(p().GiveIoInstalled);
    EXPECT_TRUE(s.board.port.Prepared());
    // Reset once prepared, before the part is read: status port 40, then the data port 0.
    const std::vector<std::string> out = s.capture.Take("port-out");
    ASSERT_GE(out.size(), 2u);
    EXPECT_EQ(out[0], "port-out 379 40");
    EXPECT_EQ(out[1], "port-out 378 00");
    ExpectSupplyShown(w().txtReadReg(2));  // the activation after the window read the part
    s.capture.Take();
    s.tk.Queue([&] { port().cmdOK.UserClick(); });
    Click(w().mnuPort);
    for (const std::string& line : s.capture.Take("port-out 379"))
        ADD_FAILURE() << "the port was reset again: " << line;
}

using UsbWindow = WindowTest;

TEST_F(UsbWindow, AdaptersOnDevicesOneAndThreeOnly) {
    Expect("Please select an interface before taking data");
    s.board.usb.Place(0, std::nullopt);
    s.board.usb.Place(1, sim::SimUsbDevice{});
    sim::SimUsbDevice full;
    full.highSpeed = false;
    s.board.usb.Place(3, full);
    s.Start();
    s.tk.Queue([&] {
        for (int b : {0, 2}) {
            EXPECT_FALSE(usb().optUsbPort(b).enabled()) << b;
            EXPECT_EQ(usb().txtDescript0(b).text(), "") << b;
        }
        EXPECT_TRUE(usb().optUsbPort(1).value());
        EXPECT_TRUE(usb().optUsbPort(3).enabled());
        EXPECT_EQ(usb().txtDriverRev(1).text(), "2.0");
        EXPECT_EQ(usb().txtSpeed(1).text(), "2.0");
        EXPECT_EQ(usb().txtSpeed(3).text(), "1.1");
        usb().optUsbPort(3).UserClick();
        usb().cmdExit.UserClick();
    });
    Click(w().mnuUSB);
    EXPECT_EQ(p().usb.CurrentBoard.DeviceName, "Ezusb-3");
    EXPECT_EQ(p().settings.InterfaceType, Interface::UsbAdapter);
    EXPECT_TRUE(w().mnuUSB.checked());
    EXPECT_EQ(s.board.usb.firmware(3)->staticBits(), 120);
}

TEST_F(UsbWindow, NoAdapterLeavesNoInterface) {
    StartOnPort();
    s.board.usb.Place(0, std::nullopt);
    Expect("No USB Buffers Found, Please Verify Setup and Restart");
    s.tk.Queue([&] {
        EXPECT_TRUE(usb().optUsbPort(4).value());
        usb().UserClose();  // the close box acts as OK
    });
    Click(w().mnuUSB);
    EXPECT_EQ(p().settings.InterfaceType, Interface::None);
    EXPECT_FALSE(w().mnuUSB.checked());
    EXPECT_FALSE(w().mnuPort.checked());
    EXPECT_TRUE(usb().loaded());
}

TEST_F(UsbWindow, NoneDeselectsAndStopsTheDebugLoop) {
    StartOnUsb();
    p().UsbLoopStop = false;
    s.tk.Queue([&] {
        usb().optUsbPort(4).UserClick();
        usb().cmdExit.UserClick();
    });
    Click(w().mnuUSB);
    EXPECT_TRUE(p().UsbLoopStop);
    EXPECT_FALSE(p().UsbReady());
    EXPECT_EQ(p().settings.InterfaceType, Interface::None);
}

TEST_F(UsbWindow, SetUpFailingAfterAClickLeavesNoInterface) {
    s.board.usb.Place(1, sim::SimUsbDevice{});
    StartOnUsb();
    s.tk.Queue([&] {
        s.board.usb.failWhen = [](const sim::UsbRequest& r) { return r.device == 1 && r.kind == sim::UsbRequestKind::BulkOut; };
        usb().optUsbPort(1).UserClick();
        EXPECT_TRUE(usb().optUsbPort(1).value());  // stays visibly selected
        usb().cmdExit.UserClick();
    });
    // The failed set-up deselects the adapter, so the static bits are not sent at all.
    Expect("Error Setting up SPI");
    Click(w().mnuUSB);
    EXPECT_FALSE(p().UsbReady());
    EXPECT_EQ(p().settings.InterfaceType, Interface::None);
    EXPECT_FALSE(w().mnuUSB.checked());
}

}  // namespace
}  // namespace qvin::ui::test
