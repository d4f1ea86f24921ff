#pragma once
// The windowed program on the simulated board, driven like a user would: start it with a
// settings file, click, type, press Enter, answer, and check what the windows show and
// what the chip saw. Every message box must be expected; anything unexpected fails.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "ui/headless/sim_session.h"

namespace qvin::ui::test {

class WindowTest : public ::testing::Test {
protected:
    WindowTest() : s(Folder()) {}
    ~WindowTest() override { std::filesystem::remove_all(s.folder); }

    static std::filesystem::path Folder() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string("qvin-ui-") + info->test_suite_name() + "-" + info->name();
        std::replace(name.begin(), name.end(), '/', '_');  // parameterised tests
        return std::filesystem::temp_directory_path() / name;
    }

    void TearDown() override {
        for (const std::string& f : s.tk.failures) ADD_FAILURE() << f;
        for (const std::string& f : s.tk.TakeUnmet()) ADD_FAILURE() << f;
    }

    // Starts with these settings (on Linux, unless told otherwise).
    void Start(Settings settings, SystemFacts system = LinuxSystemFacts()) {
        s.WriteSettings(settings);
        s.Start(system);
    }
    void StartOnUsb() { Start({Interface::UsbAdapter, 0, 0}); }
    void StartOnPort() { Start({Interface::ParallelPort, 0x378, 0}); }

    frmQvin27319& w() { return s.app->main; }
    frmPort& port() { return s.app->port; }
    frmUSBselect& usb() { return s.app->usbSelect; }
    Program& p() { return s.p; }

    void Click(Button& b) { s.tk.Do([&] { b.UserClick(); }); }
    void Click(MenuItem& m) { s.tk.Do([&] { m.UserClick(); }); }
    void Click(CheckBox& c) { s.tk.Do([&] { c.UserClick(); }); }
    void Enter(TextBox& t, const std::string& text) {
        s.tk.Do([&] {
            t.UserType(text);
            t.UserKeyDown(kKeyEnter, 0);
        });
    }
    void Move(ScrollBar& b, int v) { s.tk.Do([&] { b.UserMove(v); }); }
    void Expect(const std::string& message, const std::string& title = {}) { s.tk.ExpectMessage(message, title); }
    std::vector<std::uint16_t> Frames() { return s.TakeFrames(); }
    // The supply as shown: the simulated one ripples a few millivolts around 3.3 V.
    static void ExpectSupplyShown(const TextBox& t) {
        ASSERT_EQ(t.text().size(), 5u) << t.text();  // three decimals
        EXPECT_NEAR(std::stod(t.text()), 3.3, 0.01) << t.text();
    }

    SimSession s;
};

}  // namespace qvin::ui::test
