// The geometry of a hard-disk image as the Amiga describes it in the image item's comment
// (":value" fields separated by blanks), and the two mount texts built from it. The comment
// comes from the Amiga: values are cut to what the texts can use, missing ones are empty.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace dm {

struct HdfGeometry {
    enum Field {
        SectorsPerTrack,
        Surfaces,
        Reserved,
        PreAlloc,
        SectorSize,
        HighCylinder,
        DosType,
        FieldCount
    };
    static constexpr size_t kMaxValueLength = 79;
    std::array<std::string, FieldCount> values;
};

HdfGeometry ParseHdfGeometry(std::string_view comment);

// The hard-file lines of the emulator's configuration.
std::string UaeMountText(const HdfGeometry& geometry);
// A mount list entry for the emulator's hard-file device.
std::string MountlistText(const HdfGeometry& geometry);

}  // namespace dm
