#include "ui/setup/frm_cal_reg.h"

#include <algorithm>

#include "core/number_text.h"
#include "device/register_access.h"
#include "ui/app.h"

namespace qvin::ui {

namespace {
constexpr std::int32_t kNullLimit = 4095;
}

FrmCalReg::FrmCalReg(App& app) : Window(app.tk, "FrmCalReg", "Calibration Registers"), app_(app) {
    frameCalReg.SetCaption("Calibration Registers");
    Label& name = lblReadReg.Add(1, "lblReadReg(1)");
    name.SetCaption("INCL_NULL");
    name.SetToolTip("Adjust the Inclination Null Value");
    name.PlaceIn(frameCalReg);
    txtCalReg.Add(8, "txtCalReg(8)").PlaceIn(frameCalReg);
    cmdReadCal.SetCaption("Read");
    cmdReadCal.SetToolTip("Read the Inclination Null Register");
    cmdReadCal.PlaceIn(frameCalReg);
    CmdNull.SetCaption("Auto Null");
    CmdNull.SetToolTip("Sets Null to latest reading");
    CmdRst.SetCaption("Factory Reset");
    CmdRst.SetToolTip("Reset Null back to zero");
    cmdOK.SetCaption("OK");
    CmdApply.SetCaption("Apply");

    cmdReadCal.onClick = [this] { cmdReadCal_Click(); };
    CmdNull.onClick = [this] { CmdNull_Click(); };
    CmdRst.onClick = [this] { CmdRst_Click(); };
    CmdApply.onClick = [this] { CmdApply_Click(); };
    cmdOK.onClick = [this] { cmdOK_Click(); };
    Register({&frameCalReg, &cmdReadCal, &CmdNull, &CmdRst, &cmdOK, &CmdApply});
    Register(lblReadReg);
    Register(txtCalReg);
}

void FrmCalReg::Form_Load() {
    left = app_.main.left;
    top = app_.main.top;
}

void FrmCalReg::cmdReadCal_Click() {
    ReadReg(app_.p, reg::Incl_Null);
    InclNullVal = app_.p.reg.RegData;
    txtCalReg(8).SetText(FormatInt(InclNullVal));
}

void FrmCalReg::Command(std::int32_t code) {
    WriteReg(app_.p, reg::Command, code);
    app_.p.Delay(250.0f);
    cmdReadCal_Click();
}

void FrmCalReg::CmdApply_Click() {
    const std::string& text = txtCalReg(8).text();
    // The limit applies however large the number; an empty box writes the last value read.
    double v = text.empty() ? InclNullVal : LeadingNumber(text);
    v = std::clamp(v, -1e12, 1e12);
    InclNullVal = static_cast<std::int32_t>(std::clamp<std::int64_t>(RoundHalfEven(v), -kNullLimit, kNullLimit));
    WriteReg(app_.p, reg::Incl_Null, InclNullVal);
    txtCalReg(8).SetText(FormatInt(InclNullVal));
    app_.p.Delay(20.0f);
    cmdReadCal_Click();
}

}  // namespace qvin::ui
