#include "ui/app.h"

namespace qvin::ui {

App::App(Program& p, Toolkit& tk, AppConfig config)
    : p(p), tk(tk), config(std::move(config)), main(*this),
      port(*this),
      usbSelect(*this),
      usbDebug(*this),
      alarm(*this),
      cal(*this),
      gpio(*this),
      manualReg(*this) {}

void App::Run() { main.ShowModal(nullptr); }

void App::Start() {
    main.BeginShow();
    if (!ended) main.ActivateNow();
}


}  // namespace qvin::ui
