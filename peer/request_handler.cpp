#include "peer/request_handler.h"

#include "core/diag_log.h"
#include "protocol/byte_order.h"
#include "protocol/directory_record.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

namespace dm::peer {

namespace {

constexpr uint32_t kStreamChunk = 64 * 1024;
constexpr uint32_t kKeepComment = 1u << 30;
constexpr uint32_t kQuickFormat = 1;

// The fields of a request, read front to back without ever passing its end.
class RequestReader {
public:
    RequestReader(const uint8_t* data, size_t size) : data_(data), size_(data ? size : 0) {}

    bool Word(uint32_t& value)
    {
        if (size_ - at_ < 4)
            return false;
        value = GetBigEndian32(data_ + at_);
        at_ += 4;
        return true;
    }
    // A NUL-terminated text; false when the terminator is not inside the request.
    bool Text(std::string& text)
    {
        const auto* start = reinterpret_cast<const char*>(data_ + at_);
        const void* end = at_ < size_ ? std::memchr(start, 0, size_ - at_) : nullptr;
        if (!end)
            return false;
        text.assign(start, static_cast<const char*>(end) - start);
        at_ += text.size() + 1;
        return true;
    }
    // As Text, but an empty text when the request has ended.
    bool OptionalText(std::string& text)
    {
        text.clear();
        return at_ >= size_ || Text(text);
    }
    // The spare zero bytes a path field carries when a part of it is empty.
    void SkipZeros()
    {
        while (at_ < size_ && data_[at_] == 0)
            ++at_;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

std::string WithTerminator(std::string text)
{
    if (text.size() > 0xFFFE)
        text.resize(0xFFFE);
    text += '\0';
    return text;
}

HRESULT SendText(PeerExchange& exchange, PacketType type, const std::string& text)
{
    const std::string data = WithTerminator(text);
    return exchange.Send(type, data.data(), uint16_t(data.size()));
}

bool IsCommand(uint16_t type)
{
    return type >= uint16_t(PacketType::ListDirectory) && type <= uint16_t(PacketType::FinishSetup);
}

// A create request for a drawer (or a volume) is not answered.
bool ExpectsNoReply(PacketType type, const uint8_t* data, size_t size)
{
    return type == PacketType::CreateObject && data && size > kRecordFixedSize - 1 &&
           data[kRecordFixedSize - 1] <= uint8_t(ItemKind::Drawer);
}

}  // namespace

HRESULT RequestHandler::Handle(PacketType type, const uint8_t* data, size_t size,
                               PeerExchange& exchange)
{
    const uint16_t code = uint16_t(type);
    if (type == PacketType::GetLastError)
        return ReportError(exchange);
    if (!IsCommand(code)) {
        switch (type) {
        case PacketType::FileHeader:
        case PacketType::FileData:
            // A stream nobody here is waiting for: stop the sender.
            return exchange.Send(PacketType::Abort);
        case PacketType::Ok:
        case PacketType::Abort:
        case PacketType::Identify:
        case PacketType::FileEnd:
        case PacketType::Confirm:
        case PacketType::Progress:
        case PacketType::ErrorReport:
        case PacketType::StepCount: return S_OK;  // late packets of an exchange that has ended
        default: lastError_ = error::UnknownCommand; return exchange.Send(PacketType::Abort);
        }
    }
    lastError_ = error::None;
    if (refused_)
        return Refuse(type, data, size, exchange);

    switch (type) {
    case PacketType::ListDirectory: return ListDirectory(data, size, exchange);
    case PacketType::OpenFile: return OpenFile(data, size, exchange);
    case PacketType::CreateObject: return CreateObject(data, size, exchange);
    case PacketType::Copy: return Copy(data, size, exchange);
    case PacketType::CountContents: return CountContents(data, size, exchange);
    case PacketType::Format: return Format(data, size, exchange);
    case PacketType::FinishSetup:
        if (LogEnabled())
            LogLine("PEER SETUP FINISHED\n");
        return exchange.Send(PacketType::Ok);
    default: return PathCommand(type, data, size, exchange);
    }
}

HRESULT RequestHandler::Refuse(PacketType type, const uint8_t* data, size_t size,
                               PeerExchange& exchange)
{
    lastError_ = error::Handshake;
    return ExpectsNoReply(type, data, size) ? S_OK : exchange.Send(PacketType::Abort);
}

HRESULT RequestHandler::Fail(PeerExchange& exchange, uint32_t code)
{
    lastError_ = code;
    return exchange.Send(PacketType::Abort);
}

HRESULT RequestHandler::Reply(PeerExchange& exchange, uint32_t code)
{
    lastError_ = code;
    return exchange.Send(code == error::None ? PacketType::Ok : PacketType::Abort);
}

HRESULT RequestHandler::ReportError(PeerExchange& exchange)
{
    uint8_t word[4];
    PutBigEndian32(word, lastError_);
    const std::string data =
        std::string(reinterpret_cast<char*>(word), 4) + WithTerminator(ErrorText(lastError_));
    return exchange.Send(PacketType::ErrorReport, data.data(), uint16_t(data.size()));
}

HRESULT RequestHandler::Broken(HRESULT hr)
{
    if (hr == kCancelled || SUCCEEDED(hr))
        return S_OK;
    lastError_ = error::Unspecified;
    return hr;
}

HRESULT RequestHandler::Ask(PeerExchange& exchange, const std::string& text)
{
    const HRESULT hr = SendText(exchange, PacketType::Confirm, text);
    return FAILED(hr) ? hr : exchange.WaitForAnswer(true);
}

HRESULT RequestHandler::ListDirectory(const uint8_t* data, size_t size, PeerExchange& exchange)
{
    RequestReader request(data, size);
    std::string path;
    if (!request.Text(path))
        return Fail(exchange, error::NotPossible);
    // Which drawers a client listed, for the demonstration's check of what Explorer asked for.
    if (LogEnabled())
        LogLine("ListDirectory \"%s\"\n", path.c_str());
    // The byte after the path (0x01 from the PC) asks for nothing this server leaves out.
    std::vector<DirectoryEntry> entries;
    if (const uint32_t code = tree_.List(path, entries))
        return Fail(exchange, code);
    const std::vector<uint8_t> listing = EncodeListing(entries);
    HRESULT hr = exchange.BeginFileWrite(uint32_t(listing.size()));
    if (FAILED(hr))
        return Broken(hr);
    hr = exchange.WriteFileData(listing.data(), uint32_t(listing.size()), nullptr);
    const HRESULT ended = exchange.EndFileWrite();
    return Broken(FAILED(hr) ? hr : ended);
}

HRESULT RequestHandler::OpenFile(const uint8_t* data, size_t size, PeerExchange& exchange)
{
    RequestReader request(data, size);
    std::string path;
    if (!request.Text(path))
        return Fail(exchange, error::NotPossible);
    Fd file;
    uint32_t total = 0;
    if (const uint32_t code = tree_.OpenForRead(path, file, total))
        return Fail(exchange, code);
    HRESULT hr = exchange.BeginFileWrite(total);
    if (FAILED(hr))
        return Broken(hr);
    std::vector<uint8_t> buffer(std::min(total, kStreamChunk));
    for (uint32_t left = total; left > 0;) {
        const ssize_t got =
            ::read(file.Get(), buffer.data(), std::min<size_t>(left, buffer.size()));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            // The file shrank or failed while being read: the short stream ends with Abort.
            const uint32_t code = got < 0 ? ErrorFromErrno(errno, Access::Read) : error::FileIo;
            exchange.EndFileWrite();
            lastError_ = code;
            return S_OK;
        }
        hr = exchange.WriteFileData(buffer.data(), uint32_t(got), nullptr);
        if (FAILED(hr))
            break;
        left -= uint32_t(got);
    }
    const HRESULT ended = exchange.EndFileWrite();
    return Broken(FAILED(hr) ? hr : ended);
}

HRESULT RequestHandler::CreateObject(const uint8_t* data, size_t size, PeerExchange& exchange)
{
    DirectoryEntry record;
    uint32_t length = 0;
    if (!data || !DecodeRecord(data, size, record, length)) {
        lastError_ = error::NotPossible;
        return ExpectsNoReply(PacketType::CreateObject, data, size)
                   ? S_OK
                   : exchange.Send(PacketType::Abort);
    }
    if (IsContainerKind(record.kind)) {
        lastError_ = tree_.CreateDrawer(record);
        return S_OK;
    }
    ServedTree::Upload upload;
    if (const uint32_t code = tree_.PrepareUpload(record, upload))
        return Fail(exchange, code);
    // A declined question (Abort) keeps the old file and is no failure.
    const HRESULT hr =
        upload.replaces ? Ask(exchange, upload.confirmText) : exchange.Send(PacketType::Ok);
    if (FAILED(hr))
        return Broken(hr);
    return ReceiveUpload(upload, exchange);
}

HRESULT RequestHandler::ReceiveUpload(ServedTree::Upload& upload, PeerExchange& exchange)
{
    uint32_t total = 0;
    HRESULT hr = exchange.BeginFileRead(&total);
    if (FAILED(hr))
        return Broken(hr);
    if (const uint32_t code = tree_.BeginUpload(upload, total)) {
        lastError_ = code;
        return exchange.EndFileRead();  // answers the next data packet with Abort
    }
    // Nothing of an unfinished upload is kept: the temporary file goes with `upload`.
    std::vector<uint8_t> buffer(std::min(total, kStreamChunk));
    for (uint32_t left = total; left > 0;) {
        uint32_t got = 0;
        hr = exchange.ReadFileData(buffer.data(), std::min<uint32_t>(left, uint32_t(buffer.size())),
                                   &got);
        if (SUCCEEDED(hr) && got == 0)
            hr = E_FAIL;
        if (FAILED(hr)) {
            exchange.EndFileRead();
            return Broken(hr);
        }
        if (const uint32_t code = tree_.WriteUpload(upload, buffer.data(), got)) {
            lastError_ = code;
            return exchange.EndFileRead();
        }
        left -= got;
    }
    hr = exchange.EndFileRead();
    if (FAILED(hr))
        return Broken(hr);  // Abort instead of FileEnd: the PC sent less than it announced
    lastError_ = tree_.FinishUpload(upload);
    return S_OK;
}

HRESULT RequestHandler::Copy(const uint8_t* data, size_t size, PeerExchange& exchange)
{
    RequestReader request(data, size);
    std::string source, destination;
    if (!request.Text(source))
        return Fail(exchange, error::NotPossible);
    request.SkipZeros();
    if (!request.OptionalText(destination))
        return Fail(exchange, error::NotPossible);
    ServedTree::CopyPlan plan;
    if (const uint32_t code = tree_.PrepareCopy(source, destination, plan))
        return Fail(exchange, code);
    const HRESULT hr =
        plan.conflict ? Ask(exchange, plan.confirmText) : exchange.Send(PacketType::Ok);
    if (FAILED(hr))
        return Broken(hr);
    return Reply(exchange, tree_.RunCopy(plan));
}

HRESULT RequestHandler::CountContents(const uint8_t* data, size_t size, PeerExchange& exchange)
{
    RequestReader request(data, size);
    std::string path;
    if (!request.Text(path))
        return Fail(exchange, error::NotPossible);
    HRESULT ended = S_OK;
    const uint32_t code = tree_.Count(path, [&](const CountStep& step) {
        uint8_t counters[12];
        PutBigEndian32(counters, step.bytes);
        PutBigEndian32(counters + 4, step.drawers);
        PutBigEndian32(counters + 8, step.files);
        ended = exchange.Send(PacketType::Progress, counters, sizeof counters);
        if (SUCCEEDED(ended))
            ended = exchange.WaitForAnswer(false);
        return SUCCEEDED(ended);
    });
    if (FAILED(ended))
        return Broken(ended);  // after the PC's stop nothing more is sent
    return Reply(exchange, code);
}

HRESULT RequestHandler::Format(const uint8_t* data, size_t size, PeerExchange& exchange)
{
    RequestReader request(data, size);
    uint32_t dosType = 0, flags = 0;
    std::string device, label;
    if (!request.Word(dosType) || !request.Word(flags) || !request.Text(device) ||
        !request.Text(label))
        return Fail(exchange, error::NotPossible);
    ServedTree::FormatPlan plan;
    if (const uint32_t code = tree_.PrepareFormat(device, label, dosType, plan))
        return Fail(exchange, code);
    HRESULT hr = Ask(exchange, plan.confirmText);
    if (FAILED(hr))
        return Broken(hr);

    const uint32_t steps = (flags & kQuickFormat) ? 2 : kFullFormatSteps;
    uint8_t count[4];
    PutBigEndian32(count, steps);
    hr = exchange.Send(PacketType::StepCount, count, sizeof count);
    // The first step erases, the last one names the disk; a full format verifies in between.
    for (uint32_t step = 0; SUCCEEDED(hr) && step < steps; ++step) {
        const uint32_t code = step == 0           ? tree_.Erase(plan)
                              : step + 1 == steps ? tree_.Name(plan)
                                                  : error::None;
        if (code != error::None)
            return Fail(exchange, code);
        if (formatStepMs_ > 0)
            usleep(useconds_t(formatStepMs_) * 1000);
        hr = exchange.Send(PacketType::Ok);
        if (SUCCEEDED(hr))
            hr = exchange.WaitForAnswer(false);
    }
    return Broken(hr);  // a stop by the PC ends the format early, as asked
}

HRESULT RequestHandler::PathCommand(PacketType type, const uint8_t* data, size_t size,
                                    PeerExchange& exchange)
{
    RequestReader request(data, size);
    uint32_t value = 0;
    std::string path, second;
    if (type == PacketType::SetAttributes && !request.Word(value))
        return Fail(exchange, error::NotPossible);
    if (!request.Text(path))
        return Fail(exchange, error::NotPossible);

    switch (type) {
    case PacketType::Delete: return Reply(exchange, tree_.Delete(path));
    case PacketType::NewDrawer: return Reply(exchange, tree_.NewDrawer(path));
    case PacketType::Rename:
        request.SkipZeros();
        if (!request.Text(second))
            return Fail(exchange, error::NotPossible);
        return Reply(exchange, tree_.Rename(path, second));
    case PacketType::Move:
        request.SkipZeros();
        if (!request.OptionalText(second))
            return Fail(exchange, error::NotPossible);
        return Reply(exchange, tree_.Move(path, second));
    case PacketType::SetAttributes: {
        const bool keepComment = (value & kKeepComment) != 0;
        request.SkipZeros();
        if (!keepComment && !request.OptionalText(second))
            return Fail(exchange, error::NotPossible);
        return Reply(exchange, tree_.SetAttributes(path, value, keepComment ? nullptr : &second));
    }
    default: return Fail(exchange, error::UnknownCommand);
    }
}

}  // namespace dm::peer
