#include "core/amiga_paths.h"

#include "resources/string_ids.h"

namespace dm {

size_t DisplayPrefixLength(std::string_view text, int kind)
{
    const bool imageKind = kind == int(ItemKind::RomFile) || kind == int(ItemKind::AdfFile) ||
                           kind == int(ItemKind::HdfFile);
    const bool fullPath = kind == kFullPathKind;
    const bool startsWithColon = !text.empty() && text[0] == ':';

    if (kind == int(ItemKind::Volume) || kind == int(ItemKind::Floppy) ||
        (fullPath && !startsWithColon)) {
        if (startsWithColon)
            return 1;
        for (size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '/')
                return 0;
            if (text[i] == ':')
                return i + 1;
        }
        return 0;
    }
    if (imageKind || fullPath) {
        if (!startsWithColon)
            return 0;
        if (text.size() >= 2 && text[1] == ':')
            return 2;
        for (size_t i = 1; i < text.size(); ++i) {
            if (text[i] == '/')
                return 0;
            if (text[i] == ':')
                return i + 1;
        }
        return 0;
    }
    return 0;
}

std::string FolderPath(std::string_view parentPath, std::string_view name)
{
    std::string path(parentPath);
    if (!parentPath.empty())
        path += '/';
    path += name;
    return path;
}

std::optional<std::string> AmigaPath(std::string_view parentPath, std::string_view name)
{
    if (parentPath.size() + name.size() + 2 >= 260)
        return std::nullopt;
    const std::string joined = FolderPath(parentPath, name);
    if (!joined.empty() && joined[0] == ':')
        return joined;
    std::string path = joined.substr(DisplayPrefixLength(joined, kFullPathKind));
    const size_t slash = path.find('/');
    if (slash == std::string::npos)
        path += ':';
    else
        path[slash] = ':';
    return path;
}

std::string AttributeText(uint32_t protection)
{
    std::string text;
    const char* flags = "HSPA";
    for (int bit = 7; bit >= 4; --bit)
        if (protection & (1u << bit))
            text += flags[7 - bit];
    const char* rights = "RWED";
    for (int bit = 3; bit >= 0; --bit)
        if (!(protection & (1u << bit)))
            text += rights[3 - bit];
    return text;
}

UINT TypeTextId(ItemKind kind)
{
    static const UINT ids[] = {IDS_TYPE_VOLUME,   IDS_TYPE_FLOPPY,   IDS_TYPE_DRAWER,
                               IDS_TYPE_FILE,     IDS_TYPE_ROM_FILE, IDS_TYPE_ADF_FILE,
                               IDS_TYPE_HDF_FILE};
    const size_t index = size_t(kind);
    return index < sizeof ids / sizeof ids[0] ? ids[index] : 0;
}

}  // namespace dm
