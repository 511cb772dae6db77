// One session reference and the connection lock with the open link for a whole batch of remote
// commands, each of which the caller follows with its own error report.
#pragma once

#include "protocol/packet_channel.h"
#include "protocol/remote_session.h"

namespace dm {

class BatchSession {
public:
    BatchSession() : session_(RemoteSession::Process())
    {
        session_.AddRef();
        channel_ = session_.Open(true);
    }
    ~BatchSession()
    {
        if (channel_)
            session_.Close();
        session_.Release();
    }
    BatchSession(const BatchSession&) = delete;
    BatchSession& operator=(const BatchSession&) = delete;

    // Null when no link came back (the session has said why).
    PacketChannel* Channel() const { return channel_; }

private:
    RemoteSession& session_;
    PacketChannel* channel_ = nullptr;
};

}  // namespace dm
