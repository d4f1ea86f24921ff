// A file replaced by the program is on disk under its temporary name before that name
// replaces the old one: a crash in between leaves the old file or the new, never one cut
// short. What reaches the kernel is seen here by wrapping fsync and rename (this program
// alone: the functions it defines stand in for the C library's, then call them).

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/file_safety.h"

namespace {
std::vector<std::string> gCalls;

std::string PathOf(int fd) {
    char path[PATH_MAX] = {};
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t n = ::readlink(link.c_str(), path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : "?";
}
}  // namespace

extern "C" int fsync(int fd) {
    static const auto real = reinterpret_cast<int (*)(int)>(::dlsym(RTLD_NEXT, "fsync"));
    gCalls.push_back(std::string("fsync ").append(PathOf(fd)));
    return real(fd);
}

extern "C" int rename(const char* from, const char* to) noexcept {
    static const auto real = reinterpret_cast<int (*)(const char*, const char*)>(::dlsym(RTLD_NEXT, "rename"));
    gCalls.push_back(std::string("rename ") + from + " " + to);
    return real(from, to);
}

namespace qvin {
namespace {

namespace fs = std::filesystem;

TEST(DurableWrite, TheNewContentsAreOnDiskBeforeTheyTakeTheFilesName) {
    const fs::path dir = fs::weakly_canonical(fs::temp_directory_path() / ("qvin-durable-" + std::to_string(::getpid())));
    fs::remove_all(dir);
    fs::create_directories(dir);
    std::ofstream(dir / "table.csv") << "old";
    for (const bool existed : {true, false}) {
        const fs::path file = dir / (existed ? "table.csv" : "new.csv");
        gCalls.clear();
        ASSERT_EQ(WriteWholeFile(file, "tau,adev\n"), "");
        ASSERT_EQ(gCalls.size(), 2u) << (gCalls.empty() ? "no call" : gCalls[0]);
        const std::string temp = gCalls[0].substr(6);
        // GCC 12 warns falsely of overlapping copies at -O3 where a literal is prepended.
        const std::string prefix = std::string("fsync ").append(dir.string()).append("/.").append(file.filename().string()).append(".");
        EXPECT_EQ(gCalls[0].rfind(prefix, 0), 0u) << gCalls[0];
        EXPECT_EQ(gCalls[1], std::string("rename ").append(temp).append(" ").append(file.string()));
        std::ifstream in(file);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "tau,adev\n");
    }
    fs::remove_all(dir);
}

}  // namespace
}  // namespace qvin
