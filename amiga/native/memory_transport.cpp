#include "amiga/native/memory_transport.h"

namespace dm::amiga {

namespace {

MemoryTransport& Self(Transport* t)
{
    return *reinterpret_cast<MemoryTransport*>(t);
}

int Read(Transport* t, void* buffer, uint32_t count, int32_t timeoutMs)
{
    MemoryTransport& self = Self(t);
    auto* bytes = static_cast<uint8_t*>(buffer);
    if (count == 0)
        return IO_OK;
    if (timeoutMs == WAIT_FOREVER) {
        // Waits in short steps so that the test can stop the server.
        while (FAILED(self.link->Read(bytes, 1, -50))) {
            if (self.stop)
                return IO_STOP;
        }
        ++bytes;
        --count;
        timeoutMs = 5000;
    }
    if (count && FAILED(self.link->Read(bytes, count, -timeoutMs)))
        return self.stop ? IO_STOP : IO_TIMEOUT;
    return IO_OK;
}

int Write(Transport* t, const void* buffer, uint32_t count)
{
    return SUCCEEDED(Self(t).link->Write(buffer, count, 0)) ? IO_OK : IO_FAIL;
}

void Discard(Transport* t)
{
    Self(t).link->Discard();
}

}  // namespace

void InitMemoryTransport(MemoryTransport& transport, Link& link, uint32_t bytesPerSecond,
                         uint32_t answerWaitMs)
{
    transport.base.read = Read;
    transport.base.write = Write;
    transport.base.discard = Discard;
    transport.base.bytes_per_second = bytesPerSecond;
    transport.base.answer_wait_ms = answerWaitMs;
    transport.link = &link;
}

}  // namespace dm::amiga
