// The link label on a real rich-text control: the markup's text is shown, its link opens its
// target when the pointer is on it, and a truncated link opens nothing.
#include "ui/link_label.h"

#include <richedit.h>

#include <gtest/gtest.h>

#include <string>

namespace dm {
namespace {

constexpr int kLabel = 200;

bool Remember(const std::string& target, void* context)
{
    *static_cast<std::string*>(context) = target;
    return true;
}

class LinkLabelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dialog_ = CreateWindowExA(0, "STATIC", "", WS_POPUP | WS_VISIBLE, 50, 50, 400, 100,
                                  nullptr, nullptr, nullptr, nullptr);
        ASSERT_TRUE(dialog_);
        ASSERT_TRUE(CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE, 10, 10, 380, 40,
                                    dialog_, HMENU(INT_PTR(kLabel)), nullptr, nullptr));
    }
    void TearDown() override { DestroyWindow(dialog_); }

    // Puts the pointer on character `at` of the label.
    void PointAt(size_t at)
    {
        HWND rich = GetDlgItem(dialog_, kLabel);
        POINTL where = {};
        SendMessageA(rich, EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&where), LPARAM(at));
        POINT screen = {where.x + 2, where.y + 4};
        ClientToScreen(rich, &screen);
        SetCursorPos(screen.x, screen.y);
    }

    HWND dialog_ = nullptr;
};

TEST_F(LinkLabelTest, TheLinkTextOpensItsTargetAndNothingElseDoes)
{
    LinkLabel label;
    std::string opened;
    label.SetOpenTarget(Remember, &opened);
    ASSERT_EQ(label.SetText(dialog_, kLabel, "Visit |our page|https://example.org/| today"), S_OK);
    HWND rich = GetDlgItem(dialog_, kLabel);
    char className[32] = {};
    GetClassNameA(rich, className, sizeof className);
    EXPECT_STREQ(className, "RichEdit20A") << "the label takes the control's place and id";
    char text[64] = {};
    GetWindowTextA(rich, text, sizeof text);
    EXPECT_STREQ(text, "Visit our page today");

    PointAt(8);
    EXPECT_TRUE(label.TrackMouse());
    EXPECT_TRUE(label.OpenHotLink());
    EXPECT_EQ(opened, "https://example.org/");
    opened.clear();
    PointAt(1);
    EXPECT_FALSE(label.TrackMouse());
    EXPECT_FALSE(label.OpenHotLink());
    EXPECT_EQ(opened, "");

    // Text that ends inside its link: shown, but nothing to open anywhere.
    ASSERT_EQ(label.SetText(dialog_, kLabel, "Visit |our page|https://exa"), S_OK);
    EXPECT_TRUE(label.Parsed().links.empty());
    PointAt(8);
    EXPECT_FALSE(label.TrackMouse());
    EXPECT_FALSE(label.OpenHotLink());
    // Either half of a link empty: no text at all.
    ASSERT_EQ(label.SetLink(dialog_, kLabel, "our page", ""), S_OK);
    GetWindowTextA(GetDlgItem(dialog_, kLabel), text, sizeof text);
    EXPECT_STREQ(text, "");
}

}  // namespace
}  // namespace dm
