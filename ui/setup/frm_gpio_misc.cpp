#include "ui/setup/frm_gpio_misc.h"

#include "device/part_info.h"
#include "device/register_access.h"
#include "ui/app.h"

namespace qvin::ui {

namespace {
constexpr float kWaitMs = 150.0f;
// Clearing a data-ready bit keeps bits 3 to 8 only (bit 8 is the self test).
constexpr std::int32_t kClearLine = 0x1FE, kClearPolarity = 0x1FD, kClearEnable = 0x1FB;
}  // namespace

frmGpioMisc::frmGpioMisc(App& app) : Window(app.tk, "frmGpioMisc", "GPIO & Misc Ctrl"), app_(app) {
    frameGpio.SetCaption("GPIO_Control");
    frameMiscCtrl.SetCaption("Data Ready Control");
    const struct {
        Label& l;
        const char* caption;
        const char* tip;
        Frame& in;
    } labels[] = {
        {Label1, "DIO1", nullptr, frameGpio},
        {Label4, "DIO0", nullptr, frameGpio},
        {Label2, "Direction", "Set GPIO Direction Input/Output", frameGpio},
        {Label3, "State", "Set GPIO Ouput State High/low", frameGpio},
        {Label5, "Output", "Enable/Disable Data Ready", frameMiscCtrl},
        {Label6, "Polarity", "Set Data Ready Active high/low", frameMiscCtrl},
        {Label7, "Line Select", "Select DIO 0/1 as output", frameMiscCtrl},
    };
    for (const auto& l : labels) {
        l.l.SetCaption(l.caption);
        if (l.tip) l.l.SetToolTip(l.tip);
        l.l.PlaceIn(l.in);
    }
    const struct {
        Button& b;
        const char* caption;
        Frame& in;
    } buttons[] = {
        {CmdDir1, "Input", frameGpio},      {CmdDir0, "Input", frameGpio},
        {CmdDat1, "Low", frameGpio},        {CmdDat0, "Low", frameGpio},
        {CmdDatRdy, "Disabled", frameMiscCtrl}, {CmdCtrlPlry, "Active Low", frameMiscCtrl},
        {CmdCtrlLn, "DIO0", frameMiscCtrl},
    };
    for (const auto& b : buttons) {
        b.b.SetCaption(b.caption);
        b.b.PlaceIn(b.in);
    }
    cmdOK.SetCaption("OK");

    CmdDir0.onClick = [this] { CmdDir0_Click(); };
    CmdDir1.onClick = [this] { CmdDir1_Click(); };
    CmdDat0.onClick = [this] { CmdDat0_Click(); };
    CmdDat1.onClick = [this] { CmdDat1_Click(); };
    CmdDatRdy.onClick = [this] { CmdDatRdy_Click(); };
    CmdCtrlPlry.onClick = [this] { CmdCtrlPlry_Click(); };
    CmdCtrlLn.onClick = [this] { CmdCtrlLn_Click(); };
    cmdOK.onClick = [this] { cmdOK_Click(); };

    Register({&frameGpio, &frameMiscCtrl, &Label1, &Label4, &Label2, &Label3, &CmdDir1, &CmdDir0, &CmdDat1, &CmdDat0,
              &Label5, &Label6, &Label7, &CmdDatRdy, &CmdCtrlPlry, &CmdCtrlLn, &cmdOK});
}

void frmGpioMisc::Form_Load() {
    left = app_.main.left;
    top = app_.main.top;
}

void frmGpioMisc::Form_Activate() {
    Program& p = app_.p;
    ReadReg(p, reg::Gpio_Ctrl);
    const std::int32_t gpio = p.part.GpioCtrlVal = p.reg.RegData;
    CmdDir0.SetCaption(gpio & 0x001 ? "Output" : "Input");
    CmdDir1.SetCaption(gpio & 0x002 ? "Output" : "Input");
    CmdDat0.SetCaption(gpio & 0x100 ? "High" : "Low");
    CmdDat1.SetCaption(gpio & 0x200 ? "High" : "Low");
    ReadReg(p, reg::Msc_Ctrl);
    const std::int32_t msc = p.part.MscCtrlVal = p.reg.RegData;
    CmdCtrlLn.SetCaption(msc & 1 ? "DIO-1" : "DIO-0");
    CmdCtrlPlry.SetCaption(msc & 2 ? "Active High" : "Active Low");
    CmdDatRdy.SetCaption(msc & 4 ? "Enabled" : "Disabled");
}

void frmGpioMisc::LevelClick(int pin) {
    Program& p = app_.p;
    Button& b = pin == 0 ? CmdDat0 : CmdDat1;
    const std::int32_t bit = pin == 0 ? 0x100 : 0x200;
    // The level is written even while the pin is an input: it applies once it is an output.
    if (b.caption() != "Low") {
        b.SetCaption("Low");
        p.part.GpioCtrlVal &= ~bit;
    } else {
        b.SetCaption("High");
        p.part.GpioCtrlVal |= bit;
    }
    WriteReg(p, reg::Gpio_Ctrl, p.part.GpioCtrlVal);
}

void frmGpioMisc::DirectionClick(int pin) {
    Program& p = app_.p;
    Button& b = pin == 0 ? CmdDir0 : CmdDir1;
    const std::int32_t bit = pin == 0 ? 1 : 2;
    if (b.caption() == "Input") {
        // A general-purpose output takes only a free pin.
        const std::int16_t use = pin == 0 ? p.part.Dio0Use : p.part.Dio1Use;
        if (use == 3) {
            app_.tk.Message(pin == 0 ? "Dio0 is already in use by DataReady.. Please disable first"
                                     : "Dio1 is already in use by DataReady.. \r\nPlease disable DataReady first");
            return;
        }
        if (use == 2) {
            app_.tk.Message(pin == 0 ? "Dio0 is already in use by Alarms.. Please disable first"
                                     : "Dio1 is already in use by alarms.. ");
            return;
        }
        b.SetCaption("Output");
        p.part.GpioCtrlVal |= bit;
    } else {
        b.SetCaption("Input");
        p.part.GpioCtrlVal &= ~bit;
    }
    WriteReg(p, reg::Gpio_Ctrl, p.part.GpioCtrlVal);
    p.Delay(kWaitMs);
    ReadPinUsage(p);
}

bool frmGpioMisc::MayOverride(const std::string& pinName, std::int16_t use) {
    if (use == 1) return app_.tk.Question(pinName + " Pin is already in use by GPIO..\r\nOk to Override?");
    if (use == 2) return app_.tk.Question(pinName + " Pin is already in use by alarms..\r\nOk to Override?");
    return true;
}

void frmGpioMisc::WriteMisc(bool refreshUsage) {
    Program& p = app_.p;
    WriteReg(p, reg::Msc_Ctrl, p.part.MscCtrlVal);
    p.Delay(kWaitMs);
    if (refreshUsage) ReadPinUsage(p);
}

void frmGpioMisc::CmdDatRdy_Click() {
    PartState& part = app_.p.part;
    if (CmdDatRdy.caption() != "Disabled") {
        CmdDatRdy.SetCaption("Disabled");
        part.MscCtrlVal &= kClearEnable;
    } else {
        // Data ready may take a pin from a general-purpose output or the alarm output.
        const std::int16_t use = CmdCtrlLn.caption() == "DIO-0" ? part.Dio0Use : part.Dio1Use;
        if (!MayOverride("Dio", use)) return;
        CmdDatRdy.SetCaption("Enabled");
        part.MscCtrlVal |= 4;
    }
    WriteMisc(true);
}

void frmGpioMisc::CmdCtrlPlry_Click() {
    PartState& part = app_.p.part;
    if (CmdCtrlPlry.caption() != "Active Low") {
        CmdCtrlPlry.SetCaption("Active Low");
        part.MscCtrlVal &= kClearPolarity;
    } else {
        CmdCtrlPlry.SetCaption("Active High");
        part.MscCtrlVal |= 2;
    }
    WriteMisc(false);
}

void frmGpioMisc::CmdCtrlLn_Click() {
    PartState& part = app_.p.part;
    const bool enabled = CmdDatRdy.caption() == "Enabled";
    if (CmdCtrlLn.caption() != "DIO-0") {
        if (enabled && !MayOverride("Dio0", part.Dio0Use)) return;
        CmdCtrlLn.SetCaption("DIO-0");
        part.MscCtrlVal &= kClearLine;
    } else {
        if (enabled && !MayOverride("Dio1", part.Dio1Use)) return;
        CmdCtrlLn.SetCaption("DIO-1");
        part.MscCtrlVal |= 1;
    }
    WriteMisc(true);
}

}  // namespace qvin::ui
