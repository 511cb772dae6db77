// The emulated Amiga's folders as the shell opens them: the namespace root, a folder by its path
// and an item by the name it is shown with.
#pragma once

#include "core/amiga_paths.h"
#include "shell/amiga_folder.h"
#include "shell/folder_view.h"
#include "shell/item_id.h"

#include <shlobj.h>
#include <wrl/client.h>

#include <atomic>
#include <string>
#include <string_view>

namespace dm::test {

inline Microsoft::WRL::ComPtr<IShellFolder> AmigaRoot()
{
    Microsoft::WRL::ComPtr<IShellFolder> root;
    Microsoft::WRL::ComPtr<IPersistFolder> persist;
    if (FAILED(AmigaFolder::Create(IID_PPV_ARGS(&root))) || FAILED(root.As(&persist)) ||
        FAILED(persist->Initialize(nullptr)))
        return nullptr;
    return root;
}

// The item shown as `name` in `folder`, null when there is none.
inline UniqueIdList FindItem(IShellFolder* folder, std::string_view name)
{
    Microsoft::WRL::ComPtr<IEnumIDList> walk;
    if (!folder || folder->EnumObjects(nullptr, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, &walk) != S_OK)
        return nullptr;
    ITEMIDLIST* item = nullptr;
    while (walk->Next(1, &item, nullptr) == S_OK) {
        UniqueIdList held(item);
        const ItemIdView view(held.get());
        if (DisplayName(view.Name(), view.Kind()) == name)
            return held;
    }
    return nullptr;
}

// A fresh folder object for a path below the root ("Work", "Work/Docs"), so that its listing is
// read anew; null when a step is missing.
inline Microsoft::WRL::ComPtr<IShellFolder> OpenAmigaFolder(std::string_view path)
{
    Microsoft::WRL::ComPtr<IShellFolder> folder = AmigaRoot();
    while (folder && !path.empty()) {
        const size_t slash = path.find('/');
        const UniqueIdList item = FindItem(folder.Get(), path.substr(0, slash));
        Microsoft::WRL::ComPtr<IShellFolder> child;
        if (!item || FAILED(folder->BindToObject(item.get(), nullptr, IID_PPV_ARGS(&child))))
            return nullptr;
        folder = child;
        path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
    }
    return folder;
}

inline AmigaFolder& Of(IShellFolder* folder)
{
    return *static_cast<AmigaFolder*>(folder);
}

// Counts what a folder asks of a view, and the updates that arrived off the view's own thread.
class CountingView final : public FolderView {
public:
    DWORD OwnerThreadId() const override { return owner_; }
    void Update(ViewUpdate update) override
    {
        offThread += GetCurrentThreadId() != owner_;
        ++(update == ViewUpdate::Refill ? refills : cutMarks);
    }
    void PostUpdate(ViewUpdate) override { ++posted; }

    std::atomic<int> refills {0}, cutMarks {0}, posted {0}, offThread {0};

private:
    const DWORD owner_ = GetCurrentThreadId();
};

}  // namespace dm::test
