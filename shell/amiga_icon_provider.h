#pragma once
#include <windows.h>
#include <string_view>
#include "core/amiga_types.h"
namespace dm {
struct AmigaIconProvider {
    static HRESULT Create(std::string_view, ItemKind, REFIID, void** out)
    {
        *out = nullptr;
        return E_NOINTERFACE;
    }
};
}  // namespace dm
