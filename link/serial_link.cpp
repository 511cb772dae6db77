#include "link/serial_link.h"

#include "core/diag_log.h"
#include "core/shared_settings_section.h"
#include "resources/string_ids.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <string>

#ifndef _WIN32
#  include <cerrno>
#  include <thread>

#  include <fcntl.h>
#  include <poll.h>
#  include <sys/ioctl.h>
#  include <termios.h>
#  include <unistd.h>
#endif

namespace dm {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr uint32_t kDiscardChunk = 256;

bool Logging()
{
    return SharedSection().loggingEnabled != 0;
}

// Twice the duration of one ten-bit character.
float MsPerByteAt(uint32_t baudRate)
{
    return 2000.0f / (float(baudRate) * 0.1f);
}

// The driver's way of saying that the cable is not answering (Windows only).
bool CableSilent([[maybe_unused]] uint32_t error)
{
#ifdef _WIN32
    return error == ERROR_SEM_TIMEOUT;
#else
    return false;
#endif
}

int32_t DumpCount(uint32_t count)
{
    return int32_t(std::min<uint32_t>(count, INT32_MAX));
}

}  // namespace

SerialLink::~SerialLink()
{
    if (IsOpen())
        Close();
}

bool SerialLink::GetHandshakeKey(uint32_t&)
{
    return false;
}

HRESULT SerialLink::Read(void* buffer, uint32_t count, int32_t hint)
{
    if (!IsOpen()) {
        SetPendingError(IDS_ERR_READ_CLOSED);
        return E_FAIL;
    }
    const std::optional<uint32_t> limit = TimeoutMs(count, hint);
    const int shownLimit = int(limit.value_or(0));
    const IoResult result = ReadPort(buffer, count, limit);
    if (result.status == IoStatus::TimeoutsFailed) {
        SetPendingError(IDS_ERR_COM_INIT);
        return E_FAIL;
    }
    if (result.status == IoStatus::Failed) {
        SetPendingError(IDS_ERR_COM_READ);
        if (Logging())
            LogLine("COM READ ERROR: code %d (%d to read, timeout %d)\n", int(result.error),
                    int(count), shownLimit);
        ClearPortErrors();
        return E_FAIL;
    }
    const bool complete = result.done == count;
    if (!complete)
        SetPendingError(IDS_ERR_COM_READ);
    if (Logging()) {
        LogHexDump("< ", buffer, DumpCount(result.done));
        if (!complete)
            LogLine("COM READ ERROR: %d bytes expected (code %d, timeout %d)\n", int(count),
                    int(result.error), shownLimit);
    }
    return complete ? S_OK : E_FAIL;
}

HRESULT SerialLink::Write(const void* buffer, uint32_t count, int32_t hint)
{
    if (!IsOpen()) {
        SetPendingError(IDS_ERR_WRITE_CLOSED);
        return E_FAIL;
    }
    const std::optional<uint32_t> limit = TimeoutMs(count, hint);
    const int shownLimit = int(limit.value_or(0));
    const IoResult result = WritePort(buffer, count, limit);
    if (result.status == IoStatus::TimeoutsFailed) {
        SetPendingError(IDS_ERR_COM_INIT);
        return E_FAIL;
    }
    if (result.status == IoStatus::Failed) {
        if (CableSilent(result.error))
            SetPendingError(IDS_ERR_COM_NO_ANSWER, Name());
        else
            SetPendingError(IDS_ERR_COM_WRITE);
        if (Logging())
            LogLine("COM WRITE ERROR: code %d (%d to write, timeout %d)\n", int(result.error),
                    int(count), shownLimit);
        ClearPortErrors();
        return E_FAIL;
    }
    const bool complete = result.done == count;
    if (!complete) {
        // Nothing at all went out without an error: the other end holds the line (CTS).
        if (result.done == 0 && result.error == 0)
            SetPendingError(IDS_ERR_COM_NO_ANSWER, Name());
        else
            SetPendingError(IDS_ERR_COM_WRITE);
    }
    if (Logging()) {
        LogHexDump("> ", buffer, DumpCount(result.done));
        if (!complete)
            LogLine("COM WRITE ERROR: %d bytes should have been written (code %d, timeout %d)\n",
                    int(count), int(result.error), shownLimit);
    }
    return complete ? S_OK : E_FAIL;
}

