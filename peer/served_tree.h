// The emulated Amiga's storage: host folders served as volumes and floppy disks, host files
// served as disk, partition and ROM images. Every operation takes a remote path as the PC sends
// it (DH0:Work/Devs/file), stays inside the served folders, and answers with an AmigaDOS error
// code (0 for success).
#pragma once

#include "core/amiga_types.h"
#include "peer/host_files.h"

#include <sys/stat.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace dm::peer {

// Bits of a drive's protection field the PC reads: it may be formatted; it can take every file
// system variant (without it the PC offers only the old file system); it has subdrawers.
constexpr uint32_t kCapabilityBit = 0x10000000;
constexpr uint32_t kFormattableBit = 0x20000000;
constexpr uint32_t kHasSubdrawersBit = 0x80000000;

constexpr uint64_t kFloppyCapacity = 901120;
constexpr size_t kMaxNameLength = 107;
constexpr size_t kMaxLabelLength = 30;
constexpr size_t kMaxCommentLength = 79;

struct Drive;

struct DriveConfig {
    ItemKind kind = ItemKind::Volume;  // Volume, Floppy, AdfFile, HdfFile or RomFile
    std::string device;                // DH0, DF1 (without ":"); empty for a ROM
    std::string label;                 // a volume's or disk's name; empty: the folder's name
    std::string hostPath;              // folder or image file; empty: a floppy drive without disk
    bool formattable = false;          // floppy disks always are
    uint64_t capacity = 0;             // 0: the host file system's (floppies: 880 KB)
};

// Where a remote path leads. The item itself may not exist yet; its folder does.
struct Target {
    const Drive* drive = nullptr;  // null: the level that lists the drives
    bool isDrive = false;          // the path names the drive or image itself
    Fd parent;                     // the folder that holds the item, unless a drive
    std::string name;              // its host name: as found, else as asked for
    bool exists = false;
    struct stat st {};
};

struct CountStep {
    uint32_t bytes = 0;
    uint32_t drawers = 0;
    uint32_t files = 0;
};

class ServedTree {
public:
    ServedTree();
    ~ServedTree();
    ServedTree(const ServedTree&) = delete;
    ServedTree& operator=(const ServedTree&) = delete;

    // Host names carry %XX escapes that listings undo and requests redo (a test's hostile side).
    void SetEscapedNames(bool escaped) { escapedNames_ = escaped; }

    // False, with the reason, when the drive cannot be served as configured.
    bool AddDrive(const DriveConfig& config, std::string& reason);

    // The top-level names as the PC receives them: DH0:Work, DF0 (no disk), :DF0:disk.adf,
    // ::kick.rom. The part up to the (second) ":" is the hidden device part.
    std::vector<std::string> DriveNames() const;

    uint32_t Resolve(std::string_view path, Target& target) const;
    // An existing, visible file or drawer inside a drive; never a drive itself.
    uint32_t ResolveItem(std::string_view path, Target& target) const;

    uint32_t List(std::string_view path, std::vector<DirectoryEntry>& entries) const;
    uint32_t OpenForRead(std::string_view path, Fd& file, uint32_t& size) const;
    uint32_t CreateDrawer(const DirectoryEntry& record);
    uint32_t Delete(std::string_view path);
    uint32_t Rename(std::string_view path, std::string_view newName);
    uint32_t Move(std::string_view source, std::string_view destinationFolder);
    uint32_t SetAttributes(std::string_view path, uint32_t protectionBits,
                           const std::string* comment);
    uint32_t NewDrawer(std::string_view parentPath);
    // Calls `step` once per drawer counted (coalesced when they come fast); a false return
    // stops the count, which then ends successfully.
    uint32_t Count(std::string_view path, const std::function<bool(const CountStep&)>& step) const;

    // A file arriving from the PC: checked and described first (so that the server can ask
    // before replacing), then received into a temporary file that replaces the target only once
    // complete.
    struct Upload {
        bool replaces = false;
        std::string confirmText;
        bool image = false;
        uint64_t imageSize = 0;
        const Drive* drive = nullptr;
        Fd folder;
        std::string name;
        uint64_t replacedSize = 0;
        mode_t mode = 0644;
        DirectoryEntry record;
        TempFile temp;
    };
    uint32_t PrepareUpload(const DirectoryEntry& record, Upload& upload) const;
    uint32_t BeginUpload(Upload& upload, uint32_t size) const;
    uint32_t WriteUpload(Upload& upload, const void* data, size_t size) const;
    uint32_t FinishUpload(Upload& upload) const;

    struct CopyPlan {
        bool conflict = false;  // an item of the same name is in the way: ask first
        std::string confirmText;
        Fd sourceFolder;
        std::string sourceName;  // host name in sourceFolder
        bool sourceIsDrive = false;
        Fd destination;
        std::string name;  // the copy's name
    };
    uint32_t PrepareCopy(std::string_view source, std::string_view destinationFolder,
                         CopyPlan& plan) const;
    uint32_t RunCopy(CopyPlan& plan) const;

    struct FormatPlan {
        const Drive* drive = nullptr;
        std::string label;
        std::string confirmText;
    };
    uint32_t PrepareFormat(std::string_view device, std::string_view label, uint32_t dosType,
                           FormatPlan& plan) const;
    uint32_t Erase(const FormatPlan& plan) const;
    uint32_t Name(const FormatPlan& plan) const;

private:
    std::string DriveName(const Drive& drive) const;
    std::string Label(const Drive& drive) const;
    DirectoryEntry DriveEntry(const Drive& drive) const;
    uint32_t OpenContainer(const Target& target, Fd& folder) const;
    uint32_t OpenDriveFolder(const Drive& drive, Fd& folder) const;
    uint32_t CheckRoom(const Drive& drive, uint64_t adding, uint64_t replacing) const;
    uint32_t Relabel(const Drive& drive, std::string_view newName) const;

    std::vector<std::unique_ptr<Drive>> drives_;
    bool escapedNames_ = false;
};

}  // namespace dm::peer
