// Where the program's writes may go: links of other users, pipes and devices, the input
// itself, and a replacement that fails halfway.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "core/file_safety.h"

namespace qvin {
namespace {

namespace fs = std::filesystem;

struct FileSafety : ::testing::Test {
    FileSafety() : dir(fs::temp_directory_path() / ("qvin-file-safety-" + std::to_string(::getpid()))) {
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    ~FileSafety() override { fs::remove_all(dir); }
    static std::string Read(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    static void Write(const fs::path& p, const std::string& text) { std::ofstream(p, std::ios::binary) << text; }
    fs::path dir;
};

TEST_F(FileSafety, OwnLinksAreFollowedAnotherUsersAreNot) {
    Write(dir / "victim", "keep");
    fs::create_symlink(dir / "victim", dir / "mine.cfg");
    EXPECT_EQ(WriteRefusal(dir / "mine.cfg"), "");
    // A relative link is read from its own folder, not from where the program runs.
    fs::create_symlink("loop-b", dir / "loop-a");
    fs::create_symlink("loop-a", dir / "loop-b");
    ASSERT_NE(fs::current_path(), dir);
    EXPECT_EQ(WriteRefusal(dir / "loop-a"), (dir / "loop-a").string() + ": " + std::strerror(ELOOP));
    if (::geteuid() != 0) GTEST_SKIP() << "giving a link to another user needs root";
    fs::create_symlink(dir / "victim", dir / "theirs.cfg");
    ASSERT_EQ(::lchown((dir / "theirs.cfg").c_str(), 65534, 65534), 0);
    EXPECT_EQ(WriteRefusal(dir / "theirs.cfg"),
              (dir / "theirs.cfg").string() + " is a link that belongs to another user (uid 65534); it is not followed");
    // Through a link of one's own to theirs, too.
    fs::create_symlink(dir / "theirs.cfg", dir / "chain.cfg");
    EXPECT_NE(WriteRefusal(dir / "chain.cfg"), "");
    fs::create_directories(dir / "sub");
    fs::create_symlink("../theirs.cfg", dir / "sub" / "relative.cfg");
    EXPECT_EQ(WriteRefusal(dir / "sub" / "relative.cfg"),
              (dir / "theirs.cfg").string() + " is a link that belongs to another user (uid 65534); it is not followed");
    // Their link to a folder, anywhere on the way: in a sticky shared folder it would lead
    // the write into the folder they chose.
    fs::create_directories(dir / "victim-dir");
    fs::create_symlink(dir / "victim-dir", dir / "shared");
    ASSERT_EQ(::lchown((dir / "shared").c_str(), 65534, 65534), 0);
    EXPECT_EQ(WriteRefusal(dir / "shared" / "capture.csv"),
              (dir / "shared").string() + " is a link that belongs to another user (uid 65534); it is not followed");
    EXPECT_NE(WriteRefusal(dir / "sub" / ".." / "shared" / "deeper" / "x.csv"), "");
    // One's own link to their folder link is followed as far as theirs, and stops there.
    fs::create_symlink(dir / "shared", dir / "mine-dir");
    EXPECT_NE(WriteRefusal(dir / "mine-dir" / "x.csv"), "");
    // Going up out of a folder reached through one's own link goes up from where it led.
    fs::create_directories(dir / "real" / "inner");
    fs::create_symlink(dir / "real" / "inner", dir / "hop");
    fs::create_symlink(dir / "victim", dir / "real" / "theirs-too.cfg");
    ASSERT_EQ(::lchown((dir / "real" / "theirs-too.cfg").c_str(), 65534, 65534), 0);
    EXPECT_NE(WriteRefusal(dir / "hop" / ".." / "theirs-too.cfg"), "");
    EXPECT_EQ(WriteRefusal(dir / "hop" / ".." / "new.cfg"), "");
    const std::string why = ReplaceFile(dir / "theirs.cfg", [](const fs::path&) { return std::string(); });
    EXPECT_NE(why, "");
    EXPECT_EQ(Read(dir / "victim"), "keep");
}

TEST_F(FileSafety, OnlyRegularFilesAreWritten) {
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    EXPECT_EQ(WriteRefusal(dir / "fifo"), (dir / "fifo").string() + " is not a regular file (a pipe or a device)");
    EXPECT_NE(WriteRefusal("/dev/full"), "");
    EXPECT_EQ(WriteRefusal(dir), dir.string() + " is a folder");
    EXPECT_EQ(WriteRefusal(dir / "new.png"), "");
}

TEST_F(FileSafety, TheOutputIsNeverTheInputByAnyName) {
    Write(dir / "log.txt", "data");
    fs::create_symlink(dir / "log.txt", dir / "link.png");
    fs::create_hard_link(dir / "log.txt", dir / "hard.png");
    EXPECT_NE(SameFileRefusal(dir / "log.txt", dir / "log.txt"), "");
    EXPECT_NE(SameFileRefusal(dir / "link.png", dir / "log.txt"), "");
    EXPECT_NE(SameFileRefusal(dir / "hard.png", dir / "log.txt"), "");
    Write(dir / "other.png", "old");
    EXPECT_EQ(SameFileRefusal(dir / "other.png", dir / "log.txt"), "");
    EXPECT_EQ(SameFileRefusal(dir / "missing.png", dir / "log.txt"), "");
    // Two names for one file that is not there yet are one file all the same.
    EXPECT_TRUE(SameFile(dir / "new.csv", dir / "sub" / ".." / "new.csv"));
    EXPECT_FALSE(SameFile(dir / "new.csv", dir / "new.png"));
}

TEST_F(FileSafety, AFailedReplacementKeepsTheOldFileAndLeavesNoTemporary) {
    Write(dir / "out.png", "old picture");
    ::chmod((dir / "out.png").c_str(), 0640);
    const std::string why = ReplaceFile(dir / "out.png", [](const fs::path& temp) {
        std::ofstream(temp, std::ios::binary) << "half";
        return std::string("disk full");
    });
    EXPECT_EQ(why, (dir / "out.png").string() + ": disk full");
    EXPECT_EQ(Read(dir / "out.png"), "old picture");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
    // A good one replaces it, keeping its mode; through one's own link, the link stays.
    fs::create_symlink(dir / "out.png", dir / "link.png");
    EXPECT_EQ(ReplaceFile(dir / "link.png",
                          [](const fs::path& temp) {
                              std::ofstream(temp, std::ios::binary) << "new picture";
                              return std::string();
                          }),
              "");
    EXPECT_EQ(Read(dir / "out.png"), "new picture");
    EXPECT_TRUE(fs::is_symlink(dir / "link.png"));
    struct stat st {};
    ASSERT_EQ(::stat((dir / "out.png").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

}  // namespace
}  // namespace qvin
