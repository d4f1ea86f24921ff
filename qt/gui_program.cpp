#include "qt/gui_program.h"

namespace qvin::qt {

GuiProgram::GuiProgram(Clock& clock, const std::string& boardName, ui::AppConfig config) {
    trace.OpenFromEnvironment();
    board = MakeBoard(boardName, clock, trace);
    if (!board) board = MakeBoard("hardware", clock, trace);
    p = std::make_unique<Program>(clock, board->port(), board->usb(), trace, tk);
    app = std::make_unique<ui::App>(*p, tk, std::move(config));
    mainView = std::make_unique<MainWindowView>(app->main);
    portView = new PortDialog(app->port, mainView.get());
    usbView = new UsbSelectDialog(app->usbSelect, mainView.get());
    tk.SetView(app->main, mainView.get());
    tk.SetView(app->port, portView);
    tk.SetView(app->usbSelect, usbView);
}

void GuiProgram::Start() { StartProgram(*p, app->config.settingsFile); }

}  // namespace qvin::qt
