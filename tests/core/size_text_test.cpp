#include "core/size_text.h"

#include <gtest/gtest.h>

#include <cstring>

namespace dm {
namespace {

// The test machines run with an English locale: "." decimals, "," thousands.
TEST(SizeText, PicksTheUnitAtEachBoundaryRoundsUpWithoutOverflowAndCutsTheBufferForm)
{
    EXPECT_EQ(SizeText(0, false, 0), "0 bytes");
    EXPECT_EQ(SizeText(999, false, 0), "999 bytes");
    EXPECT_EQ(SizeText(999, true, 0), "999 bytes");
    EXPECT_EQ(SizeText(1000, false, 0), "1KB");
    EXPECT_EQ(SizeText(1000, true, 0), "0.98KB");
    EXPECT_EQ(SizeText(999999, false, 0), "977KB");
    EXPECT_EQ(SizeText(1000000, false, 0), "1MB");
    EXPECT_EQ(SizeText(1048576, true, 0), "1MB");
    EXPECT_EQ(SizeText(1572864, true, 0), "1.50MB");
    EXPECT_EQ(SizeText(999999999, true, 0), "953.67MB");
    EXPECT_EQ(SizeText(1000000000, false, 0), "1GB");
    EXPECT_EQ(SizeText(1000000000, true, 0), "0.93GB");
    // The largest size rounds up without overflow.
    EXPECT_EQ(SizeText(4294967295u, false, 1024), "4,194,304KB");
    EXPECT_EQ(SizeText(4294967295u, false, 0), "4GB");
    EXPECT_EQ(SizeText(4294967295u, true, 0), "4GB");  // 3.9999999991 prints as 4.000000
    EXPECT_EQ(SizeText(4294967295u, true, 1), "4,294,967,295 bytes");
    // A forced unit keeps its decimals.
    EXPECT_EQ(SizeText(512, true, 1024), "0.50KB");

    // The buffer form is cut to its length.
    char buffer[16];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(FormatSizeText(1572864, buffer, sizeof buffer, true, 0), 6);
    EXPECT_STREQ(buffer, "1.50MB");
    EXPECT_EQ(FormatSizeText(1572864, buffer, 4, true, 0), 3);
    EXPECT_STREQ(buffer, "1.5");
    EXPECT_EQ(FormatSizeText(1572864, buffer, 0, true, 0), 0);
    EXPECT_EQ(FormatSizeText(1572864, nullptr, 16, true, 0), 0);
}

}  // namespace
}  // namespace dm
