// The USB SPI bench: adapter rows, set-up, raw transfers, the loop, and what the user
// sees when the adapter fails under it.

#include <cctype>

#include "window_fixture.h"

namespace qvin::ui::test {
namespace {

class Bench : public WindowTest {
protected:
    // Started on the adapter, the bench shown as from the selection window's Debug button.
    void Open() {
        StartOnUsb();
        d().BeginShow();
        d().ActivateNow();
    }
    frmUSBdebug& d() { return s.app->usbDebug; }
    sim::AdapterFirmware& firmware() { return *s.board.usb.firmware(0); }
    void Type(TextBox& t, const std::string& text) { s.tk.Do([&] { t.UserType(text); }); }
    void Choose(OptionButton& o) { s.tk.Do([&] { o.UserClick(); }); }
};

TEST_F(Bench, FramesOpenOnlyOnceARowIsChosenHere) {
    Open();
    EXPECT_EQ(d().txtUsbPort(0).text(), "KAPPA - 0");
    EXPECT_EQ(d().txtUsbPort(1).text(), "None");
    EXPECT_EQ(d().txtDescript1(0).text(), "Simulated adapter, firmware 2.0, high speed");
    EXPECT_EQ(d().txtSpeed(0).text(), "2.0");
    EXPECT_TRUE(d().optUsbPort(0).value());  // the search selected the current adapter ...
    EXPECT_TRUE(d().optSpiChan(1).value());
    EXPECT_EQ(d().cmdPolarity.caption(), "Pos");

    // ... which pushes the program's set-up and shows what the adapter then holds.
    EXPECT_TRUE(d().cmdWriteSpi.Usable());
    EXPECT_EQ(firmware().staticBits(), 0x78);
    EXPECT_EQ(d().txtLoopDelay.text(), "25");
    for (int i = 2; i <= 5; ++i) EXPECT_EQ(d().chkStaticBits(i).value(), 1) << i;

    Choose(d().optUsbPort(4));
    EXPECT_FALSE(d().cmdWriteSpi.Usable());
    EXPECT_FALSE(d().cmdSetSpiBits.Usable());
    EXPECT_FALSE(p().UsbReady());
    EXPECT_TRUE(p().UsbLoopStop);
}

TEST_F(Bench, WordCountAndWordsAreLimitedAndShownBack) {
    Open();
    const std::pair<const char*, int> counts[] = {{"0", 1}, {"abc", 1}, {"40", 16}, {"300", 16}, {"-3", 1}, {"2.5", 2}};
    for (const auto& [typed, sent] : counts) {
        Type(d().txtNumWords, typed);
        Click(d().cmdWriteSpi);
        EXPECT_EQ(p().spi.SpiWordCount, sent) << typed;
        EXPECT_EQ(d().txtNumWords.text(), std::to_string(sent)) << typed;
    }
    // Two words: a read request and a word to clock the answer out; an empty box is 0.
    Type(d().txtNumWords, "2");
    Type(d().txtWriteSpi(1), "0x5600");
    Type(d().txtWriteSpi(2), "");
    Type(d().txtWriteSpi(3), "1234");
    Frames();
    Click(d().cmdWriteSpi);
    EXPECT_EQ(Frames(), (std::vector<std::uint16_t>{0x5600, 0x0000}));
    EXPECT_EQ(d().txtWriteSpi(1).text(), "5600");
    EXPECT_EQ(d().txtWriteSpi(2).text(), "0");
    EXPECT_EQ(d().txtWriteSpi(3).text(), "");  // beyond the count
    EXPECT_EQ(d().txtReadSpi(2).text(), "6AB7");  // product 27319
    EXPECT_EQ(d().txtReadSpi(3).text(), "");
    // Nothing is attached on channel 2: the data line floats high.
    Choose(d().optSpiChan(2));
    Click(d().cmdWriteSpi);
    EXPECT_EQ(d().txtReadSpi(1).text(), "FFFF");
    // Negative polarity samples inverted; the button sends nothing itself.
    Choose(d().optSpiChan(1));
    const auto handles = s.board.usb.openHandles();
    Click(d().cmdPolarity);
    EXPECT_EQ(d().cmdPolarity.caption(), "Neg");
    EXPECT_FALSE(p().spi.SpiDataPolarity);
    EXPECT_TRUE(Frames().empty());
    EXPECT_EQ(s.board.usb.openHandles(), handles);
    Type(d().txtNumWords, "1");
    Click(d().cmdWriteSpi);
    EXPECT_EQ(d().txtReadSpi(1).text(), "FFFF");  // Fls_Cyc (0), asked by the zero word before, inverted
    Click(d().cmdPolarity);
    EXPECT_TRUE(p().spi.SpiDataPolarity);
}

TEST_F(Bench, StaticBitsAndDelayRoundTrip) {
    Open();
    for (int i = 2; i <= 5; ++i)
        if (d().chkStaticBits(i).value() != (i == 3)) Click(d().chkStaticBits(i));
    Click(d().cmdSetSpiBits);
    EXPECT_EQ(firmware().staticBits(), 0x10);
    Click(d().cmdReadBits);
    for (int i = 2; i <= 5; ++i) EXPECT_EQ(d().chkStaticBits(i).value(), i == 3 ? 1 : 0) << i;

    const std::pair<const char*, const char*> delays[] = {{"0", "1"}, {"300", "255"}, {"12.5", "12"}, {"x", "1"}};
    for (const auto& [typed, sent] : delays) {
        Enter(d().txtLoopDelay, typed);
        EXPECT_EQ(d().txtLoopDelay.text(), sent) << typed;
        EXPECT_EQ(std::to_string(firmware().delay()), sent) << typed;
    }
    Type(d().txtLoopDelay, "77");
    Click(d().cmdReadDelay);
    EXPECT_EQ(d().txtLoopDelay.text(), "1");  // what the adapter holds
}

TEST_F(Bench, WithoutAnAdapterEachHandlerSaysSo) {
    Open();
    Choose(d().optUsbPort(4));
    d().frameSPIsetup.SetEnabled(true);  // as if the frames could be reached
    d().frameManual.SetEnabled(true);
    for (Button* b : {&d().cmdReadDelay, &d().cmdReadBits}) {
        Expect("Please Select a Buffer first");
        Click(*b);
        EXPECT_EQ(d().txtLoopDelay.text(), "25");
    }
    Expect("Please Select a Buffer first");
    Enter(d().txtLoopDelay, "99");
    EXPECT_EQ(d().txtLoopDelay.text(), "25");
    for (Button* b : {&d().cmdSetSpiBits, &d().cmdWriteSpi, &d().cmdLoop}) {
        d().frameManual.SetEnabled(true);
        d().frameSPIsetup.SetEnabled(true);
        Expect("Please Select a Buffer first");
        Click(*b);
        EXPECT_TRUE(d().optUsbPort(4).value());
        EXPECT_FALSE(d().frameManual.enabled());  // None was selected again
        EXPECT_EQ(d().cmdLoop.caption(), "Loop");
    }
}

TEST_F(Bench, LoopRunsUntilStopAndNeverNests) {
    Open();
    Type(d().txtWriteSpi(1), "5600");
    int passesSeen = 0;
    const std::int64_t start = s.clock.NowNs();
    // Loop pressed again while looping (it reads "Stop"): the loop ends, none nests.
    s.tk.Queue([&] {
        passesSeen = static_cast<int>(s.TakeFrames().size());
        EXPECT_EQ(d().cmdLoop.caption(), "Stop");
        EXPECT_TRUE(d().looping());
        d().cmdLoop.UserClick();
    }, start + 5'000'000);
    Click(d().cmdLoop);
    EXPECT_FALSE(d().looping());
    EXPECT_EQ(d().cmdLoop.caption(), "Loop");
    EXPECT_GT(passesSeen, 20);  // the adapter's time per transfer let 5 ms pass
    EXPECT_TRUE(p().UsbReady());
    EXPECT_EQ(d().txtReadSpi(1).text(), "6AB7");
}

TEST_F(Bench, NoneOrOkDuringTheLoopStopsIt) {
    Open();
    s.tk.Queue([&] { d().optUsbPort(4).UserClick(); }, s.clock.NowNs() + 2'000'000);
    Click(d().cmdLoop);
    EXPECT_FALSE(d().looping());
    EXPECT_FALSE(d().frameManual.enabled());

    Choose(d().optUsbPort(0));
    s.tk.Queue([&] { d().cmdExit.UserClick(); }, s.clock.NowNs() + 2'000'000);
    Click(d().cmdLoop);
    EXPECT_FALSE(d().looping());
    EXPECT_FALSE(d().visible());
}

struct AdapterFault {
    const char* rule;
    const char* message;  // the one message the user sees
};

void PrintTo(const AdapterFault& f, std::ostream* os) { *os << f.rule; }

class BenchFaults : public Bench, public ::testing::WithParamInterface<AdapterFault> {};

TEST_P(BenchFaults, OneMessageThenNoneSelectedAndTheLoopEnds) {
    Open();
    // The rules strike from the 10th event of their kind on, well into the loop.
    ASSERT_FALSE(s.board.faults.Add(GetParam().rule));
    Expect(GetParam().message);
    const std::int64_t start = s.clock.NowNs();
    s.tk.Queue([&] { ADD_FAILURE() << "the loop did not end by itself"; d().cmdLoop.UserClick(); }, start + 60'000'000'000);
    Click(d().cmdLoop);
    EXPECT_FALSE(d().looping());
    EXPECT_TRUE(d().optUsbPort(4).value());
    EXPECT_FALSE(p().UsbReady());
    EXPECT_EQ(d().cmdLoop.caption(), "Loop");
    // Nothing waited longer than one request's time limit.
    EXPECT_LT(s.clock.NowNs() - start, sim::kRequestTimeLimitNs + 50'000'000);
}

INSTANTIATE_TEST_SUITE_P(Kinds, BenchFaults,
                         ::testing::Values(AdapterFault{"send-fail@10+", "Error Writing SPI"},
                                           AdapterFault{"receive-fail@10", "Error Reading SPI"},
                                           AdapterFault{"short-reply@10", "Error Reading SPI"},
                                           AdapterFault{"timeout@9", "Error Writing SPI"},
                                           AdapterFault{"timeout@10", "Error Reading SPI"},
                                           AdapterFault{"unplug@20", "Error Writing SPI"}),
                         [](const auto& info) {
                             std::string name = info.param.rule;
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });

}  // namespace
}  // namespace qvin::ui::test
