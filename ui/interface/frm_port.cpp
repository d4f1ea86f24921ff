#include "ui/interface/frm_port.h"

#include "core/hex_text.h"
#include "core/number_text.h"
#include "device/lpt_transport.h"
#include "platform/port/ppdev_port.h"
#include "ui/app.h"

namespace qvin::ui {

frmPort::frmPort(App& app) : Window(app.tk, "frmPort", "Parallel Port Setup"), app_(app) {
    Label1.SetCaption("Port Address (Hex)");
    Label1.SetToolTip("Select the Parallel Port Address");
    cmdOK.SetCaption("OK");
    cmdCancel.SetCaption("Cancel");
    cmdOK.onClick = [this] { cmdOK_Click(); };
    cmdCancel.onClick = [this] { cmdCancel_Click(); };
    Register({&Label1, &txtUser, &cmdOK, &cmdCancel});
}

void frmPort::Form_Load() {
    left = app_.main.left;
    top = app_.main.top;
}

void frmPort::Form_Activate() {
    txtUser.SetText(FormatHex(static_cast<std::uint16_t>(app_.p.settings.PortAddress)));
}

void frmPort::cmdOK_Click() {
    if (txtUser.text().empty()) return;
    Program& p = app_.p;
    const std::int16_t previous = p.settings.PortAddress;
    // A port may be named by its device (/dev/parport1): the address the kernel lists for
    // it is what is kept, as an address typed in would be.
    if (txtUser.text().find('/') != std::string::npos) {
        std::string why;
        const auto address = PpdevAddressOf(txtUser.text(), why);
        if (!address) {
            app_.tk.Message(why);
            return;
        }
        txtUser.SetText(FormatHex(*address));
    }
    p.settings.PortAddress = HexToShort(txtUser.text());
    txtUser.SetText(FormatHex(static_cast<std::uint16_t>(p.settings.PortAddress)));
    p.settings.InterfaceType = Interface::ParallelPort;
    const bool ntFamily = app_.OsName == "WinXP" || app_.OsName == "WinNT";
    // Access is granted per port here (the device node of that port is claimed), so a
    // port at another address is prepared again even after the first preparation.
    const bool otherPort = p.GiveIoInstalled && p.settings.PortAddress != previous;
    // A port whose preparation failed is tried again, whichever address is picked.
    if (ntFamily && (!p.GiveIoInstalled || otherPort || p.PortPrepareFailed)) PreparePort(p);
    Hide();
}

}  // namespace qvin::ui
