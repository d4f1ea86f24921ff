#include "device/program.h"

namespace qvin {

void SetStartValues(Program& p) {
    p.UsbLoopStop = true;
    p.GiveIoInstalled = false;
    p.PortPrepareFailed = false;
    p.spi.SpiDataPolarity = true;
    p.spi.SpiChannel = 1;
    p.spi.SpiStaticBits = 120;
    p.spi.SpiDelay = 25;
    p.settings.FactoryMode = 0;
    p.settings.InterfaceType = Interface::None;
    p.ResetBeforeRead = false;
}

void StartProgram(Program& p, const std::filesystem::path& settingsFile) {
    p.timer.DelayCalibrated = false;
    p.timer.CalibrateDelay();
    SetStartValues(p);
    ReadConfig(p.settings, settingsFile);
    InitRegisterTable(p.map);
    p.SelectedRegister = 0;
}

}  // namespace qvin
