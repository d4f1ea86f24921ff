#include <gtest/gtest.h>

#include <set>

#include "device/register_map.h"

namespace qvin {
namespace {

class RegisterMapTest : public ::testing::Test {
protected:
    void SetUp() override { InitRegisterTable(map); }
    RegisterMap map;
};

TEST_F(RegisterMapTest, AddressesAreUniqueEvenAndInTheirBlocks) {
    std::set<std::int32_t> seen;
    for (int i = 1; i <= 62; ++i) {
        const RegisterInfo& r = map[i];
        EXPECT_TRUE(seen.insert(r.RegAddr).second) << "index " << i;
        EXPECT_LE(r.RegAddr, 0x7F);
        if (i < 61) {
            EXPECT_EQ(r.RegAddr % 2, 0) << "index " << i;
            EXPECT_EQ(r.RegBytes, 2) << "index " << i;
        }
        if (i > 1 && i < 61) {
            EXPECT_GT(r.RegAddr, map[i - 1].RegAddr) << "index " << i;
        }
    }
    // No index covers 0x5A to 0x5E.
    for (std::int32_t a = 0x5A; a <= 0x5E; ++a) EXPECT_EQ(seen.count(a), 0u) << std::hex << a;
    EXPECT_EQ(map[17].RegAddr, 0x20);
    EXPECT_EQ(map[45].RegAddr, 0x58);
    EXPECT_EQ(map[46].RegAddr, 0x60);
    EXPECT_EQ(map[60].RegAddr, 0x7C);
}

TEST_F(RegisterMapTest, ByteWideAndUnnamedEntries) {
    EXPECT_EQ(map[61].RegAddr, 0x7E);
    EXPECT_EQ(map[61].RegBytes, 1);
    EXPECT_EQ(map[62].RegAddr, 0x7F);
    EXPECT_EQ(map[62].RegBytes, 1);
    for (int i = 63; i <= 65; ++i) {
        EXPECT_EQ(map[i].RegName, "");
        EXPECT_EQ(map[i].RegAddr, 0);
        EXPECT_EQ(map[i].RegBytes, 0);
        EXPECT_TRUE(map[i].RegReadable);
        EXPECT_TRUE(map[i].RegWritable);
    }
}

TEST_F(RegisterMapTest, NamesAsTheChipNamesThem) {
    EXPECT_EQ(map[31].RegName, "Status ");  // with its trailing blank
    EXPECT_EQ(map[8].RegName, "Incl_180_Out");
    EXPECT_EQ(map[13].RegName, "Incl_Null");
    EXPECT_EQ(map[41].RegName, "KeyCode");
    EXPECT_EQ(map[62].RegName, "Test_Cnfg");
    int unused = 0;
    for (int i = 1; i <= 62; ++i) unused += map[i].RegName == "N/A";
    EXPECT_EQ(unused, 17);
    for (int i : {9, 12, 14, 16, 22, 24, 33, 45, 55, 59}) EXPECT_EQ(map[i].RegName, "N/A") << i;
}

TEST_F(RegisterMapTest, AccessRights) {
    EXPECT_FALSE(map[reg::Command].RegReadable);
    EXPECT_TRUE(map[reg::Command].RegWritable);
    for (int i : {1, 2, 8, 31, 42, 44, 45, 60}) EXPECT_FALSE(map[i].RegWritable) << i;
    for (int i : {9, 13, 40, 41, 43, 46, 61, 62}) EXPECT_TRUE(map[i].RegWritable) << i;
    int readable = 0;
    for (int i = 1; i <= kRegisterCount; ++i) readable += map[i].RegReadable;
    EXPECT_EQ(readable, 64);
}

TEST_F(RegisterMapTest, WidthsFormatsFlagsAndScales) {
    const std::set<int> signedRegs{3, 4, 8, 13, 34, 36, 37, 39, 40};
    for (int i = 1; i <= kRegisterCount; ++i) {
        EXPECT_EQ(map[i].RegSigned, signedRegs.count(i) == 1) << i;
        EXPECT_EQ(map[i].RegHasNewData, i >= 2 && i <= 8) << i;
        EXPECT_EQ(map[i].RegHasError, i >= 2 && i <= 8) << i;
    }
    EXPECT_EQ(map[reg::Supply_Out].RegBits, 12);
    EXPECT_EQ(map[reg::Xaccel_Out].RegBits, 14);
    EXPECT_EQ(map[reg::Y_Phase].RegBits, 14);
    EXPECT_EQ(map[reg::Command].RegBits, 8);
    EXPECT_EQ(map[reg::Status].RegBits, 10);
    EXPECT_EQ(map[reg::Avg_Cnt].RegBits, 4);
    EXPECT_EQ(map[reg::Fls_Cyc].RegBits, 16);
    EXPECT_FLOAT_EQ(map[reg::Aux_DAC].RegScale, 0.0006105f);
    EXPECT_FLOAT_EQ(map[reg::Temp_Out].RegScale, -0.47f);
    EXPECT_FLOAT_EQ(map[reg::Temp_Out].RegOffset, 625.66f);
    // 25 degrees Celsius at a count of 1278.
    EXPECT_NEAR(1278 * map[reg::Temp_Out].RegScale + map[reg::Temp_Out].RegOffset, 25.0, 1e-3);
    for (int i = 9; i <= kRegisterCount; ++i)
        if (i != reg::Aux_DAC) {
            EXPECT_EQ(map[i].RegScale, 1.0f) << i;
        }
}

TEST_F(RegisterMapTest, InitialisingAgainRestoresTheTable) {
    map[7].RegName = "renamed";
    map[7].RegScale = 9.0f;
    InitRegisterTable(map);
    EXPECT_EQ(map[7].RegName, "Incl_Out");
    EXPECT_FLOAT_EQ(map[7].RegScale, 0.025f);
}

}  // namespace
}  // namespace qvin
