#pragma once
// The main evaluation window: interface preparation at load, the part's set-up display,
// single and continuous reads with the data log, the angle dial, the setting controls
// and the menus. Controls and handlers carry the names the window has always used.

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "core/settings.h"
#include "device/data_log.h"
#include "ui/controls.h"
#include "ui/window.h"

namespace qvin::ui {

class App;

// How long the status line tells of a finished task (a log written, a recording ended,
// an export) before it is stale and clears.
inline constexpr int kDoneStatusSeconds = 30;

class frmQvin27319 : public Window {
public:
    explicit frmQvin27319(App& app);

    // Public methods other windows call.
    bool Check_Interface();
    void Draw_Angle();

    // Handlers.
    void Form_Activate() override;
    void cmdNewPart_Click();
    void cmdReadData_Click();
    void CmdUpdateStatus_Click();
    void CmdRdLoop_Click();
    void cmdStop_Click();
    void chkDatalog_Click();
    void chkResetBeforeRead_Click();
    void txtLoopDelay_KeyDown(int keyCode, int shift);
    void hscAuxDAC_Change();
    void txtAuxDacIn_KeyDown(int keyCode, int shift);
    void txtAuxDacOut_KeyDown(int keyCode, int shift);
    void hscSmplPrd_Change();
    void hscAvgCnt_Change();
    void hscPowerdown_Change();
    void cmdPowerDown_Click();
    void cmdRotation_Click();
    void CmdSelfTest_Click();
    void cmdResetAlarm_Click();
    void cmdUnlock_Click();
    void cmdResetFactory_Click();
    void mnuPort_Click();
    void mnuUSB_Click();
    void mnuSpi_Click();
    void MnuAlarms_Click();
    void MnuCal_Click();
    void MnuGpioMsc_Click();
    void mnuRegister_Click();
    void MnuAbout_Click();
    void mnuHelp_Click();
    void MnuExit_Click();
    void mnuStripChart_Click();
    void mnuRecord_Click();
    void mnuStopRecording_Click();
    void mnuExportVcd_Click();
    void mnuCheckSetup_Click();
    void ExportVcdOf(const std::string& recording);
    void picLogo_KeyDown(int keyCode, int shift);
    void UserClose() override { MnuExit_Click(); }

    // Window variables.
    bool LoopRunning = false;
    float SamplePeriodMs = 0;
    float AvgPeriodMs = 0;
    bool LogToFile = false;
    float LoopDelayMs = 25.0f;
    std::int32_t StatusVal = 0;
    float PowerDownSec = 0;

    // Controls.
    Button cmdResetFactory{"cmdResetFactory"};
    PictureBox Picture1{"Picture1", 200, 200};
    Button cmdNewPart{"cmdNewPart"};
    Frame FrmStatus{"FrmStatus"};
    Button CmdUpdateStatus{"CmdUpdateStatus"}, cmdResetAlarm{"cmdResetAlarm"};
    Label lblLowSupply{"lblLowSupply"}, lblLowSupplyFlag{"lblLowSupplyFlag"};
    Label lblHighSupply{"lblHighSupply"}, lblHighSupplyFlag{"lblHighSupplyFlag"};
    Label lblWriteFail{"lblWriteFail"}, lblWriteFailFlag{"lblWriteFailFlag"};
    Label Label20{"Label20"}, lblSpiWriteFlag{"lblSpiWriteFlag"};
    Label lblAlarm1Set{"lblAlarm1Set"}, lblAlarm1SetFlag{"lblAlarm1SetFlag"};
    Label lblAlarm2Set{"lblAlarm2Set"}, lblAlarm2SetFlag{"lblAlarm2SetFlag"};
    Label lblSelfTestFail{"lblSelfTestFail"}, lblSelfTestFailFlag{"lblSelfTestFailFlag"};
    Label lblInvalidOrientation{"lblInvalidOrientation"}, lblInvalidOrientationFlag{"lblInvalidOrientationFlag"};
    Frame frameRotation{"frameRotation"};
    Button cmdRotation{"cmdRotation"};
    Button cmdUnlock{"cmdUnlock"};
    Frame frameSelfTest{"frameSelfTest"};
    Button CmdSelfTest{"CmdSelfTest"};
    PictureBox picLogo{"picLogo", 120, 60};
    Frame framePowerdown{"framePowerdown"};
    ScrollBar hscPowerdown{"hscPowerdown", 0, 255, 1, 8};
    TextBox txtPowerDown{"txtPowerDown"}, txtPwrMde{"txtPwrMde"};
    Button cmdPowerDown{"cmdPowerDown"};
    Label Label21{"Label21"};
    Frame frameSampleRate{"frameSampleRate"};
    Frame frameAvgCnt{"frameAvgCnt"};
    ScrollBar hscAvgCnt{"hscAvgCnt", 0, 8, 1, 1};
    TextBox txtAvgCnt{"txtAvgCnt"}, txtRollAvg{"txtRollAvg"}, txtAvgUpdateRate{"txtAvgUpdateRate"};
    Label Label19{"Label19"}, Label6{"Label6"};
    Frame frameSmplPrd{"frameSmplPrd"};
    ScrollBar hscSmplPrd{"hscSmplPrd", 1, 255, 1, 8};
    TextBox txtSmplPrd{"txtSmplPrd"}, txtSamplePeriod{"txtSamplePeriod"};
    Label Label5{"Label5"};
    Frame frameAuxDac{"frameAuxDac"};
    ScrollBar hscAuxDAC{"hscAuxDAC", 0, 4095, 1, 16};
    TextBox txtAuxDacIn{"txtAuxDacIn"}, txtAuxDacOut{"txtAuxDacOut"};
    Label Label1{"Label1"};
    Frame frameDataReg{"frameDataReg"};
    ControlArray<Label> lblReadReg;
    ControlArray<TextBox> txtReadReg;
    Button cmdReadData{"cmdReadData"};
    Label lblNewData{"lblNewData"}, lblNewDataFlag{"lblNewDataFlag"};
    Label lblErrorAlarm{"lblErrorAlarm"}, lblErrorAlarmFlag{"lblErrorAlarmFlag"};
    Frame frameLoopRun{"frameLoopRun"};
    Button CmdRdLoop{"CmdRdLoop"}, cmdStop{"cmdStop"};
    TextBox txtLoopDelay{"txtLoopDelay"};
    Label Label23{"Label23"};
    CheckBox chkDatalog{"chkDatalog"}, chkResetBeforeRead{"chkResetBeforeRead"};
    Label Label2{"Label2"};
    TextBox txtDlogFile{"txtDlogFile"}, txtFileIndex{"txtFileIndex"};
    Label Label3{"Label3"}, lblLoopCount{"lblLoopCount"};

