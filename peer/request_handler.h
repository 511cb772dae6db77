// The emulated Amiga's answer to one request: parses the request data (every field bounds-checked,
// every text terminated inside the packet), runs the command against the served tree and plays
// the command's exchange with the PC. The reason for a failure is kept for GetLastError.
#pragma once

#include "peer/peer_exchange.h"
#include "peer/served_tree.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace dm::peer {

class RequestHandler {
public:
    explicit RequestHandler(ServedTree& tree) : tree_(tree) {}

    // Any type and any bytes are safe. Command failures are not returned: they are answered
    // with Abort and kept for GetLastError. The result is the exchange's own, a failure when the
    // PC did not follow the exchange through.
    HRESULT Handle(PacketType type, const uint8_t* data, size_t size, PeerExchange& exchange);

    // While set (the PC identified with a wrong key), every command fails with code 29.
    void SetRefused(bool refused) { refused_ = refused; }
    uint32_t LastError() const { return lastError_; }
    void SetFormatStepTime(uint32_t milliseconds) { formatStepMs_ = milliseconds; }
    // Full formats take this many steps; quick ones two.
    static constexpr uint32_t kFullFormatSteps = 80;

private:
    HRESULT Refuse(PacketType type, const uint8_t* data, size_t size, PeerExchange& exchange);
    HRESULT Fail(PeerExchange& exchange, uint32_t code);
    HRESULT Reply(PeerExchange& exchange, uint32_t code);
    HRESULT ReportError(PeerExchange& exchange);
    // The end of an exchange that did not go through: a stop by the PC (Abort) is no failure;
    // a broken one is reported as unspecified, so that the PC shows its transport error.
    HRESULT Broken(HRESULT hr);
    // A Confirm naming `text`, then the PC's answer, waited for as long as the user takes.
    HRESULT Ask(PeerExchange& exchange, const std::string& text);

    HRESULT ListDirectory(const uint8_t* data, size_t size, PeerExchange& exchange);
    HRESULT OpenFile(const uint8_t* data, size_t size, PeerExchange& exchange);
    HRESULT CreateObject(const uint8_t* data, size_t size, PeerExchange& exchange);
    HRESULT ReceiveUpload(ServedTree::Upload& upload, PeerExchange& exchange);
    HRESULT Copy(const uint8_t* data, size_t size, PeerExchange& exchange);
    HRESULT CountContents(const uint8_t* data, size_t size, PeerExchange& exchange);
    HRESULT Format(const uint8_t* data, size_t size, PeerExchange& exchange);
    HRESULT PathCommand(PacketType type, const uint8_t* data, size_t size, PeerExchange& exchange);

    ServedTree& tree_;
    bool refused_ = false;
    uint32_t lastError_ = 0;
    uint32_t formatStepMs_ = 0;
};

}  // namespace dm::peer
