#pragma once
// "Calibration Registers": the inclination null. Read shows what the chip holds, Apply
// writes a typed value, Auto Null and Factory Reset ask the chip to null the present
// inclination or to clear the null.

#include <cstdint>

#include "ui/controls.h"
#include "ui/window.h"

namespace qvin::ui {

class App;

class FrmCalReg : public Window {
public:
    explicit FrmCalReg(App& app);

    void cmdReadCal_Click();
    void CmdNull_Click() { Command(1); }
    void CmdRst_Click() { Command(2); }
    void CmdApply_Click();
    void cmdOK_Click() { Hide(); }

    // The last value read from Incl_Null, or the value about to be written.
    std::int32_t InclNullVal = 0;

    Frame frameCalReg{"frameCalReg"};
    ControlArray<Label> lblReadReg;  // index 1 only
    ControlArray<TextBox> txtCalReg;  // index 8 only
    Button cmdReadCal{"cmdReadCal"}, CmdNull{"CmdNull"}, CmdRst{"CmdRst"}, cmdOK{"cmdOK"}, CmdApply{"CmdApply"};

protected:
    void Form_Load() override;
    void Form_Activate() override { cmdReadCal_Click(); }

private:
    void Command(std::int32_t code);
    App& app_;
};

}  // namespace qvin::ui
