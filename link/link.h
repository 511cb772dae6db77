// A way of reaching the Amiga: the byte transport under the packet layer. Every link follows the
// same time-out rule and records its last transport error as a message id for later display.
#pragma once

#include "core/platform.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace dm {

// Time-out hints for Read and Write.
constexpr int32_t kNoTimeout = 0x7FFFFFFF;  // wait as long as it takes
// 0: derive from the byte count; positive: derive from that many bytes, plus one eighth;
// negative: exactly that many milliseconds.

enum class LinkKind : uint32_t { None = 0, Serial = 1, Tcp = 2 };

class Link {
public:
    virtual ~Link() = default;
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    // S_OK when already open.
    virtual HRESULT Open() = 0;
    virtual HRESULT Close() = 0;
    // Exactly `count` bytes, or failure (with a pending error id).
    virtual HRESULT Read(void* buffer, uint32_t count, int32_t hint) = 0;
    virtual HRESULT Write(const void* buffer, uint32_t count, int32_t hint) = 0;
    // Drains and logs whatever input is pending. Always S_OK.
    virtual HRESULT Discard() = 0;
    // Drains and logs only what has arrived already, without waiting for more: S_OK when it
    // dropped something (more may follow), S_FALSE otherwise.
    virtual HRESULT DiscardArrived();
    // Whether a connection that has just been made can hold nothing sent before it (a new TCP
    // stream cannot; a serial line may carry what another program left on it).
    virtual bool StartsEmpty() const { return false; }
    // How many times the link has really been opened (not counting the S_OK of an open link),
    // so that the packet layer can tell a new connection from the one it knew.
    virtual uint32_t Openings() const { return openings_; }
    // The key that follows the identification literal; false when the link has none.
    virtual bool GetHandshakeKey(uint32_t& key) = 0;

    LinkKind Kind() const { return kind_; }
    const std::string& Name() const { return name_; }

    // The string id of the last transport error (0 = none) and the text inserted as "%1" into
    // that message (the port name or the server address), or null.
    UINT PendingErrorId() const { return pendingErrorId_; }
    const char* ErrorInsert() const { return hasInsert_ ? errorInsert_.c_str() : nullptr; }
    void SetPendingError(UINT id) { pendingErrorId_ = id; }
    void SetPendingError(UINT id, std::string_view insert);
    void ClearPendingError() { pendingErrorId_ = 0; }

    // The shared time-out rule: none for kNoTimeout, else milliseconds.
    std::optional<uint32_t> TimeoutMs(uint32_t count, int32_t hint) const;
    uint32_t MinTimeoutMs() const { return minTimeoutMs_; }
    float MsPerByte() const { return msPerByte_; }

protected:
    // The name is cut to 79 characters.
    Link(LinkKind kind, std::string_view name);
    void SetTimeoutBasis(uint32_t minTimeoutMs, float msPerByte)
    {
        minTimeoutMs_ = minTimeoutMs;
        msPerByte_ = msPerByte;
    }
    void NoteOpened() { ++openings_; }

private:
    LinkKind kind_;
    std::string name_;
    UINT pendingErrorId_ = 0;
    bool hasInsert_ = false;
    std::string errorInsert_;
    uint32_t minTimeoutMs_ = 5000;
    float msPerByte_ = 0.0f;
    uint32_t openings_ = 0;
};

}  // namespace dm
