#include "cli/remote_tree.h"

#include "core/amiga_paths.h"
#include "protocol/remote_errors.h"

#include <cctype>

namespace dm::cli {

namespace {

bool SameText(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
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
    const HRESULT hr = channel_.ListDirectory(folderPath, [&](const DirectoryEntry& entry) {
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
    return hr;
}

std::optional<ListedItem> RemoteTree::Find(const std::string& userPath, std::string& error)
{
    std::vector<ListedItem> level;
    if (FAILED(List("", level))) {
        error = "cannot list the Amiga's volumes";
        return std::nullopt;
    }
    std::string volume;
    std::vector<std::string> components;
    if (!SplitUserPath(userPath, volume, components)) {
        // A top-level item by its shown name (an image, or a volume written without ":").
        for (const ListedItem& listed : level)
            if (SameText(DisplayName(listed.item.name, listed.item.kind), userPath))
                return listed;
        error = "no such item: " + userPath;
        return std::nullopt;
    }

    std::optional<ListedItem> current;
    for (const ListedItem& listed : level) {
        if (!IsContainerKind(listed.item.kind))
            continue;
        if (SameText(DisplayName(listed.item.name, listed.item.kind), volume) ||
            SameText(DevicePart(listed.item), volume)) {
            current = listed;
            break;
        }
    }
    if (!current) {
        error = "no such volume or device: " + volume + ":";
        return std::nullopt;
    }
    for (const std::string& component : components) {
        if (!IsContainerKind(current->item.kind)) {
            error = "not a drawer: " + current->item.name;
            return std::nullopt;
        }
        const std::string folder = FolderPath(current->item.parentPath, current->item.name);
        if (FAILED(List(folder, level))) {
            error = "cannot list " + AmigaPath(current->item.parentPath, current->item.name)
                                         .value_or(folder);
            return std::nullopt;
        }
        current.reset();
        for (const ListedItem& listed : level) {
            if (SameText(listed.item.name, component)) {
                current = listed;
                break;
            }
        }
        if (!current) {
            error = "no such item: " + userPath;
            return std::nullopt;
        }
    }
    return current;
}

std::optional<ListedItem> RemoteTree::FindFolder(const std::string& userPath, std::string& error)
{
    std::optional<ListedItem> found = Find(userPath, error);
    if (found && !IsContainerKind(found->item.kind)) {
        error = "not a volume or drawer: " + userPath;
        return std::nullopt;
    }
    return found;
}

}  // namespace dm::cli
