// The help popup as a user meets it: next to a control, above it near the bottom of the screen,
// gone on a click or the release of a key pressed while it shows. The link label on a real
// rich-text control: the markup's text is shown and its link opens its target when the pointer
// is on it.
#include "core/module.h"
#include "resources/string_ids.h"
#include "ui/help_popup.h"
#include "ui/link_label.h"

#include <richedit.h>

#include <gtest/gtest.h>

#include <string>

namespace dm {
namespace {

constexpr int kControl = 100;

class DialogControlTest : public ::testing::Test {
protected:
    // A window with one control, its top `fromBottom` pixels above the screen's bottom.
    void Open(int fromBottom)
    {
        const int bottom = GetSystemMetrics(SM_CYSCREEN);
        owner_ = CreateWindowExA(0, "STATIC", "owner", WS_POPUP | WS_VISIBLE, 100,
                                 bottom - fromBottom - 20, 400, fromBottom + 20, nullptr, nullptr,
                                 nullptr, nullptr);
        ASSERT_TRUE(owner_);
        control_ = CreateWindowExA(0, "EDIT", "", WS_CHILD | WS_VISIBLE, 10, 20, 200, 20, owner_,
                                   HMENU(INT_PTR(kControl)), nullptr, nullptr);
        ASSERT_TRUE(control_);
    }
    void TearDown() override
    {
        HideHelpPopup();
        if (owner_)
            DestroyWindow(owner_);
    }
    RECT ControlOnScreen() const
    {
        RECT rect;
        GetWindowRect(control_, &rect);
        return rect;
    }
    static RECT PopupOnScreen()
    {
        RECT rect = {};
        GetWindowRect(HelpPopupWindow(), &rect);
        return rect;
    }

    // Puts the pointer on character `at` of the control.
    void PointAt(size_t at)
    {
        HWND rich = GetDlgItem(owner_, kControl);
        POINTL where = {};
        SendMessageA(rich, EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&where), LPARAM(at));
        POINT screen = {where.x + 2, where.y + 4};
        ClientToScreen(rich, &screen);
        SetCursorPos(screen.x, screen.y);
    }

    HWND owner_ = nullptr;
    HWND control_ = nullptr;
};

bool Remember(const std::string& target, void* context)
{
    *static_cast<std::string*>(context) = target;
    return true;
}

TEST_F(DialogControlTest, ShowsBelowTheControlOrAboveItNearTheBottomWrapsAndGoesAsTheHandDoes)
{
    Open(300);
    ASSERT_TRUE(ShowControlHelp(owner_, kControl, IDS_WHATSTHIS_PASSWORD, ThisModule()));
    ASSERT_TRUE(HelpPopupWindow());
    wchar_t text[64] = {};
    GetWindowTextW(HelpPopupWindow(), text, 64);
    EXPECT_EQ(std::wstring(text).rfind(L"Provides a place", 0), 0u);
    EXPECT_GE(PopupOnScreen().top, ControlOnScreen().top + 10);
    DestroyWindow(owner_);
    owner_ = nullptr;
    EXPECT_FALSE(HelpPopupWindow()) << "an owned popup goes with its owner";

    Open(10);
    ASSERT_TRUE(ShowControlHelp(owner_, kControl, IDS_WHATSTHIS_PASSWORD, ThisModule()));
    const RECT above = PopupOnScreen();
    EXPECT_LE(above.bottom, ControlOnScreen().top);
    EXPECT_GT(above.bottom - above.top, 40) << "a long text wraps over several lines";

    // Line breaks, the balloon form, and dismissal as the user's hand goes.
    HelpPopupRequest request;
    request.owner = owner_;
    request.text = "short";
    ASSERT_TRUE(ShowHelpPopup(request) & kPopupPlaced);
    const RECT one = PopupOnScreen();
    request.text = "short\r\nshort";
    ASSERT_TRUE(ShowHelpPopup(request) & kPopupPlaced);
    const RECT two = PopupOnScreen();
    EXPECT_EQ(two.right - two.left, one.right - one.left) << "same widest line";
    EXPECT_GT(two.bottom - two.top, one.bottom - one.top) << "the break starts a new line";

    // As a balloon: taller, and shaped as a rounded box with a tail whose tip is at x.
    HelpPopupRequest balloon = request;
    balloon.behaviour |= HelpPopupRequest::Balloon;
    balloon.x = 300;
    balloon.y = 100;
    balloon.position = HelpPopupRequest::CentreX | HelpPopupRequest::TailAtX;
    ASSERT_TRUE(ShowHelpPopup(balloon) & kPopupPlaced);
    const RECT shaped = PopupOnScreen();
    EXPECT_GT(shaped.bottom - shaped.top, two.bottom - two.top);
    EXPECT_EQ(300 - shaped.left, (shaped.right - shaped.left) / 2) << "the tail is not at x";
    HRGN region = CreateRectRgn(0, 0, 0, 0);
    EXPECT_EQ(GetWindowRgn(HelpPopupWindow(), region), COMPLEXREGION);
    EXPECT_FALSE(PtInRegion(region, 0, 0)) << "square corners";
    // Plain again: square.
    ASSERT_TRUE(ShowHelpPopup(request) & kPopupPlaced);
    EXPECT_EQ(GetWindowRgn(HelpPopupWindow(), region), ERROR);
    DeleteObject(region);

    HWND popup = HelpPopupWindow();
    // A release without a press in the popup is no click on it.
    SendMessageA(popup, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
    EXPECT_TRUE(HelpPopupWindow());
    // The release of a key pressed before it showed (F1) leaves it too.
    SendMessageA(popup, WM_KEYUP, VK_F1, 0);
    EXPECT_TRUE(HelpPopupWindow());
    SendMessageA(popup, WM_KEYDOWN, VK_ESCAPE, 0);
    SendMessageA(popup, WM_KEYUP, VK_ESCAPE, 0);
    EXPECT_FALSE(HelpPopupWindow());

    ASSERT_TRUE(ShowHelpPopup(request) & kPopupPlaced);
    popup = HelpPopupWindow();
    SendMessageA(popup, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(2, 2));
    SendMessageA(popup, WM_RBUTTONUP, 0, MAKELPARAM(2, 2));
    EXPECT_FALSE(HelpPopupWindow());
    EXPECT_FALSE(IsWindow(popup));
}

TEST_F(DialogControlTest, TheLinkLabelsTextOpensItsTargetAndNothingElseDoes)
{
    Open(300);
    LinkLabel label;
    std::string opened;
    label.SetOpenTarget(Remember, &opened);
    ASSERT_EQ(label.SetText(owner_, kControl, "Visit |our page|https://example.org/| today"), S_OK);
    char text[64] = {};
    GetWindowTextA(GetDlgItem(owner_, kControl), text, sizeof text);
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

    // Either half of a link empty: no text at all.
    ASSERT_EQ(label.SetLink(owner_, kControl, "our page", ""), S_OK);
    GetWindowTextA(GetDlgItem(owner_, kControl), text, sizeof text);
    EXPECT_STREQ(text, "");
}

}  // namespace
}  // namespace dm
