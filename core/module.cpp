#include "core/module.h"

namespace dm {

HMODULE ThisModule()
{
#ifdef _WIN32
    static HMODULE module = [] {
        HMODULE found = nullptr;
        GetModuleHandleExA(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCSTR>(&ThisModule), &found);
        return found;
    }();
    return module;
#else
    return nullptr;
#endif
}

}  // namespace dm
