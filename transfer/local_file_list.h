// The PC files and folders of one drop or paste onto the Amiga: the dropped items in the shell's
// order, then the contents of each dropped folder, depth first, every folder directly followed
// by what it holds.
#pragma once

#include "core/amiga_names.h"

#include <windows.h>

#include <shtypes.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace dm {

class LocalFileList {
public:
    // Fills the list from a "Shell IDList Array" block (another process's bytes: every offset is
    // checked). Shortcuts stand for their targets. Fails, leaving the list empty, when an item
    // cannot be resolved, does not exist, or a path would reach 260 characters.
    HRESULT BuildFromShellIdList(const void* block, size_t size);
    // The same from full local paths, in order.
    HRESULT BuildFromPaths(const std::vector<std::string>& paths);

    void Clear()
    {
        entries_.clear();
        throughLink_.clear();
    }
    bool Empty() const { return entries_.empty(); }
    size_t Count() const { return entries_.size(); }
    // `name` is the full local path.
    const PcFileDescriptor& operator[](size_t index) const { return entries_[index]; }
    const std::vector<PcFileDescriptor>& Entries() const { return entries_; }

    static bool IsDirectory(const PcFileDescriptor& entry)
    {
        return (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    }
    // A junction or symbolic link: its contents are copied, but they live somewhere else.
    static bool IsLink(const PcFileDescriptor& entry)
    {
        return (entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    }
    // Whether the entry was reached through a linked folder, so that it lies outside the tree
    // the user chose and a move must leave it where it is.
    bool ReachedThroughLink(size_t index) const { return throughLink_[index]; }

private:
    HRESULT AddPath(const std::string& path);
    HRESULT AddContents(const std::string& folder, bool throughLink);
    HRESULT AddFound(const std::string& directory, const WIN32_FIND_DATAA& found,
                     bool throughLink);

    std::vector<PcFileDescriptor> entries_;
    std::vector<bool> throughLink_;
};

}  // namespace dm
