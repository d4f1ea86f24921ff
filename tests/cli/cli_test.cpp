#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "core/clock.h"
#include "support/watch_time.h"

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
        EXPECT_EQ(r.code, qvin::kBadInput) << c.message;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
    // A batch stops at its first error: the third line never ran.
    const CliRun batch = RunCliCapture({"-"}, "read Product\nwrite Nope 1\nread Product\n");
    EXPECT_EQ(batch.out, "Product       raw=6AB7 count=27319 value=27319 new=- error=-\n");
}

TEST(Cli, MissingPortIsAClearFailure) {
    const CliRun sim = RunCliCapture({"--lpt", "278", "dump"});
    EXPECT_EQ(sim.code, qvin::kNoInterface);
    EXPECT_NE(sim.err.find("Error: The required I/O drivers could not be installed.\n"
                           "  no parallel port at address 278"),
              std::string::npos)
        << sim.err;

    const CliRun hw = RunCliCapture({"dump"}, "", "hardware");  // no settings file, no --lpt
    EXPECT_EQ(hw.code, qvin::kNoInterface);
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

// The USB-SPI adapter as the selection window lists it, then the FTDI adapter.
TEST(Cli, AdaptersListTheSimulatedAdapters) {
    const CliRun r = RunCliCapture({"adapters"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out,
              "Device\tKind\tDescriptor 1\tDescriptor 2\tRev\tSpeed\n"
              "Ezusb-0\tKAPPA\tQVIN27319 simulated USB-SPI adapter\tSimulated adapter, firmware 2.0, high speed\t2.0\t2.0\n"
              "ftdi:QVSIM001\tFT232H\tQVIN27319 simulated FTDI adapter\tMPSSE, chip select on ADBUS3\t0.0\t2.0\n");
}

TEST(Cli, NoAdapterIsSaidInAFewWordsWithANonZeroExit) {
    const struct WithFaults {
        WithFaults() { setenv("QVIN_SIM_FAULTS", "unplug@1", 1); }
        ~WithFaults() { unsetenv("QVIN_SIM_FAULTS"); }
    } unplugged;
    // Listed, the FTDI adapter is what there is: no failure.
    const CliRun r = RunCliCapture({"adapters"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "Device\tKind\tDescriptor 1\tDescriptor 2\tRev\tSpeed\n"
                     "ftdi:QVSIM001\tFT232H\tQVIN27319 simulated FTDI adapter\tMPSSE, chip select on ADBUS3\t0.0\t2.0\n");
    // The same words when a command needs the adapter, after the program's own.
    const CliRun read = RunCliCapture({"read", "Product"});
    EXPECT_EQ(read.code, qvin::kNoInterface);
    EXPECT_EQ(read.err, "qvin-cli: No USB Buffers Found, Please Verify Setup and Restart\nqvin-cli: no USB adapter found (looked at Ezusb-0 to Ezusb-3)\n");
}

TEST(Cli, RegistersListTheWholeMapAndNamesMatchInAnyCase) {
    const CliRun r = RunCliCapture({"registers"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 66);  // the heading and 65 registers
    EXPECT_NE(r.out.find("\n6\tTemp_Out\t0A\t2\tr-\tno\t-0.47 + 625.66\tdgrC\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\n32\tCommand\t3E\t2\t-w\tno\t1\t\n"), std::string::npos);
    EXPECT_NE(r.out.find("\n62\tTest_Cnfg\t7F\t1\trw\t"), std::string::npos);
    EXPECT_NE(r.out.find("\n65\t-\t00\t0\t"), std::string::npos);
    const CliRun names = RunCliCapture({"read", "incl_360", "SUPPLY_OUT", "temp_out", "PRODUCT"});
    ASSERT_EQ(names.code, 0) << names.err;
    EXPECT_NE(names.out.find("Incl_Out "), std::string::npos);
    EXPECT_NE(names.out.find("Supply_Out "), std::string::npos);
    EXPECT_NE(names.out.find("Product "), std::string::npos);
}

TEST(Cli, AnyAdapterNumberAndAHexPrefixedPortAreUnderstood) {
    const CliRun far = RunCliCapture({"--usb", "7", "info"});
    EXPECT_EQ(far.code, qvin::kBadInput);
    EXPECT_EQ(far.err, "qvin-cli: there is no adapter at Ezusb-7 (adapters are Ezusb-0 to Ezusb-3)\n");
    EXPECT_NE(RunCliCapture({"--usb", "12", "info"}).err.find("no adapter at Ezusb-12 "), std::string::npos);
    EXPECT_EQ(RunCliCapture({"--lpt", "0x378", "read", "Product"}).code, 0);
    EXPECT_EQ(RunCliCapture({"--lpt", "0X378", "read", "Product"}).code, 0);
    EXPECT_NE(RunCliCapture({"--lpt", "0x", "info"}).err.find("bad port address '0x'"), std::string::npos);
}

TEST(Cli, WatchAndMonitorNameTheOutputsAlike) {
    const CliRun watch = RunCliCapture({"watch", "--count", "1"});
    const CliRun monitor = RunCliCapture({"monitor", "1"});
    for (const char* name : {"SUPPLY_OUT (V)", "AUX_ADC (V)", "TEMP_OUT (dgrC)", "INCL_360 (dgr)", "INCL_180 (dgr)"}) {
        EXPECT_NE(watch.out.substr(0, watch.out.find('\n')).find(name), std::string::npos) << name;
        EXPECT_NE(monitor.out.substr(0, monitor.out.find('\n')).find(name), std::string::npos) << name;
    }
}

TEST(Cli, InfoShowsTheSimulatedPart) {
    const CliRun r = RunCliCapture({"info"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out,
              "Part:         QVIN27319\n"
              "Revision:     1.3\n"
              "Date:         9/15/2026\n"
              "Flash cycles: 0\n"
              "Rotation:     Normal\n");
}

TEST(Cli, SpiSendsRawWordsOnTheChosenChannel) {
    const CliRun r = RunCliCapture({"-"}, "spi 5600 0000\nspi --channel 2 1234\nspi --negative 5600 0x0000\n");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "0000 6AB7\nFFFF\nFFFF 9548\n");  // negative polarity inverts every word
    const CliRun lpt = RunCliCapture({"--lpt", "378", "spi", "5600"});
    EXPECT_EQ(lpt.code, qvin::kBadInput);
    const CliRun many = RunCliCapture({"spi", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12", "13", "14", "15", "16", "17"});
    EXPECT_NE(many.err.find("give 1 to 16 words"), std::string::npos);
    EXPECT_NE(RunCliCapture({"spi", "12345"}).err.find("bad word '12345'"), std::string::npos);
}

TEST(Cli, SpiSetsTheAdapterUpAsTheBenchDoes) {
    const CliRun r = RunCliCapture({"-"}, "spi --static-bits CS3,cs5 --delay 12\nspi\nspi --static-bits none\nspi\n"
                                          "spi --polarity neg --channel 1 5600 0000\n");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "delay 12 us, static bits CS3 CS5\ndelay 12 us, static bits CS3 CS5\n"
                     "delay 12 us, static bits none\ndelay 12 us, static bits none\nFFFF 9548\n");
    const std::pair<std::vector<std::string>, const char*> bad[] = {
        {{"spi", "--delay", "0", "1234"}, "delay 0 is out of range (1 to 255)"},
        {{"spi", "--delay", "256"}, "out of range"},
        {{"spi", "--static-bits", "CS6"}, "bad static bit 'CS6'"},
        {{"spi", "--polarity", "up", "1"}, "--polarity takes pos or neg"},
        {{"spi", "--channel"}, "--channel needs a number 1 to 5"},
        {{"spi", "--bogus", "1"}, "unknown option '--bogus'"},
        {{"spi", "--channel", "2"}, "go with words to send"},
    };
    for (const auto& [args, says] : bad) {
        const CliRun b = RunCliCapture(args);
        EXPECT_EQ(b.code, qvin::kBadInput) << says;
        EXPECT_NE(b.err.find(says), std::string::npos) << b.err;
    }
}

// The simulated board's fault rules come from the environment, as a user sets them.
struct WithFaults {
    explicit WithFaults(const char* rules) { setenv("QVIN_SIM_FAULTS", rules, 1); }
    ~WithFaults() { unsetenv("QVIN_SIM_FAULTS"); }
};

TEST(Cli, AFailingAdapterEndsWatchWithTheRequestNamedAndWholeLogLines) {
    const std::string log = ::testing::TempDir() + "qvin-watch-fault.log";
    std::remove(log.c_str());
    const WithFaults faults("send-fail@30");
    const CliRun r = RunCliCapture({"watch", "--count", "100", "--log", log});
    EXPECT_EQ(r.code, qvin::kNoInterface);
    EXPECT_EQ(r.err, "qvin-cli: Error Writing SPI\nqvin-cli: the USB adapter stopped answering\n");
    std::ifstream in(log, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
    const std::size_t passes = std::count(text.begin(), text.end(), '\n') - 7;  // after the header's 7 lines
    EXPECT_GE(passes, 1u);
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n') - 1, static_cast<long>(passes));  // same passes shown
    std::remove(log.c_str());
    // An adapter pulled out mid-watch is said to be gone, not merely silent.
    const WithFaults pulled("unplug@30");
    const CliRun u = RunCliCapture({"watch", "--count", "100"});
    EXPECT_EQ(u.code, qvin::kNoInterface);
    EXPECT_NE(u.err.find("qvin-cli: the USB adapter stopped answering (Ezusb-0: unplugged)\n"), std::string::npos) << u.err;
}

TEST(Cli, ABadFaultRuleIsRefusedByName) {
    const WithFaults faults("unplug@200,replug@soon");
    const CliRun r = RunCliCapture({"read", "Product"});
    EXPECT_EQ(r.code, qvin::kBadInput);
    EXPECT_NE(r.err.find("QVIN_SIM_FAULTS: fault rule \"replug@soon\""), std::string::npos) << r.err;
}

TEST(Cli, WatchPrintsPassesAndAppendsTheDataLog) {
    const std::string log = ::testing::TempDir() + "qvin-watch.log";
    std::remove(log.c_str());
    const CliRun r = RunCliCapture({"-"}, "write Msc_Ctrl 0x0120\nwatch --count 2 --delay 5 --log " + log + "\nwatch --count 1 --log " + log + "\n");
    ASSERT_EQ(r.code, 0) << r.err;
    std::ifstream in(log, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // Two runs, two header blocks; the delay below 10 ms was raised to 10.
    EXPECT_EQ(text.find("QVIN 27319 Datalog File\r\n"), 0u);
    EXPECT_NE(text.find("LoopDelay\t10 mS\r\nSmpl Prd\t1.099 mS\r\nAvg Cnt\t7\r\nSelf Test On\r\nReverse Rotate On\r\n"),
              std::string::npos);
    EXPECT_NE(text.find("\r\n1\t3.3"), std::string::npos);
    EXPECT_NE(text.find("\r\n2\t3.3"), std::string::npos);
    EXPECT_NE(text.rfind("LoopDelay\t25 mS"), text.find("LoopDelay\t10 mS"));
    EXPECT_NE(text.find("\tTrue\tFalse\t0\r\n"), std::string::npos);

    const CliRun bad = RunCliCapture({"watch", "--count", "1", "--log", "/nonexistent/dir/x.log"});
    EXPECT_EQ(bad.code, qvin::kFileError);
    EXPECT_NE(bad.err.find("Error Trying to open file /nonexistent/dir/x.log"), std::string::npos);
    std::remove(log.c_str());
}

// A LoopDelay of D in a log means the same pacing whichever program wrote it: the window's
// loop waits 1 ms and D - 5 ms between passes, so watch waits D - 4 ms (its reads, one
// exchange, take well under a millisecond on the simulated adapter).
TEST(Cli, WatchPacesItsPassesAsTheWindowsLoopForTheSameDelay) {
    const double perPass = static_cast<double>(test::WatchElapsedNs(11, 20) - test::WatchElapsedNs(1, 20)) / 10 / 1e6;
    EXPECT_GE(perPass, 16.0);
    EXPECT_LT(perPass, 17.0);
}

TEST(Cli, WatchRefusesADelayOrLogItCannotTake) {
    const std::pair<std::vector<std::string>, const char*> bad[] = {
        {{"watch", "--delay", "abc"}, "bad delay 'abc'"},   {{"watch", "--delay", "nan"}, "bad delay 'nan'"},
        {{"watch", "--delay", "inf"}, "bad delay 'inf'"},   {{"watch", "--delay", "10abc"}, "bad delay '10abc'"},
        {{"watch", "--delay", "1e999"}, "bad delay '1e999'"}, {{"watch", "--delay", "-5"}, "bad delay '-5'"},
        {{"watch", "--delay", "60001"}, "out of range"},    {{"watch", "--delay", ""}, "bad delay ''"},
        {{"watch", "--log", ""}, "--log needs a file name"},
    };
    for (const auto& [args, says] : bad) {
        const CliRun r = RunCliCapture(args);
        EXPECT_EQ(r.code, qvin::kBadInput) << says;
        EXPECT_NE(r.err.find(says), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "") << "nothing was watched for " << says;
    }
    EXPECT_EQ(RunCliCapture({"watch", "--count", "1", "--delay", "12.5"}).code, 0);
}

TEST(Cli, UsbOptionPicksAnAdapterOrFailsClearly) {
    EXPECT_EQ(RunCliCapture({"--usb", "0", "read", "Product"}).code, 0);
    const CliRun absent = RunCliCapture({"--usb", "2", "read", "Product"});
    EXPECT_EQ(absent.code, qvin::kNoInterface);
    EXPECT_NE(absent.err.find("no usable adapter at Ezusb-2"), std::string::npos);
    EXPECT_NE(RunCliCapture({"--usb", "--lpt", "378", "dump"}).err.find("either --lpt or --usb"), std::string::npos);
}

}  // namespace
}  // namespace qvin
