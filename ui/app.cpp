#include "ui/app.h"

namespace qvin::ui {

App::App(Program& p, Toolkit& tk, AppConfig config)
    : p(p), tk(tk), config(std::move(config)), main(*this),
      port(*this),
      usbSelect(*this),
      alarm(*this),
      cal(*this),
      gpio(*this),
      manualReg(*this) {}

void App::Run() { main.ShowModal(nullptr); }

void App::Start() {
    main.BeginShow();
    if (!ended) main.ActivateNow();
}

void App::NotAvailable(const std::string& window) {
    tk.Message("The " + window + " window is not available in this version yet.");
}

}  // namespace qvin::ui
