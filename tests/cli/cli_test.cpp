#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "core/clock.h"

namespace qvin {
namespace {

struct CliRun {
    int code;
    std::string out, err;
};

CliRun RunCliCapture(const std::vector<std::string>& args, const std::string& input = "", const std::string& board = "sim") {
    VirtualClock clock;
    std::istringstream in(input);
    std::ostringstream out, err;
    cli::CliContext ctx{clock, in, out, err, board, "/nonexistent/Qvin27319.cfg"};
    const int code = cli::RunCli(args, ctx);
    return {code, out.str(), err.str()};
}

TEST(Cli, BatchWriteThenReadThenDumpOnOneBoard) {
    const CliRun r = RunCliCapture({"--sim", "-"}, "write Incl_Null -5\n\n# a comment\nread Incl_Null\ndump\n");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("Incl_Null <- FFFB\n"), std::string::npos);
    EXPECT_NE(r.out.find("Incl_Null     raw=FFFB count=-5 value=-5 new=- error=-\n"), std::string::npos);
    EXPECT_NE(r.out.find("Name\t\tAddr\tSetting\r\n-------------------\t---------\t---------\r\n"
                         "Incl_Null      \t18\tFFFFFFFB\r\n"),
              std::string::npos);
    EXPECT_NE(r.out.find("Pwr_Mde      \t3A\t0000\r\n"), std::string::npos);
    EXPECT_NE(r.out.find("Smpl_Prd      \t36\t0008\r\n"), std::string::npos);
}

TEST(Cli, ReadShowsRawCountValueAndFlags) {
    const CliRun r = RunCliCapture({"read", "Supply_Out", "status", "44", "9"});
    ASSERT_EQ(r.code, 0) << r.err;
    std::istringstream lines(r.out);
    std::string supply, status, product, unnamed;
    std::getline(lines, supply);
    std::getline(lines, status);
    std::getline(lines, product);
    std::getline(lines, unnamed);
    EXPECT_EQ(supply.rfind("Supply_Out    raw=", 0), 0u) << supply;
    EXPECT_NE(supply.find(" new=1 error=0"), std::string::npos) << supply;
    EXPECT_EQ(status, "Status        raw=0000 count=0 value=0 new=- error=-");
    EXPECT_EQ(product, "Product       raw=6AB7 count=27319 value=27319 new=- error=-");
    EXPECT_EQ(unnamed.rfind("#9 ", 0), 0u) << unnamed;
}

TEST(Cli, BadInputIsReportedWithANonZeroExit) {
    struct Case {
        std::vector<std::string> args;
        std::string input, message;
    };
    const Case cases[] = {
        {{"read", "Bogus"}, "", "unknown register 'Bogus'"},
        {{"read", "N/A"}, "", "unknown register 'N/A'"},
        {{"read", "66"}, "", "no register with index 66"},
        {{"read", "Command"}, "", "Command cannot be read"},
        {{"write", "Msc_Ctrl", "12x"}, "", "bad number '12x'"},
        {{"write", "Msc_Ctrl", "70000"}, "", "value 70000 is out of range (-32768 to 65535)"},
        {{"write", "Msc_Ctrl"}, "", "give a register and a value"},
        {{"frobnicate"}, "", "unknown command 'frobnicate'"},
        {{"--lpt", "zz", "dump"}, "", "bad port address 'zz'"},
        {{"--bogus", "dump"}, "", "unknown option '--bogus'"},
        {{"-"}, "read Product\nwrite Nope 1\nread Product\n", "line 2: unknown register 'Nope'"},
    };
    for (const Case& c : cases) {
        const CliRun r = RunCliCapture(c.args, c.input);
        EXPECT_EQ(r.code, cli::kBadInput) << c.message;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
    // A batch stops at its first error: the third line never ran.
    const CliRun batch = RunCliCapture({"-"}, "read Product\nwrite Nope 1\nread Product\n");
    EXPECT_EQ(batch.out, "Product       raw=6AB7 count=27319 value=27319 new=- error=-\n");
}

TEST(Cli, MissingPortIsAClearFailure) {
    const CliRun sim = RunCliCapture({"--lpt", "278", "dump"});
    EXPECT_EQ(sim.code, cli::kNoInterface);
    EXPECT_NE(sim.err.find("Error: The required I/O drivers could not be installed.\n"
                           "  no parallel port at address 278"),
              std::string::npos)
        << sim.err;

    const CliRun hw = RunCliCapture({"dump"}, "", "hardware");  // no settings file, no --lpt
    EXPECT_EQ(hw.code, cli::kNoInterface);
    EXPECT_NE(hw.err.find("no interface selected"), std::string::npos) << hw.err;
}

TEST(Cli, WriteWarnsAboutReadOnlyRegistersAndAcceptsHex) {
    const CliRun r = RunCliCapture({"-"}, "write Product 0x10\nwrite Msc_Ctrl 0x0123\nread Product Msc_Ctrl\n");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("Product is read-only"), std::string::npos);
    EXPECT_NE(r.out.find("count=27319"), std::string::npos);
    EXPECT_NE(r.out.find("Msc_Ctrl      raw=0123 count=291"), std::string::npos);
}

TEST(Cli, MonitorPrintsTheFiveOutputsAsTheWindowFormatsThem) {
    const CliRun r = RunCliCapture({"monitor", "3"});
    ASSERT_EQ(r.code, 0) << r.err;
    std::istringstream lines(r.out);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line.rfind("SUPPLY_OUT (V)", 0), 0u);
    int rows = 0;
    while (std::getline(lines, line)) {
        ++rows;
        EXPECT_EQ(line.rfind("3.30", 0), 0u) << line;  // supply near 3.3 V, three decimals
        EXPECT_NE(line.find(" New             OK"), std::string::npos) << line;
    }
    EXPECT_EQ(rows, 3);
}

}  // namespace
}  // namespace qvin
