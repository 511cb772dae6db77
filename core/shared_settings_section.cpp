#include "core/shared_settings_section.h"

#include "core/module.h"

#include <algorithm>
#include <atomic>

namespace dm {

namespace {

SharedSettingsSection g_private {};

#if defined(_WIN32)
// One copy per image for all its processes. Zero-initialised but explicitly so, so that the
// object gets raw data in the section instead of landing in .bss.
#  if defined(_MSC_VER)
#    pragma section(".shared", read, write, shared)
__declspec(allocate(".shared")) SharedSettingsSection g_shared = {};
#  else
SharedSettingsSection g_shared __attribute__((section(".shared"), shared)) = {};
#  endif

// A linker that drops the flag would leave each process with a copy and no error: check the
// section header of the image we are running from.
bool SectionIsShared(const void* object)
{
    const auto* base = reinterpret_cast<const BYTE*>(ThisModule());
    if (!base)
        return false;
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE)
        return false;
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    if (nt->Signature != IMAGE_NT_SIGNATURE)
        return false;
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
    const uintptr_t offset = reinterpret_cast<const BYTE*>(object) - base;
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
        const uintptr_t start = section->VirtualAddress;
        const uintptr_t size =
            std::max<uintptr_t>(section->Misc.VirtualSize, section->SizeOfRawData);
        if (offset >= start && offset - start + sizeof(SharedSettingsSection) <= size)
            return (section->Characteristics & IMAGE_SCN_MEM_SHARED) &&
                   (section->Characteristics & IMAGE_SCN_MEM_WRITE);
    }
    return false;
}
#endif

std::atomic<SharedSettingsSection*> g_section {&g_private};

}  // namespace

SharedSettingsSection& SharedSection()
{
    return *g_section.load(std::memory_order_relaxed);
}

bool ShareSectionAcrossProcesses()
{
#if defined(_WIN32)
    if (!SectionIsShared(&g_shared))
        return false;
    g_section.store(&g_shared);
    return true;
#else
    return false;
#endif
}

bool SectionSharedAcrossProcesses()
{
    return g_section.load() != &g_private;
}

}  // namespace dm