HRESULT SerialLink::Discard()
{
    if (!IsOpen())
        return S_OK;
    const uint32_t quietMs = std::max<uint32_t>(uint32_t(MsPerByte() * kDiscardChunk), 100);
    // A peer that never falls silent must not keep us here for ever.
    const auto giveUp = Clock::now() + milliseconds(std::max<uint64_t>(quietMs * 20ull, 2000));
    char chunk[kDiscardChunk];
    for (;;) {
        const IoResult result = ReadPort(chunk, sizeof chunk, quietMs);
        if (result.status != IoStatus::Ok || result.done == 0)
            break;
        if (Logging()) {
            LogLine("DISCARDING UNEXPECTED DATA\n");
            LogHexDump("! ", chunk, DumpCount(result.done));
        }
        if (Clock::now() >= giveUp)
            break;
    }
    return S_OK;
}

HRESULT SerialLink::DiscardArrived()
{
    if (!IsOpen())
        return S_FALSE;
    bool dropped = false;
    char chunk[kDiscardChunk];
    // Bounded, as Discard is, against a peer that never falls silent.
    for (int chunks = 0; chunks < 64; ++chunks) {
        const IoResult result = ReadArrived(chunk, sizeof chunk);
        if (result.status != IoStatus::Ok || result.done == 0)
            break;
        dropped = true;
        if (Logging()) {
            LogLine("DISCARDING UNEXPECTED DATA\n");
            LogHexDump("! ", chunk, DumpCount(result.done));
        }
    }
    return dropped ? S_OK : S_FALSE;
}

#ifdef _WIN32

namespace {

// A driver claiming a bigger record is not believed.
constexpr DWORD kMaxRecordSize = 0x10000;

HRESULT LastErrorResult()
{
    const DWORD error = GetLastError();
    return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

}  // namespace

SerialLink::SerialLink(std::string_view portName, uint32_t packetSize)
    : Link(LinkKind::Serial, portName), packetSize_(packetSize)
{
    SetTimeoutBasis(kMinTimeoutMs, 0.0f);
    // The first call only learns the size of the record.
    COMMCONFIG probe {};
    DWORD size = 1;
    if (GetDefaultCommConfigA(Name().c_str(), &probe, &size) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER || size > kMaxRecordSize)
        return;
    std::vector<BYTE> record(std::max<size_t>(size, sizeof(COMMCONFIG)));
    DWORD filled = DWORD(record.size());
    if (!GetDefaultCommConfigA(Name().c_str(), reinterpret_cast<COMMCONFIG*>(record.data()),
                               &filled) ||
        !AdoptRecord(record.data(), record.size()))
        return;
    Config()->dcb.BaudRate = kDefaultBaudRate;
    NormalizeConfiguration();
}

bool SerialLink::IsOpen() const
{
    return port_ != INVALID_HANDLE_VALUE;
}

bool SerialLink::HasConfiguration() const
{
    return !config_.empty();
}

uint32_t SerialLink::BaudRate() const
{
    return config_.empty() ? 0 : Config()->dcb.BaudRate;
}

void SerialLink::SetBaudRate(uint32_t rate)
{
    if (!config_.empty())
        Config()->dcb.BaudRate = rate;
}

bool SerialLink::AdoptRecord(const BYTE* data, size_t size)
{
    if (size < sizeof(COMMCONFIG))
        return false;
    COMMCONFIG head;
    std::memcpy(&head, data, sizeof head);
    if (head.dwSize < sizeof(COMMCONFIG) || head.dwSize > size || head.dcb.DCBlength != sizeof(DCB))
        return false;
    if (head.dwProviderSize != 0 && (head.dwProviderOffset > head.dwSize ||
                                     head.dwProviderSize > head.dwSize - head.dwProviderOffset))
        return false;
    config_.assign(data, data + head.dwSize);
    return true;
}

bool SerialLink::SetConfigurationData(const void* data, size_t size)
{
    return data && AdoptRecord(static_cast<const BYTE*>(data), size);
}

bool SerialLink::NormalizeConfiguration()
{
    return !config_.empty() && NormalizeLineSettings(Config()->dcb, packetSize_);
}

bool SerialLink::NormalizeLineSettings(DCB& dcb, uint32_t packetSize)
{
    const bool right = dcb.ByteSize == 8 && dcb.Parity == NOPARITY && dcb.StopBits == ONESTOPBIT &&
                       !dcb.fParity && dcb.fOutxCtsFlow && !dcb.fOutxDsrFlow &&
                       dcb.fDtrControl == DTR_CONTROL_ENABLE && !dcb.fDsrSensitivity &&
                       !dcb.fOutX && !dcb.fInX && dcb.fRtsControl == RTS_CONTROL_HANDSHAKE;
    if (!right) {
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        dcb.fParity = FALSE;
        dcb.fOutxCtsFlow = TRUE;
        dcb.fOutxDsrFlow = FALSE;
        dcb.fDtrControl = DTR_CONTROL_ENABLE;
        dcb.fDsrSensitivity = FALSE;
        dcb.fOutX = FALSE;
        dcb.fInX = FALSE;
        dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    }
    dcb.fBinary = TRUE;
    dcb.fNull = FALSE;
    dcb.XonLim = dcb.XoffLim = WORD(std::clamp<uint32_t>(packetSize / 16, 10, 0xFFFF));
    return !right;
}

HRESULT SerialLink::Open()
{
    if (IsOpen())
        return S_OK;
    // Without a record (or with a speed of 0) the line could not be set up.
    if (config_.empty() || BaudRate() == 0) {
        SetPendingError(IDS_ERR_COM_OPEN);
        return E_FAIL;
    }
    // The device namespace form also reaches COM10 and above.
    std::string path = Name();
    if (path.rfind("\\\\", 0) != 0)
        path = "\\\\.\\" + path;
    port_ = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                        nullptr);
    if (port_ == INVALID_HANDLE_VALUE) {
        SetPendingError(IDS_ERR_COM_OPEN);
        return E_FAIL;
    }
    // Only advice to the driver, which may keep its own sizes.
    const DWORD queue = DWORD(std::min<uint64_t>(uint64_t(packetSize_) * 2, MAXDWORD));
    SetupComm(port_, queue, queue);
    if (!SetCommConfig(port_, Config(), Config()->dwSize)) {
        SetPendingError(IDS_ERR_COM_OPEN);
        Close();
        return E_FAIL;
    }
    SetTimeoutBasis(kMinTimeoutMs, MsPerByteAt(BaudRate()));
    LogLine("COM PORT %s OPENED AT %u BAUD\n", Name().c_str(), unsigned(BaudRate()));
    NoteOpened();
    return S_OK;
}

