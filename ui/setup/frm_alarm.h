#pragma once
// "Alarms": the chip's two alarms (source, fixed-threshold or rate-of-change mode,
// filtered or unfiltered data, threshold and comparison, sample period) and the alarm
// output pin. Every change is written at once; after each button or list action the five
// alarm registers are read back and shown.

#include <cstdint>
#include <optional>
#include <vector>

#include "device/register_map.h"
#include "ui/controls.h"
#include "ui/window.h"

namespace qvin::ui {

class App;

// Alarm source codes as bits 8-10 (alarm 1) and 12-14 (alarm 2) of Alm_Ctrl hold them.
namespace alarm_source {
inline constexpr int Disabled = 0, PS = 1, AuxAdc = 4, Temp = 5, Incl360 = 6, Incl180 = 7;
}

// The threshold a code stands for with a source, in the source's units (0 for a source
// without a conversion).
float AlarmThresholdShown(const RegisterMap& map, int source, std::int32_t code);
// The code for a typed threshold, limited to the source's range; nothing for a source
// without a conversion.
std::optional<int> AlarmThresholdCode(const RegisterMap& map, int source, float typed);

class FrmAlarm : public Window {
public:
    explicit FrmAlarm(App& app);

    // Public methods.
    void ReadAlarmSetup();
    void SetupSourceDisplay();
    void SetupThresholdDisplay();

    // Handlers.
    void cmboA1S_Click() { SourceClick(a1_); }
    void cmboA2S_Click() { SourceClick(a2_); }
    void cmdAlarm1GT_Click() { CompareClick(a1_); }
    void cmdAlarm2GT_Click() { CompareClick(a2_); }
    void cmdAlarm1mode_Click();
    void cmdAlarm2mode_Click();
    void cmdDataA1_Click();
    void cmdDataA2_Click();
    void cmdAlarmPolarity_Click();
    void cmdAlarmOut_Click();
    void cmdAlarmPin_Click();
    void hscAlarm1thresh_Change() { ThresholdChange(a1_); }
    void hscAlarm2thresh_Change() { ThresholdChange(a2_); }
    void hscAlarm1sp_Change() { SamplePeriodChange(a1_); }
    void hscAlarm2sp_Change() { SamplePeriodChange(a2_); }
    void txtAlarm1Thresh_KeyDown(int keyCode, int shift) { ThresholdKeyDown(a1_, keyCode, shift); }
    void txtAlarm2Thresh_KeyDown(int keyCode, int shift) { ThresholdKeyDown(a2_, keyCode, shift); }
    void ComOK_Click() { Hide(); }

    // Module-level variables: the last value read from, or about to be written to, each
    // register (Alm_Ctrl's lives with the pin usage, which shares it).
    std::int32_t AlmMag1Val = 0, AlmMag2Val = 0, AlmSmp1Val = 0, AlmSmp2Val = 0;
    std::int32_t Alm1Source = 0, Alm2Source = 0;

    // Controls.
    Frame FrmAlmCtrl1{"FrmAlmCtrl1"}, FrmAlmCtrl2{"FrmAlmCtrl2"}, FrmAlmOutCtrl{"FrmAlmOutCtrl"};
    Button ComOK{"ComOK"};

    Label Label1{"Label1"}, Label2{"Label2"}, Label12{"Label12"};
    ComboBox cmboA1S{"cmboA1S"};
    Button cmdAlarm1mode{"cmdAlarm1mode"}, cmdDataA1{"cmdDataA1"};
    Frame frameAlm1mag{"frameAlm1mag"};
    Label Label3{"Label3"};
    ScrollBar hscAlarm1thresh{"hscAlarm1thresh", 0, 16383, 1, 64};
    TextBox txtAlarmThreshold1{"txtAlarmThreshold1"};
    Button cmdAlarm1GT{"cmdAlarm1GT"};
    TextBox txtAlarm1Thresh{"txtAlarm1Thresh"};
    Label LblAlm1Mag{"LblAlm1Mag"}, lblTempNote1{"lblTempNote1"};
    Frame frameAlm1smpl{"frameAlm1smpl"};
    Label Label4{"Label4"};
    ScrollBar hscAlarm1sp{"hscAlarm1sp", 0, 255, 1, 8};
    TextBox txtAlarm1sp{"txtAlarm1sp"};

    Label Label9{"Label9"}, Label10{"Label10"}, Label13{"Label13"};
    ComboBox cmboA2S{"cmboA2S"};
    Button cmdAlarm2mode{"cmdAlarm2mode"}, cmdDataA2{"cmdDataA2"};
    Frame frameAlm2mag{"frameAlm2mag"};
    Label Label8{"Label8"};
    ScrollBar hscAlarm2thresh{"hscAlarm2thresh", 0, 16383, 1, 32};
    TextBox txtAlarmThreshold2{"txtAlarmThreshold2"};
    Button cmdAlarm2GT{"cmdAlarm2GT"};
    TextBox txtAlarm2Thresh{"txtAlarm2Thresh"};
    Label LblAlm2Mag{"LblAlm2Mag"}, lblTempNote2{"lblTempNote2"};
    Frame frameAlm2Smpl{"frameAlm2Smpl"};
    Label Label11{"Label11"};
    ScrollBar hscAlarm2sp{"hscAlarm2sp", 0, 255, 1, 8};
    TextBox txtAlarm2sp{"txtAlarm2sp"};

    Label Label5{"Label5"}, Label6{"Label6"}, Label7{"Label7"};
    Button cmdAlarmOut{"cmdAlarmOut"}, cmdAlarmPolarity{"cmdAlarmPolarity"}, cmdAlarmPin{"cmdAlarmPin"};

protected:
    void Form_Load() override;
    void Form_Activate() override { ReadAlarmSetup(); }

private:
    // What one alarm's handlers work on; the two alarms differ only in these.
    struct Alarm {
        std::int32_t& magVal;
        std::int32_t& smpVal;
        std::int32_t& source;
        std::int16_t magReg, smpReg;
        int sourceShift;  // where the source code sits in Alm_Ctrl
        ComboBox& list;
        Label& units;
        Label& tempNote;
        ScrollBar& thresh;
        TextBox& code;
        TextBox& value;
        Button& compare;
        ScrollBar& sp;
        TextBox& spText;
    };
    void SourceClick(Alarm& a);
    void CompareClick(Alarm& a);
    void ThresholdChange(Alarm& a);
    void SamplePeriodChange(Alarm& a);
    void ThresholdKeyDown(Alarm& a, int keyCode, int shift);
    void ShowSource(Alarm& a);
    void ShowThreshold(Alarm& a);
    // Sets or clears `bit` of Alm_Ctrl, writes it, waits and shows the registers again.
    void WriteControl(std::int32_t bit, bool set);
    void WriteAndRefresh(std::int16_t index, std::int32_t value);

    App& app_;
    Alarm a1_, a2_;
};

}  // namespace qvin::ui
