#pragma once
// "Register Information": the user registers as a printable table, the flash update, and
// reading or writing any register of the map in hexadecimal.

#include <string>

#include "device/program.h"
#include "ui/controls.h"
#include "ui/window.h"

namespace qvin::ui {

class App;

class frmManualReg : public Window {
public:
    explicit frmManualReg(App& app);

    void cmdReadUserReg_Click();
    void cmdPrint_Click();
    void cmdUnlock_Click();
    void cmdUpdateFlash_Click();
    void cmboRegister_Click();
    void cmdRead_Click();
    void cmdWrite_Click();
    void cmdOK_Click() { Hide(); }

    Frame frameUserReg{"frameUserReg"};
    Button cmdReadUserReg{"cmdReadUserReg"};
    TextBox txtUserReg{"txtUserReg"};
    Button cmdPrint{"cmdPrint"}, cmdUnlock{"cmdUnlock"}, cmdUpdateFlash{"cmdUpdateFlash"};
    Frame frameRegister{"frameRegister"};
    ComboBox cmboRegister{"cmboRegister", false};
    Label lblRegAddr{"lblRegAddr"}, lblRegByte{"lblRegByte"}, lblRegRead{"lblRegRead"}, lblRegWrite{"lblRegWrite"};
    TextBox txtRegAddr{"txtRegAddr"}, txtRegByte{"txtRegByte"}, txtRegRead{"txtRegRead"}, txtRegWrite{"txtRegWrite"};
    Button cmdRead{"cmdRead"};
    TextBox txtRead{"txtRead"};
    Button cmdWrite{"cmdWrite"};
    TextBox txtDataWrite{"txtDataWrite"};
    Button cmdOK{"cmdOK"};

protected:
    void Form_Load() override;
    void Form_Activate() override;

private:
    // The attribute boxes and the Read and Write buttons for SelectedRegister.
    void ShowSelected();
    App& app_;
};

}  // namespace qvin::ui
