#pragma once
// "USB SPI Card Selection": the adapters present at Ezusb-0 to Ezusb-3, one row each,
// and "None". Picking an adapter makes it current and gives it the program's SPI set-up.

#include <vector>

#include "ui/controls.h"
#include "ui/window.h"

namespace qvin::ui {

class App;

class frmUSBselect : public Window {
public:
    explicit frmUSBselect(App& app);

    void cmdFindEzUsb_Click();
    void optUsbPort_Click(int index);
    void cmdDebugUsb_Click();
    void cmdExit_Click() { Hide(); }
    void UserClose() override { cmdExit_Click(); }

    Frame frameBufferSetup{"frameBufferSetup"};
    Label Label3{"Label3"}, Label6{"Label6"}, Label7{"Label7"};
    ControlArray<OptionButton> optUsbPort;
    ControlArray<TextBox> txtDescript0, txtDriverRev, txtSpeed;
    Button cmdFindEzUsb{"cmdFindEzUsb"}, cmdDebugUsb{"cmdDebugUsb"}, cmdExit{"cmdExit"};

protected:
    void Form_Load() override;
    void Form_Activate() override { cmdFindEzUsb_Click(); }

private:
    App& app_;
    std::vector<OptionButton*> group_;
};

}  // namespace qvin::ui
