// The real module, loaded as the shell loads it: a Properties window left open after every
// object was released keeps the module loaded until the window closes.
#include "shell/com_object.h"
#include "shell/item_id.h"
#include "shell/item_id_list.h"
#include "support/dialog_driver.h"

#include <prsht.h>
#include <shlobj.h>

#include <gtest/gtest.h>
#include <wrl/client.h>

#include <algorithm>
#include <string>

using Microsoft::WRL::ComPtr;

namespace dm {
namespace {

bool ModuleLoaded()
{
    return GetModuleHandleA("drovemark.dll") != nullptr;
}

TEST(ModuleUnload, PropertiesWindowKeepsTheModuleUntilItCloses)
{
    std::string path = std::string("Z:") + DROVEMARK_DLL_PATH;
    std::replace(path.begin(), path.end(), '/', '\\');
    ASSERT_FALSE(ModuleLoaded());
    HMODULE module = LoadLibraryA(path.c_str());
    ASSERT_TRUE(module) << path;
    using GetClassObject = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
    const auto getClassObject =
        reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(GetProcAddress(module,
                                                                               "DllGetClassObject")));
    ASSERT_TRUE(getClassObject);
    {
        ComPtr<IClassFactory> factory;
        ASSERT_EQ(getClassObject(kNamespaceClsid, IID_PPV_ARGS(&factory)), S_OK);
        ComPtr<IShellFolder> root;
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_PPV_ARGS(&root)), S_OK);
        ComPtr<IPersistFolder> persist;
        ASSERT_EQ(root.As(&persist), S_OK);
        ASSERT_EQ(persist->Initialize(nullptr), S_OK);
        const UniqueIdList file(
            MakeItemId("DH0:", "unload.txt", ItemKind::File, 5, 0, 0, FILETIME {}, ""));
        ASSERT_TRUE(file);
        const ITEMIDLIST* items[] = {file.get()};
        ComPtr<IContextMenu> menu;
        ASSERT_EQ(root->GetUIObjectOf(nullptr, 1, items, IID_IContextMenu, nullptr,
                                      reinterpret_cast<void**>(menu.GetAddressOf())),
                  S_OK);
        CMINVOKECOMMANDINFO invoke = {};
        invoke.cbSize = sizeof invoke;
        invoke.lpVerb = "properties";
        invoke.nShow = SW_SHOWNORMAL;
        ASSERT_EQ(menu->InvokeCommand(&invoke), S_OK);
    }
    HWND sheet = nullptr;
    ASSERT_TRUE(test::PumpUntil([&] {
        return (sheet = FindWindowA(nullptr, "unload.txt Properties")) != nullptr;
    })) << "no Properties window";

    FreeLibrary(module);
    // Long enough for a module without a reference of the window's own to be gone.
    test::PumpUntil([] { return false; }, std::chrono::milliseconds(300));
    EXPECT_TRUE(ModuleLoaded()) << "unloaded under the open window";
    EXPECT_TRUE(IsWindow(sheet));

    PostMessageA(sheet, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
    EXPECT_TRUE(test::PumpUntil([] { return !ModuleLoaded(); }, std::chrono::seconds(5)))
        << "still loaded once closed";
}

}  // namespace
}  // namespace dm
