#pragma once
// "Parallel Port Setup": the parallel port's base address in hexadecimal. OK selects
// the parallel port and, once per run, prepares access to it.

#include "ui/controls.h"
#include "ui/window.h"

namespace qvin::ui {

class App;

class frmPort : public Window {
public:
    explicit frmPort(App& app);

    void cmdOK_Click();
    void cmdCancel_Click() { Hide(); }

    Label Label1{"Label1"};
    TextBox txtUser{"txtUser"};
    Button cmdOK{"cmdOK"}, cmdCancel{"cmdCancel"};

protected:
    void Form_Load() override;
    void Form_Activate() override;

private:
    App& app_;
};

}  // namespace qvin::ui
