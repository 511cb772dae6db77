#include "cli/remote_tree.h"

#include "core/amiga_paths.h"

namespace dm::cli {

namespace {

unsigned char FoldCase(unsigned char c)
{
    if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7))
        return static_cast<unsigned char>(c + 0x20);
    return c;
}

// The device part of a top-level name without its ":" (DH0 of DH0:Work).
std::string_view DevicePart(const RemoteItem& item)
{
    const size_t prefix = DisplayPrefixLength(item.name, int(item.kind));
    std::string_view device(item.name.data(), prefix);
    while (!device.empty() && device.back() == ':')
        device.remove_suffix(1);
    while (!device.empty() && device.front() == ':')
        device.remove_prefix(1);
    return device;
}

}  // namespace

bool SameAmigaName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (FoldCase(static_cast<unsigned char>(a[i])) != FoldCase(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

bool SplitUserPath(const std::string& userPath, std::string& volume,
                   std::vector<std::string>& components)
{
    const size_t colon = userPath.find(':');
    if (colon == std::string::npos || colon == 0)
        return false;
    volume = userPath.substr(0, colon);
    components.clear();
    std::string rest = userPath.substr(colon + 1);
    size_t start = 0;
    while (start <= rest.size()) {
        const size_t slash = rest.find('/', start);
        const std::string part = rest.substr(start, slash - start);
        if (!part.empty())
            components.push_back(part);
        if (slash == std::string::npos)
            break;
        start = slash + 1;
    }
    return true;
}

HRESULT RemoteTree::List(const std::string& folderPath, std::vector<ListedItem>& items)
{
    items.clear();
    return channel_.ListDirectory(folderPath, [&](const DirectoryEntry& entry) {
        ListedItem listed;
        listed.item.parentPath = folderPath;
        listed.item.name = entry.name;
        listed.item.kind = entry.kind;
        listed.item.size = entry.size;
        listed.item.usedSpace = entry.inUse;
        listed.protection = entry.protection;
        listed.date = entry.date;
        listed.comment = entry.comment;
        items.push_back(std::move(listed));
        return true;
    });
}

std::optional<LocatedItem> RemoteTree::Locate(const std::string& userPath, std::string& error)
{
    if (!root_) {
        std::vector<ListedItem> level;
        if (FAILED(List("", level))) {
            error.clear();  // the channel's error report says why
            return std::nullopt;
        }
        root_ = std::move(level);
    }
    std::string volume;
    std::vector<std::string> components;
    if (!SplitUserPath(userPath, volume, components)) {
        // A top-level item by its shown name (an image, or a volume written without ":").
        for (const ListedItem& listed : *root_)
            if (SameAmigaName(DisplayName(listed.item.name, listed.item.kind), userPath))
                return LocatedItem {listed, true};
        error = "no such item: " + userPath;
        return std::nullopt;
    }

    const ListedItem* top = nullptr;
    for (const ListedItem& listed : *root_) {
        if (IsContainerKind(listed.item.kind) &&
            (SameAmigaName(DisplayName(listed.item.name, listed.item.kind), volume) ||
             SameAmigaName(DevicePart(listed.item), volume))) {
            top = &listed;
            break;
        }
    }
    if (!top) {
        error = "no such volume or device: " + volume + ":";
        return std::nullopt;
    }
    if (components.empty())
        return LocatedItem {*top, true};

    LocatedItem located;
    RemoteItem& item = located.listed.item;
    item.parentPath = FolderPath(top->item.parentPath, top->item.name);
    for (size_t i = 0; i + 1 < components.size(); ++i)
        item.parentPath = FolderPath(item.parentPath, components[i]);
    item.name = components.back();
    if (AmigaPath(item.parentPath, item.name) == std::nullopt) {
        error = "the path is too long: " + userPath;
        return std::nullopt;
    }
    return located;
}

std::optional<ListedItem> RemoteTree::Find(const std::string& userPath, std::string& error)
{
    std::optional<LocatedItem> located = Locate(userPath, error);
    if (!located)
        return std::nullopt;
    if (located->known)
        return located->listed;
    std::vector<ListedItem> siblings;
    if (FAILED(List(located->Item().parentPath, siblings))) {
        error = "no such item: " + userPath;
        return std::nullopt;
    }
    for (ListedItem& listed : siblings)
        if (SameAmigaName(listed.item.name, located->Item().name))
            return std::move(listed);
    error = "no such item: " + userPath;
    return std::nullopt;
}

}  // namespace dm::cli
