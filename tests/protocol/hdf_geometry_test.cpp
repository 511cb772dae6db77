#include "protocol/hdf_geometry.h"

#include <gtest/gtest.h>

namespace dm {
namespace {

TEST(HdfGeometry, BothMountTextsCarryTheValuesInTheirOwnOrderAndMissingOnesEmpty)
{
    HdfGeometry g = ParseHdfGeometry("DH0 :32 :4 :2 :0 :512 :1023 :0x444F5301");
    EXPECT_EQ(UaeMountText(g),
              "Sectors = 32\r\nSurfaces = 4\r\nReserved = 2\r\nPreAlloc = 0\r\nSectorSize = 512");
    EXPECT_EQ(MountlistText(g),
              "Device = uaehf.device\r\nUnit = 0\r\nFlags = 0\r\nSurfaces = 4\r\n"
              "BlocksPerTrack = 32\r\nSectorSize = 512\r\nReserved = 2\r\nPreAlloc = 0\r\n"
              "Interleave = 0\r\nLowCyl = 0\r\nHighCyl = 1023\r\nBuffers = 5\r\n"
              "BufMemType = 1\r\nDosType = 0x444F5301");

    // Short or odd comments leave the missing values empty.
    g = ParseHdfGeometry(":63 :16");
    EXPECT_EQ(g.values[HdfGeometry::Surfaces], "16");
    EXPECT_EQ(g.values[HdfGeometry::DosType], "");
    g = ParseHdfGeometry("no values at all");
    for (const std::string& value : g.values)
        EXPECT_EQ(value, "");
    g = ParseHdfGeometry(std::string_view(":1 :2\0:3", 8));
    EXPECT_EQ(g.values[HdfGeometry::Reserved], "") << "nothing after the terminator counts";
    g = ParseHdfGeometry(":" + std::string(300, '9') + " :: :");
    EXPECT_EQ(g.values[0].size(), HdfGeometry::kMaxValueLength);
    EXPECT_EQ(g.values[1], ":");
    EXPECT_EQ(g.values[2], "");
}

}  // namespace
}  // namespace dm
