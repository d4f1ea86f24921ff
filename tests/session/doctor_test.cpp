// The first-contact diagnosis on places made for it: ports the kernel lists with and without
// their device nodes, the udev rule found or not, the settings file read as written, and an
// adapter that cannot be had named with its fix.

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "session/doctor.h"
#include "support/sim_session.h"

namespace qvin::session {
namespace {

namespace fs = std::filesystem;

struct Doctor : ::testing::Test {
    Doctor() : root(fs::temp_directory_path() / ("qvin-doctor-" + std::to_string(::getpid()))) {
        fs::remove_all(root);
        for (const char* d : {"proc", "sys", "dev", "rules"}) fs::create_directories(root / d);
        places.procParport = root / "proc";
        places.sysModule = root / "sys";
        places.dev = root / "dev";
        places.udevRules = {root / "rules"};
    }
    ~Doctor() override { fs::remove_all(root); }
    void Port(const std::string& name, const char* base, bool node) {
        fs::create_directories(root / "proc" / name);
        std::ofstream(root / "proc" / name / "base-addr") << base;
        if (node) std::ofstream(root / "dev" / name) << "";
    }
    static const Finding* Find(const Diagnosis& d, const std::string& topic, const std::string& piece) {
        for (const Finding& f : d.findings)
            if (f.topic == topic && f.text.find(piece) != std::string::npos) return &f;
        return nullptr;
    }
    fs::path root;
    DoctorPlaces places;
};

TEST_F(Doctor, PortsAndTheirDriverRuleAndSettingsAreToldAsFound) {
    test::SimSession sim;
    // No port: the driver for ports is no problem; the rule missing is, with its fix.
    Diagnosis d = Diagnose(sim.s, (root / "none.cfg").string(), places);
    ASSERT_TRUE(Find(d, "parallel port", "none listed by the kernel"));
    EXPECT_TRUE(Find(d, "ppdev", "not loaded")->ok);
    const Finding* rule = Find(d, "udev rule", "installed nowhere");
    ASSERT_TRUE(rule);
    EXPECT_FALSE(rule->ok);
    EXPECT_NE(rule->fix.find("udevadm control --reload-rules"), std::string::npos);
    EXPECT_TRUE(Find(d, "settings", "none.cfg is not there (no interface yet)"));
    EXPECT_TRUE(d.boardReachable);  // the simulated adapter

    // A card's port with its node, another without; the rule in place; a file naming a port.
    Port("parport0", "53264\t53272\n", true);
    Port("parport1", "632\t1656\n", false);
    std::ofstream(root / "rules" / "60-qvin27319.rules") << "# rule\n";
    std::ofstream(root / "q.cfg") << "Interface =  1 \r\nPort Address =  888 \r\n";
    d = Diagnose(sim.s, (root / "q.cfg").string(), places);
    const Finding* card = Find(d, "parallel port", "parport0 at D010");
    ASSERT_TRUE(card);
    EXPECT_TRUE(card->ok);
    EXPECT_NE(card->text.find("usable"), std::string::npos);
    const Finding* missing = Find(d, "parallel port", "parport1 at 278");
    ASSERT_TRUE(missing);
    EXPECT_FALSE(missing->ok);
    EXPECT_EQ(missing->fix, "sudo modprobe ppdev");
    EXPECT_FALSE(Find(d, "ppdev", "not loaded")->ok);  // ports there, no driver for them
    EXPECT_TRUE(Find(d, "udev rule", (root / "rules" / "60-qvin27319.rules").string())->ok);
    EXPECT_TRUE(Find(d, "settings", "q.cfg: the parallel port at 378"));
    fs::create_directories(root / "sys" / "ppdev");
    EXPECT_TRUE(Find(Diagnose(sim.s, "", places), "ppdev", "loaded")->ok);
}

TEST_F(Doctor, AnAdapterThatCannotBeHadIsAProblemWithItsFix) {
    test::SimSession sim;
    ASSERT_FALSE(sim.board.faults.Add("busy@1+"));
    const Diagnosis d = Diagnose(sim.s, "", places);
    const Finding* usb = Find(d, "USB", "Ezusb-0: busy (another program has it open)");
    ASSERT_TRUE(usb);
    EXPECT_FALSE(usb->ok);
    EXPECT_EQ(usb->fix, "close the program that has it open");
    EXPECT_FALSE(d.boardReachable);
}

}  // namespace
}  // namespace qvin::session
