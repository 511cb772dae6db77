// After every remote operation: ask the server for its last error and show exactly one message,
// the server's specific error before the transport's before the operation's own result.
#pragma once

#include "core/platform.h"

#include <string>

namespace dm {

class PacketChannel;

struct RemoteErrorMessage {
    bool shown = false;
    std::string text;
    std::string caption;
    UINT style = 0;
};

// Runs the GetLastError exchange and chooses the one message to show, if any: a box on Windows
// unless `showBox` is false (a console program prints `message` itself). Cancels are never
// shown. Clears the link's pending error. Returns the exchange's result, E_FAIL when the server
// reported an error.
HRESULT ReportRemoteError(PacketChannel& channel, HWND owner, HRESULT result,
                          RemoteErrorMessage* message = nullptr, bool showBox = true);

}  // namespace dm
