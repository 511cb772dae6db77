#include "core/amiga_names.h"

#include "core/amiga_dates.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace dm {

namespace {

constexpr size_t kMaxPath = 260;

char WindowsSafe(char c)
{
    if (static_cast<unsigned char>(c) < 0x20)
        return '_';
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

bool IsPossibleAmigaName(std::string_view name)
{
    if (name.empty())
        return false;
    for (char c : name)
        if (c == '/' || static_cast<unsigned char>(c) < 0x20)
            return false;
    return true;
}

std::string PcNameOf(std::string_view amigaName)
{
    std::string safe;
    for (char c : amigaName)
        safe += WindowsSafe(c);
    if (safe.find_first_not_of('.') == std::string::npos)
        return std::string(std::max<size_t>(safe.size(), 1), '_');
    std::string_view stem = std::string_view(safe).substr(0, safe.find('.'));
    stem = stem.substr(0, stem.find_last_not_of(' ') + 1);  // "con .txt" is the device too
    if (IsReservedDeviceName(stem))
        safe.insert(safe.begin(), '_');
    // Windows drops a trailing dot or blank, and two Amiga names would become one.
    if (safe.back() == '.' || safe.back() == ' ')
        safe.back() = '_';
    return safe;
}

std::optional<std::string> MakeWindowsName(std::string_view amigaPath)
{
    std::string result;
    size_t start = 0;
    while (true) {
        const size_t slash = amigaPath.find('/', start);
        result += PcNameOf(amigaPath.substr(start, slash - start));
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
