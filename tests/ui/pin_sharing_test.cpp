// The rules that keep the pins DIO0 and DIO1 from being claimed twice, row by row: which
// change is refused, which asks first, which passes, and that a refusal or a No writes
// nothing while a Yes writes only the function's own register.

#include <algorithm>
#include <cctype>

#include "window_fixture.h"

namespace qvin::ui::test {
namespace {

enum class Outcome { Pass, Question, Refused };

struct Row {
    const char* change;
    // The chip's pin set-up before the window opens.
    std::uint16_t gpio, alarm, misc;
    bool alarmWindow;
    const char* button;
    Outcome outcome;
    const char* text;
    // The register the change writes, and what it holds after it went through.
    std::uint8_t address;
    std::uint16_t after;
};

// Test names and failure output show the row by its description.
void PrintTo(const Row& r, std::ostream* os) { *os << r.change; }

constexpr std::uint8_t kGpio = sim::addr::Gpio_Ctrl, kAlm = sim::addr::Alm_Ctrl, kMsc = sim::addr::Msc_Ctrl;

const Row kRows[] = {
    // Direction to output: a general-purpose output takes only a free pin.
    {"DIO0 output, DIO0 free", 0, 0, 0, false, "CmdDir0", Outcome::Pass, "", kGpio, 0x0001},
    {"DIO0 output, alarm on DIO0", 0, 0x0004, 0, false, "CmdDir0", Outcome::Refused,
     "Dio0 is already in use by Alarms.. Please disable first", kGpio, 0},
    {"DIO0 output, data ready on DIO0", 0, 0, 0x0004, false, "CmdDir0", Outcome::Refused,
     "Dio0 is already in use by DataReady.. Please disable first", kGpio, 0},
    {"DIO0 output, data ready and alarm on DIO0", 0, 0x0004, 0x0004, false, "CmdDir0", Outcome::Refused,
     "Dio0 is already in use by DataReady.. Please disable first", kGpio, 0},
    {"DIO1 output, alarm on DIO1", 0, 0x0005, 0, false, "CmdDir1", Outcome::Refused, "Dio1 is already in use by alarms.. ",
     kGpio, 0},
    {"DIO1 output, data ready on DIO1", 0, 0, 0x0005, false, "CmdDir1", Outcome::Refused,
     "Dio1 is already in use by DataReady.. \r\nPlease disable DataReady first", kGpio, 0},
    {"DIO1 output, data ready on DIO0", 0, 0, 0x0004, false, "CmdDir1", Outcome::Pass, "", kGpio, 0x0002},
    // Data ready on: may override both other functions after a question.
    {"data ready on DIO0, DIO0 free", 0, 0, 0, false, "CmdDatRdy", Outcome::Pass, "", kMsc, 0x0004},
    {"data ready on DIO0, DIO0 an output", 0x0001, 0, 0, false, "CmdDatRdy", Outcome::Question,
     "Dio Pin is already in use by GPIO..\r\nOk to Override?", kMsc, 0x0004},
    {"data ready on DIO1, alarm on DIO1", 0, 0x0005, 0x0001, false, "CmdDatRdy", Outcome::Question,
     "Dio Pin is already in use by alarms..\r\nOk to Override?", kMsc, 0x0005},
    // Data-ready line, tested only while data ready is on.
    {"line to DIO1, DIO1 an output", 0x0002, 0, 0x0004, false, "CmdCtrlLn", Outcome::Question,
     "Dio1 Pin is already in use by GPIO..\r\nOk to Override?", kMsc, 0x0005},
    {"line to DIO1, alarm on DIO1", 0, 0x0005, 0x0004, false, "CmdCtrlLn", Outcome::Question,
     "Dio1 Pin is already in use by alarms..\r\nOk to Override?", kMsc, 0x0005},
    {"line to DIO0, DIO0 an output", 0x0001, 0, 0x0005, false, "CmdCtrlLn", Outcome::Question,
     "Dio0 Pin is already in use by GPIO..\r\nOk to Override?", kMsc, 0x0004},
    {"line to DIO0, alarm on DIO0", 0, 0x0004, 0x0005, false, "CmdCtrlLn", Outcome::Question,
     "Dio0 Pin is already in use by alarms..\r\nOk to Override?", kMsc, 0x0004},
    {"line to DIO1 while off, DIO1 an output", 0x0002, 0, 0, false, "CmdCtrlLn", Outcome::Pass, "", kMsc, 0x0001},
    // Alarm output on: may override a general-purpose output, never data ready.
    {"alarm on DIO0, DIO0 free", 0, 0, 0, true, "cmdAlarmOut", Outcome::Pass, "", kAlm, 0x0004},
    {"alarm on DIO0, DIO0 an output", 0x0001, 0, 0, true, "cmdAlarmOut", Outcome::Question,
     "Dio Pin is already in use by GPIO.. OK to override", kAlm, 0x0004},
    {"alarm on DIO1, data ready on DIO1", 0, 0x0001, 0x0005, true, "cmdAlarmOut", Outcome::Refused,
     "Dio pin is already in use by DataReady.. \r\nPlease disable DataReady first", kAlm, 0x0001},
    // Alarm output pin, tested only while the output is on.
    {"alarm pin to DIO1, DIO1 an output", 0x0002, 0x0004, 0, true, "cmdAlarmPin", Outcome::Question,
     "Dio1 Pin is already in use by GPIO..\r\nOk to Override?", kAlm, 0x0005},
    {"alarm pin to DIO1, data ready on DIO1", 0, 0x0004, 0x0005, true, "cmdAlarmPin", Outcome::Refused,
     "Dio1 pin is already in use by DataReady.. \r\nPlease disable DataReady first", kAlm, 0x0004},
    {"alarm pin to DIO0, DIO0 an output", 0x0001, 0x0005, 0, true, "cmdAlarmPin", Outcome::Question,
     "Dio0 Pin is already in use by GPIO..\r\nOk to Override?", kAlm, 0x0004},
    {"alarm pin to DIO0, data ready on DIO0", 0, 0x0005, 0x0004, true, "cmdAlarmPin", Outcome::Refused,
     "Dio0 pin is already in use by DataReady.. \r\nPlease disable DataReady first", kAlm, 0x0005},
    {"alarm pin to DIO1 while off, DIO1 an output", 0x0002, 0, 0, true, "cmdAlarmPin", Outcome::Pass, "", kAlm, 0x0001},
};

class PinSharing : public WindowTest, public ::testing::WithParamInterface<std::pair<Row, bool>> {
protected:
    // Opens the row's window on a chip set up as the row says and clicks its button.
    void Run(const Row& row, bool yes) {
        s.board.chip.SetWord(kGpio, row.gpio);
        s.board.chip.SetWord(kAlm, row.alarm);
        s.board.chip.SetWord(kMsc, row.misc);
        StartOnUsb();  // the main window's activation works out the pin usage
        Window& window = row.alarmWindow ? static_cast<Window&>(s.app->alarm) : s.app->gpio;
        window.BeginShow();
        window.ActivateNow();
        auto* button = dynamic_cast<Button*>(window.Find(row.button));
        ASSERT_NE(button, nullptr) << row.button;
        const std::string before = button->caption();
        if (row.outcome == Outcome::Refused) Expect(row.text);
        if (row.outcome == Outcome::Question) s.tk.AnswerNext(yes, row.text);
        const std::uint16_t held = s.board.chip.Word(row.address);
        Frames();
        s.tk.Do([&] { button->UserClick(); });
        const auto frames = Frames();
        const bool wrote = std::any_of(frames.begin(), frames.end(), [](std::uint16_t f) { return f & 0x8000; });
        if (row.outcome == Outcome::Refused || (row.outcome == Outcome::Question && !yes)) {
            EXPECT_FALSE(wrote) << "a refused or declined change wrote to the chip";
            EXPECT_EQ(s.board.chip.Word(row.address), held);
            EXPECT_EQ(button->caption(), before);
        } else {
            EXPECT_EQ(s.board.chip.Word(row.address), row.after);
            EXPECT_NE(button->caption(), before);
        }
        // Only the function's own register is written: an override leaves the other's bits.
        const std::pair<std::uint8_t, std::uint16_t> setup[] = {{kGpio, row.gpio}, {kAlm, row.alarm}, {kMsc, row.misc}};
        for (const auto& [other, value] : setup) {
            if (other != row.address) {
                EXPECT_EQ(s.board.chip.Word(other), value);
            }
        }
    }
};

TEST_P(PinSharing, RefusesAsksOrPasses) {
    const auto& [row, yes] = GetParam();
    SCOPED_TRACE(row.change);
    Run(row, yes);
}

std::vector<std::pair<Row, bool>> Cases() {
    std::vector<std::pair<Row, bool>> cases;
    for (const Row& r : kRows) {
        cases.push_back({r, true});
        if (r.outcome == Outcome::Question) cases.push_back({r, false});
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Rows, PinSharing, ::testing::ValuesIn(Cases()), [](const auto& info) {
    std::string name = info.param.first.change;
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name + (info.param.second ? "" : "_answered_No");
});

TEST_F(WindowTest, OverriddenPinReportsTheHigherRankingFunction) {
    // DIO1 an output, data ready enabled on DIO0: moving the line asks, and Yes leaves
    // the direction bit set while data ready now owns DIO1.
    s.board.chip.SetWord(kGpio, 0x0002);
    s.board.chip.SetWord(kMsc, 0x0004);
    StartOnUsb();
    frmGpioMisc& g = s.app->gpio;
    g.BeginShow();
    g.ActivateNow();
    s.tk.AnswerNext(true, "Dio1 Pin is already in use by GPIO..\r\nOk to Override?");
    Click(g.CmdCtrlLn);
    EXPECT_EQ(p().part.Dio1Use, 3);
    EXPECT_EQ(p().part.Dio0Use, 0);
    EXPECT_EQ(s.board.chip.Word(kGpio) & 2, 2);
    Click(g.CmdDir0);  // DIO0 is free again
    EXPECT_EQ(g.CmdDir0.caption(), "Output");
}

}  // namespace
}  // namespace qvin::ui::test
