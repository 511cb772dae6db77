// Finds Amiga items by the paths a user writes (Work:Devs/file, DH0:Devs/file, kick.rom) with as
// few exchanges as the protocol allows: the root listing names the volumes (once per run), and a
// path below a volume is sent as it is; only what needs an item's own record lists its parent.
// Paths and names here are ISO-8859-1, as on the Amiga.
#pragma once

#include "protocol/packet_channel.h"
#include "protocol/remote_item.h"

#include <optional>
#include <string>
#include <vector>

namespace dm::cli {

struct ListedItem {
    RemoteItem item;
    uint32_t protection = 0;
    DateStamp date;
    std::string comment;
};

// An item as a path names it. Only a top-level item comes with its record (`listed`); below a
// volume the kind is unknown until the Amiga is asked (a listing of the item or of its parent).
struct LocatedItem {
    ListedItem listed;
    bool known = false;

    const RemoteItem& Item() const { return listed.item; }
};

class RemoteTree {
public:
    explicit RemoteTree(PacketChannel& channel) : channel_(channel) {}

    // The items of a folder (the root for an empty folder path); E_FAIL when it cannot be listed.
    HRESULT List(const std::string& folderPath, std::vector<ListedItem>& items);

    // Where a user path points, from the root listing alone. `error` says why when nowhere; it
    // is empty when the root could not be listed, and the channel's error report tells why.
    std::optional<LocatedItem> Locate(const std::string& userPath, std::string& error);

    // The item with its record, listing its parent when it lies below a volume.
    std::optional<ListedItem> Find(const std::string& userPath, std::string& error);

private:
    PacketChannel& channel_;
    std::optional<std::vector<ListedItem>> root_;
};

// Splits "Work:Devs/file" into "Work" and {"Devs", "file"}; false when there is no ":".
bool SplitUserPath(const std::string& userPath, std::string& volume,
                   std::vector<std::string>& components);

// Whether two ISO-8859-1 names are the same to the Amiga, which ignores case (accented letters
// included).
bool SameAmigaName(std::string_view a, std::string_view b);

}  // namespace dm::cli
