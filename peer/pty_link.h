// Serving over a pseudo-terminal: the emulated Amiga holds the master side, and a client (the
// serial link of the PC, Wine's COM port mapping) opens the other end through a symbolic link.
#pragma once

#include "peer/fd_link.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

namespace dm::peer {

// The master side of one pseudo-terminal; it outlives the clients that come and go.
class PtyEndpoint {
public:
    PtyEndpoint() = default;
    ~PtyEndpoint();
    PtyEndpoint(const PtyEndpoint&) = delete;
    PtyEndpoint& operator=(const PtyEndpoint&) = delete;

    // Creates the pseudo-terminal in raw mode and, when `linkPath` is not empty, points that
    // symbolic link at its other end (an existing symbolic link there is replaced, anything else
    // is refused).
    bool Create(const std::string& linkPath, std::string& error);
    const std::string& ClientPath() const { return clientPath_; }

    // Waits until a client holds the other end open: true then; false when `stop` was set or
    // the pseudo-terminal failed.
    bool WaitForClient(const std::atomic<bool>* stop = nullptr);

    // A link over the master side for one client's session, which ends when the client closes
    // its end; with a baud rate, the line is paced to its speed (ten bits a byte).
    std::unique_ptr<FdLink> MakeLink(uint32_t baudRate = 0);

private:
    // Takes in the opens and closes of the other end; true when its last holder closed it.
    bool ClientLeft();

    int master_ = -1;
    int watch_ = -1;  // file-system notifications on the other end, when available
    int clients_ = 0;
    std::string clientPath_;
    std::string linkPath_;
};

}  // namespace dm::peer
