// Two links joined back to back in memory: what one writes, the other reads. Tests, fuzzing and
// benchmarks run a PC side against a peer side over it, with faults injected into the writes.
#pragma once

#include "link/link.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace dm {

class MemoryLink : public Link {
public:
    // Sees every write before it reaches the other side, with its number (from 0): it may change
    // the bytes, cut them short or clear them (the write is then lost), or sleep to delay it.
    using WriteFilter = std::function<void(std::string& bytes, uint64_t writeIndex)>;

    ~MemoryLink() override;

    HRESULT Open() override;
    HRESULT Close() override;
    HRESULT Read(void* buffer, uint32_t count, int32_t hint) override;
    HRESULT Write(const void* buffer, uint32_t count, int32_t hint) override;
    HRESULT Discard() override;
    HRESULT DiscardArrived() override;
    bool GetHandshakeKey(uint32_t& key) override;
    bool StartsEmpty() const override { return startsEmpty_; }

    void SetWriteFilter(WriteFilter filter);
    void SetTimeouts(uint32_t minTimeoutMs, float msPerByte)
    {
        SetTimeoutBasis(minTimeoutMs, msPerByte);
    }
    // How long Discard waits for more input before it stops.
    void SetDiscardWaitMs(uint32_t ms) { discardWaitMs_ = ms; }
    // Whether an opening counts as a new connection that holds nothing stale (as TCP's does).
    void SetStartsEmpty(bool empty) { startsEmpty_ = empty; }
    void SetHandshakeKey(std::optional<uint32_t> key) { key_ = key; }
    // Keeps a copy of every write as it left this side (before the filter).
    void RecordWrites(bool on);
    std::vector<std::string> TakeRecordedWrites();
    uint64_t WriteCount() const;

private:
    struct Pipe;
    friend std::pair<std::unique_ptr<MemoryLink>, std::unique_ptr<MemoryLink>> MakeMemoryLinkPair(
        std::string_view, std::string_view);
    MemoryLink(std::string_view name, std::shared_ptr<Pipe> in, std::shared_ptr<Pipe> out);

    std::shared_ptr<Pipe> in_, out_;
    bool open_ = false;
    uint32_t discardWaitMs_ = 100;
    bool startsEmpty_ = false;
    std::optional<uint32_t> key_;
    mutable std::mutex mutex_;  // guards the filter, the record and the count
    WriteFilter filter_;
    bool recording_ = false;
    std::vector<std::string> recorded_;
    uint64_t writes_ = 0;
};

// A connected pair; both ends start closed and open independently, with the serial time-out
// basis (5 s minimum) until SetTimeouts says otherwise.
std::pair<std::unique_ptr<MemoryLink>, std::unique_ptr<MemoryLink>> MakeMemoryLinkPair(
    std::string_view firstName = "PC", std::string_view secondName = "Amiga");

}  // namespace dm
