// The browser's toolbar and status bar while the view is shown: the view's buttons and the
// texts counting the items and their sizes.
#include "view/amiga_view.h"

#include "resources/resource_ids.h"
#include "view/status_texts.h"

namespace dm {

namespace {

constexpr int kStatusFirstPartWidth = 240;

}  // namespace

LRESULT AmigaView::SendToolbar(UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT result = 0;
    if (browser_)
        browser_->SendControlMsg(FCW_TOOLBAR, message, wParam, lParam, &result);
    return result;
}

void AmigaView::SetUpToolbar()
{
    if (!browser_)
        return;
    TBADDBITMAP standard = {HINST_COMMCTRL, IDB_STD_SMALL_COLOR};
    TBADDBITMAP views = {HINST_COMMCTRL, IDB_VIEW_SMALL_COLOR};
    LRESULT standardFirst = -1, viewFirst = -1;
    HRESULT hr = browser_->SendControlMsg(FCW_TOOLBAR, TB_ADDBITMAP, 8,
                                          reinterpret_cast<LPARAM>(&standard), &standardFirst);
    if (SUCCEEDED(hr))
        hr = browser_->SendControlMsg(FCW_TOOLBAR, TB_ADDBITMAP, 8,
                                      reinterpret_cast<LPARAM>(&views), &viewFirst);
    if (FAILED(hr) || standardFirst < 0 || viewFirst < 0)
        return;
    const int s = int(standardFirst), v = int(viewFirst);
    auto button = [](int image, UINT command, BYTE state) {
        TBBUTTON b = {};
        b.iBitmap = image;
        b.idCommand = int(command);
        b.fsState = state;
        b.fsStyle = BTNS_BUTTON;
        return b;
    };
    TBBUTTON separator = {};
    separator.fsStyle = BTNS_SEP;
    TBBUTTON buttons[] = {
        button(s + STD_CUT, UINT(ViewCommand::Cut), 0),
        button(s + STD_COPY, UINT(ViewCommand::Copy), 0),
        button(s + STD_PASTE, UINT(ViewCommand::Paste), 0),
        separator,
        button(s + STD_DELETE, UINT(ViewCommand::Delete), 0),
        button(s + STD_PROPERTIES, UINT(ViewCommand::Properties), 0),
        separator,
        button(v + VIEW_LARGEICONS, IDM_LARGE_ICONS, TBSTATE_ENABLED),
        button(v + VIEW_SMALLICONS, IDM_SMALL_ICONS, TBSTATE_ENABLED),
        button(v + VIEW_LIST, IDM_LIST, TBSTATE_ENABLED),
        button(v + VIEW_DETAILS, IDM_DETAILS, TBSTATE_ENABLED),
    };
    toolbarResult_ = browser_->SetToolbarItems(buttons, ARRAYSIZE(buttons), FCT_MERGE);
    if (SUCCEEDED(toolbarResult_))
        SetViewMode(viewMode_);
    EnableToolbarButtons(nullptr, nullptr);
}

void AmigaView::SetStatusLayout(bool menu)
{
    if (!browser_)
        return;
    LRESULT ignored = 0;
    if (menu) {
        int whole[] = {-1};
        browser_->SendControlMsg(FCW_STATUS, SB_SETPARTS, 1, reinterpret_cast<LPARAM>(whole),
                                 &ignored);
        browser_->SendControlMsg(FCW_STATUS, SB_SETTEXTA, SBT_NOBORDERS,
                                 reinterpret_cast<LPARAM>(""), &ignored);
        return;
    }
    int parts[] = {kStatusFirstPartWidth, -1};
    browser_->SendControlMsg(FCW_STATUS, SB_SETPARTS, 2, reinterpret_cast<LPARAM>(parts), &ignored);
    for (WPARAM part = 0; part < 2; ++part)
        browser_->SendControlMsg(FCW_STATUS, SB_SETTEXTA, part, reinterpret_cast<LPARAM>(""),
                                 &ignored);
}

void AmigaView::UpdateStatus()
{
    if (!browser_ || !list_)
        return;
    const bool selected = SendMessageA(list_, LVM_GETSELECTEDCOUNT, 0, 0) > 0;
    std::vector<const ITEMIDLIST*> items;
    if (FAILED(SelectedItems(selected ? SVGIO_SELECTION : SVGIO_ALLVIEW, items)))
        return;
    const StatusTexts texts = MakeStatusTexts(items, selected);
    LRESULT ignored = 0;
    browser_->SendControlMsg(FCW_STATUS, SB_SETTEXTA, 0,
                             reinterpret_cast<LPARAM>(texts.count.c_str()), &ignored);
    browser_->SendControlMsg(FCW_STATUS, SB_SETTEXTA, 1,
                             reinterpret_cast<LPARAM>(texts.size.c_str()), &ignored);
}

}  // namespace dm