HRESULT SerialLink::Close()
{
    if (!IsOpen())
        return E_FAIL;
    // Output held back by a silent CTS would keep the flush waiting for ever: drop it instead.
    DWORD errors = 0;
    COMSTAT status {};
    if (ClearCommError(port_, &errors, &status) && status.fCtsHold && status.cbOutQue > 0)
        PurgeComm(port_, PURGE_TXABORT | PURGE_TXCLEAR);
    else
        FlushFileBuffers(port_);
    const BOOL closed = CloseHandle(port_);
    const HRESULT result = closed ? S_OK : LastErrorResult();
    port_ = INVALID_HANDLE_VALUE;
    return result;
}

bool SerialLink::SetTimeouts(DWORD readConstant, DWORD writeConstant)
{
    // All zero means no limit.
    COMMTIMEOUTS timeouts {};
    timeouts.ReadTotalTimeoutConstant = readConstant;
    timeouts.WriteTotalTimeoutConstant = writeConstant;
    return SetCommTimeouts(port_, &timeouts) != FALSE;
}

SerialLink::IoResult SerialLink::ReadPort(void* buffer, uint32_t count,
                                          std::optional<uint32_t> limitMs)
{
    IoResult result;
    if (!SetTimeouts(limitMs.value_or(0), 0)) {
        result.error = GetLastError();
        result.status = IoStatus::TimeoutsFailed;
        return result;
    }
    DWORD done = 0;
    SetLastError(0);
    const BOOL ok = ReadFile(port_, buffer, count, &done, nullptr);
    result.error = GetLastError();
    result.done = std::min<DWORD>(done, count);
    result.status = ok ? IoStatus::Ok : IoStatus::Failed;
    return result;
}

SerialLink::IoResult SerialLink::ReadArrived(void* buffer, uint32_t count)
{
    IoResult result;
    // This combination makes ReadFile return at once with what the driver holds.
    COMMTIMEOUTS timeouts {};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    if (!SetCommTimeouts(port_, &timeouts)) {
        result.error = GetLastError();
        result.status = IoStatus::TimeoutsFailed;
        return result;
    }
    DWORD done = 0;
    const BOOL ok = ReadFile(port_, buffer, count, &done, nullptr);
    result.error = ok ? 0 : GetLastError();
    result.done = std::min<DWORD>(done, count);
    result.status = ok ? IoStatus::Ok : IoStatus::Failed;
    return result;
}

