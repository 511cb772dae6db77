// The view's record in the browser's view-state stream: our class identifier, a version, the
// sort column and direction, and the six column widths. Little-endian, 44 bytes.
#pragma once

#include <objidl.h>

#include <array>
#include <cstdint>

namespace dm {

struct ViewState {
    uint32_t sortColumn = 0;
    bool descending = false;
    std::array<uint16_t, 6> widths {};
    // How many widths a restore read (a short stream keeps the rest as they are).
    size_t widthsRead = 0;
};

// Stops at the first failing write and returns its result.
HRESULT WriteViewState(IStream& stream, const ViewState& state);
// False, with `state` untouched, when the stream holds no record of ours. Version and count
// are not checked, so that older and newer records still give their sort.
bool ReadViewState(IStream& stream, ViewState& state);

}  // namespace dm
