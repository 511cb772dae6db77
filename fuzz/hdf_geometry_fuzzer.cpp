// Whatever comment the Amiga gives a hard-disk image, its geometry is read within bounds.
#include "protocol/hdf_geometry.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const dm::HdfGeometry geometry =
        dm::ParseHdfGeometry(std::string_view(reinterpret_cast<const char*>(data), size));
    for (const std::string& value : geometry.values) {
        if (value.size() > dm::HdfGeometry::kMaxValueLength)
            std::abort();
    }
    const std::string uae = dm::UaeMountText(geometry);
    const std::string mountlist = dm::MountlistText(geometry);
    return uae.empty() || mountlist.empty() ? 1 : 0;
}
