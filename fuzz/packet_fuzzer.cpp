// Whatever bytes arrive on the line, the packet layer and the file streams neither crash nor
// hang: every read ends at the end of the input with a time-out.
#include "link/memory_link.h"
#include "protocol/packet_channel.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    auto [pc, amiga] = dm::MakeMemoryLinkPair();
    pc->SetTimeouts(1, 0.0f);
    pc->SetDiscardWaitMs(0);
    pc->Open();
    amiga->Open();
    // The first byte picks the exchange; the rest is already on the line, and the Amiga end
    // then goes away so that reads end at once.
    const uint8_t selector = size > 0 ? data[0] % 4 : 0;
    if (size > 1)
        amiga->Write(data + 1, uint32_t(size - 1), 0);
    amiga->Close();
    dm::HandshakeState state;
    dm::PacketChannel channel(std::move(pc), 64, 3, state);

    if (selector == 0) {
        std::vector<uint8_t> file;
        uint32_t fileSize = 0;
        channel.ReadWholeFile(file, fileSize, 0);
    } else if (selector == 1) {
        uint32_t code = 0;
        std::string text;
        channel.GetLastError(code, text);
    } else if (selector == 2) {
        dm::PacketType type;
        uint8_t buffer[16];
        uint16_t delivered = 0;
        channel.ReadPacket(type, buffer, sizeof buffer, delivered, nullptr, 0);
        channel.WritePacket(dm::PacketType::Ok);
    } else {
        // Whatever comes back while the PC waits for answers to its own packets.
        const uint8_t content[100] = {};
        if (SUCCEEDED(channel.BeginFileWrite(sizeof content))) {
            channel.WriteFileData(content, sizeof content, nullptr);
            channel.EndFileWrite();
        }
    }
    return 0;
}
