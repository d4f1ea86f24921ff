#pragma once
// The About window: the program's version and what the connected part says about itself.
// It is made anew for every opening, so each opening reads the part again.

#include <string>

#include "ui/controls.h"
#include "ui/window.h"

namespace qvin::ui {

class App;

// The program's version as major.minor.revision.
std::string ProgramVersion();

class frmAbout : public Window {
public:
    explicit frmAbout(App& app);

    void cmdOK_Click() { Hide(); }

    PictureBox picIcon{"picIcon", 32, 32};
    Label lblTitle{"lblTitle"};
    Label Label0{"Label0"}, lblVersion{"lblVersion"};
    Label Label5{"Label5"}, lblProductType{"lblProductType"};
    Label Label1{"Label1"}, LblDutRev{"LblDutRev"};
    Label Label2{"Label2"}, LblDutDate{"LblDutDate"};
    Label Label4{"Label4"}, LblFlashWrites{"LblFlashWrites"};
    Label lblDisclaimer{"lblDisclaimer"};
    Button cmdOK{"cmdOK"};

protected:
    void Form_Load() override;

private:
    App& app_;
};

}  // namespace qvin::ui
