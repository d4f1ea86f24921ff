#include "ui/setup/frm_alarm.h"

#include <algorithm>

#include "core/number_text.h"
#include "device/register_access.h"
#include "ui/app.h"

namespace qvin::ui {

namespace {

constexpr const char* kEntries[] = {"Disabled", "PS", "Aux Adc", "Temp", "Incl_360", "Incl_180"};
constexpr const char* kTempNote = "Note: Compare sign is reversed for temperature";
constexpr float kWaitMs = 150.0f;
constexpr std::int32_t kCompareBit = 0x8000;

// Where a source's scale (and offset) come from.
std::int16_t SourceRegister(int source) {
    switch (source) {
        case alarm_source::PS: return reg::Supply_Out;
        case alarm_source::AuxAdc: return reg::Aux_ADC;
        case alarm_source::Temp: return reg::Temp_Out;
        case alarm_source::Incl360: return reg::Incl_Out;
        case alarm_source::Incl180: return reg::Incl_180_Out;
        default: return 0;
    }
}

// The text put into the list and the units shown, by source code.
struct SourceText {
    const char* list;
    const char* units;
};
std::optional<SourceText> SourceTexts(int source) {
    switch (source) {
        case alarm_source::Disabled: return SourceText{"Disabled", ""};
        case alarm_source::PS: return SourceText{"PS", "V"};
        case alarm_source::AuxAdc: return SourceText{"Aux ADC", "V"};
        case alarm_source::Temp: return SourceText{"Temp", "DegC"};
        case alarm_source::Incl360: return SourceText{"Incl_360", "Deg"};
        case alarm_source::Incl180: return SourceText{"Incl_180", "Deg"};
        default: return std::nullopt;  // codes 2 and 3 have no entry
    }
}

int SourceFromText(const std::string& text) {
    if (text == "PS") return alarm_source::PS;
    if (text == "Aux Adc") return alarm_source::AuxAdc;
    if (text == "Temp") return alarm_source::Temp;
    if (text == "Incl_360") return alarm_source::Incl360;
    if (text == "Incl_180") return alarm_source::Incl180;
    return alarm_source::Disabled;
}

// Nearest integer (halves to even) of a quotient, limited to lo..hi however large it is.
int RoundLimited(double x, int lo, int hi) {
    return static_cast<int>(std::clamp<std::int64_t>(RoundHalfEven(std::clamp(x, -1e12, 1e12)), lo, hi));
}

}  // namespace

float AlarmThresholdShown(const RegisterMap& map, int source, std::int32_t code) {
    const std::int16_t r = SourceRegister(source);
    if (r == 0) return 0.0f;
    const double scale = map[r].RegScale, offset = map[r].RegOffset;
    double n = code;
    if (source == alarm_source::Incl180 && code > 8191) n -= 16384;
    return static_cast<float>(n * scale + offset);
}

std::optional<int> AlarmThresholdCode(const RegisterMap& map, int source, float typed) {
    const std::int16_t r = SourceRegister(source);
    if (r == 0) return std::nullopt;
    const float scale = map[r].RegScale, offset = map[r].RegOffset;
    // The quotient is a single-precision number, as the typed value and the scale are.
    const float q = (typed - offset) / scale;
    if (source == alarm_source::Incl180) {
        // A negative angle is stored 16384 up. Tested on the rounded code, not on the typed
        // value, so that a small negative value that rounds to 0 stays 0 instead of
        // wrapping to the top of the range.
        int code = RoundLimited(q, -100000, 100000);
        if (code < 0) code += 16384;
        return std::clamp(code, 0, 16383);
    }
    return RoundLimited(q, 0, source == alarm_source::Incl360 ? 16383 : 4095);
}

FrmAlarm::FrmAlarm(App& app)
    : Window(app.tk, "FrmAlarm", "Alarms"),
      app_(app),
      a1_{AlmMag1Val, AlmSmp1Val, Alm1Source, reg::Alm_Mag1, reg::Alm_Smp1, 8, cmboA1S, LblAlm1Mag, lblTempNote1,
          hscAlarm1thresh, txtAlarmThreshold1, txtAlarm1Thresh, cmdAlarm1GT, hscAlarm1sp, txtAlarm1sp},
      a2_{AlmMag2Val, AlmSmp2Val, Alm2Source, reg::Alm_Mag2, reg::Alm_Smp2, 12, cmboA2S, LblAlm2Mag, lblTempNote2,
          hscAlarm2thresh, txtAlarmThreshold2, txtAlarm2Thresh, cmdAlarm2GT, hscAlarm2sp, txtAlarm2sp} {
    auto label = [](Label& l, const char* caption, Frame& in, const char* tip = nullptr) {
        l.SetCaption(caption);
        l.PlaceIn(in);
        if (tip) l.SetToolTip(tip);
    };
    auto button = [](Button& b, const char* caption, Frame& in) {
        b.SetCaption(caption);
        b.PlaceIn(in);
    };
    auto frame = [](Frame& f, const char* caption, const char* tip, Frame* in = nullptr) {
        f.SetCaption(caption);
        if (tip) f.SetToolTip(tip);
        if (in) f.PlaceIn(*in);
    };

    frame(FrmAlmCtrl1, "ALARM 1 Setup", nullptr);
    frame(FrmAlmCtrl2, "ALARM 2 Setup", nullptr);
    frame(FrmAlmOutCtrl, "Alarm Output", "Alarm Output GPIO Pin");
    ComOK.SetCaption("OK");

    struct Texts {
        Frame& outer;
        Label &source, &mode, &data;
        const char* sourceTip;
        Button &modeButton, &dataButton;
        Frame& mag;
        const char *magCaption, *magTip;
        Label& threshold;
        Frame& smpl;
        const char* smplCaption;
        Label& samplePeriod;
    };
    for (const Texts& t : {Texts{FrmAlmCtrl1, Label1, Label2, Label12, "Alarm 1 Source", cmdAlarm1mode, cmdDataA1,
                                 frameAlm1mag, "ALM_MAG1", "Alarm 1 Threshold Value", Label3, frameAlm1smpl, "ALM_SMPL1", Label4},
                           Texts{FrmAlmCtrl2, Label9, Label10, Label13, "Alarm2 Data Source", cmdAlarm2mode, cmdDataA2,
                                 frameAlm2mag, "ALM_MAG2", "Alarm 2 Threshold Value", Label8, frameAlm2Smpl, "ALM_SMPL2", Label11}}) {
        label(t.source, "Source", t.outer, t.sourceTip);
        label(t.mode, "Mode", t.outer, "Set Alarm Mode Fixed/Rate Change");
        label(t.data, "Data", t.outer, "Alarm Data Filter On/Off");
        button(t.modeButton, "Fixed Thresh", t.outer);
        button(t.dataButton, "Unfiltered", t.outer);
        frame(t.mag, t.magCaption, t.magTip, &t.outer);
        label(t.threshold, "Threshold", t.mag);
        frame(t.smpl, t.smplCaption, "Alarm Sample Period for Rate Change Mode", &t.outer);
        label(t.samplePeriod, "Sample Period", t.smpl);
    }
    for (Alarm* a : {&a1_, &a2_}) {
        Frame& mag = a == &a1_ ? frameAlm1mag : frameAlm2mag;
        Frame& smpl = a == &a1_ ? frameAlm1smpl : frameAlm2Smpl;
        a->list.SetText("Disabled");
        a->list.PlaceIn(a == &a1_ ? FrmAlmCtrl1 : FrmAlmCtrl2);
        for (Control* c : std::initializer_list<Control*>{&a->thresh, &a->code, &a->compare, &a->value, &a->units, &a->tempNote})
            c->PlaceIn(mag);
        a->compare.SetCaption("<");
        a->value.SetText("0");
        a->units.SetCaption("Units");
        a->tempNote.SetCaption(kTempNote);
        a->sp.PlaceIn(smpl);
        a->spText.PlaceIn(smpl);
        a->spText.SetText("0");
    }
    label(Label5, "State", FrmAlmOutCtrl);
    label(Label6, "Polarity", FrmAlmOutCtrl);
    label(Label7, "Pin Select", FrmAlmOutCtrl);
    button(cmdAlarmOut, "Disabled", FrmAlmOutCtrl);
    button(cmdAlarmPolarity, "Active Low", FrmAlmOutCtrl);
    button(cmdAlarmPin, "DIO0", FrmAlmOutCtrl);

    cmboA1S.onClick = [this] { cmboA1S_Click(); };
    cmboA2S.onClick = [this] { cmboA2S_Click(); };
    cmdAlarm1GT.onClick = [this] { cmdAlarm1GT_Click(); };
    cmdAlarm2GT.onClick = [this] { cmdAlarm2GT_Click(); };
    cmdAlarm1mode.onClick = [this] { cmdAlarm1mode_Click(); };
    cmdAlarm2mode.onClick = [this] { cmdAlarm2mode_Click(); };
    cmdDataA1.onClick = [this] { cmdDataA1_Click(); };
    cmdDataA2.onClick = [this] { cmdDataA2_Click(); };
    cmdAlarmPolarity.onClick = [this] { cmdAlarmPolarity_Click(); };
    cmdAlarmOut.onClick = [this] { cmdAlarmOut_Click(); };
    cmdAlarmPin.onClick = [this] { cmdAlarmPin_Click(); };
    hscAlarm1thresh.onChange = [this] { hscAlarm1thresh_Change(); };
    hscAlarm2thresh.onChange = [this] { hscAlarm2thresh_Change(); };
    hscAlarm1sp.onChange = [this] { hscAlarm1sp_Change(); };
    hscAlarm2sp.onChange = [this] { hscAlarm2sp_Change(); };
    txtAlarm1Thresh.onKeyDown = [this](int k, int s) { txtAlarm1Thresh_KeyDown(k, s); };
    txtAlarm2Thresh.onKeyDown = [this](int k, int s) { txtAlarm2Thresh_KeyDown(k, s); };
    ComOK.onClick = [this] { ComOK_Click(); };

    Register({&FrmAlmCtrl1, &FrmAlmCtrl2, &FrmAlmOutCtrl, &ComOK, &Label1, &Label2, &Label12, &cmboA1S, &cmdAlarm1mode,
              &cmdDataA1, &frameAlm1mag, &Label3, &hscAlarm1thresh, &txtAlarmThreshold1, &cmdAlarm1GT, &txtAlarm1Thresh,
              &LblAlm1Mag, &lblTempNote1, &frameAlm1smpl, &Label4, &hscAlarm1sp, &txtAlarm1sp, &Label9, &Label10,
              &Label13, &cmboA2S, &cmdAlarm2mode, &cmdDataA2, &frameAlm2mag, &Label8, &hscAlarm2thresh,
              &txtAlarmThreshold2, &cmdAlarm2GT, &txtAlarm2Thresh, &LblAlm2Mag, &lblTempNote2, &frameAlm2Smpl,
              &Label11, &hscAlarm2sp, &txtAlarm2sp, &Label5, &Label6, &Label7, &cmdAlarmOut, &cmdAlarmPolarity,
              &cmdAlarmPin});
}

void FrmAlarm::Form_Load() {
    left = app_.main.left;
    top = app_.main.top;
    for (ComboBox* list : {&cmboA1S, &cmboA2S})
        for (const char* entry : kEntries) list->AddItem(entry);
}

// ---- Showing what the chip holds ----

void FrmAlarm::ReadAlarmSetup() {
    Program& p = app_.p;
    std::int32_t& ctrl = p.part.AlmCtrlVal;
    ReadReg(p, reg::Alm_Mag1);
    AlmMag1Val = p.reg.RegData;
    ReadReg(p, reg::Alm_Mag2);
    AlmMag2Val = p.reg.RegData;
    ReadReg(p, reg::Alm_Smp1);
    AlmSmp1Val = p.reg.RegData;
    ReadReg(p, reg::Alm_Smp2);
    AlmSmp2Val = p.reg.RegData;
    ReadReg(p, reg::Alm_Ctrl);
    ctrl = p.reg.RegData;

    cmdAlarm1GT.SetCaption(AlmMag1Val & kCompareBit ? ">" : "<");
    cmdAlarm2GT.SetCaption(AlmMag2Val & kCompareBit ? ">" : "<");
    cmdAlarm2mode.SetCaption(ctrl & 0x8000 ? "Rate of Change" : "Fixed Thresh");
    cmdDataA1.SetCaption(ctrl & 0x0010 ? "Filtered" : "Unfiltered");
    cmdDataA2.SetCaption(ctrl & 0x0020 ? "Filtered" : "Unfiltered");
    cmdAlarm1mode.SetCaption(ctrl & 0x0800 ? "Rate of Change" : "Fixed Thresh");
    Alm1Source = (ctrl >> 8) & 7;
    Alm2Source = (ctrl >> 12) & 7;
    SetupSourceDisplay();

    // A moved bar runs its change step, which writes the threshold back with bit 14 clear.
    hscAlarm1thresh.SetValue(AlmMag1Val & 0x3FFF);
    hscAlarm2thresh.SetValue(AlmMag2Val & 0x3FFF);

    cmdAlarmOut.SetCaption(ctrl & 0x0004 ? "Enabled" : "Disabled");
    cmdAlarmPolarity.SetCaption(ctrl & 0x0002 ? "Active High" : "Active Low");
    cmdAlarmPin.SetCaption(ctrl & 0x0001 ? "DIO-1" : "DIO-0");

    for (Alarm* a : {&a1_, &a2_}) {
        a->spText.SetText(FormatInt(a->smpVal));
        a->sp.SetValue(a->smpVal);
    }
}

void FrmAlarm::ShowSource(Alarm& a) {
    if (const auto texts = SourceTexts(a.source)) {
        a.list.SetText(texts->list);
        a.units.SetCaption(texts->units);
    }
}

void FrmAlarm::SetupSourceDisplay() {
    ShowSource(a1_);
    ShowSource(a2_);
    SetupThresholdDisplay();
}

void FrmAlarm::ShowThreshold(Alarm& a) {
    const std::int32_t code = a.magVal & 0x3FFF;
    // The scale is negative: a larger code is a lower temperature.
    a.tempNote.SetVisible(a.source == alarm_source::Temp);
    a.value.SetText(FormatFixed(AlarmThresholdShown(app_.p.map, a.source, code), 3));
}

void FrmAlarm::SetupThresholdDisplay() {
    txtAlarmThreshold1.SetText(FormatInt(AlmMag1Val & 0x3FFF));
    txtAlarmThreshold2.SetText(FormatInt(AlmMag2Val & 0x3FFF));
    ShowThreshold(a1_);
    ShowThreshold(a2_);
}

// ---- Changes ----

void FrmAlarm::WriteAndRefresh(std::int16_t index, std::int32_t value) {
    WriteReg(app_.p, index, value);
    app_.p.Delay(kWaitMs);
    ReadAlarmSetup();
}

void FrmAlarm::WriteControl(std::int32_t bit, bool set) {
    std::int32_t& ctrl = app_.p.part.AlmCtrlVal;
    ctrl = set ? (ctrl | bit) : (ctrl & ~bit);
    WriteAndRefresh(reg::Alm_Ctrl, ctrl);
}

void FrmAlarm::SourceClick(Alarm& a) {
    a.source = SourceFromText(a.list.text());
    SetupSourceDisplay();
    std::int32_t& ctrl = app_.p.part.AlmCtrlVal;
    ctrl = (ctrl & ~(7 << a.sourceShift)) | (a.source << a.sourceShift);
    WriteAndRefresh(reg::Alm_Ctrl, ctrl);
}

void FrmAlarm::CompareClick(Alarm& a) {
    a.magVal = a.compare.caption() == "<" ? (a.magVal | kCompareBit) : (a.magVal & ~kCompareBit);
    WriteAndRefresh(a.magReg, a.magVal);
}

void FrmAlarm::cmdAlarm1mode_Click() { WriteControl(0x0800, cmdAlarm1mode.caption() == "Fixed Thresh"); }
void FrmAlarm::cmdAlarm2mode_Click() { WriteControl(0x8000, cmdAlarm2mode.caption() == "Fixed Thresh"); }
void FrmAlarm::cmdDataA1_Click() { WriteControl(0x0010, cmdDataA1.caption() != "Filtered"); }
void FrmAlarm::cmdDataA2_Click() { WriteControl(0x0020, cmdDataA2.caption() != "Filtered"); }
void FrmAlarm::cmdAlarmPolarity_Click() { WriteControl(0x0002, cmdAlarmPolarity.caption() == "Active Low"); }

void FrmAlarm::cmdAlarmOut_Click() {
    Toolkit& tk = app_.tk;
    const bool on = cmdAlarmOut.caption() == "Disabled";
    if (on) {
        const PartState& part = app_.p.part;
        const std::int16_t use = cmdAlarmPin.caption() == "DIO-0" ? part.Dio0Use : part.Dio1Use;
        if (use == 3) {
            tk.Message("Dio pin is already in use by DataReady.. \r\nPlease disable DataReady first");
            return;
        }
        if (use == 1 && !tk.Question("Dio Pin is already in use by GPIO.. OK to override")) return;
    }
    WriteControl(0x0004, on);
}

void FrmAlarm::cmdAlarmPin_Click() {
    Toolkit& tk = app_.tk;
    const bool toDio0 = cmdAlarmPin.caption() != "DIO-0";
    if (cmdAlarmOut.caption() == "Enabled") {
        const PartState& part = app_.p.part;
        const std::int16_t use = toDio0 ? part.Dio0Use : part.Dio1Use;
        const std::string pin = toDio0 ? "Dio0" : "Dio1";
        if (use == 1 && !tk.Question(pin + " Pin is already in use by GPIO..\r\nOk to Override?")) return;
        if (use == 3) {
            tk.Message(pin + " pin is already in use by DataReady.. \r\nPlease disable DataReady first");
            return;
        }
    }
    WriteControl(0x0001, !toDio0);
}

void FrmAlarm::ThresholdChange(Alarm& a) {
    // Bit 15 (the comparison) and up stay; bits 0 to 14 take the position, which clears 14.
    a.magVal = (a.magVal & ~0x7FFF) | a.thresh.value();
    SetupThresholdDisplay();
    WriteReg(app_.p, a.magReg, a.magVal);
    app_.p.Delay(kWaitMs);
}

void FrmAlarm::SamplePeriodChange(Alarm& a) {
    a.smpVal = a.sp.value();
    a.spText.SetText(FormatInt(a.smpVal));
    WriteReg(app_.p, a.smpReg, a.smpVal);
    app_.p.Delay(kWaitMs);
}

void FrmAlarm::ThresholdKeyDown(Alarm& a, int keyCode, int) {
    if (keyCode != kKeyEnter || a.value.text().empty()) return;
    const auto typed = static_cast<float>(LeadingNumber(a.value.text()));
    const std::optional<int> code = AlarmThresholdCode(app_.p.map, a.source, typed);
    if (!code) return;
    // Writes and redraws through the bar's change step, only when the code changes.
    a.thresh.SetValue(*code);
}

}  // namespace qvin::ui
