// Dragging with the view: rows dragged out to other targets, and drags over the list handed to
// the drop target of the row under the cursor or of the folder shown, with scrolling at the edges.
#include "view/amiga_view.h"

#include "shell/item_id.h"
#include "shell/ui_object_factories.h"

#include <algorithm>

namespace dm {

namespace {

// The data object learns how the drag ended; a move makes it delete what it delivered.
void SetPerformedEffect(IDataObject& data, DWORD effect)
{
    const UINT format = RegisterClipboardFormatA("Performed DropEffect");
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, sizeof(DWORD));
    if (!format || !memory) {
        if (memory)
            GlobalFree(memory);
        return;
    }
    if (auto* value = static_cast<DWORD*>(GlobalLock(memory))) {
        *value = effect;
        GlobalUnlock(memory);
    }
    FORMATETC kind = {CLIPFORMAT(format), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    STGMEDIUM medium = {};
    medium.tymed = TYMED_HGLOBAL;
    medium.hGlobal = memory;
    if (FAILED(data.SetData(&kind, &medium, TRUE)))
        GlobalFree(memory);
}

}  // namespace

void AmigaView::BeginDrag()
{
    const auto makeSource = UiFactories().createDropSource;
    if (FAILED(oleResult_) || !list_ || !makeSource)
        return;
    std::vector<const ITEMIDLIST*> items;
    if (FAILED(SelectedItems(SVGIO_SELECTION, items)) || items.empty())
        return;
    // A move refills the list during the drag: the rows' identifiers may go.
    std::vector<UniqueIdList> owned;
    for (const ITEMIDLIST* item : items) {
        owned.push_back(CloneUnique(item));
        if (!owned.back())
            return;
        items[owned.size() - 1] = owned.back().get();
    }
    SFGAOF attributes = SFGAO_CANCOPY | SFGAO_CANMOVE;
    if (FAILED(folder_.GetAttributesOf(UINT(items.size()), items.data(), &attributes)))
        return;
    const DWORD allowed = ((attributes & SFGAO_CANCOPY) ? DROPEFFECT_COPY : 0) |
                          ((attributes & SFGAO_CANMOVE) ? DROPEFFECT_MOVE : 0);
    if (!allowed)
        return;
    IDataObject* data = nullptr;
    if (FAILED(folder_.GetUIObjectOf(browserWindow_, UINT(items.size()), items.data(),
                                     IID_IDataObject, nullptr, reinterpret_cast<void**>(&data))) ||
        !data)
        return;
    IDropSource* source = nullptr;
    if (SUCCEEDED(makeSource(*data, &source)) && source) {
        DWORD effect = DROPEFFECT_NONE;
        const HRESULT hr = DoDragDrop(data, source, allowed, &effect);
        SetPerformedEffect(*data, hr == DRAGDROP_S_DROP ? effect : DROPEFFECT_NONE);
        source->Release();
    }
    data->Release();
}

STDMETHODIMP AmigaView::DragEnter(IDataObject* data, DWORD keys, POINTL point, DWORD* effect)
{
    dragData_ = data;
    hoverRow_ = -1;
    hoverNothing_ = false;
    return DragOver(keys, point, effect);
}

STDMETHODIMP AmigaView::DragOver(DWORD keys, POINTL point, DWORD* effect)
{
    if (effect)
        *effect = DROPEFFECT_NONE;
    if (!dragData_)
        return S_OK;
    LVHITTESTINFO hit = {};
    hit.iItem = -1;
    if (list_) {
        hit.pt = {point.x, point.y};
        ScreenToClient(list_, &hit.pt);
        SendMessageA(list_, LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit));
    }
    const bool scrolling = DragScroll(hit);
    const bool nothing = (hit.flags & LVHT_NOWHERE) != 0;
    HoverDrag(keys, nothing ? -1 : hit.iItem, nothing, point);
    if (!delegate_)
        return S_OK;
    const HRESULT hr = delegate_->DragOver(keys, point, effect);
    if (SUCCEEDED(hr) && scrolling && effect)
        *effect |= DROPEFFECT_SCROLL;
    return hr;
}

