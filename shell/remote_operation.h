// One remote operation from the shell: a session reference and the open link, with the
// connection lock, for the duration of `run`, then the server's error shown once.
#pragma once

#include "protocol/packet_channel.h"
#include "protocol/remote_errors.h"
#include "protocol/remote_session.h"

#include <utility>

namespace dm {

// E_FAIL when no link comes back (the session has said why). A failure of the error report
// replaces a success of `run`.
template <typename Run>
HRESULT RunRemote(HWND owner, Run&& run)
{
    RemoteSession& session = RemoteSession::Process();
    session.AddRef();
    HRESULT result = E_FAIL;
    if (PacketChannel* channel = session.Open(true)) {
        result = std::forward<Run>(run)(*channel);
        const HRESULT reported = ReportRemoteError(*channel, owner, result);
        if (SUCCEEDED(result) && FAILED(reported))
            result = reported;
        session.Close();
    }
    session.Release();
    return result;
}

}  // namespace dm
