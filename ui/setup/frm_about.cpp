#include "ui/setup/frm_about.h"

#include "core/number_text.h"
#include "device/part_info.h"
#include "ui/app.h"

namespace qvin::ui {

std::string ProgramVersion() {
    return FormatInt(QVIN_VERSION_MAJOR) + "." + FormatInt(QVIN_VERSION_MINOR) + "." + FormatInt(QVIN_VERSION_PATCH);
}

frmAbout::frmAbout(App& app) : Window(app.tk, "frmAbout", "About"), app_(app) {
    lblTitle.SetCaption("VELMARK EVALUATION SOFTWARE");
    Label0.SetCaption("Software Version");
    Label5.SetCaption("Product Version");
    Label1.SetCaption("Product Revision");
    Label2.SetCaption("Product Date");
    Label4.SetCaption("Flash Cycles");
    // Designer placeholders, replaced when the window loads.
    lblVersion.SetCaption("##.##.##");
    lblProductType.SetCaption("##.##");
    LblDutRev.SetCaption("##.##");
    LblDutDate.SetCaption("9/15/2005");
    LblFlashWrites.SetCaption("##,###");
    lblDisclaimer.SetCaption(
        "This program is provided to evaluate the QVIN27319 on its evaluation board. It is supplied "
        "as is, without warranty of any kind; check every setting against the data sheet before "
        "using it in a design.");
    cmdOK.SetCaption("OK");
    cmdOK.onClick = [this] { cmdOK_Click(); };
    Register({&picIcon, &lblTitle, &Label0, &lblVersion, &Label5, &lblProductType, &Label1, &LblDutRev, &Label2,
              &LblDutDate, &Label4, &LblFlashWrites, &lblDisclaimer, &cmdOK});
}

void frmAbout::Form_Load() {
    Program& p = app_.p;
    left = app_.main.left;
    top = app_.main.top;
    SetCaption(std::string("About ") + kAppTitle);
    lblVersion.SetCaption(ProgramVersion());
    ReadPartInfo(p);
    LblDutRev.SetCaption(FormatFixed(p.part.PartRevision, 1));
    lblProductType.SetCaption(p.part.PartName);
    LblDutDate.SetCaption(FormatInt(p.part.PartMonth) + "/" + FormatInt(p.part.PartDay) + "/" + FormatInt(p.part.PartYear));
    LblFlashWrites.SetCaption(FormatInt(p.part.FlashCycles));
}

}  // namespace qvin::ui