bool AmigaView::DragScroll(const LVHITTESTINFO& hit)
{
    const auto stop = [this] {
        scrollX_ = scrollY_ = 0;
        edgeSince_ = lastScroll_ = 0;
        return false;
    };
    const UINT inside = LVHT_NOWHERE | LVHT_ONITEMICON | LVHT_ONITEMLABEL | LVHT_ONITEMSTATEICON;
    if (!list_ || !(hit.flags & inside))
        return stop();
    RECT client = {};
    GetClientRect(list_, &client);
    const int step = viewMode_ == FVM_LIST ? 1 : scrollInset_;
    int dx = 0, dy = 0;
    if (hit.pt.x <= client.left + scrollInset_)
        dx = -step;
    if (hit.pt.x >= client.right - scrollInset_)
        dx = step;
    if (hit.pt.y <= client.top + scrollInset_)
        dy = -scrollInset_;
    if (hit.pt.y >= client.bottom - scrollInset_)
        dy = scrollInset_;
    if (dx == 0 && dy == 0)
        return stop();
    // 0 means "not yet", so a tick count of 0 is taken as 1.
    const DWORD now = std::max<DWORD>(GetTickCount(), 1);
    if (scrollX_ || scrollY_) {
        scrollX_ = dx;
        scrollY_ = dy;
    } else {
        if (!edgeSince_)
            edgeSince_ = now;
        if (now - edgeSince_ >= scrollDelay_) {
            scrollX_ = dx;
            scrollY_ = dy;
        }
    }
    if (!scrollX_ && !scrollY_)
        return false;
    if (!lastScroll_) {
        SendMessageA(list_, LVM_SCROLL, WPARAM(scrollX_), LPARAM(scrollY_));
        lastScroll_ = now;
    } else if (now - lastScroll_ >= scrollInterval_) {
        lastScroll_ = 0;
    }
    return true;
}

void AmigaView::HoverDrag(DWORD keys, int row, bool nothing, POINTL point)
{
    if (row == hoverRow_ && nothing == hoverNothing_)
        return;
    hoverRow_ = row;
    hoverNothing_ = nothing;
    if (delegate_) {
        delegate_->DragLeave();
        delegate_->Release();
        delegate_ = nullptr;
    }
    if (highlightRow_ >= 0 && list_) {
        LVITEMA state = {};
        state.stateMask = LVIS_DROPHILITED;
        SendMessageA(list_, LVM_SETITEMSTATE, highlightRow_, reinterpret_cast<LPARAM>(&state));
    }
    highlightRow_ = -1;
    if (!dragData_)
        return;

    // Takes `target` as the delegate when it accepts the drag.
    const auto offer = [&](IDropTarget* target) {
        DWORD effect = DROPEFFECT_NONE;
        if (SUCCEEDED(target->DragEnter(dragData_, keys, point, &effect)) && effect != 0) {
            delegate_ = target;
            return true;
        }
        target->DragLeave();
        target->Release();
        return false;
    };
    const ITEMIDLIST* item = row >= 0 && list_ ? RowItem(list_, row) : nullptr;
    if (item && (ItemAttributes(item) & SFGAO_DROPTARGET)) {
        IDropTarget* target = nullptr;
        if (SUCCEEDED(folder_.GetUIObjectOf(browserWindow_, 1, &item, IID_IDropTarget, nullptr,
                                            reinterpret_cast<void**>(&target))) &&
            target && offer(target)) {
            LVITEMA state = {};
            state.stateMask = LVIS_DROPHILITED;
            state.state = LVIS_DROPHILITED;
            SendMessageA(list_, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&state));
            highlightRow_ = row;
            return;
        }
    }
    if ((row < 0 && !nothing) || !folder_.OwnItem())
        return;
    // Empty space, or a row that refused: the folder shown takes the drop itself.
    if (AmigaFolder* parent = folder_.ParentFolder()) {
        const ITEMIDLIST* own = folder_.OwnItem();
        IDropTarget* target = nullptr;
        if ((ItemAttributes(own) & SFGAO_DROPTARGET) &&
            SUCCEEDED(parent->GetUIObjectOf(browserWindow_, 1, &own, IID_IDropTarget, nullptr,
                                            reinterpret_cast<void**>(&target))) &&
            target)
            offer(target);
        parent->Release();
    }
}

void AmigaView::EndDrag()
{
    DragScroll(LVHITTESTINFO {});
    HoverDrag(0, -1, false, POINTL {0, 0});
    dragData_ = nullptr;
    hoverRow_ = -1;
    hoverNothing_ = false;
}

STDMETHODIMP AmigaView::DragLeave()
{
    dragData_ = nullptr;
    EndDrag();
    return S_OK;
}

STDMETHODIMP AmigaView::Drop(IDataObject* data, DWORD keys, POINTL point, DWORD* effect)
{
    if (effect)
        *effect = DROPEFFECT_NONE;
    if (IDropTarget* target = delegate_) {
        delegate_ = nullptr;
        target->Drop(data, keys, point, effect);
        target->DragLeave();
        target->Release();
    }
    EndDrag();
    return S_OK;
}

}  // namespace dm
