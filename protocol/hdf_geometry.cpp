#include "protocol/hdf_geometry.h"

#include <algorithm>

namespace dm {

HdfGeometry ParseHdfGeometry(std::string_view comment)
{
    HdfGeometry geometry;
    // The comment is a C string on the Amiga: nothing after its terminator counts.
    comment = comment.substr(0, comment.find('\0'));
    size_t field = 0;
    size_t at = comment.find(':');
    while (at != std::string_view::npos && field < HdfGeometry::FieldCount) {
        const size_t start = at + 1;
        size_t end = comment.find(' ', start);
        if (end == std::string_view::npos)
            end = comment.size();
        geometry.values[field++] = std::string(
            comment.substr(start, std::min(end - start, HdfGeometry::kMaxValueLength)));
        at = end < comment.size() ? comment.find(':', end) : std::string_view::npos;
    }
    return geometry;
}

std::string UaeMountText(const HdfGeometry& g)
{
    using F = HdfGeometry;
    return "Sectors = " + g.values[F::SectorsPerTrack] + "\r\nSurfaces = " + g.values[F::Surfaces] +
           "\r\nReserved = " + g.values[F::Reserved] + "\r\nPreAlloc = " + g.values[F::PreAlloc] +
           "\r\nSectorSize = " + g.values[F::SectorSize];
}

std::string MountlistText(const HdfGeometry& g)
{
    using F = HdfGeometry;
    return "Device = uaehf.device\r\nUnit = 0\r\nFlags = 0\r\nSurfaces = " + g.values[F::Surfaces] +
           "\r\nBlocksPerTrack = " + g.values[F::SectorsPerTrack] +
           "\r\nSectorSize = " + g.values[F::SectorSize] + "\r\nReserved = " + g.values[F::Reserved] +
           "\r\nPreAlloc = " + g.values[F::PreAlloc] +
           "\r\nInterleave = 0\r\nLowCyl = 0\r\nHighCyl = " + g.values[F::HighCylinder] +
           "\r\nBuffers = 5\r\nBufMemType = 1\r\nDosType = " + g.values[F::DosType];
}

}  // namespace dm
