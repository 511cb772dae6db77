// One file of the Amiga side pushed through the bare serial line, unframed, for the Amiga's
// "Type SER: to RAM:Setup" to catch, with the line-feed tail that flushes the Amiga's buffer
// and the break that ends its Type.
#pragma once

#include <windows.h>

#include <cstdint>

namespace dm {

class SerialLink;

// What a failing raw write gives: the Amiga did not take the bytes.
const HRESULT kRawWriteFault = HRESULT_FROM_WIN32(ERROR_WRITE_FAULT);

struct RawSend {
    const char* fileName = "";  // in the installation folder's "Amiga" subfolder
    DWORD waitBeforeMs = 0;
    DWORD waitAfterMs = 0;
    bool tail = false;       // 4096 line feeds after the file
    bool sendBreak = false;  // a break at the end
};

// Progress steps of a file of `size` bytes: its 512-byte blocks (at least one), plus 8 for the
// tail.
uint32_t RawSendSteps(uint64_t size, bool tail);

// Holds the line in the break state for the time the Amiga's Type needs to notice it.
HRESULT SendSetupBreak(SerialLink& link);

// Sends the file behind a progress window of its own; cancelled when the user stopped it.
HRESULT RawSendFile(SerialLink& link, const RawSend& send);

}  // namespace dm
