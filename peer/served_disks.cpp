#include "peer/served_drive.h"
#include "peer/served_tree.h"

#include "peer/metadata.h"

#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>

namespace dm::peer {

// The geometry the PC shows for a partition image: sectors, surfaces, reserved,
// pre-allocated, block size, highest cylinder, DOS type.
std::string HdfGeometry(const std::string& path, uint64_t size)
{
    constexpr uint64_t kSectors = 32, kSurfaces = 1, kReserved = 2, kBlock = 512;
    const uint64_t cylinders = size / (kSectors * kSurfaces * kBlock);
    uint32_t dosType = 0x444F5300;
    Fd file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    uint8_t boot[4] = {};
    if (file.Valid() && ::read(file.Get(), boot, 4) == 4 && boot[0] == 'D' && boot[1] == 'O' &&
        boot[2] == 'S' && boot[3] < 8)
        dosType |= boot[3];
    char text[96];
    std::snprintf(text, sizeof text, ":%u :%u :%u :0 :%u :%llu :0x%08X", unsigned(kSectors),
                  unsigned(kSurfaces), unsigned(kReserved), unsigned(kBlock),
                  (unsigned long long)(cylinders > 0 ? cylinders - 1 : 0), unsigned(dosType));
    return text;
}

uint32_t ServedTree::PrepareFormat(std::string_view device, std::string_view label,
                                   uint32_t dosType, FormatPlan& plan) const
{
    if (!device.empty() && device.back() == ':')
        device.remove_suffix(1);
    for (const auto& drive : drives_) {
        if (IsFolderDrive(*drive) && EqualNoCase(drive->config.device, device)) {
            plan.drive = drive.get();
            break;
        }
    }
    if (!plan.drive)
        return error::DeviceOpen;
    if (!HasDisk(*plan.drive))
        return error::DiskNotMounted;
    if (!plan.drive->config.formattable)
        return error::DiskWriteProtected;
    if ((dosType & 0xFFFFFF00u) != 0x444F5300u || (dosType & 0xFF) > 7)
        return error::NotPossible;
    if (!ValidLabel(label))
        return error::BadTitle;
    plan.label = label;
    plan.confirmText = Label(*plan.drive);
    return error::None;
}

uint32_t ServedTree::Erase(const FormatPlan& plan) const
{
    Fd folder;
    if (const uint32_t code = OpenDriveFolder(*plan.drive, folder))
        return code;
    // The disk keeps its old name until the last step writes the new one.
    FolderMeta kept;
    kept.label = LoadFolderMeta(folder.Get()).label;
    if (const int failure = EmptyDirectory(folder.Get()))
        return ErrorFromErrno(failure, Access::Delete);
    return ErrorFromErrno(SaveFolderMeta(folder.Get(), std::move(kept)), Access::Write);
}

uint32_t ServedTree::Name(const FormatPlan& plan) const
{
    Fd folder;
    if (const uint32_t code = OpenDriveFolder(*plan.drive, folder))
        return code;
    FolderMeta meta = LoadFolderMeta(folder.Get());
    meta.label = plan.label;
    return ErrorFromErrno(SaveFolderMeta(folder.Get(), std::move(meta)), Access::Write);
}

}  // namespace dm::peer
