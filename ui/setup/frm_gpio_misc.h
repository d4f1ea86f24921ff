#pragma once
// "GPIO & Misc Ctrl": direction and output level of the digital pins DIO0 and DIO1, and the
// data-ready output (enable, polarity, line). Every click is written at once. The pins are
// shared with the alarm output: a change that would take a pin from another function is
// refused or asks first.

#include <cstdint>
#include <string>

#include "ui/controls.h"
#include "ui/window.h"

namespace qvin::ui {

class App;

class frmGpioMisc : public Window {
public:
    explicit frmGpioMisc(App& app);

    void CmdDir0_Click() { DirectionClick(0); }
    void CmdDir1_Click() { DirectionClick(1); }
    void CmdDat0_Click() { LevelClick(0); }
    void CmdDat1_Click() { LevelClick(1); }
    void CmdDatRdy_Click();
    void CmdCtrlPlry_Click();
    void CmdCtrlLn_Click();
    void cmdOK_Click() { Hide(); }

    Frame frameGpio{"frameGpio"}, frameMiscCtrl{"frameMiscCtrl"};
    Label Label1{"Label1"}, Label4{"Label4"}, Label2{"Label2"}, Label3{"Label3"};
    Button CmdDir1{"CmdDir1"}, CmdDir0{"CmdDir0"}, CmdDat1{"CmdDat1"}, CmdDat0{"CmdDat0"};
    Label Label5{"Label5"}, Label6{"Label6"}, Label7{"Label7"};
    Button CmdDatRdy{"CmdDatRdy"}, CmdCtrlPlry{"CmdCtrlPlry"}, CmdCtrlLn{"CmdCtrlLn"};
    Button cmdOK{"cmdOK"};

protected:
    void Form_Load() override;
    void Form_Activate() override;

private:
    void DirectionClick(int pin);
    void LevelClick(int pin);
    // The question asked before data ready takes a pin that carries `use`; true to go on.
    bool MayOverride(const std::string& pinName, std::int16_t use);
    // Writes Msc_Ctrl, waits, and (unless only the polarity changed) reads the pin usage.
    void WriteMisc(bool refreshUsage);

    App& app_;
};

}  // namespace qvin::ui
