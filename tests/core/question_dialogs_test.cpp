#include "core/question_dialogs.h"

#include "core/messages.h"
#include "core/module.h"
#include "resources/resource_ids.h"
#include "resources/string_ids.h"
#include "support/dialog_driver.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace dm {
namespace {

using test::DialogDriver;

bool Contains(const std::vector<std::string>& texts, const std::string& text)
{
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

ConfirmRequest OverwriteRequest(bool singleItem)
{
    ConfirmRequest request;
    request.nameText = "DH0:Work/readme.txt";
    request.captionId = IDS_CAPTION_CONFIRM_OVERWRITE;
    request.messageId = IDS_OVERWRITE_FILE;
    request.iconId = IDI_OVERWRITE;
    request.singleItem = singleItem;
    return request;
}

// Which button gives which answer is driven through the drop flows; here the dialog itself.
TEST(ConfirmDialog, ShowsTheNameSelectedAndASingleItemGetsOnlyYesAndNo)
{
    ConfirmRequest full = OverwriteRequest(false);
    std::string caption, message, name;
    DWORD selection = 0;
    RECT fullNo {}, fullCancel {};
    {
        DialogDriver driver([&](HWND dialog) {
            caption = test::WindowText(dialog);
            message = test::WindowText(GetDlgItem(dialog, IDC_CONFIRM_MESSAGE));
            name = test::WindowText(GetDlgItem(dialog, IDC_CONFIRM_NAME));
            selection = DWORD(SendDlgItemMessageA(dialog, IDC_CONFIRM_NAME, EM_GETSEL, 0, 0));
            fullNo = test::ControlRect(dialog, IDC_CONFIRM_NO);
            fullCancel = test::ControlRect(dialog, IDC_CONFIRM_CANCEL);
            test::PressButton(dialog, IDC_CONFIRM_NO);
        });
        EXPECT_EQ(ConfirmDialog(full, nullptr), OverwriteAnswer::No);
        EXPECT_FALSE(driver.ForcedClose());
    }
    EXPECT_EQ(full.answer, OverwriteAnswer::No);
    EXPECT_EQ(caption, "Confirm Overwrite");
    EXPECT_EQ(message, LoadStringById(IDS_OVERWRITE_FILE, ThisModule()));
    EXPECT_EQ(name, full.nameText);
    EXPECT_EQ(LOWORD(selection), 0);
    EXPECT_EQ(HIWORD(selection), full.nameText.size());

    ConfirmRequest request = OverwriteRequest(true);
    bool yesToAllVisible = true, cancelVisible = true;
    RECT yes {}, no {};
    {
        DialogDriver driver([&](HWND dialog) {
            yesToAllVisible = IsWindowVisible(GetDlgItem(dialog, IDC_CONFIRM_YES_TO_ALL));
            cancelVisible = IsWindowVisible(GetDlgItem(dialog, IDC_CONFIRM_CANCEL));
            yes = test::ControlRect(dialog, IDC_CONFIRM_YES);
            no = test::ControlRect(dialog, IDC_CONFIRM_NO);
            test::PressEscape(dialog);
        });
        EXPECT_EQ(ConfirmDialog(request, nullptr), OverwriteAnswer::Cancel) << "Escape still cancels";
        EXPECT_TRUE(driver.Found());
        EXPECT_FALSE(driver.ForcedClose());
    }
    EXPECT_FALSE(yesToAllVisible);
    EXPECT_FALSE(cancelVisible);
    EXPECT_EQ(yes.left, fullNo.left);
    EXPECT_EQ(yes.top, fullNo.top);
    EXPECT_EQ(no.left, fullCancel.left);
    EXPECT_EQ(no.top, fullCancel.top);
}

TEST(ConfirmById, FormatsCountsEscapeSaysNoAndNothingIsShownWithoutItsStrings)
{
    std::string caption, message;
    {
        DialogDriver driver([&](HWND dialog) {
            caption = test::WindowText(dialog);
            message = test::WindowText(GetDlgItem(dialog, IDC_YES_NO_MESSAGE));
            test::PressButton(dialog, IDC_YES_NO_YES);
        });
        EXPECT_TRUE(
            ConfirmById(nullptr, IDS_CAPTION_CONFIRM_MULTI_DELETE, IDS_CONFIRM_DELETE_ITEMS, {3}));
    }
    EXPECT_EQ(caption, "Confirm Multiple File Delete");
    EXPECT_EQ(message, "Are you sure you want to delete these 3 items?");
    {
        DialogDriver driver([](HWND dialog) { test::PressEscape(dialog); });
        EXPECT_EQ(YesNoDialog("Format", "Really?", IDI_WARNING_SIGN, nullptr), IDNO);
        EXPECT_TRUE(driver.Found());
    }

    DialogDriver driver([](HWND dialog) { test::PressButton(dialog, IDC_YES_NO_YES); },
                        GetCurrentThreadId(), 1000);
    EXPECT_FALSE(ConfirmById(nullptr, 9999, IDS_CONFIRM_DELETE_ITEMS, {3}));
    EXPECT_FALSE(ConfirmById(nullptr, IDS_CAPTION_CONFIRM_MULTI_DELETE, 9999, {3}));
    EXPECT_EQ(MessageBoxById(nullptr, 9999, IDS_CAPTION_ERROR, MB_OK, ThisModule()), 0);
    EXPECT_EQ(MessageBoxById(nullptr, IDS_ERROR_CODE_UNKNOWN, 9999, MB_OK, ThisModule(), {1}), 0);
    EXPECT_FALSE(driver.Found());
}

TEST(MessageBoxes, SystemErrorBoxFallsBackToTheErrorCodeText)
{
    std::string caption;
    std::vector<std::string> texts;
    {
        DialogDriver driver([&](HWND box) {
            caption = test::WindowText(box);
            texts = test::StaticTexts(box);
            test::PressButton(box, IDOK);
        });
        SystemErrorBox(nullptr, IDS_ERROR_CODE_UNKNOWN, IDS_CAPTION_ERROR, ThisModule(),
                       0x2000ABCD);
        EXPECT_TRUE(driver.Found());
        EXPECT_FALSE(driver.ForcedClose());
    }
    EXPECT_EQ(caption, "Error");
    EXPECT_TRUE(Contains(texts, "Error code 0x2000ABCD.")) << testing::PrintToString(texts);

    {
        DialogDriver driver([&](HWND box) {
            texts = test::StaticTexts(box);
            test::PressButton(box, IDOK);
        });
        SystemErrorBox(nullptr, IDS_ERROR_CODE_UNKNOWN, IDS_CAPTION_ERROR, ThisModule(),
                       ERROR_FILE_NOT_FOUND);
    }
    EXPECT_FALSE(Contains(texts, "Error code 0x2."));
    EXPECT_TRUE(
        std::any_of(texts.begin(), texts.end(), [](const std::string& t) { return t.size() > 3; }));
}

}  // namespace
}  // namespace dm