SerialLink::IoResult SerialLink::WritePort(const void* buffer, uint32_t count,
                                           std::optional<uint32_t> limitMs)
{
    IoResult result;
    if (!SetTimeouts(0, limitMs.value_or(0))) {
        result.error = GetLastError();
        result.status = IoStatus::TimeoutsFailed;
        return result;
    }
    DWORD done = 0;
    SetLastError(0);
    const BOOL ok = WriteFile(port_, buffer, count, &done, nullptr);
    result.error = GetLastError();
    result.done = std::min<DWORD>(done, count);
    result.status = ok ? IoStatus::Ok : IoStatus::Failed;
    return result;
}

void SerialLink::ClearPortErrors()
{
    DWORD errors = 0;
    COMSTAT status {};
    ClearCommError(port_, &errors, &status);
}

HRESULT SerialLink::SendBreak(uint32_t durationMs)
{
    if (!IsOpen())
        return E_FAIL;
    if (!SetCommBreak(port_))
        return LastErrorResult();
    Sleep(durationMs);
    if (!ClearCommBreak(port_))
        return LastErrorResult();
    // A pseudo-terminal under Wine carries no break: the log is where it shows.
    LogLine("COM BREAK %d ms\n", int(durationMs));
    return S_OK;
}

#else  // POSIX: termios on a device path

namespace {

struct Speed {
    uint32_t rate;
    speed_t code;
};

constexpr Speed kSpeeds[] = {
    {110, B110},       {300, B300},   {600, B600},   {1200, B1200},   {1800, B1800},
    {2400, B2400},     {4800, B4800}, {9600, B9600}, {19200, B19200}, {38400, B38400},
#  ifdef B7200
    {7200, B7200},
#  endif
#  ifdef B14400
    {14400, B14400},
#  endif
#  ifdef B28800
    {28800, B28800},
#  endif
#  ifdef B57600
    {57600, B57600},
#  endif
#  ifdef B76800
    {76800, B76800},
#  endif
#  ifdef B115200
    {115200, B115200},
#  endif
#  ifdef B230400
    {230400, B230400},
#  endif
#  ifdef B460800
    {460800, B460800},
#  endif
#  ifdef B921600
    {921600, B921600},
#  endif
};

std::optional<speed_t> SpeedCode(uint32_t rate)
{
    for (const Speed& speed : kSpeeds)
        if (speed.rate == rate)
            return speed.code;
    return std::nullopt;
}

struct Moved {
    uint32_t done = 0;
    int error = 0;
};

// Moves bytes with `step(done, want)` (a read() or write() at that offset) until all `count`
// went, the limit passed or the line failed. The descriptor is non-blocking; poll() waits.
template <typename Step>
Moved PollTransfer(int fd, short events, uint32_t count, std::optional<uint32_t> limitMs, Step step)
{
    const auto deadline = Clock::now() + milliseconds(limitMs.value_or(0));
    Moved moved;
    while (moved.done < count) {
        int wait = -1;
        if (limitMs) {
            const auto left = std::chrono::ceil<milliseconds>(deadline - Clock::now()).count();
            if (left <= 0)
                break;
            wait = int(std::min<int64_t>(left, INT_MAX));
        }
        pollfd entry {fd, events, 0};
        const int ready = poll(&entry, 1, wait);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            moved.error = errno;
            break;
        }
        if (ready == 0)
            continue;
        const ssize_t n = step(moved.done, size_t(count - moved.done));
        if (n > 0) {
            moved.done += uint32_t(n);
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            // Woken by a hang-up or an error with nothing to move: waiting on would spin.
            if (entry.revents & (POLLHUP | POLLERR | POLLNVAL)) {
                moved.error = EIO;
                break;
            }
            continue;
        }
        // End of file on a terminal means the other side hung up.
        moved.error = n == 0 ? EIO : errno;
        break;
    }
    return moved;
}

}  // namespace

SerialLink::SerialLink(std::string_view portName, uint32_t packetSize)
    : Link(LinkKind::Serial, portName), packetSize_(packetSize)
{
    SetTimeoutBasis(kMinTimeoutMs, 0.0f);
}

bool SerialLink::IsOpen() const
{
    return fd_ >= 0;
}

bool SerialLink::HasConfiguration() const
{
    return true;
}

uint32_t SerialLink::BaudRate() const
{
    return baudRate_;
}

void SerialLink::SetBaudRate(uint32_t rate)
{
    baudRate_ = rate;
}

