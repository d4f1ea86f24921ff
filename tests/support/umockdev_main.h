#pragma once
// main() for test binaries that need umockdev's preload library. umockdev can only tell
// once a testbed exists, so the library is looked for in LD_PRELOAD instead; without it
// the binary reports itself skipped (77) to CTest.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    const char* preload = std::getenv("LD_PRELOAD");
    if (!preload || !std::strstr(preload, "libumockdev-preload")) {
        std::puts("not running under umockdev's preload library (LD_PRELOAD=libumockdev-preload.so.0); skipping");
        return 77;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
