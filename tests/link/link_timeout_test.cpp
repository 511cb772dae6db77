#include "link/link.h"

#include <gtest/gtest.h>

namespace dm {
namespace {

class FixedLink : public Link {
public:
    FixedLink(uint32_t minTimeoutMs, float msPerByte) : Link(LinkKind::None, "test")
    {
        SetTimeoutBasis(minTimeoutMs, msPerByte);
    }
    HRESULT Open() override { return S_OK; }
    HRESULT Close() override { return S_OK; }
    HRESULT Read(void*, uint32_t, int32_t) override { return E_FAIL; }
    HRESULT Write(const void*, uint32_t, int32_t) override { return E_FAIL; }
    HRESULT Discard() override { return S_OK; }
    bool GetHandshakeKey(uint32_t&) override { return false; }
};

TEST(LinkTimeout, FollowsTheHintRules)
{
    const float at19200 = 2000.0f / (19200 * 0.1f);
    const FixedLink link(5000, at19200);
    EXPECT_EQ(link.TimeoutMs(12, kNoTimeout), std::nullopt);
    EXPECT_EQ(link.TimeoutMs(12, -250), 250u);
    EXPECT_EQ(link.TimeoutMs(12, 0), 5000u);      // 12.5 ms raised to the minimum
    EXPECT_EQ(link.TimeoutMs(12, 4112), 5625u);   // 4283 raised to 5000, plus one eighth
    EXPECT_EQ(link.TimeoutMs(65535, 0), 68265u);  // 65535 bytes at 1.0417 ms
    EXPECT_EQ(link.TimeoutMs(0, 65551), 76817u);  // 68282 plus one eighth
    EXPECT_EQ(link.TimeoutMs(0, INT32_MIN + 1), 2147483647u);
    // Huge counts never wrap to short waits.
    const FixedLink slow(5000, 1000.0f);
    EXPECT_EQ(slow.TimeoutMs(0xFFFFFFFFu, 0), 0xFFFFFFFFu);
    EXPECT_EQ(slow.TimeoutMs(0, 0x7FFFFFFE), 0xFFFFFFFFu);
}

}  // namespace
}  // namespace dm
