#include "core/amiga_names.h"

#include "core/amiga_dates.h"

#include <array>
#include <cctype>

namespace dm {

namespace {

constexpr size_t kMaxPath = 260;

char WindowsSafe(char c)
{
    switch (c) {
    case '"': return '\'';
    case '\\':
    case '/':
    case ':':
    case '*':
    case '?':
    case '<':
    case '>':
    case '|': return '_';
    default: return c;
    }
}

bool IsReservedDeviceName(std::string_view stem)
{
    for (std::string_view reserved : {"AUX", "PRN", "CON", "NUL"})
        if (EqualsNoCase(stem, reserved))
            return true;
    return stem.size() == 4 &&
           (EqualsNoCase(stem.substr(0, 3), "COM") || EqualsNoCase(stem.substr(0, 3), "LPT")) &&
           std::isdigit(static_cast<unsigned char>(stem[3]));
}

std::string SafeComponent(std::string_view component)
{
    if (!component.empty() && component.find_first_not_of('.') == std::string_view::npos)
        return std::string(component.size(), '_');
    std::string safe;
    if (IsReservedDeviceName(component.substr(0, component.find('.'))))
        safe = '_';
    safe += component;
    return safe;
}

std::string_view VolumeText(const ItemLocation& item)
{
    return item.parentPath.empty() ? item.name : item.parentPath;
}

}  // namespace

bool EqualsNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) !=
            std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

bool SameVolume(const ItemLocation& a, const ItemLocation& b)
{
    const std::string_view textA = VolumeText(a);
    const std::string_view textB = VolumeText(b);
    const size_t colon = textA.find(':');
    return colon != std::string_view::npos && textB.find(':') == colon &&
           textA.substr(0, colon) == textB.substr(0, colon);
}

std::optional<std::string> MakeWindowsName(std::string_view amigaPath)
{
    std::string result;
    size_t start = 0;
    while (true) {
        const size_t slash = amigaPath.find('/', start);
        const std::string_view component = amigaPath.substr(start, slash - start);
        std::string mapped;
        for (char c : component)
            mapped += WindowsSafe(c);
        result += SafeComponent(mapped);
        if (slash == std::string_view::npos)
            break;
        result += '\\';
        start = slash + 1;
    }
    if (result.size() >= kMaxPath)
        return std::nullopt;
    return result;
}

HRESULT MakeCreateRecord(const PcFileDescriptor& file, const PcFileDescriptor* first,
                         const ItemLocation& destination, DirectoryEntry& record)
{
    if (file.sizeHigh != 0)
        return E_FAIL;

    std::string_view name = file.name;
    if (first) {
        const size_t separator = first->name.find_last_of("\\:");
        if (separator != std::string::npos) {
            const std::string_view base = std::string_view(first->name).substr(0, separator + 1);
            if (name.size() < base.size() || !EqualsNoCase(name.substr(0, base.size()), base))
                return E_FAIL;
            name.remove_prefix(base.size());
        }
    }

    std::string path(destination.parentPath);
    if (!path.empty())
        path += '/';
    path += destination.name;
    if (!destination.name.empty())
        path += '/';
    if (path.size() + name.size() >= kMaxPath)
        return E_FAIL;
    for (char c : name)
        path += c == '\\' ? '/' : (c == '/' || c == ':') ? '_' : c;

    record = DirectoryEntry {};
    record.kind = (file.attributes & FILE_ATTRIBUTE_DIRECTORY) ? ItemKind::Drawer : ItemKind::File;
    record.size = file.sizeLow;
    record.inUse = 0;
    record.date = FileTimeToDateStamp(file.lastWriteTime);
    record.protection = (file.attributes & FILE_ATTRIBUTE_ARCHIVE) ? protection::Archived : 0;
    if (file.attributes & FILE_ATTRIBUTE_READONLY)
        record.protection |= protection::DeleteForbidden | protection::WriteForbidden;
    record.name = std::move(path);
    return S_OK;
}

}  // namespace dm
