#include "peer/peer_session.h"

#include "core/diag_log.h"

#include <vector>

namespace dm::peer {

namespace {

// A protocol error ends a read too; only a run of failures means the peer has gone.
constexpr int kFailuresToGiveUp = 3;

KeyVerdict Judge(const HandshakeState& state, const SessionOptions& options)
{
    bool good = state.peerVerified;
    if (options.expectedKey)
        good = good && state.peerKeyPresent && state.peerKey == *options.expectedKey;
    return good ? KeyVerdict::Accepted : KeyVerdict::Refused;
}

}  // namespace

HRESULT ServeLink(std::unique_ptr<Link> link, RequestHandler& handler,
                  const SessionOptions& options, KeyVerdict& verdict)
{
    // The session's own identification state: the process-wide one belongs to a PC side.
    HandshakeState state;
    PacketChannel channel(std::move(link), options.packetSize, options.maxRetries, state);
    channel.SetLineRecovery(options.lineRecovery);
    HRESULT hr = channel.Open();
    if (FAILED(hr))
        return hr;
    ChannelExchange exchange(channel);
    for (int failures = 0; failures < kFailuresToGiveUp;) {
        state = HandshakeState {};
        PacketType type = PacketType::Ok;
        uint16_t delivered = 0;
        std::vector<uint8_t> data;
        hr = channel.ReadPacket(type, nullptr, 0, delivered, &data, kNoTimeout);
        if (state.handshakeDone) {
            verdict = Judge(state, options);
            if (LogEnabled())
                LogLine("PEER IDENTIFICATION %s\n",
                        verdict == KeyVerdict::Accepted ? "ACCEPTED" : "REFUSED");
        }
        if (FAILED(hr)) {
            ++failures;
            channel.GetLink().Discard();
            continue;
        }
        failures = 0;
        handler.SetRefused(verdict == KeyVerdict::Refused);
        handler.Handle(type, data.data(), data.size(), exchange);
    }
    channel.Close();
    return hr;
}

}  // namespace dm::peer
