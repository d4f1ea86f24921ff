#pragma once
// "USB SPI Card Setup": a bench for the USB adapter itself. Pick an adapter, set its SPI
// parameters (channel, delay between words, data polarity, static chip-select bits), send
// up to 16 raw words and see the words clocked back, once or in a loop that yields to the
// window once per pass.

#include <cstdint>
#include <vector>

#include "ui/controls.h"
#include "ui/window.h"

namespace qvin::ui {

class App;

class frmUSBdebug : public Window {
public:
    explicit frmUSBdebug(App& app);

    void cmdFindEzUsb_Click();
    void optUsbPort_Click(int index);
    void optSpiChan_Click(int index);
    void cmdPolarity_Click();
    void txtLoopDelay_KeyDown(int keyCode, int shift);
    void cmdReadDelay_Click();
    void cmdReadBits_Click();
    void cmdSetSpiBits_Click();
    void cmdWriteSpi_Click();
    void cmdLoop_Click();
    // A running loop is stopped first: it would keep the adapter busy with nothing shown.
    void cmdExit_Click();
    void UserClose() override { cmdExit_Click(); }

    bool looping() const { return looping_; }

    Frame frameBufferSetup{"frameBufferSetup"};
    Label Label2{"Label2"}, Label3{"Label3"}, Label4{"Label4"}, Label6{"Label6"}, Label7{"Label7"};
    ControlArray<OptionButton> optUsbPort;
    ControlArray<TextBox> txtUsbPort, txtDescript0, txtDescript1, txtDriverRev, txtSpeed;
    Button cmdFindEzUsb{"cmdFindEzUsb"};

    Frame frameSPIsetup{"frameSPIsetup"};
    Frame frameSpiStatic{"frameSpiStatic"};
    ControlArray<CheckBox> chkStaticBits;  // 2 to 5: CS2 to CS5
    Button cmdReadBits{"cmdReadBits"}, cmdSetSpiBits{"cmdSetSpiBits"};
    Frame frameSpiChan{"frameSpiChan"};
    ControlArray<OptionButton> optSpiChan;  // 1 to 4
    Label Label5{"Label5"};
    TextBox txtLoopDelay{"txtLoopDelay"};
    Button cmdReadDelay{"cmdReadDelay"};
    Label Label8{"Label8"};
    Button cmdPolarity{"cmdPolarity"};

    Frame frameManual{"frameManual"};
    Label lblNumWords{"lblNumWords"};
    TextBox txtNumWords{"txtNumWords"};
    Label Label1{"Label1"}, lblRead{"lblRead"};
    ControlArray<TextBox> txtWriteSpi, txtReadSpi;  // 1 to 16
    Button cmdWriteSpi{"cmdWriteSpi"}, cmdLoop{"cmdLoop"}, cmdExit{"cmdExit"};

protected:
    void Form_Load() override;
    void Form_Activate() override;

private:
    // "Please Select a Buffer first"; with `selectNone` also the None row and a stop.
    void NoAdapter(bool selectNone);
    void ShowDelay();
    void ShowReadWords();

    App& app_;
    std::vector<OptionButton*> boards_, channels_;
    bool looping_ = false;
};

}  // namespace qvin::ui