    MenuItem mnuInterface{"mnuInterface"}, mnuPort{"mnuPort"}, mnuUSB{"mnuUSB"}, mnuSpi{"mnuSpi"};
    MenuItem MnuAlarms{"MnuAlarms"}, MnuCal{"MnuCal"}, MnuGpioMsc{"MnuGpioMsc"}, mnuRegister{"mnuRegister"};
    MenuItem MnuAbout{"MnuAbout"}, mnuHelp{"mnuHelp"}, MnuExit{"MnuExit"};
    // Beyond the original menus: the strip chart.
    MenuItem mnuView{"mnuView"}, mnuStripChart{"mnuStripChart"};
    // ... and the bus: record the session's requests to a file, export one as a waveform.
    MenuItem mnuDebug{"mnuDebug"}, mnuRecord{"mnuRecord"}, mnuStopRecording{"mnuStopRecording"};
    MenuItem mnuExportVcd{"mnuExportVcd"}, mnuCheckSetup{"mnuCheckSetup"};

    // The status flag labels in the order they are updated, with their bits.
    struct StatusRow {
        Label* row;
        Label* flag;
        std::int32_t mask;
    };
    const std::vector<StatusRow>& statusRows() const { return statusRows_; }

    // The data log of a running loop, open while a logging loop runs.
    DataLogFile& dataLog() { return log_; }

protected:
    void Form_Load() override;

private:
    void BuildControls();
    void SetFlag(Label& flag, bool alarm);
    // Lets pending events run; false once the program has ended.
    bool Pump();
    // The same inside the read loop, which may pass by a call right after events ran.
    bool LoopPump();
    // The USB adapter is selected but failed a request: nothing is read any more.
    bool AdapterLost() const;
    std::filesystem::path LogFileName() const;
    // The read loop's parts: the delay box taken, the log opened with its header, one pass
    // (false: the handler is to end at once), and a log that could not be written.
    void TakeLoopDelay();
    bool OpenLog(const std::filesystem::path& file);
    bool LoopPass(std::int32_t& passes, const std::filesystem::path& file);
    void LogFailed(const std::filesystem::path& file);
    // Hands a reading to the strip chart.
    void Chart(const std::array<float, 5>& values, bool fresh, bool error);
    // The Debug menu's entries as the recording stands.
    void ShowRecordingState();
    // A running recording's time and size in the status area: `now`, or when a second has
    // passed since they were shown.
    void ShowRecordingProgress(bool now = false);

    App& app_;
    std::vector<StatusRow> statusRows_;
    DataLogFile log_;
    std::string lastRecording_;  // the file the Debug menu recorded to last
    std::int64_t recordingShownNs_ = 0;  // when the recording's progress was shown last
    // The interface chosen before an SPI bus, which the settings file keeps.
    Interface interfaceBeforeSpi_ = Interface::None;
};

}  // namespace qvin::ui
