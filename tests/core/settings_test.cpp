#include <gtest/gtest.h>

#include <atomic>
#include <fcntl.h>
#include <filesystem>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>
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
    EXPECT_EQ(SaveConfig({Interface{1}, 888, 0}, file), "");
    EXPECT_EQ(Contents(), "Interface =  1 \r\nPort Address =  888 \r\nFactory =  0 \r\n");
    EXPECT_EQ(SaveConfig({Interface{2}, -1, 3}, file), "");
    EXPECT_EQ(Contents(), "Interface =  2 \r\nPort Address = -1 \r\nFactory =  3 \r\n");
}

TEST_F(SettingsFile, RoundTripsEveryValueIncludingNegatives) {
    for (const Settings& in : {Settings{Interface{1}, 888, 3}, Settings{Interface{-2}, -32768, -1}, Settings{Interface{0}, 32767, 0}}) {
        ASSERT_EQ(SaveConfig(in, file), "");
        Settings out{Interface{9}, 9, 9};
        ReadConfig(out, file);
        EXPECT_EQ(out.InterfaceType, in.InterfaceType);
        EXPECT_EQ(out.PortAddress, in.PortAddress);
        EXPECT_EQ(out.FactoryMode, in.FactoryMode);
    }
}

TEST_F(SettingsFile, MissingOrEmptyFileChangesNothing) {
    Settings s{Interface{2}, 632, 1};
    ReadConfig(s, dir / "absent.cfg");
    EXPECT_EQ(s.InterfaceType, Interface::UsbAdapter);
    const Settings empty = Read("");
    EXPECT_EQ(empty.InterfaceType, Interface::None);
    EXPECT_EQ(empty.PortAddress, 0);
    EXPECT_EQ(empty.FactoryMode, 0);
}

TEST_F(SettingsFile, OnlyTheLinesPresentAreSet) {
    const Settings s = Read("Factory =  3 \r\n");
    EXPECT_EQ(s.FactoryMode, 3);
    EXPECT_EQ(s.InterfaceType, Interface::None);
    EXPECT_EQ(s.PortAddress, 0);
}

TEST_F(SettingsFile, KeysAreExactAndTheLaterLineWins) {
    const Settings s = Read("interface =  2 \r\nInterface =  1 \r\nFoo =  7 \r\nInterface =  2 \nPort Address =  632\n");
    EXPECT_EQ(s.InterfaceType, Interface::UsbAdapter);
    EXPECT_EQ(s.PortAddress, 632);
}

TEST_F(SettingsFile, BlanksAroundTheEqualsSignMatter) {
    // Without the blank before "=" the key is one character short and matches nothing;
    // without the blank after it the value loses its first character.
    const Settings s = Read("Interface=  2 \r\nPort Address =888\r\nFactory =12\r\n");
    EXPECT_EQ(s.InterfaceType, Interface::None);
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
    EXPECT_EQ(s.InterfaceType, Interface::ParallelPort);
    EXPECT_EQ(s.PortAddress, 888);
    EXPECT_EQ(s.FactoryMode, 3);
}

TEST_F(SettingsFile, CommasSplitFieldsAndQuotesAreRemoved) {
    const Settings s = Read("Interface =  1 ,Factory =  2 \r\n\"Port Address =  632 \"\r\n");
    EXPECT_EQ(s.InterfaceType, Interface::ParallelPort);
    EXPECT_EQ(s.FactoryMode, 2);
    EXPECT_EQ(s.PortAddress, 632);
}

TEST_F(SettingsFile, AFailedSaveSaysWhyAndKeepsThePreviousSettings) {
    ASSERT_EQ(SaveConfig({Interface{1}, 888, 0}, file), "");
    const std::string missing = SaveConfig({Interface{2}, 0, 0}, dir / "no-such-dir" / "x.cfg");
    EXPECT_NE(missing.find("no-such-dir/x.cfg: No such file or directory"), std::string::npos) << missing;
    std::filesystem::create_directories(dir / "a-folder.cfg");
    const std::string folder = SaveConfig({Interface{2}, 0, 0}, dir / "a-folder.cfg");
    EXPECT_NE(folder.find("Is a directory"), std::string::npos) << folder;
    EXPECT_EQ(Contents(), "Interface =  1 \r\nPort Address =  888 \r\nFactory =  0 \r\n");
    // No temporary is left behind, failed or not.
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        EXPECT_EQ(entry.path().filename().string().find(".Qvin27319.cfg."), std::string::npos) << entry.path();
}

