// The link over a COM port (Win32 communications API) or, off Windows, over a serial device
// path such as /dev/ttyUSB0 or a pseudo-terminal (termios). 8N1 with RTS/CTS, 19200 baud unless
// the settings say otherwise.
#pragma once

#include "link/link.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace dm {

class SerialLink : public Link {
public:
    static constexpr uint32_t kDefaultBaudRate = 19200;
    static constexpr uint32_t kMinTimeoutMs = 5000;

    // On Windows the port's default configuration is fetched here; HasConfiguration() tells
    // whether there was one. Elsewhere the name is the device path.
    SerialLink(std::string_view portName, uint32_t packetSize);
    ~SerialLink() override;

    HRESULT Open() override;
    HRESULT Close() override;
    HRESULT Read(void* buffer, uint32_t count, int32_t hint) override;
    HRESULT Write(const void* buffer, uint32_t count, int32_t hint) override;
    HRESULT Discard() override;
    HRESULT DiscardArrived() override;
    bool GetHandshakeKey(uint32_t& key) override;

    bool IsOpen() const;
    // Holds the line in the break state for `durationMs`. E_FAIL when closed.
    HRESULT SendBreak(uint32_t durationMs);

    uint32_t PacketSize() const { return packetSize_; }
    bool HasConfiguration() const;
    // The speed used by the next Open (0 without configuration).
    uint32_t BaudRate() const;
    void SetBaudRate(uint32_t rate);

#ifdef _WIN32
    // The whole COMMCONFIG record, as stored under "Configuration Data"; empty without one.
    std::span<const BYTE> ConfigurationData() const
    {
        return config_;
    }
    // Takes a record read back from the settings. Refused, leaving the current one, unless its
    // dwSize, DCB length and provider area fit inside `size` bytes; only dwSize bytes are kept.
    bool SetConfigurationData(const void* data, size_t size);
    // NormalizeLineSettings on the record; false without one.
    bool NormalizeConfiguration();
    // Forces 8N1, RTS/CTS handshake, DTR on and no XON/XOFF when any of these is off; returns
    // whether that was needed. Binary mode, no null stripping and the XON/XOFF limits are set
    // every time.
    static bool NormalizeLineSettings(DCB& dcb, uint32_t packetSize);
#endif

private:
    enum class IoStatus { Ok, TimeoutsFailed, Failed };
    struct IoResult {
        uint32_t done = 0;
        uint32_t error = 0;  // Windows error, errno elsewhere
        IoStatus status = IoStatus::Ok;
    };
    // One read or write of at most `count` bytes, ending early only when the limit passes or
    // the port fails; no limit waits as long as it takes.
    IoResult ReadPort(void* buffer, uint32_t count, std::optional<uint32_t> limitMs);
    IoResult WritePort(const void* buffer, uint32_t count, std::optional<uint32_t> limitMs);
    // What the driver holds already, at most `count` bytes, without waiting.
    IoResult ReadArrived(void* buffer, uint32_t count);
    void ClearPortErrors();

    uint32_t packetSize_;
#ifdef _WIN32
    COMMCONFIG* Config()
    {
        return reinterpret_cast<COMMCONFIG*>(config_.data());
    }
    const COMMCONFIG* Config() const
    {
        return reinterpret_cast<const COMMCONFIG*>(config_.data());
    }
    bool AdoptRecord(const BYTE* data, size_t size);
    bool SetTimeouts(DWORD readConstant, DWORD writeConstant);

    std::vector<BYTE> config_;
    HANDLE port_ = INVALID_HANDLE_VALUE;
#else
    uint32_t baudRate_ = kDefaultBaudRate;
    int fd_ = -1;
#endif
};

}  // namespace dm
