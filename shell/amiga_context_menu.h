// The menu of one or more selected items: which commands the selection offers, their verbs and
// help texts, and their invocation through the folder's DoCommand.
#pragma once

#include "shell/amiga_folder.h"
#include "shell/com_object.h"
#include "shell/item_id_list.h"

#include <windows.h>

#include <shlobj.h>

#include <array>
#include <vector>

namespace dm {

class AmigaContextMenu final : public IContextMenu, private ComObject {
public:
    static constexpr UINT kMaxPositions = 18;

    // What the folder's GetUIObjectOf does for IID_IContextMenu.
    static HRESULT Create(AmigaFolder& folder, HWND owner, UINT count,
                          const ITEMIDLIST* const* items, REFIID riid, void** out);

    STDMETHODIMP QueryInterface(REFIID riid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override { return AddRefObject(); }
    STDMETHODIMP_(ULONG) Release() override { return ReleaseObject(); }

    STDMETHODIMP QueryContextMenu(HMENU menu, UINT index, UINT first, UINT last,
                                  UINT flags) override;
    STDMETHODIMP InvokeCommand(CMINVOKECOMMANDINFO* info) override;
    STDMETHODIMP GetCommandString(UINT_PTR position, UINT type, UINT*, LPSTR buffer,
                                  UINT size) override;

    // Whether the selection offers `command` (what a verb may run).
    bool IsEnabled(ViewCommand command);

private:
    AmigaContextMenu(AmigaFolder& folder, HWND owner, UINT count, const ITEMIDLIST* const* items);
    ~AmigaContextMenu() override;

    bool CanPaste();
    bool Insert(ViewCommand command);
    bool InsertSeparator();
    // The command recorded at a menu position, or -1 (separator, or beyond what was inserted).
    int CommandAt(UINT_PTR position) const;

    AmigaFolder& folder_;
    HWND owner_;
    std::vector<UniqueIdList> items_;
    HRESULT constructed_ = S_OK;
    SFGAOF attributes_ = 0;
    bool explore_ = false;
    bool hasPcProgram_ = false;
    int pasteAvailable_ = -1;
    HMENU texts_ = nullptr;
    HMENU menu_ = nullptr;
    UINT index_ = 0;
    UINT first_ = 0;
    UINT last_ = 0;
    UINT used_ = 0;
    std::array<int, kMaxPositions> commands_ {};
};

}  // namespace dm
