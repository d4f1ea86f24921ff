#include "ui/setup/frm_manual_reg.h"

#include "core/hex_text.h"
#include "core/number_text.h"
#include "device/part_info.h"
#include "device/register_access.h"
#include "device/user_register_table.h"
#include "ui/app.h"

namespace qvin::ui {

namespace {
constexpr int kNormalListEnd = reg::Command, kFactoryListEnd = reg::Test_Cnfg;
}  // namespace

frmManualReg::frmManualReg(App& app) : Window(app.tk, "frmManualReg", "Register Information"), app_(app) {
    frameUserReg.SetCaption("User Registers (Hex Values)");
    frameUserReg.SetToolTip("Display/Print register values");
    cmdReadUserReg.SetCaption("Read");
    txtUserReg.multiLine = true;
    cmdPrint.SetCaption("Print");
    cmdUnlock.SetCaption("Unlock");
    for (Control* c : std::initializer_list<Control*>{&cmdReadUserReg, &txtUserReg, &cmdPrint, &cmdUnlock})
        c->PlaceIn(frameUserReg);
    cmdUpdateFlash.SetCaption("Update Flash");
    cmdUpdateFlash.SetToolTip("Save register setting to Flash memory");
    frameRegister.SetCaption("Register Read/Write");
    frameRegister.SetToolTip("Manual set register (Factory Only)");
    cmboRegister.AddItem("None");
    cmboRegister.SetText("None");
    lblRegAddr.SetCaption("Base Addr (Hex)");
    lblRegByte.SetCaption("Num Bytes");
    lblRegRead.SetCaption("Read Flag");
    lblRegWrite.SetCaption("Write Flag");
    cmdRead.SetCaption("Read (Hex)");
    cmdWrite.SetCaption("Write (Hex)");
    for (Control* c : std::initializer_list<Control*>{&cmboRegister, &lblRegAddr, &txtRegAddr, &lblRegByte, &txtRegByte,
                                                      &lblRegRead, &txtRegRead, &lblRegWrite, &txtRegWrite, &cmdRead,
                                                      &txtRead, &cmdWrite, &txtDataWrite})
        c->PlaceIn(frameRegister);
    // No register is chosen yet: nothing to read or write.
    cmdRead.SetEnabled(false);
    cmdWrite.SetEnabled(false);
    cmdOK.SetCaption("OK");

    cmdReadUserReg.onClick = [this] { cmdReadUserReg_Click(); };
    cmdPrint.onClick = [this] { cmdPrint_Click(); };
    cmdUnlock.onClick = [this] { cmdUnlock_Click(); };
    cmdUpdateFlash.onClick = [this] { cmdUpdateFlash_Click(); };
    cmboRegister.onClick = [this] { cmboRegister_Click(); };
    cmdRead.onClick = [this] { cmdRead_Click(); };
    cmdWrite.onClick = [this] { cmdWrite_Click(); };
    cmdOK.onClick = [this] { cmdOK_Click(); };

    Register({&frameUserReg, &cmdReadUserReg, &txtUserReg, &cmdPrint, &cmdUnlock, &cmdUpdateFlash, &frameRegister,
              &cmboRegister, &lblRegAddr, &lblRegByte, &lblRegRead, &lblRegWrite, &txtRegAddr, &txtRegByte, &txtRegRead,
              &txtRegWrite, &cmdRead, &txtRead, &cmdWrite, &txtDataWrite, &cmdOK});
}

void frmManualReg::Form_Load() {
    left = app_.main.left;
    top = app_.main.top;
}

void frmManualReg::Form_Activate() {
    Program& p = app_.p;
    const bool factory = p.settings.FactoryMode == 3;
    const int last = factory ? kFactoryListEnd : kNormalListEnd;
    cmboRegister.Clear();
    cmboRegister.AddItem("None");
    for (int i = 1; i <= last; ++i) cmboRegister.AddItem(p.map[i].RegName);
    cmdUnlock.SetVisible(factory);
    // The list, the attribute boxes and the buttons always agree on the register: the
    // main window clears the selection when it is activated, and a factory register
    // drops out of the list when the factory level is lowered.
    if (p.SelectedRegister < 0 || p.SelectedRegister > last) p.SelectedRegister = 0;
    cmboRegister.SetListIndex(p.SelectedRegister);
    ShowSelected();
}

void frmManualReg::cmdReadUserReg_Click() { txtUserReg.SetText(ReadUserRegisterTable(app_.p)); }

void frmManualReg::cmdPrint_Click() { app_.tk.PrintWindow(*this); }

void frmManualReg::cmdUnlock_Click() { WriteReg(app_.p, reg::KeyCode, kFactoryKey); }

void frmManualReg::cmdUpdateFlash_Click() {
    WriteReg(app_.p, reg::Command, 8);
    app_.p.Delay(250.0f);  // the part programs its flash meanwhile
}

void frmManualReg::cmboRegister_Click() {
    app_.p.SelectedRegister = static_cast<std::int16_t>(cmboRegister.listIndex());
    ShowSelected();
}

void frmManualReg::ShowSelected() {
    Program& p = app_.p;
    const std::int16_t index = p.SelectedRegister;
    if (!RegisterMap::Valid(index)) {
        for (TextBox* t : {&txtRegAddr, &txtRegByte, &txtRegRead, &txtRegWrite}) t->SetText("");
        cmdWrite.SetEnabled(false);
        cmdRead.SetEnabled(false);
        return;
    }
    const RegisterInfo& r = p.map[index];
    txtRegAddr.SetText(FormatHex(r.RegAddr));
    txtRegByte.SetText(FormatInt(r.RegBytes));
    txtRegRead.SetText(r.RegReadable ? "True" : "False");
    txtRegWrite.SetText(r.RegWritable ? "True" : "False");
    cmdWrite.SetEnabled(r.RegWritable);
    cmdRead.SetEnabled(r.RegReadable);
}

void frmManualReg::cmdRead_Click() {
    Program& p = app_.p;
    if (!RegisterMap::Valid(p.SelectedRegister) || !p.map[p.SelectedRegister].RegReadable) return;
    txtRead.SetText("");
    ReadReg(p, p.SelectedRegister);
    txtRead.SetText(FormatHex(p.reg.RegData));
}

void frmManualReg::cmdWrite_Click() {
    WriteReg(app_.p, app_.p.SelectedRegister, HexToInt(txtDataWrite.text()));
}

}  // namespace qvin::ui