TEST_F(SettingsFile, WhatIsNoRegularFileLoadsNothingAndNeverBlocks) {
    const Settings start{Interface{2}, 632, 1};
    auto unchanged = [&](const std::filesystem::path& p) {
        Settings s = start;
        ReadConfig(s, p);
        EXPECT_EQ(s.InterfaceType, Interface::UsbAdapter) << p;
        EXPECT_EQ(s.PortAddress, 632) << p;
    };
    std::filesystem::create_directories(dir / "folder.cfg");
    unchanged(dir / "folder.cfg");
    ASSERT_EQ(mkfifo((dir / "fifo.cfg").c_str(), 0600), 0);  // no writer: a blocking open would hang
    unchanged(dir / "fifo.cfg");
    std::filesystem::create_symlink("/dev/zero", dir / "zero.cfg");
    unchanged(dir / "zero.cfg");
}

TEST_F(SettingsFile, OnlyAsMuchAsASettingsFileHoldsIsRead) {
    // 16 MB of commas, then a line that would be read if the whole file were.
    Write(std::string(16 << 20, ',') + "Interface =  1 \r\n");
    Settings s{Interface{2}, 0, 0};
    ReadConfig(s, file);
    EXPECT_EQ(s.InterfaceType, Interface::UsbAdapter);
    const Settings head = Read("Interface =  1 \r\n" + std::string(kMaxSettingsBytes, ' '));
    EXPECT_EQ(head.InterfaceType, Interface::ParallelPort);
}

TEST_F(SettingsFile, ANumberTooLargeForADoubleSkipsItsLine) {
    const Settings s = Read("Interface =  2 \r\nInterface =  1e999 \r\nPort Address = -1e999 \r\nFactory =  nan \r\n");
    EXPECT_EQ(s.InterfaceType, Interface::UsbAdapter);
    EXPECT_EQ(s.PortAddress, 0);
    EXPECT_EQ(s.FactoryMode, 0);
}

TEST_F(SettingsFile, SavingKeepsALinkAndTheFilesMode) {
    const auto real = dir / "real.cfg";
    ASSERT_EQ(SaveConfig({Interface{1}, 888, 0}, real), "");
    std::filesystem::permissions(real, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    std::filesystem::create_symlink("real.cfg", file);
    ASSERT_EQ(SaveConfig({Interface{2}, 0, 3}, file), "");
    EXPECT_TRUE(std::filesystem::is_symlink(file));
    EXPECT_EQ(Contents(), "Interface =  2 \r\nPort Address =  0 \r\nFactory =  3 \r\n");
    EXPECT_EQ(std::filesystem::status(real).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

TEST_F(SettingsFile, AFileInAFolderNobodyMayWriteIsRewrittenInPlace) {
    ASSERT_EQ(SaveConfig({Interface{1}, 888, 0}, file), "");
    // As root, only an immutable folder refuses new files; elsewhere a folder without
    // write permission does.
    const bool root = geteuid() == 0;
    bool locked = false;
    if (root) {
        const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
        int flags = 0;
        if (fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
            flags |= FS_IMMUTABLE_FL;
            locked = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        }
        if (fd >= 0) ::close(fd);
    } else {
        std::filesystem::permissions(dir, std::filesystem::perms::owner_write, std::filesystem::perm_options::remove);
        locked = true;
    }
    if (!locked) GTEST_SKIP() << "this file system cannot lock a folder against new files";
    const std::string why = SaveConfig({Interface{2}, 0, 3}, file);
    // Unlock before checking, so the folder can be removed whatever happens.
    if (root) {
        const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
        int flags = 0;
        ioctl(fd, FS_IOC_GETFLAGS, &flags);
        flags &= ~FS_IMMUTABLE_FL;
        ioctl(fd, FS_IOC_SETFLAGS, &flags);
        ::close(fd);
    } else {
        std::filesystem::permissions(dir, std::filesystem::perms::owner_write, std::filesystem::perm_options::add);
    }
    EXPECT_EQ(why, "");
    EXPECT_EQ(Contents(), "Interface =  2 \r\nPort Address =  0 \r\nFactory =  3 \r\n");
}

TEST_F(SettingsFile, OverlappingSavesNeverShowAReaderAnEmptyOrMixedFile) {
    ASSERT_EQ(SaveConfig({Interface{1}, 1, 1}, file), "");
    std::atomic<bool> stop{false};
    std::vector<std::thread> writers;
    for (std::int16_t w = 1; w <= 2; ++w)
        writers.emplace_back([&, w] {
            while (!stop) EXPECT_EQ(SaveConfig({Interface{w}, w, w}, file), "");
        });
    int reads = 0;
    for (; reads < 2000; ++reads) {
        const std::string text = Contents();
        ASSERT_TRUE(text == "Interface =  1 \r\nPort Address =  1 \r\nFactory =  1 \r\n" ||
                    text == "Interface =  2 \r\nPort Address =  2 \r\nFactory =  2 \r\n")
            << "a reader saw: " << text;
    }
    stop = true;
    for (auto& t : writers) t.join();
}

}  // namespace
}  // namespace qvin
