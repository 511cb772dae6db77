#include <gtest/gtest.h>

#include <cstdlib>

#ifdef _WIN32
#  include <windows.h>
#endif

namespace {

// Guards the pipeline itself: Windows tests that silently ran somewhere else prove nothing.
TEST(Platform, WindowsTestsRunUnderWineWhenLaunchedThroughIt)
{
#ifdef _WIN32
    if (!std::getenv("DROVEMARK_EXPECT_WINE"))
        GTEST_SKIP() << "not launched through the Wine wrapper";
    using WineVersion = const char*(__cdecl*)();
    const auto version = reinterpret_cast<WineVersion>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version")));
    ASSERT_NE(version, nullptr);
    EXPECT_STRNE(version(), "");
    RecordProperty("wine", version());
#else
    EXPECT_EQ(std::getenv("DROVEMARK_EXPECT_WINE"), nullptr);
#endif
}

}  // namespace
