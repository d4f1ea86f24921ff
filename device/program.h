#pragma once
// One run of the program: its program-wide variables and the services they act on.
// Built by the front end, started by StartProgram and passed by reference everywhere;
// two programs can live in one process (each test builds its own).

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "core/clock.h"
#include "core/delay.h"
#include "core/messages.h"
#include "core/settings.h"
#include "core/trace.h"
#include "device/register_map.h"
#include "platform/port/port_io.h"
#include "platform/spi/spi_bus.h"
#include "platform/usb/usb_driver.h"

namespace qvin {

// Outcome of the last ReadReg.
struct RegisterResult {
    std::int32_t RegData = 0;      // masked, sign-extended count
    float RegValue = 0.0f;         // RegData * scale + offset
    std::int32_t NewDataFlag = 0;  // 0 or 0x8000
    std::int32_t ErrorFlag = 0;    // 0 or 0x4000
    std::int32_t RegRaw = 0;       // the word as it came off the wire, for diagnostics
};

// The USB adapter's SPI set-up and the words of the last transfer (entries 1 to 16).
struct SpiState {
    bool SpiDataPolarity = true;     // true "Pos" (command 13), false "Neg" (command 14)
    std::uint8_t SpiChannel = 1;     // chip-select channel 1 to 5
    std::uint8_t SpiStaticBits = 120;
    std::uint8_t SpiDelay = 25;
    std::uint8_t SpiWordCount = 0;
    std::array<std::int32_t, 17> SpiWriteWords{};
    std::array<std::int32_t, 17> SpiReadWords{};
};

struct UsbBoardInfo {
    std::string DeviceName;        // "Ezusb-0" to "Ezusb-3"
    std::uint8_t BoardNumber = 0;
    bool Present = false;
    std::string BoardType;         // "KAPPA" or "RHO"
    std::string Descriptor1;
    std::string Descriptor2;
    float FirmwareRev = 0.0f;
    std::string UsbSpeed;          // "1.1" full speed, "2" high speed
};

struct UsbState {
    std::array<UsbBoardInfo, 4> UsbBoards{};
    UsbBoardInfo CurrentBoard;     // CurrentBoard.Present is UsbReady
    std::int16_t UsbBoardNum = -1;
    std::int16_t UsbBoardCount = 0;
    // Why adapters that are there could not be opened in the last search ("Ezusb-0: no
    // permission ..."), or why USB cannot be used at all.
    std::vector<std::string> OpenFailures;
};

// Facts about the connected part and its pins.
struct PartState {
    std::string PartName;
    std::int32_t FlashCycles = 0;
    float PartRevision = 0.0f;
    std::int32_t PartDay = 0, PartMonth = 0, PartYear = 0;
    bool ReverseRotation = false;
    std::int32_t GpioCtrlVal = 0, AlmCtrlVal = 0, MscCtrlVal = 0;
    std::int16_t Dio0Use = 0, Dio1Use = 0;
    std::int32_t RollAvgCount = 0;
};

struct Program {
    Program(Clock& clock, PortIo& port, UsbDriver& usbDriver, Trace& trace, MessageService& messages)
        : clock(clock), port(port), usbDriver(usbDriver), trace(trace), messages(messages), timer(clock) {}
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    // Services.
    Clock& clock;
    PortIo& port;
    UsbDriver& usbDriver;
    Trace& trace;
    MessageService& messages;
    SpiBus* spiBus = nullptr;  // the SPI controller's device, where the board has one
    std::string spiDevice;     // the one chosen ("/dev/spidev0.0")
    DelayTimer timer;  // DelayCount, DelayCalibrated

    // Program-wide variables.
    Settings settings;  // InterfaceType, PortAddress, FactoryMode
    bool UsbLoopStop = true;
    bool GiveIoInstalled = false;
    // The last preparation of the parallel port failed: nothing is read from it (its
    // readings would be what a port that is not there shows) until one succeeds.
    bool PortPrepareFailed = false;
    bool ResetBeforeRead = false;
    SpiState spi;
    RegisterMap map;
    std::int16_t SelectedRegister = 0;
    RegisterResult reg;
    UsbState usb;
    PartState part;

    bool UsbReady() const { return usb.CurrentBoard.Present; }
    void SetUsbReady(bool ready) { usb.CurrentBoard.Present = ready; }
    void Delay(float t) { timer.Delay(t); }
};

// The start values of the program-wide variables that do not start at zero.
void SetStartValues(Program& p);

// The start sequence: calibrate the delay loop, start values, settings file, register
// map. The front end shows its main window afterwards.
void StartProgram(Program& p, const std::filesystem::path& settingsFile = kSettingsFileName);

}  // namespace qvin
