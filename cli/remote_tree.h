// Finds Amiga items by the paths a user writes (Work:Devs/file, DH0:Devs/file, kick.rom) through
// listings of the volumes and drawers on the way.
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

class RemoteTree {
public:
    explicit RemoteTree(PacketChannel& channel) : channel_(channel) {}

    // The items of a folder (the root for an empty folder path); E_FAIL and a message in
    // `error` when it cannot be listed.
    HRESULT List(const std::string& folderPath, std::vector<ListedItem>& items);

    // The item a user path names. `error` says why when there is none.
    std::optional<ListedItem> Find(const std::string& userPath, std::string& error);

    // The folder a user path names, for commands that put something into it.
    std::optional<ListedItem> FindFolder(const std::string& userPath, std::string& error);

private:
    PacketChannel& channel_;
};

// Splits "Work:Devs/file" into "Work" and {"Devs", "file"}; false when there is no ":".
bool SplitUserPath(const std::string& userPath, std::string& volume,
                   std::vector<std::string>& components);

}  // namespace dm::cli
