#include "protocol/remote_errors.h"

#include "core/messages.h"
#include "core/module.h"
#include "protocol/packet_channel.h"
#include "resources/string_ids.h"

namespace dm {

namespace {

constexpr UINT kRemoteErrorStyle = 0x40010;  // topmost, hand icon
constexpr UINT kSystemTextStyle = 0x10010;   // foreground, hand icon
constexpr UINT kFirstServerErrorId = 1000;

void Present(HWND owner, RemoteErrorMessage& message, bool showBox)
{
#ifdef _WIN32
    if (showBox)
        MessageBoxA(owner, message.text.c_str(), message.caption.c_str(), message.style);
#else
    (void)owner;
    (void)showBox;
#endif
    message.shown = true;
}

std::string ErrorCaption()
{
    return LoadStringById(IDS_CAPTION_ERROR, ThisModule(), 500).value_or("Error");
}

// The text of a string-table message, or none when the string is missing.
bool FromTable(UINT id, MessageArgs args, RemoteErrorMessage& message)
{
    const std::optional<std::string> text = FormatStringById(id, ThisModule(), args);
    if (!text)
        return false;
    message.text = *text;
    message.caption = ErrorCaption();
    message.style = kRemoteErrorStyle;
    return true;
}

// A transport error as the link recorded it.
struct TransportError {
    UINT id = 0;
    std::string insert;

    static TransportError Of(const Link& link)
    {
        const char* insert = link.ErrorInsert();
        return {link.PendingErrorId(), insert ? insert : ""};
    }
};

bool TransportMessage(const TransportError& error, RemoteErrorMessage& message)
{
    return error.id != 0 && FromTable(error.id, {error.insert}, message);
}

// What the system says of `code`, as SystemErrorBox shows it.
RemoteErrorMessage SystemMessage(HRESULT code)
{
    RemoteErrorMessage message;
    message.caption = ErrorCaption();
    message.style = kSystemTextStyle;
#ifdef _WIN32
    char* text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, DWORD(code), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
        reinterpret_cast<LPSTR>(&text), 0, nullptr);
    if (length > 0 && text) {
        message.text.assign(text, length);
        LocalFree(text);
        return message;
    }
#else
    switch (code) {
    case E_OUTOFMEMORY: message.text = "Not enough memory resources are available."; return message;
    case E_INVALIDARG: message.text = "The parameter is incorrect."; return message;
    case E_FAIL: message.text = "Unspecified error"; return message;
    default: break;
    }
#endif
    message.text = FormatStringById(IDS_ERROR_CODE_UNKNOWN, ThisModule(), {uint32_t(code)})
                       .value_or(std::string());
    return message;
}

}  // namespace

HRESULT ReportRemoteError(PacketChannel& channel, HWND owner, HRESULT result,
                          RemoteErrorMessage* out, bool showBox)
{
    if (result == E_ABORT || result == kCancelled)
        result = S_OK;
    Link& link = channel.GetLink();
    // The error that ended the operation, before the exchange below can clear or replace it.
    const TransportError failure = TransportError::Of(link);
    const bool transportError = failure.id != 0;

    RemoteErrorMessage message;
    uint32_t code = 0;
    std::string serverText;
    HRESULT exchange = channel.GetLastError(code, serverText);

    if (SUCCEEDED(exchange) && code != 0) {
        const UINT id = UINT(code + 999);
        // "Unspecified error." says less than a transport error or a failed result would.
        if (!(id == kFirstServerErrorId && (transportError || FAILED(result)))) {
            if (FromTable(id, {}, message)) {
                if (!serverText.empty())
                    message.caption = serverText;
            } else {
                // A code this program does not know: say so rather than fail in silence.
                FromTable(IDS_ERROR_CODE_UNKNOWN, {code}, message);
            }
            Present(owner, message, showBox);
            exchange = E_FAIL;
        }
    }

    if (!message.shown) {
        // When the operation left none, the exchange's own failure is the news.
        const TransportError shownError =
            transportError || SUCCEEDED(exchange) ? failure : TransportError::Of(link);
        if (TransportMessage(shownError, message)) {
            Present(owner, message, showBox);
        } else {
            const HRESULT shown = SUCCEEDED(exchange) ? result : (result ? result : exchange);
            if (shown != S_OK) {
                message = SystemMessage(shown);
                if (!message.text.empty())
                    Present(owner, message, showBox);
            }
        }
    }

    link.ClearPendingError();
    if (out)
        *out = message;
    return exchange;
}

}  // namespace dm
