#include "ui/interface/frm_usb_debug.h"

#include <algorithm>

#include "core/hex_text.h"
#include "core/number_text.h"
#include "device/usb_adapter.h"
#include "device/usb_spi.h"
#include "ui/app.h"

namespace qvin::ui {

namespace {
std::string Index(const char* name, int i) { return std::string(name) + "(" + std::to_string(i) + ")"; }

// The whole number nearest to the text's leading number, limited to lo..hi however large.
int Limited(const std::string& text, int lo, int hi) {
    const double v = std::clamp(LeadingNumber(text), -1e12, 1e12);
    return static_cast<int>(std::clamp<std::int64_t>(RoundHalfEven(v), lo, hi));
}
}  // namespace

frmUSBdebug::frmUSBdebug(App& app) : Window(app.tk, "frmUSBdebug", "USB SPI Card Setup"), app_(app) {
    frameBufferSetup.SetCaption("Buffer Select");
    const std::pair<Label*, const char*> headings[] = {
        {&Label2, "Device"}, {&Label3, "Descriptor0"}, {&Label4, "Descriptor1"}, {&Label6, "Rev"}, {&Label7, "Speed"}};
    for (const auto& [l, caption] : headings) {
        l->SetCaption(caption);
        l->PlaceIn(frameBufferSetup);
    }
    for (int b = 0; b <= 4; ++b) {
        OptionButton& o = optUsbPort.Add(b, Index("optUsbPort", b));
        o.SetCaption(b < 4 ? "EzUsb" + std::to_string(b) : "None");
        o.PlaceIn(frameBufferSetup);
        o.JoinGroup(&boards_);
        o.onClick = [this, b] { optUsbPort_Click(b); };
        boards_.push_back(&o);
        if (b == 4) break;
        const std::pair<ControlArray<TextBox>*, const char*> columns[] = {{&txtUsbPort, "txtUsbPort"},
                                                                          {&txtDescript0, "txtDescript0"},
                                                                          {&txtDescript1, "txtDescript1"},
                                                                          {&txtDriverRev, "txtDriverRev"},
                                                                          {&txtSpeed, "txtSpeed"}};
        for (const auto& [column, name] : columns) column->Add(b, Index(name, b)).PlaceIn(frameBufferSetup);
    }
    cmdFindEzUsb.SetCaption("Search");

    frameSPIsetup.SetCaption("SPI Setup");
    frameSpiStatic.SetCaption("Static Bits");
    frameSpiStatic.PlaceIn(frameSPIsetup);
    for (int i = 2; i <= 5; ++i) {
        CheckBox& c = chkStaticBits.Add(i, Index("chkStaticBits", i));
        c.SetCaption("CS" + std::to_string(i));
        c.PlaceIn(frameSpiStatic);
    }
    cmdReadBits.SetCaption("Read");
    cmdSetSpiBits.SetCaption("Set Bits");
    cmdReadBits.PlaceIn(frameSpiStatic);
    cmdSetSpiBits.PlaceIn(frameSpiStatic);
    frameSpiChan.SetCaption("Csel Channel");
    frameSpiChan.PlaceIn(frameSPIsetup);
    for (int i = 1; i <= 4; ++i) {
        OptionButton& o = optSpiChan.Add(i, Index("optSpiChan", i));
        o.SetCaption("Chan" + std::to_string(i));
        o.PlaceIn(frameSpiChan);
        o.JoinGroup(&channels_);
        o.onClick = [this, i] { optSpiChan_Click(i); };
        channels_.push_back(&o);
    }
    Label5.SetCaption("Delay between words (uS)");
    txtLoopDelay.SetText("10");
    cmdReadDelay.SetCaption("Read");
    Label8.SetCaption("Data Input Polarity");
    cmdPolarity.SetCaption("Pos");
    for (Control* c : std::initializer_list<Control*>{&Label5, &txtLoopDelay, &cmdReadDelay, &Label8, &cmdPolarity})
        c->PlaceIn(frameSpiChan);

    frameManual.SetCaption("Manual Setup");
    lblNumWords.SetCaption("# Words to Write");
    txtNumWords.SetText("1");
    Label1.SetCaption("Write (hex)");
    lblRead.SetCaption("Readback");
    for (Control* c : std::initializer_list<Control*>{&lblNumWords, &txtNumWords, &Label1, &lblRead, &cmdWriteSpi, &cmdLoop})
        c->PlaceIn(frameManual);
    for (int i = 1; i <= 16; ++i) {
        TextBox& w = txtWriteSpi.Add(i, Index("txtWriteSpi", i));
        w.SetText("0");
        w.PlaceIn(frameManual);
        txtReadSpi.Add(i, Index("txtReadSpi", i)).PlaceIn(frameManual);
    }
    cmdWriteSpi.SetCaption("Write");
    cmdLoop.SetCaption("Loop");
    cmdExit.SetCaption("OK");
    // Nothing can be sent before an adapter row is chosen here.
    frameSPIsetup.SetEnabled(false);
    frameManual.SetEnabled(false);

    cmdFindEzUsb.onClick = [this] { cmdFindEzUsb_Click(); };
    cmdPolarity.onClick = [this] { cmdPolarity_Click(); };
    txtLoopDelay.onKeyDown = [this](int k, int s) { txtLoopDelay_KeyDown(k, s); };
    cmdReadDelay.onClick = [this] { cmdReadDelay_Click(); };
    cmdReadBits.onClick = [this] { cmdReadBits_Click(); };
    cmdSetSpiBits.onClick = [this] { cmdSetSpiBits_Click(); };
    cmdWriteSpi.onClick = [this] { cmdWriteSpi_Click(); };
    cmdLoop.onClick = [this] { cmdLoop_Click(); };
    cmdExit.onClick = [this] { cmdExit_Click(); };

    Register({&frameBufferSetup, &Label2, &Label3, &Label4, &Label6, &Label7, &cmdFindEzUsb, &frameSPIsetup,
              &frameSpiStatic, &cmdReadBits, &cmdSetSpiBits, &frameSpiChan, &Label5, &txtLoopDelay, &cmdReadDelay,
              &Label8, &cmdPolarity, &frameManual, &lblNumWords, &txtNumWords, &Label1, &lblRead, &cmdWriteSpi,
              &cmdLoop, &cmdExit});
    for (const auto* array : {&optUsbPort, &optSpiChan}) Register(*array);
    for (const auto* array : {&txtUsbPort, &txtDescript0, &txtDescript1, &txtDriverRev, &txtSpeed, &txtWriteSpi, &txtReadSpi})
        Register(*array);
    Register(chkStaticBits);
}

void frmUSBdebug::Form_Load() {
    left = app_.main.left;
    top = app_.main.top;
}

void frmUSBdebug::Form_Activate() {
    cmdFindEzUsb_Click();
    const std::uint8_t channel = app_.p.spi.SpiChannel;
    if (channel >= 1 && channel <= 4) optSpiChan(channel).Select();
    cmdPolarity.SetCaption(app_.p.spi.SpiDataPolarity ? "Pos" : "Neg");
}

void frmUSBdebug::NoAdapter(bool selectNone) {
    app_.tk.Message("Please Select a Buffer first");
    if (!selectNone) return;
    optUsbPort(4).Select();
    app_.p.UsbLoopStop = true;
}

void frmUSBdebug::ShowDelay() { txtLoopDelay.SetText(FormatInt(app_.p.spi.SpiDelay)); }

void frmUSBdebug::ShowReadWords() {
    const SpiState& spi = app_.p.spi;
    for (int i = 1; i <= spi.SpiWordCount; ++i) txtReadSpi(i).SetText(FormatHex(spi.SpiReadWords[static_cast<std::size_t>(i)]));
}

// ---- Adapters ----

void frmUSBdebug::cmdFindEzUsb_Click() {
    Program& p = app_.p;
    for (int b = 0; b <= 3; ++b) {
        txtUsbPort(b).SetText("None");
        optUsbPort(b).SetEnabled(false);
        for (auto* column : {&txtDescript0, &txtDescript1, &txtDriverRev, &txtSpeed}) (*column)(b).SetText("");
    }
    FindUsbBoards(p);
    for (int b = 0; b <= 3; ++b) {
        const UsbBoardInfo& board = p.usb.UsbBoards[static_cast<std::size_t>(b)];
        if (!board.Present) continue;
        // The number after the kind is the device number, as in Ezusb-N.
        txtUsbPort(b).SetText(board.BoardType + " - " + FormatInt(b));
        optUsbPort(b).SetEnabled(true);
        if (b == p.usb.UsbBoardNum) optUsbPort(b).Select();
        txtDescript0(b).SetText(board.Descriptor1);
        txtDescript1(b).SetText(board.Descriptor2);
        txtDriverRev(b).SetText(FormatFixed(board.FirmwareRev, 1));
        txtSpeed(b).SetText(FormatFixed(LeadingNumber(board.UsbSpeed), 1));
    }
    if (p.usb.UsbBoardNum == -1) optUsbPort(4).Select();
}

void frmUSBdebug::optUsbPort_Click(int index) {
    Program& p = app_.p;
    if (index < 0 || index > 3) {
        frameSPIsetup.SetEnabled(false);
        frameManual.SetEnabled(false);
        p.SetUsbReady(false);
        p.UsbLoopStop = true;
        return;
    }
    p.usb.CurrentBoard = p.usb.UsbBoards[static_cast<std::size_t>(index)];
    frameSPIsetup.SetEnabled(true);
    frameManual.SetEnabled(true);
    optSpiChan_Click(p.spi.SpiChannel);
    UsbSpiSetBits(p, p.spi.SpiStaticBits);
    std::uint8_t delay = p.spi.SpiDelay;
    UsbSpiSetup(p, delay);
    // Both read-backs run even when the adapter failed just now: each then says that no
    // adapter is selected, and the frames stay open for another try.
    cmdReadDelay_Click();
    cmdReadBits_Click();
}

// ---- SPI set-up ----

void frmUSBdebug::optSpiChan_Click(int index) { app_.p.spi.SpiChannel = static_cast<std::uint8_t>(index); }

void frmUSBdebug::cmdPolarity_Click() {
    // Sent with the next transfer, not now.
    const bool positive = cmdPolarity.caption() != "Pos";
    cmdPolarity.SetCaption(positive ? "Pos" : "Neg");
    app_.p.spi.SpiDataPolarity = positive;
}

void frmUSBdebug::txtLoopDelay_KeyDown(int keyCode, int) {
    if (keyCode != kKeyEnter) return;
    Program& p = app_.p;
    if (!p.UsbReady()) {
        NoAdapter(false);
    } else {
        // Text that is no number gives 0, which the limit raises to 1.
        std::uint8_t delay = static_cast<std::uint8_t>(Limited(txtLoopDelay.text(), 1, 255));
        UsbSpiSetup(p, delay);
    }
    ShowDelay();
}

void frmUSBdebug::cmdReadDelay_Click() {
    if (app_.p.UsbReady()) UsbSpiReadSetup(app_.p);
    else NoAdapter(false);
    ShowDelay();
}

void frmUSBdebug::cmdReadBits_Click() {
    Program& p = app_.p;
    if (!p.UsbReady()) {
        NoAdapter(false);
        ShowDelay();
        return;
    }
    for (int i = 2; i <= 5; ++i) chkStaticBits(i).SetValue(0);
    UsbSpiReadSetup(p);
    for (int i = 2; i <= 5; ++i) chkStaticBits(i).SetValue((p.spi.SpiStaticBits >> (i + 1)) & 1);
}

void frmUSBdebug::cmdSetSpiBits_Click() {
    Program& p = app_.p;
    if (!p.UsbReady()) return NoAdapter(true);
    std::uint8_t bits = 0;
    for (int i = 2; i <= 5; ++i)
        if (chkStaticBits(i).value()) bits = static_cast<std::uint8_t>(bits | (1 << (i + 1)));
    UsbSpiSetBits(p, bits);
    if (!p.UsbReady()) optUsbPort(4).Select();
}

// ---- Transfers ----

void frmUSBdebug::cmdWriteSpi_Click() {
    Program& p = app_.p;
    if (!p.UsbReady()) return NoAdapter(true);
    SpiState& spi = p.spi;
    if (!txtNumWords.text().empty()) spi.SpiWordCount = static_cast<std::uint8_t>(Limited(txtNumWords.text(), 0, 255));
    spi.SpiWordCount = std::clamp<std::uint8_t>(spi.SpiWordCount, 1, 16);
    txtNumWords.SetText(FormatInt(spi.SpiWordCount));
    for (int i = 1; i <= 16; ++i) {
        TextBox& box = txtWriteSpi(i);
        if (i <= spi.SpiWordCount) {
            const std::int32_t word = box.text().empty() ? 0 : HexToInt(box.text());
            spi.SpiWriteWords[static_cast<std::size_t>(i)] = word;
            box.SetText(FormatHex(word));
        } else {
            box.SetText("");
        }
        txtReadSpi(i).SetText("");
    }
    UsbSpiTransfer(p, spi.SpiWordCount);
    if (!p.UsbReady()) optUsbPort(4).Select();
    ShowReadWords();
}

void frmUSBdebug::cmdLoop_Click() {
    Program& p = app_.p;
    // While a loop runs the button reads "Stop": a press stops it instead of nesting one.
    if (cmdLoop.caption() == "Loop" && !looping_) {
        cmdLoop.SetCaption("Stop");
        p.UsbLoopStop = false;
        looping_ = true;
        cmdWriteSpi_Click();
        while (!p.UsbLoopStop) {
            UsbSpiTransfer(p, p.spi.SpiWordCount);
            if (!p.UsbReady()) {
                p.UsbLoopStop = true;
                optUsbPort(4).Select();
                cmdLoop.SetCaption("Loop");
            }
            ShowReadWords();
            app_.tk.DoEvents();
            if (app_.ended) p.UsbLoopStop = true;
        }
        looping_ = false;
    } else {
        p.UsbLoopStop = true;
    }
    cmdLoop.SetCaption("Loop");
}

void frmUSBdebug::cmdExit_Click() {
    if (looping_) app_.p.UsbLoopStop = true;
    Hide();
}

}  // namespace qvin::ui
