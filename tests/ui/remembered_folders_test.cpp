#include "ui/remembered_folders.h"

#include <gtest/gtest.h>

namespace qvin::ui {
namespace {

// A dialog opens where a file of its kind was chosen last; a kind never chosen opens where
// any file was chosen last; before any choice, and for a suggestion that names its own
// folder, the suggestion stands.
TEST(RememberedFolders, EachKindOpensWhereItWasLastChosen) {
    RememberedFolders f;
    const std::string png = "PNG pictures (*.png)", csv = "CSV files (*.csv)", logs = "Data logs (*.txt);;All files (*)";
    EXPECT_EQ(f.StartAt(png, "strip-chart.png"), "strip-chart.png");
    EXPECT_EQ(f.StartAt(logs, ""), "");

    f.Chosen(png, "/home/lab/pictures/tilt.png");
    EXPECT_EQ(f.StartAt(png, "strip-chart.png"), "/home/lab/pictures/strip-chart.png");
    EXPECT_EQ(f.StartAt(csv, "strip-chart.csv"), "/home/lab/pictures/strip-chart.csv");  // any kind's last folder

    f.Chosen(csv, "/data/runs/r1.csv");
    EXPECT_EQ(f.StartAt(png, "strip-chart.png"), "/home/lab/pictures/strip-chart.png");  // its own kind's folder stays
    EXPECT_EQ(f.StartAt(csv, "strip-chart.csv"), "/data/runs/strip-chart.csv");
    EXPECT_EQ(f.StartAt(logs, ""), "/data/runs");  // an open dialog with no name: the folder alone

    // A waveform offered beside its recording keeps its folder.
    EXPECT_EQ(f.StartAt("Value Change Dumps (*.vcd)", "/tmp/rec/session.vcd"), "/tmp/rec/session.vcd");
    // A choice without a folder changes nothing.
    f.Chosen(png, "bare.png");
    EXPECT_EQ(f.StartAt(png, "x.png"), "/home/lab/pictures/x.png");
}

}  // namespace
}  // namespace qvin::ui
