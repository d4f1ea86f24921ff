#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "core/settings.h"

namespace qvin {
namespace {

class SettingsFile : public ::testing::Test {
protected:
    void SetUp() override {
        dir = std::filesystem::temp_directory_path() /
              ("qvin-settings-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        file = dir / "Qvin27319.cfg";
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    void Write(const std::string& text) { std::ofstream(file, std::ios::binary) << text; }
    std::string Contents() {
        std::ifstream in(file, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    Settings Read(const std::string& text) {
        Write(text);
        Settings s;
        ReadConfig(s, file);
        return s;
    }

    std::filesystem::path dir, file;
};

TEST_F(SettingsFile, SavesThreeLinesWithTheirBlanks) {
    SaveConfig({1, 888, 0}, file);
    EXPECT_EQ(Contents(), "Interface =  1 \r\nPort Address =  888 \r\nFactory =  0 \r\n");
    SaveConfig({2, -1, 3}, file);
    EXPECT_EQ(Contents(), "Interface =  2 \r\nPort Address = -1 \r\nFactory =  3 \r\n");
}

TEST_F(SettingsFile, RoundTripsEveryValueIncludingNegatives) {
    for (const Settings& in : {Settings{1, 888, 3}, Settings{-2, -32768, -1}, Settings{0, 32767, 0}}) {
        SaveConfig(in, file);
        Settings out{9, 9, 9};
        ReadConfig(out, file);
        EXPECT_EQ(out.InterfaceType, in.InterfaceType);
        EXPECT_EQ(out.PortAddress, in.PortAddress);
        EXPECT_EQ(out.FactoryMode, in.FactoryMode);
    }
}

TEST_F(SettingsFile, MissingOrEmptyFileChangesNothing) {
    Settings s{2, 632, 1};
    ReadConfig(s, dir / "absent.cfg");
    EXPECT_EQ(s.InterfaceType, 2);
    const Settings empty = Read("");
    EXPECT_EQ(empty.InterfaceType, 0);
    EXPECT_EQ(empty.PortAddress, 0);
    EXPECT_EQ(empty.FactoryMode, 0);
}

TEST_F(SettingsFile, OnlyTheLinesPresentAreSet) {
    const Settings s = Read("Factory =  3 \r\n");
    EXPECT_EQ(s.FactoryMode, 3);
    EXPECT_EQ(s.InterfaceType, 0);
    EXPECT_EQ(s.PortAddress, 0);
}

TEST_F(SettingsFile, KeysAreExactAndTheLaterLineWins) {
    const Settings s = Read("interface =  2 \r\nInterface =  1 \r\nFoo =  7 \r\nInterface =  2 \nPort Address =  632\n");
    EXPECT_EQ(s.InterfaceType, 2);
    EXPECT_EQ(s.PortAddress, 632);
}

TEST_F(SettingsFile, BlanksAroundTheEqualsSignMatter) {
    // Without the blank before "=" the key is one character short and matches nothing;
    // without the blank after it the value loses its first character.
    const Settings s = Read("Interface=  2 \r\nPort Address =888\r\nFactory =12\r\n");
    EXPECT_EQ(s.InterfaceType, 0);
    EXPECT_EQ(s.PortAddress, 88);
    EXPECT_EQ(s.FactoryMode, 2);
}

TEST_F(SettingsFile, MalformedLinesAreSkippedAndReadingGoesOn) {
    const Settings s = Read(
        "garbage without equals\r\n"
        "= 5\r\n"
        "Interface =  two \r\n"
        "Port Address =  99999 \r\n"  // does not fit 16 bits
        "Factory = \r\n"
        "Interface =  1 \r\n"
        "Port Address =  888 \r\n"
        "Factory =  3 ");  // no line end at the end of the file
    EXPECT_EQ(s.InterfaceType, 1);
    EXPECT_EQ(s.PortAddress, 888);
    EXPECT_EQ(s.FactoryMode, 3);
}

TEST_F(SettingsFile, CommasSplitFieldsAndQuotesAreRemoved) {
    const Settings s = Read("Interface =  1 ,Factory =  2 \r\n\"Port Address =  632 \"\r\n");
    EXPECT_EQ(s.InterfaceType, 1);
    EXPECT_EQ(s.FactoryMode, 2);
    EXPECT_EQ(s.PortAddress, 632);
}

TEST_F(SettingsFile, UnwritableFileKeepsThePreviousSettings) {
    SaveConfig({1, 888, 0}, file);
    std::filesystem::create_directories(dir / "blocked.cfg.new");  // the temporary cannot be created
    SaveConfig({2, 0, 0}, dir / "blocked.cfg");
    EXPECT_FALSE(std::filesystem::exists(dir / "blocked.cfg"));
    SaveConfig({2, 0, 0}, dir / "no-such-dir" / "x.cfg");  // must not throw
    EXPECT_EQ(Contents(), "Interface =  1 \r\nPort Address =  888 \r\nFactory =  0 \r\n");
}

}  // namespace
}  // namespace qvin
