#include "ui/main/frm_qvin27319.h"

#include <array>
#include <chrono>

#include "core/number_text.h"
#include "device/output_pass.h"
#include "device/transports.h"
#include "device/outputs.h"
#include "device/lpt_transport.h"
#include "device/part_info.h"
#include "device/port_access.h"
#include "device/register_access.h"
#include "device/usb_adapter.h"
#include "device/usb_spi.h"
#include "ui/app.h"
#include "ui/main/angle_dial.h"

namespace qvin::ui {

namespace {

constexpr std::int16_t kOutputs[] = {reg::Supply_Out, reg::Aux_ADC, reg::Temp_Out, reg::Incl_Out, reg::Incl_180_Out};
constexpr int kKeyDigit0 = 48, kKeyDigit3 = 51;

std::string Int(std::int64_t v) { return FormatInt(v); }

}  // namespace

frmQvin27319::frmQvin27319(App& app)
    : Window(app.tk, "frmQvin27319", "QVIN27319 Evaluation Software - Rev 2"), app_(app) {
    BuildControls();
}

void frmQvin27319::BuildControls() {
    auto button = [](Button& b, const char* caption, const char* tip, Frame* in = nullptr) {
        b.SetCaption(caption);
        if (tip) b.SetToolTip(tip);
        if (in) b.PlaceIn(*in);
    };
    auto frame = [](Frame& f, const char* caption, const char* tip = nullptr, Frame* in = nullptr) {
        f.SetCaption(caption);
        if (tip) f.SetToolTip(tip);
        if (in) f.PlaceIn(*in);
    };
    auto label = [](Label& l, const char* caption, Frame& in, const char* tip = nullptr) {
        l.SetCaption(caption);
        l.PlaceIn(in);
        if (tip) l.SetToolTip(tip);
    };
    auto box = [](TextBox& t, Frame& in, const char* text = "") {
        t.SetText(text);
        t.PlaceIn(in);
    };

    button(cmdResetFactory, "Reset to Factory Defaults", "Reset Part Setup to Factory Defaults");
    button(cmdNewPart, "Read Setup", "Read and Display the Part Setup");
    frame(FrmStatus, "Status Register");
    button(CmdUpdateStatus, "Read Status", "Display the Status Register", &FrmStatus);
    button(cmdResetAlarm, "Reset", "Reset any Alarms", &FrmStatus);
    statusRows_ = {{&lblLowSupply, &lblLowSupplyFlag, 0x0001},     {&lblHighSupply, &lblHighSupplyFlag, 0x0002},
                   {&lblWriteFail, &lblWriteFailFlag, 0x0004},     {&Label20, &lblSpiWriteFlag, 0x0008},
                   {&lblAlarm1Set, &lblAlarm1SetFlag, 0x0100},     {&lblAlarm2Set, &lblAlarm2SetFlag, 0x0200},
                   {&lblSelfTestFail, &lblSelfTestFailFlag, 0x0020}, {&lblInvalidOrientation, &lblInvalidOrientationFlag, 0x0040}};
    const char* rows[][2] = {{"Power Supply Low", "Supply Voltage is too low"},
                             {"Power Supply High", "Supply Voltage is too high"},
                             {"Control Write Flag", "Internal Control Error"},
                             {"SPI Write Flag", "Error with last SPI communication"},
                             {"Alarm1 Set", "User Alarm1"},
                             {"Alarm2 Set", "User Alarm2"},
                             {"Self Test Fail", "Self Test Failure on last reading"},
                             {"Invalid Orientation", "Part is not oriented vertically"}};
    for (std::size_t i = 0; i < statusRows_.size(); ++i) {
        label(*statusRows_[i].row, rows[i][0], FrmStatus, rows[i][1]);
        label(*statusRows_[i].flag, "OK", FrmStatus, rows[i][1]);
    }
    frame(frameRotation, "Rotation");
    button(cmdRotation, "Normal", "Toggle Rotation Normal/Reverse", &frameRotation);
    button(cmdUnlock, "Unlock", nullptr);
    frame(frameSelfTest, "Self Test");
    button(CmdSelfTest, "Disabled", "Toggle Self Test On/Off", &frameSelfTest);
    frame(framePowerdown, "Powerdown  (PWR_MDE)", "Configure & Set the Powerdown");
    hscPowerdown.PlaceIn(framePowerdown);
    box(txtPowerDown, framePowerdown);
    box(txtPwrMde, framePowerdown);
    button(cmdPowerDown, "Set", nullptr, &framePowerdown);
    label(Label21, "Time (Sec)", framePowerdown);
    frame(frameSampleRate, "Sample Rate Settings");
    frame(frameAvgCnt, "AVG_CNT", "Adjust the Average Count Register", &frameSampleRate);
    hscAvgCnt.PlaceIn(frameAvgCnt);
    box(txtAvgCnt, frameAvgCnt);
    box(txtRollAvg, frameAvgCnt);
    box(txtAvgUpdateRate, frameAvgCnt);
    label(Label19, "Roll Avg Count", frameAvgCnt);
    label(Label6, "Avg Rate (Sec)", frameAvgCnt);
    frame(frameSmplPrd, "SMPL_PRD", "Adjust the Sample Period Register", &frameSampleRate);
    hscSmplPrd.PlaceIn(frameSmplPrd);
    box(txtSmplPrd, frameSmplPrd);
    box(txtSamplePeriod, frameSmplPrd);
    label(Label5, "Sample Rate (mS)", frameSmplPrd);
    frame(frameAuxDac, "Auxiliary DAC  (AUX_DAC)", "Set the Auxiliary DAC");
    hscAuxDAC.PlaceIn(frameAuxDac);
    box(txtAuxDacIn, frameAuxDac);
    box(txtAuxDacOut, frameAuxDac);
    label(Label1, "Output (Volts)", frameAuxDac);
    frame(frameDataReg, "Output  Registers");
    // The labels' indexes, as the window has always numbered them, for the outputs in order.
    const std::pair<int, const char*> outputs[] = {{1, kPartOutputs[0].column}, {4, kPartOutputs[1].column}, {5, kPartOutputs[2].column},
                                                   {6, kPartOutputs[3].column}, {7, kPartOutputs[4].column}};
    for (const auto& [index, caption] : outputs) {
        Label& l = lblReadReg.Add(index, "lblReadReg(" + Int(index) + ")");
        label(l, caption, frameDataReg);
        // The text box beside each label has the register's index, one above the label's.
        const int reg = index == 1 ? 2 : index + 1;
        box(txtReadReg.Add(reg, "txtReadReg(" + Int(reg) + ")"), frameDataReg);
    }
    button(cmdReadData, "Read", "Read the Output Registers", &frameDataReg);
    label(lblNewData, "Data Read", frameDataReg);
    label(lblNewDataFlag, "New", frameDataReg);
    label(lblErrorAlarm, "Status", frameDataReg);
    label(lblErrorAlarmFlag, "OK", frameDataReg);
    frame(frameLoopRun, "Loop Setup", nullptr, &frameDataReg);
    button(CmdRdLoop, "Start", "Start Loop Read", &frameLoopRun);
    button(cmdStop, "Stop", "Stop any Loops Running", &frameLoopRun);
    box(txtLoopDelay, frameLoopRun);
    label(Label23, "Loop Delay (mS)", frameLoopRun);
    chkDatalog.SetCaption("Log Data to File");
    chkDatalog.SetToolTip("Log the Output Data to a file in the program folder");
    chkDatalog.PlaceIn(frameLoopRun);
    chkResetBeforeRead.SetCaption("Clear Alarm Before Read");
    chkResetBeforeRead.SetToolTip("Clear any Alarms before reading the Output Registers");
    chkResetBeforeRead.PlaceIn(frameLoopRun);
    label(Label2, "File", frameLoopRun);
    box(txtDlogFile, frameLoopRun, "Datalog");
    box(txtFileIndex, frameLoopRun, "1");
    label(Label3, "Loop Counter", frameLoopRun);
    label(lblLoopCount, "", frameLoopRun);

    mnuInterface.SetCaption("&Interface");
    mnuPort.SetCaption("Parallel Port");
    mnuUSB.SetCaption("USB");
    mnuSpi.SetCaption("SPI Bus...");
    MnuAlarms.SetCaption("Alarms");
    MnuCal.SetCaption("Calibration");
    MnuGpioMsc.SetCaption("GPIO/MSC");
    mnuRegister.SetCaption("Register");
    MnuAbout.SetCaption("About");
    mnuHelp.SetCaption("Help");
    MnuExit.SetCaption("Exit");
    mnuView.SetCaption("View");
    mnuStripChart.SetCaption("Strip Chart");
    mnuDebug.SetCaption("Debug");
    mnuRecord.SetCaption("Record Bus...");
    mnuStopRecording.SetCaption("Stop Recording");
    mnuExportVcd.SetCaption("Export Recording as VCD...");
    mnuCheckSetup.SetCaption("Check Setup...");

    cmdResetFactory.onClick = [this] { cmdResetFactory_Click(); };
    cmdNewPart.onClick = [this] { cmdNewPart_Click(); };
    CmdUpdateStatus.onClick = [this] { CmdUpdateStatus_Click(); };
    cmdResetAlarm.onClick = [this] { cmdResetAlarm_Click(); };
    cmdRotation.onClick = [this] { cmdRotation_Click(); };
    cmdUnlock.onClick = [this] { cmdUnlock_Click(); };
    CmdSelfTest.onClick = [this] { CmdSelfTest_Click(); };
    hscPowerdown.onChange = [this] { hscPowerdown_Change(); };
    cmdPowerDown.onClick = [this] { cmdPowerDown_Click(); };
    hscAvgCnt.onChange = [this] { hscAvgCnt_Change(); };
    hscSmplPrd.onChange = [this] { hscSmplPrd_Change(); };
    hscAuxDAC.onChange = [this] { hscAuxDAC_Change(); };
    txtAuxDacIn.onKeyDown = [this](int k, int s) { txtAuxDacIn_KeyDown(k, s); };
    txtAuxDacOut.onKeyDown = [this](int k, int s) { txtAuxDacOut_KeyDown(k, s); };
    cmdReadData.onClick = [this] { cmdReadData_Click(); };
    CmdRdLoop.onClick = [this] { CmdRdLoop_Click(); };
    cmdStop.onClick = [this] { cmdStop_Click(); };
    txtLoopDelay.onKeyDown = [this](int k, int s) { txtLoopDelay_KeyDown(k, s); };
    chkDatalog.onClick = [this] { chkDatalog_Click(); };
    chkResetBeforeRead.onClick = [this] { chkResetBeforeRead_Click(); };
    picLogo.onKeyDown = [this](int k, int s) { picLogo_KeyDown(k, s); };
    mnuPort.onClick = [this] { mnuPort_Click(); };
    mnuUSB.onClick = [this] { mnuUSB_Click(); };
    mnuSpi.onClick = [this] { mnuSpi_Click(); };
    MnuAlarms.onClick = [this] { MnuAlarms_Click(); };
    MnuCal.onClick = [this] { MnuCal_Click(); };
    MnuGpioMsc.onClick = [this] { MnuGpioMsc_Click(); };
    mnuRegister.onClick = [this] { mnuRegister_Click(); };
    MnuAbout.onClick = [this] { MnuAbout_Click(); };
    mnuHelp.onClick = [this] { mnuHelp_Click(); };
    MnuExit.onClick = [this] { MnuExit_Click(); };
    mnuStripChart.onClick = [this] { mnuStripChart_Click(); };
    mnuRecord.onClick = [this] { mnuRecord_Click(); };
    mnuStopRecording.onClick = [this] { mnuStopRecording_Click(); };
    mnuExportVcd.onClick = [this] { mnuExportVcd_Click(); };
    mnuCheckSetup.onClick = [this] { mnuCheckSetup_Click(); };

    Register({&cmdResetFactory, &Picture1, &cmdNewPart, &FrmStatus, &CmdUpdateStatus, &cmdResetAlarm, &lblLowSupply,
              &lblLowSupplyFlag, &lblHighSupply, &lblHighSupplyFlag, &lblWriteFail, &lblWriteFailFlag, &Label20,
              &lblSpiWriteFlag, &lblAlarm1Set, &lblAlarm1SetFlag, &lblAlarm2Set, &lblAlarm2SetFlag, &lblSelfTestFail,
              &lblSelfTestFailFlag, &lblInvalidOrientation, &lblInvalidOrientationFlag, &frameRotation, &cmdRotation,
              &cmdUnlock, &frameSelfTest, &CmdSelfTest, &picLogo, &framePowerdown, &hscPowerdown, &txtPowerDown,
              &txtPwrMde, &cmdPowerDown, &Label21, &frameSampleRate, &frameAvgCnt, &hscAvgCnt, &txtAvgCnt, &txtRollAvg,
              &txtAvgUpdateRate, &Label19, &Label6, &frameSmplPrd, &hscSmplPrd, &txtSmplPrd, &txtSamplePeriod, &Label5,
              &frameAuxDac, &hscAuxDAC, &txtAuxDacIn, &txtAuxDacOut, &Label1, &frameDataReg, &cmdReadData, &lblNewData,
              &lblNewDataFlag, &lblErrorAlarm, &lblErrorAlarmFlag, &frameLoopRun, &CmdRdLoop, &cmdStop, &txtLoopDelay,
              &Label23, &chkDatalog, &chkResetBeforeRead, &Label2, &txtDlogFile, &txtFileIndex, &Label3, &lblLoopCount,
              &mnuInterface, &mnuPort, &mnuUSB, &mnuSpi, &MnuAlarms, &MnuCal, &MnuGpioMsc, &mnuRegister, &MnuAbout, &mnuHelp,
              &MnuExit, &mnuView, &mnuStripChart, &mnuDebug, &mnuRecord, &mnuStopRecording, &mnuExportVcd,
              &mnuCheckSetup});
    ShowRecordingState();
    Register(lblReadReg);
    Register(txtReadReg);
}

bool frmQvin27319::AdapterLost() const {
    return app_.p.settings.InterfaceType == Interface::UsbAdapter && !app_.p.UsbReady();
}

bool frmQvin27319::Pump() {
    app_.tk.DoEvents();
    return !app_.ended;
}

bool frmQvin27319::LoopPump() {
    app_.tk.DoLoopEvents();
    return !app_.ended;
}

// ---- Start-up and the interface check ----

void frmQvin27319::Form_Load() {
    Program& p = app_.p;
    const SystemFacts& sys = app_.config.system;
    app_.OsPlatform = static_cast<float>(sys.platform);
    app_.OsVersion = sys.version;
    app_.OsBuild = static_cast<float>(sys.build);
    if (sys.platform == 1) app_.OsName = sys.build <= 2000 ? "Win95" : "Win98";
    else app_.OsName = sys.version <= 5.0f ? "WinNT" : "WinXP";
    const bool ntFamily = app_.OsName == "WinXP" || app_.OsName == "WinNT";

    switch (p.settings.InterfaceType) {
        case Interface::ParallelPort:
            if (ntFamily) {
                // A port that could not be opened is said so once and then neither reset nor
                // read: picking a port in the port window tries again.
                PreparePort(p);
                mnuPort.SetChecked(true);
            }
            break;
        case Interface::UsbAdapter:
            if (app_.OsName == "Win95") {
                app_.tk.Message("USB not available for Windows95");
                p.settings.InterfaceType = Interface::None;
                mnuUSB.SetChecked(false);
                mnuUSB.SetEnabled(false);
            } else {
                FindUsbBoards(p);
                if (p.UsbReady()) {
                    mnuUSB.SetChecked(true);
                    UsbSpiSetBits(p, p.spi.SpiStaticBits);
                    std::uint8_t delay = p.spi.SpiDelay;
                    UsbSpiSetup(p, delay);
                } else {
                    app_.usbSelect.ShowModal(this);
                }
            }
            break;
        default:
            p.settings.InterfaceType = Interface::None;
            app_.tk.Message("Please select an interface before taking data");
            break;
    }
    LogToFile = false;
    LoopDelayMs = 25.0f;
    txtLoopDelay.SetText("25.0");
}

bool frmQvin27319::Check_Interface() {
    Program& p = app_.p;
    Interface& it = p.settings.InterfaceType;
    if ((it == Interface::ParallelPort && p.settings.PortAddress == 0) || (it == Interface::UsbAdapter && !p.UsbReady()) ||
        (it == Interface::Spidev && !FindTransport(Interface::Spidev)->ready(p)))
        it = Interface::None;
    // A port whose preparation failed keeps its setting (the next start tries it again),
    // but is no interface to read from.
    const bool ok = it != Interface::None && !(it == Interface::ParallelPort && p.PortPrepareFailed);
    if (!ok) app_.tk.Message("Please select an interface first");
    mnuPort.SetChecked(it == Interface::ParallelPort);
    mnuUSB.SetChecked(it == Interface::UsbAdapter);
    mnuSpi.SetChecked(it == Interface::Spidev);
    return ok;
}

void frmQvin27319::MnuExit_Click() {
    log_.Close();
    LoopRunning = false;
    app_.p.Delay(250.0f);
    // The user's interface choice is lost when it cannot be saved: say where and why.
    if (app_.config.saveSettings) {
        // The settings file keeps the interfaces it knows: an SPI bus chosen for this session
        // leaves the one chosen before it in place.
        Settings kept = app_.p.settings;
        if (kept.InterfaceType == Interface::Spidev) kept.InterfaceType = interfaceBeforeSpi_;
        if (const std::string why = SaveConfig(kept, app_.config.settingsFile); !why.empty())
            app_.tk.Message("The settings could not be saved.\r\n" + why);
    }
    Hide();
    app_.ended = true;
}

// ---- The part's set-up display ----

void frmQvin27319::Form_Activate() {
    Program& p = app_.p;
    p.SelectedRegister = 0;
    mnuPort.SetChecked(false);
    mnuUSB.SetChecked(false);
    mnuSpi.SetChecked(false);
    const Interface it = p.settings.InterfaceType;
    if (it != Interface::ParallelPort && it != Interface::UsbAdapter && it != Interface::Spidev) return;
    (it == Interface::ParallelPort ? mnuPort : it == Interface::UsbAdapter ? mnuUSB : mnuSpi).SetChecked(true);
    if (it == Interface::ParallelPort && p.PortPrepareFailed) return;  // nothing to read the part's set-up from

    ReadPartInfo(p);
    cmdUnlock.SetVisible(p.settings.FactoryMode == 3);
    cmdRotation.SetCaption(p.part.ReverseRotation ? "Reverse" : "Normal");

    ReadReg(p, reg::Aux_DAC);
    const std::int32_t dac = std::min(p.reg.RegData, hscAuxDAC.max());
    const float dacVolts = p.reg.RegValue;
    hscAuxDAC.SetValue(dac);
    txtAuxDacOut.SetText(FormatFixed(dacVolts, 4));
    txtAuxDacIn.SetText(Int(dac));

    ReadReg(p, reg::Smpl_Prd);
    const std::int32_t period = std::max(std::min(p.reg.RegData, hscSmplPrd.max()), hscSmplPrd.min());
    hscSmplPrd.SetValue(period);
    txtSmplPrd.SetText(Int(period));
    SamplePeriodMs = SmplPrdToMs(period);
    txtSamplePeriod.SetText(FormatFixed(SamplePeriodMs, 3));

    ReadReg(p, reg::Avg_Cnt);
    std::int32_t avg = std::min(p.reg.RegData, hscAvgCnt.max());
    hscAvgCnt.SetValue(avg);
    txtAvgCnt.SetText(Int(avg));
    AvgPeriodMs = AvgUpdatePeriod(p, SamplePeriodMs, avg);
    txtAvgUpdateRate.SetText(FormatFixed(AvgPeriodMs / 1000.0f, 2));
    txtRollAvg.SetText(Int(p.part.RollAvgCount));

    CmdUpdateStatus_Click();

    hscPowerdown.SetValue(0);
    PowerDownSec = 0;
    txtPowerDown.SetText("0.0");
    txtPwrMde.SetText("0");

    ReadReg(p, reg::Msc_Ctrl);
    p.part.MscCtrlVal = p.reg.RegData;
    CmdSelfTest.SetCaption(p.part.MscCtrlVal & kSelfTestBit ? "Enabled" : "Disabled");

    ReadPinUsage(p);

    p.Delay(100.0f);
    cmdReadData_Click();
    if (app_.ended) return;
    p.Delay(500.0f);
    cmdReadData_Click();
}

void frmQvin27319::cmdNewPart_Click() {
    if (Check_Interface()) Form_Activate();
}

// ---- Reading ----

void frmQvin27319::SetFlag(Label& flag, bool alarm) {
    flag.SetBackColor(alarm ? kRed : kGreen);
    flag.SetCaption(alarm ? "Alarm" : "OK");
}

void frmQvin27319::cmdReadData_Click() {
    Program& p = app_.p;
    if (p.settings.InterfaceType == Interface::None || (p.settings.InterfaceType == Interface::ParallelPort && p.PortPrepareFailed)) return;
    lblNewDataFlag.SetCaption("Old");
    SetFlag(lblErrorAlarmFlag, false);
    bool fresh = false, error = false;
    if (p.ResetBeforeRead) cmdResetAlarm_Click();
    std::array<float, 5> values{};
    const OutputPass pass = ReadPass(p, kOutputs, [&](std::size_t i, const RegReading& r) {
        txtReadReg(kOutputs[i]).SetText(FormatFixed(r.value, kOutputs[i] < reg::Temp_Out ? 3 : 2));
        values[i] = r.value;
    });
    if (pass.lost) return;  // nothing more was read; the boxes keep what was
    fresh = pass.fresh;
    error = pass.alarm;
    if (fresh) lblNewDataFlag.SetCaption("New");
    if (error) SetFlag(lblErrorAlarmFlag, true);
    Draw_Angle();
    if (!Pump()) return;
    p.Delay(5.0f);
    CmdUpdateStatus_Click();
    if (!AdapterLost()) Chart(values, fresh, error);
}

void frmQvin27319::CmdUpdateStatus_Click() {
    Program& p = app_.p;
    if (p.settings.InterfaceType == Interface::None || (p.settings.InterfaceType == Interface::ParallelPort && p.PortPrepareFailed)) return;
    ReadReg(p, reg::Status);
    if (AdapterLost()) return;  // nothing was read: the flags keep what they showed
    StatusVal = p.reg.RegData;
    for (const StatusRow& row : statusRows_) SetFlag(*row.flag, (StatusVal & row.mask) != 0);
}

void frmQvin27319::Draw_Angle() {
    DrawAngleDial(Picture1, LeadingNumber(txtReadReg(reg::Incl_Out).text()), app_.p.part.ReverseRotation);
}

// ---- The read loop and the data log ----

std::filesystem::path frmQvin27319::LogFileName() const {
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(app_.config.dataFolder, ec);
    const std::filesystem::path folder = (ec ? app_.config.dataFolder : absolute).lexically_normal();
    // The log stays in the data folder, or a folder under it: a name typed as "/etc/x" or
    // "../../x" is taken within it, not from the root or above it.
    const std::filesystem::path name = std::filesystem::path(txtDlogFile.text() + "_" + txtFileIndex.text() + ".txt").relative_path();
    const std::filesystem::path file = (folder / name).lexically_normal();
    const std::filesystem::path inside = file.lexically_relative(folder);
    if (inside.empty() || *inside.begin() == "..") return folder / name.filename();
    return file;
}

void frmQvin27319::txtLoopDelay_KeyDown(int keyCode, int) {
    if (keyCode != kKeyEnter || txtLoopDelay.text().empty()) return;
    LoopDelayMs = std::clamp(static_cast<float>(LeadingNumber(txtLoopDelay.text())), 10.0f, 30000.0f);
    txtLoopDelay.SetText(FormatFixed(LoopDelayMs, 1));
}

void frmQvin27319::cmdStop_Click() { LoopRunning = false; }
void frmQvin27319::chkDatalog_Click() { LogToFile = chkDatalog.value() != 0; }
void frmQvin27319::chkResetBeforeRead_Click() { app_.p.ResetBeforeRead = chkResetBeforeRead.value() != 0; }

void frmQvin27319::CmdRdLoop_Click() {
    // A loop already runs (Start pressed again from an event processed inside it): a
    // second loop inside the first would double every read and log line.
    if (LoopRunning) return;
    if (!Check_Interface()) return;
    TakeLoopDelay();
    lblLoopCount.SetCaption("");
    const std::filesystem::path file = LogFileName();
    if (LogToFile && !OpenLog(file)) return;

    LoopRunning = true;
    std::int32_t passes = 0;
    chkDatalog.SetEnabled(false);
    CmdRdLoop.SetEnabled(false);
    while (LoopRunning)
        if (!LoopPass(passes, file)) return;
    log_.Close();
    if (LogToFile) {
        app_.tk.ShowStatus(*this, "Logged " + Int(passes) + " passes to " + file.string(), kDoneStatusSeconds);
        txtFileIndex.SetText(FormatGeneralDouble(LeadingNumber(txtFileIndex.text()) + 1));
    }
    chkDatalog.SetEnabled(true);
    CmdRdLoop.SetEnabled(true);
}

void frmQvin27319::TakeLoopDelay() {
    if (txtLoopDelay.text().empty()) return;
    LoopDelayMs = std::clamp(static_cast<float>(LeadingNumber(txtLoopDelay.text())), 10.0f, 60000.0f);
    txtLoopDelay.SetText(FormatFixed(LoopDelayMs, 1));
}

// The header shows the set-up as the window shows it, from its boxes.
bool frmQvin27319::OpenLog(const std::filesystem::path& file) {
    const Program& p = app_.p;
    DataLogHeader h;
    h.date = DataLogDate(app_.config.wallClock());
    h.loopDelayMs = LoopDelayMs;
    h.samplePeriodText = txtSamplePeriod.text();
    h.avgCntText = txtAvgCnt.text();
    h.selfTest = (p.part.MscCtrlVal & kSelfTestBit) != 0;
    h.reverseRotation = p.part.ReverseRotation;
    if (!log_.Open(file) || !log_.Write(DataLogHeaderText(h))) {
        LogFailed(file);
        return false;
    }
    // Where the passes go, for a user who wonders where to find them.
    chkDatalog.SetToolTip("Logging to " + file.string());
    app_.tk.ShowStatus(*this, "Logging to " + file.string());
    return true;
}

// Opening or writing the log failed: say so and leave the loop; what was written stays in
// the file. The loop is no longer running, so Start works again.
void frmQvin27319::LogFailed(const std::filesystem::path& file) {
    chkDatalog.SetEnabled(true);
    CmdRdLoop.SetEnabled(true);
    log_.Close();
    LoopRunning = false;
    // The reason on a second line: a full disk wants another remedy than a bad name.
    const std::string why = log_.error();
    app_.tk.Message("Error Trying to open file " + file.string() + (why.empty() ? "" : "\r\n" + why));
}

bool frmQvin27319::LoopPass(std::int32_t& passes, const std::filesystem::path& file) {
    Program& p = app_.p;
    lblNewDataFlag.SetCaption("Old");
    SetFlag(lblErrorAlarmFlag, false);
    if (p.ResetBeforeRead) cmdResetAlarm_Click();
    std::array<float, 5> values{};
    const OutputPass pass = ReadPass(p, kOutputs, [&](std::size_t i, const RegReading& r) {
        txtReadReg(kOutputs[i]).SetText(FormatFixed(r.value, 3));
        values[i] = r.value;
    });
    if (pass.fresh) lblNewDataFlag.SetCaption("New");
    if (pass.alarm) SetFlag(lblErrorAlarmFlag, true);
    // The adapter failed during this pass, or in the status read after it: its values were
    // not read, so the pass is neither counted nor logged, and the loop ends at once.
    auto lost = [&] {
        mnuUSB.SetChecked(false);
        LoopRunning = false;
        return true;
    };
    if (pass.lost) return lost();
    if (!LoopPump()) return false;
    ++passes;
    CmdUpdateStatus_Click();
    p.Delay(1.0f);
    if (AdapterLost()) return lost();
    if (LogToFile) {
        if (!log_.Write(DataLogLine(passes, values, pass.fresh, pass.alarm, StatusVal))) {
            LogFailed(file);
            return false;
        }
        lblLoopCount.SetCaption(Int(passes));
    }
    Chart(values, pass.fresh, pass.alarm);
    Draw_Angle();
    for (int slice = 0; slice < 10; ++slice) {
        if (!LoopPump()) return false;
        p.Delay((LoopDelayMs - 5.0f) / 10.0f);
    }
    if (p.settings.InterfaceType == Interface::UsbAdapter && !p.UsbReady()) {
        mnuUSB.SetChecked(false);
        LoopRunning = false;
    }
    return true;
}

// ---- Setting controls ----

void frmQvin27319::hscAuxDAC_Change() {
    Program& p = app_.p;
    if (p.settings.InterfaceType == Interface::None) return;
    const int code = hscAuxDAC.value();
    const float volts = static_cast<float>(code) * p.map[reg::Aux_DAC].RegScale;
    txtAuxDacIn.SetText(Int(code));
    txtAuxDacOut.SetText(FormatFixed(volts, 4));
    WriteReg(p, reg::Aux_DAC, code);
    p.Delay(10.0f);
    WriteReg(p, reg::Command, 4);
    p.Delay(100.0f);
}

void frmQvin27319::txtAuxDacIn_KeyDown(int keyCode, int) {
    Program& p = app_.p;
    if (p.settings.InterfaceType == Interface::None || keyCode != kKeyEnter || txtAuxDacIn.text().empty()) return;
    const auto code = static_cast<int>(std::clamp<std::int64_t>(RoundHalfEven(LeadingNumber(txtAuxDacIn.text())), 0, 4095));
    const float volts = static_cast<float>(code) * p.map[reg::Aux_DAC].RegScale;
    hscAuxDAC.SetValue(code);
    txtAuxDacIn.SetText(Int(code));
    txtAuxDacOut.SetText(FormatFixed(volts, 4));
    WriteReg(p, reg::Aux_DAC, code);
    WriteReg(p, reg::Command, 4);
}

void frmQvin27319::txtAuxDacOut_KeyDown(int keyCode, int) {
    Program& p = app_.p;
    if (p.settings.InterfaceType == Interface::None || keyCode != kKeyEnter || txtAuxDacOut.text().empty()) return;
    const float scale = p.map[reg::Aux_DAC].RegScale;
    const double v = std::clamp(LeadingNumber(txtAuxDacOut.text()), 0.0, 2.5);
    const auto code = static_cast<int>(std::min<std::int64_t>(RoundHalfEven(v / scale), 4095));
    const float volts = static_cast<float>(code) * scale;
    hscAuxDAC.SetValue(code);
    txtAuxDacIn.SetText(Int(code));
    txtAuxDacOut.SetText(FormatFixed(volts, 4));
    WriteReg(p, reg::Aux_DAC, code);
    WriteReg(p, reg::Command, 4);
}

void frmQvin27319::hscSmplPrd_Change() {
    Program& p = app_.p;
    if (p.settings.InterfaceType == Interface::None) return;
    const int v = hscSmplPrd.value();
    WriteReg(p, reg::Smpl_Prd, v);
    txtSmplPrd.SetText(Int(v));
    SamplePeriodMs = SmplPrdToMs(v);
    txtSamplePeriod.SetText(FormatFixed(SamplePeriodMs, 3));
    std::int32_t avg = hscAvgCnt.value();
    AvgPeriodMs = AvgUpdatePeriod(p, SamplePeriodMs, avg);
    txtAvgUpdateRate.SetText(FormatFixed(AvgPeriodMs / 1000.0f, 2));
}

void frmQvin27319::hscAvgCnt_Change() {
    Program& p = app_.p;
    if (p.settings.InterfaceType == Interface::None) return;
    std::int32_t v = hscAvgCnt.value();
    WriteReg(p, reg::Avg_Cnt, v);
    txtAvgCnt.SetText(Int(v));
    AvgPeriodMs = AvgUpdatePeriod(p, SamplePeriodMs, v);
    txtAvgUpdateRate.SetText(FormatFixed(AvgPeriodMs / 1000.0f, 2));
    txtRollAvg.SetText(Int(p.part.RollAvgCount));
}

void frmQvin27319::hscPowerdown_Change() {
    if (app_.p.settings.InterfaceType == Interface::None) return;
    PowerDownSec = static_cast<float>(hscPowerdown.value()) / 2.0f;
    txtPowerDown.SetText(FormatFixed(PowerDownSec, 1));
    txtPwrMde.SetText(Int(hscPowerdown.value()));
}

void frmQvin27319::cmdPowerDown_Click() {
    if (!Check_Interface()) return;
    WriteReg(app_.p, reg::Pwr_Mde, hscPowerdown.value());
    hscPowerdown.SetValue(0);
}

void frmQvin27319::cmdRotation_Click() {
    if (!Check_Interface()) return;
    Program& p = app_.p;
    p.part.ReverseRotation = !p.part.ReverseRotation;
    cmdRotation.SetCaption(p.part.ReverseRotation ? "Reverse" : "Normal");
    ReadReg(p, reg::Msc_Ctrl);
    std::int32_t value = p.reg.RegData & ~kReverseRotationBit;
    if (p.part.ReverseRotation) value |= kReverseRotationBit;
    WriteReg(p, reg::Msc_Ctrl, value);
}

void frmQvin27319::CmdSelfTest_Click() {
    if (!Check_Interface()) return;
    Program& p = app_.p;
    if (CmdSelfTest.caption() != "Disabled") {
        CmdSelfTest.SetCaption("Disabled");
        p.part.MscCtrlVal &= 0x00FF;  // the whole upper byte, as the part expects
    } else {
        CmdSelfTest.SetCaption("Enabled");
        p.part.MscCtrlVal |= kSelfTestBit;
    }
    WriteReg(p, reg::Msc_Ctrl, p.part.MscCtrlVal);
}

void frmQvin27319::cmdResetAlarm_Click() {
    Program& p = app_.p;
    if (p.settings.InterfaceType == Interface::None) return;
    WriteReg(p, reg::Command, 16);
    p.Delay(10.0f);
    CmdUpdateStatus_Click();
}

void frmQvin27319::cmdUnlock_Click() {
    if (app_.p.settings.InterfaceType == Interface::None) return;
    WriteReg(app_.p, reg::KeyCode, kFactoryKey);
}

void frmQvin27319::cmdResetFactory_Click() {
    if (!Check_Interface()) return;
    Program& p = app_.p;
    WriteReg(p, reg::Aux_DAC, 0);
    WriteReg(p, reg::Command, 4);
    p.Delay(20.0f);
    WriteReg(p, reg::Smpl_Prd, 8);
    WriteReg(p, reg::Avg_Cnt, 7);
    for (const std::int16_t r : {reg::Alm_Ctrl, reg::Alm_Mag1, reg::Alm_Mag2, reg::Gpio_Ctrl, reg::Msc_Ctrl, reg::Incl_Null})
        WriteReg(p, r, 0);
    p.Delay(15.0f);
    cmdNewPart_Click();
}

// ---- Menus and help ----

void frmQvin27319::mnuPort_Click() {
    app_.port.ShowModal(this);
    Program& p = app_.p;
    if (p.settings.PortAddress != 0) {
        p.settings.InterfaceType = Interface::ParallelPort;
        mnuPort.SetChecked(true);
        mnuUSB.SetChecked(false);
        mnuSpi.SetChecked(false);
    }
}

void frmQvin27319::mnuUSB_Click() {
    app_.usbSelect.ShowModal(this);
    Program& p = app_.p;
    if (p.UsbReady()) {
        p.settings.InterfaceType = Interface::UsbAdapter;
        mnuUSB.SetChecked(true);
        mnuPort.SetChecked(false);
        mnuSpi.SetChecked(false);
    } else {
        p.settings.InterfaceType = Interface::None;
        mnuUSB.SetChecked(false);
        mnuPort.SetChecked(false);
        mnuSpi.SetChecked(false);
    }
}

// An SPI bus the part is wired to directly: a Linux SPI controller's device or an FTDI
// adapter's MPSSE engine, named as on the command line. It is opened at once; the
// interface stays as it was when it cannot be.
void frmQvin27319::mnuSpi_Click() {
    Program& p = app_.p;
    const std::optional<std::string> device =
        app_.tk.AskText(*this, "SPI Bus", "SPI device (/dev/spidev0.0), or FTDI adapter (ftdi: for the first, ftdi:SERIAL):",
                        p.spiDevice.empty() ? "/dev/spidev0.0" : p.spiDevice);
    if (!device || device->empty()) return;
    const Transport& t = *FindTransport(Interface::Spidev);
    p.spiDevice = *device;
    if (const std::string why = t.open(p, std::nullopt).error; !why.empty()) {
        app_.tk.Message("The SPI bus could not be opened.\r\n" + why);
        return;
    }
    if (p.settings.InterfaceType != Interface::Spidev) interfaceBeforeSpi_ = p.settings.InterfaceType;
    p.settings.InterfaceType = Interface::Spidev;
    // The part's set-up read through it, as when an interface window closes.
    Form_Activate();
    app_.tk.ShowStatus(*this, "Reading through " + t.opened(p), kDoneStatusSeconds);
}

void frmQvin27319::MnuAlarms_Click() {
    if (Check_Interface()) app_.alarm.ShowModal(this);
}
void frmQvin27319::MnuCal_Click() {
    if (Check_Interface()) app_.cal.ShowModal(this);
}
void frmQvin27319::MnuGpioMsc_Click() {
    if (Check_Interface()) app_.gpio.ShowModal(this);
}
void frmQvin27319::mnuRegister_Click() {
    if (Check_Interface()) app_.manualReg.ShowModal(this);
}
void frmQvin27319::MnuAbout_Click() {
    if (!Check_Interface()) return;
    // A new window each time, so that every opening reads the part again.
    app_.about = std::make_unique<frmAbout>(app_);
    app_.about->ShowModal(this);
    app_.tk.Unload(*app_.about);
    app_.about.reset();
}

void frmQvin27319::mnuStripChart_Click() { app_.tk.Show(app_.chart); }

void frmQvin27319::Chart(const std::array<float, 5>& values, bool fresh, bool error) {
    ChartSample s;
    s.time = app_.config.wallClock();
    s.values = values;
    s.newData = fresh;
    s.alarm = error;
    s.status = StatusVal;
    app_.chart.AddReading(s);
    ShowRecordingProgress();
}

void frmQvin27319::mnuHelp_Click() {
    app_.tk.OpenHelp(HelpFile(app_.config.programFolder).string());
    Pump();
}

void frmQvin27319::picLogo_KeyDown(int keyCode, int shift) {
    if (shift != (kCtrlMask | kShiftMask) || keyCode < kKeyDigit0 || keyCode > kKeyDigit3) return;
    const int digit = keyCode - kKeyDigit0;
    app_.p.settings.FactoryMode = static_cast<std::int16_t>(digit);
    app_.tk.Message("Factory= " + Int(digit));
}

}  // namespace qvin::ui
