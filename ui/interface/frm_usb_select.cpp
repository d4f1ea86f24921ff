#include "ui/interface/frm_usb_select.h"

#include "core/number_text.h"
#include "device/usb_adapter.h"
#include "device/usb_spi.h"
#include "ui/app.h"

namespace qvin::ui {

frmUSBselect::frmUSBselect(App& app) : Window(app.tk, "frmUSBselect", "USB SPI Card Selection"), app_(app) {
    frameBufferSetup.SetCaption("Buffer Select");
    frameBufferSetup.SetToolTip("Select the SPI board to use");
    Label3.SetCaption("Board");
    Label6.SetCaption("Rev");
    Label7.SetCaption("Speed");
    for (Label* l : {&Label3, &Label6, &Label7}) l->PlaceIn(frameBufferSetup);
    for (int i = 0; i <= 4; ++i) {
        OptionButton& o = optUsbPort.Add(i, "optUsbPort(" + std::to_string(i) + ")");
        o.SetCaption(i < 4 ? "EzUsb" + std::to_string(i) : "None");
        o.PlaceIn(frameBufferSetup);
        o.JoinGroup(&group_);
        o.onClick = [this, i] { optUsbPort_Click(i); };
        group_.push_back(&o);
        if (i == 4) break;
        txtDescript0.Add(i, "txtDescript0(" + std::to_string(i) + ")").PlaceIn(frameBufferSetup);
        txtDriverRev.Add(i, "txtDriverRev(" + std::to_string(i) + ")").PlaceIn(frameBufferSetup);
        txtSpeed.Add(i, "txtSpeed(" + std::to_string(i) + ")").PlaceIn(frameBufferSetup);
    }
    cmdFindEzUsb.SetCaption("Search");
    cmdDebugUsb.SetCaption("Debug");
    cmdExit.SetCaption("OK");
    cmdFindEzUsb.onClick = [this] { cmdFindEzUsb_Click(); };
    cmdDebugUsb.onClick = [this] { cmdDebugUsb_Click(); };
    cmdExit.onClick = [this] { cmdExit_Click(); };
    Register({&frameBufferSetup, &Label3, &Label6, &Label7, &cmdFindEzUsb, &cmdDebugUsb, &cmdExit});
    Register(optUsbPort);
    Register(txtDescript0);
    Register(txtDriverRev);
    Register(txtSpeed);
}

void frmUSBselect::Form_Load() {
    left = app_.main.left;
    top = app_.main.top;
}

void frmUSBselect::cmdFindEzUsb_Click() {
    Program& p = app_.p;
    for (int b = 0; b <= 3; ++b) {
        optUsbPort(b).SetEnabled(false);
        txtDescript0(b).SetText("");
        txtDriverRev(b).SetText("");
        txtSpeed(b).SetText("");
    }
    FindUsbBoards(p);
    for (int b = 0; b <= 3; ++b) {
        const UsbBoardInfo& board = p.usb.UsbBoards[static_cast<std::size_t>(b)];
        if (!board.Present) continue;
        optUsbPort(b).SetEnabled(true);
        if (b == p.usb.UsbBoardNum) optUsbPort(b).Select();
        txtDescript0(b).SetText(board.Descriptor1);
        txtDriverRev(b).SetText(FormatFixed(board.FirmwareRev, 1));
        txtSpeed(b).SetText(FormatFixed(LeadingNumber(board.UsbSpeed), 1));
    }
    if (p.usb.UsbBoardNum == -1) optUsbPort(4).Select();
}

void frmUSBselect::optUsbPort_Click(int index) {
    Program& p = app_.p;
    if (index >= 0 && index <= 3) {
        p.usb.CurrentBoard = p.usb.UsbBoards[static_cast<std::size_t>(index)];
        UsbSpiSendSetUp(p);
    } else {
        p.SetUsbReady(false);
        p.UsbLoopStop = true;
    }
}

void frmUSBselect::cmdDebugUsb_Click() { app_.usbDebug.ShowModal(this); }

}  // namespace qvin::ui
