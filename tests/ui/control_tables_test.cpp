// Every control of every window against its table in tests/windows: name, kind, caption or
// first text and tool tip as the window shows them when it is made. After a deliberate
// change, QVIN_WRITE_CONTROL_TABLES=1 writes the tables anew from the windows (then read
// the diff before committing it).

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>

#include "support/control_table.h"
#include "ui/app.h"
#include "ui/headless/sim_session.h"

namespace qvin::ui::test {
namespace {

using qvin::test::ControlRow;

class ControlTables : public ::testing::Test {
protected:
    ControlTables() : s(std::filesystem::temp_directory_path() / "qvin-control-tables") {
        AppConfig config;
        config.programFolder = s.folder;
        config.dataFolder = s.folder;
        app = std::make_unique<App>(s.p, s.tk, config);
        about = std::make_unique<frmAbout>(*app);
    }
    ~ControlTables() override { std::filesystem::remove_all(s.folder); }

    std::map<std::string, Window*> Windows() {
        return {{"frmQvin27319", &app->main}, {"frmPort", &app->port},       {"frmUSBselect", &app->usbSelect},
                {"frmUSBdebug", &app->usbDebug}, {"FrmAlarm", &app->alarm}, {"FrmCalReg", &app->cal},
                {"frmGpioMisc", &app->gpio},   {"frmManualReg", &app->manualReg}, {"frmStripChart", &app->chart},
                {"frmAnalysis", &app->analysis},
                {"frmAbout", about.get()}};
    }

    SimSession s;
    std::unique_ptr<App> app;
    std::unique_ptr<frmAbout> about;
};

TEST_F(ControlTables, EveryWindowShowsItsTable) {
    const bool write = std::getenv("QVIN_WRITE_CONTROL_TABLES") != nullptr;
    for (const auto& [name, window] : Windows()) {
        const std::vector<ControlRow> shown = qvin::test::RowsOf(*window);
        if (write) {
            qvin::test::WriteTable(name, shown);
            continue;
        }
        std::map<std::string, ControlRow> want;
        for (const ControlRow& r : qvin::test::ReadTable(name)) want[r.name] = r;
        for (const ControlRow& r : shown) {
            const auto it = want.find(r.name);
            if (it == want.end()) {
                ADD_FAILURE() << name << "." << r.name << " is in no row of the table";
                continue;
            }
            EXPECT_EQ(r.kind, it->second.kind) << name << "." << r.name;
            EXPECT_EQ(r.text, it->second.text) << name << "." << r.name;
            EXPECT_EQ(r.toolTip, it->second.toolTip) << name << "." << r.name;
            want.erase(it);
        }
        for (const auto& [control, row] : want) ADD_FAILURE() << name << "." << control << " is in the table but not in the window";
    }
}

}  // namespace
}  // namespace qvin::ui::test
