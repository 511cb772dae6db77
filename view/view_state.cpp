#include "view/view_state.h"

#include "shell/com_object.h"

#include <cstring>

namespace dm {

namespace {

constexpr size_t kHeaderBytes = 32;

void Put32(uint8_t* out, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out[i] = uint8_t(value >> (8 * i));
}

uint32_t Get32(const uint8_t* in)
{
    return uint32_t(in[0]) | uint32_t(in[1]) << 8 | uint32_t(in[2]) << 16 | uint32_t(in[3]) << 24;
}

void PutGuid(uint8_t* out, const GUID& guid)
{
    Put32(out, guid.Data1);
    out[4] = uint8_t(guid.Data2);
    out[5] = uint8_t(guid.Data2 >> 8);
    out[6] = uint8_t(guid.Data3);
    out[7] = uint8_t(guid.Data3 >> 8);
    std::memcpy(out + 8, guid.Data4, 8);
}

HRESULT WriteAll(IStream& stream, const void* data, ULONG size)
{
    ULONG written = 0;
    const HRESULT hr = stream.Write(data, size, &written);
    return FAILED(hr) ? hr : (written == size ? S_OK : STG_E_MEDIUMFULL);
}

bool ReadAll(IStream& stream, void* data, ULONG size)
{
    ULONG read = 0;
    return SUCCEEDED(stream.Read(data, size, &read)) && read == size;
}

}  // namespace

HRESULT WriteViewState(IStream& stream, const ViewState& state)
{
    uint8_t header[kHeaderBytes] = {};
    PutGuid(header, kNamespaceClsid);
    Put32(header + 16, 1);
    Put32(header + 20, state.sortColumn);
    Put32(header + 24, state.descending ? 1 : 0);
    Put32(header + 28, uint32_t(state.widths.size()));
    HRESULT hr = WriteAll(stream, header, sizeof header);
    for (size_t i = 0; SUCCEEDED(hr) && i < state.widths.size(); ++i) {
        const uint8_t width[2] = {uint8_t(state.widths[i]), uint8_t(state.widths[i] >> 8)};
        hr = WriteAll(stream, width, sizeof width);
    }
    return hr;
}

bool ReadViewState(IStream& stream, ViewState& state)
{
    uint8_t header[kHeaderBytes];
    uint8_t ours[16];
    PutGuid(ours, kNamespaceClsid);
    if (!ReadAll(stream, header, sizeof header) || std::memcmp(header, ours, sizeof ours) != 0)
        return false;
    state.sortColumn = Get32(header + 20);
    state.descending = Get32(header + 24) != 0;
    state.widthsRead = 0;
    for (uint16_t& width : state.widths) {
        uint8_t bytes[2];
        if (!ReadAll(stream, bytes, sizeof bytes))
            break;
        width = uint16_t(bytes[0] | bytes[1] << 8);
        ++state.widthsRead;
    }
    return true;
}

}  // namespace dm