HRESULT SerialLink::Open()
{
    if (IsOpen())
        return S_OK;
    const std::optional<speed_t> speed = SpeedCode(baudRate_);
    // Non-blocking, so that a modem line without carrier cannot stall the open.
    const int fd = speed ? ::open(Name().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC) : -1;
    if (fd < 0) {
        SetPendingError(IDS_ERR_COM_OPEN);
        return E_FAIL;
    }
    termios line {};
    bool configured = tcgetattr(fd, &line) == 0;
    if (configured) {
        cfmakeraw(&line);
        line.c_cflag &= ~tcflag_t(CSIZE | PARENB | CSTOPB);
        line.c_cflag |= CS8 | CREAD | CLOCAL;
#  ifdef CRTSCTS
        line.c_cflag |= CRTSCTS;
#  endif
        line.c_iflag &= ~tcflag_t(IXON | IXOFF | IXANY | INPCK);
        line.c_cc[VMIN] = 0;
        line.c_cc[VTIME] = 0;
        configured = cfsetispeed(&line, *speed) == 0 && cfsetospeed(&line, *speed) == 0 &&
                     tcsetattr(fd, TCSANOW, &line) == 0;
    }
    if (!configured) {
        ::close(fd);
        SetPendingError(IDS_ERR_COM_OPEN);
        return E_FAIL;
    }
#  ifdef TIOCEXCL
    // As on Windows, nobody else opens the port while it is ours.
    ioctl(fd, TIOCEXCL);
#  endif
    fd_ = fd;
    SetTimeoutBasis(kMinTimeoutMs, MsPerByteAt(baudRate_));
    NoteOpened();
    return S_OK;
}

HRESULT SerialLink::Close()
{
    if (!IsOpen())
        return E_FAIL;
    // Let queued output go out, but not for ever when CTS stays off. Only output still stuck
    // after that is thrown away (it would make close() wait out the driver's closing delay):
    // flushing regardless loses the last answer word on a pty, whose queue reads as empty.
    int queued = 0;
#  ifdef TIOCOUTQ
    if (ioctl(fd_, TIOCOUTQ, &queued) == 0 && queued > 0) {
        const auto deadline = Clock::now() + milliseconds(*TimeoutMs(uint32_t(queued), 0));
        while (ioctl(fd_, TIOCOUTQ, &queued) == 0 && queued > 0 && Clock::now() < deadline)
            std::this_thread::sleep_for(milliseconds(5));
    }
#  endif
    if (queued > 0)
        tcflush(fd_, TCOFLUSH);
#  ifdef TIOCNXCL
    // A pty keeps the exclusive flag after the close while its master lives.
    ioctl(fd_, TIOCNXCL);
#  endif
    const int closed = ::close(fd_);
    fd_ = -1;
    return closed == 0 ? S_OK : E_FAIL;
}

SerialLink::IoResult SerialLink::ReadPort(void* buffer, uint32_t count,
                                          std::optional<uint32_t> limitMs)
{
    char* data = static_cast<char*>(buffer);
    const Moved moved = PollTransfer(fd_, POLLIN, count, limitMs, [&](uint32_t done, size_t want) {
        return ::read(fd_, data + done, want);
    });
    return {moved.done, uint32_t(moved.error), moved.error ? IoStatus::Failed : IoStatus::Ok};
}

SerialLink::IoResult SerialLink::ReadArrived(void* buffer, uint32_t count)
{
    // The descriptor is non-blocking: read() returns at once with what the driver holds.
    for (;;) {
        const ssize_t n = ::read(fd_, buffer, count);
        if (n >= 0)
            return {uint32_t(n), 0, IoStatus::Ok};
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return {0, 0, IoStatus::Ok};
        return {0, uint32_t(errno), IoStatus::Failed};
    }
}

SerialLink::IoResult SerialLink::WritePort(const void* buffer, uint32_t count,
                                           std::optional<uint32_t> limitMs)
{
    const char* data = static_cast<const char*>(buffer);
    const Moved moved = PollTransfer(fd_, POLLOUT, count, limitMs, [&](uint32_t done, size_t want) {
        return ::write(fd_, data + done, want);
    });
    return {moved.done, uint32_t(moved.error), moved.error ? IoStatus::Failed : IoStatus::Ok};
}

void SerialLink::ClearPortErrors() {}

HRESULT SerialLink::SendBreak(uint32_t durationMs)
{
    if (!IsOpen())
        return E_FAIL;
#  if defined(TIOCSBRK) && defined(TIOCCBRK)
    // tcsendbreak() ignores the duration on some systems.
    if (ioctl(fd_, TIOCSBRK) != 0)
        return E_FAIL;
    std::this_thread::sleep_for(milliseconds(durationMs));
    return ioctl(fd_, TIOCCBRK) == 0 ? S_OK : E_FAIL;
#  else
    return tcsendbreak(fd_, int(durationMs)) == 0 ? S_OK : E_FAIL;
#  endif
}

#endif

}  // namespace dm
