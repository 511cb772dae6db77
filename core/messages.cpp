#include "core/messages.h"

#include "core/module.h"
#include "core/string_table.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#ifdef _WIN32
#  include "core/question_dialogs.h"
#  include "resources/resource_ids.h"
#endif

namespace dm {

namespace {

// The largest insert number a message format refers to, or -1 when the format is malformed.
int HighestInsert(const std::string& format)
{
    int highest = 0;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%')
            continue;
        if (++i >= format.size())
            return -1;
        if (format[i] < '1' || format[i] > '9')
            continue;
        int number = format[i] - '0';
        if (i + 1 < format.size() && format[i + 1] >= '0' && format[i + 1] <= '9')
            number = number * 10 + (format[++i] - '0');
        highest = std::max(highest, number);
        if (i + 1 < format.size() && format[i + 1] == '!') {
            const size_t close = format.find('!', i + 2);
            if (close == std::string::npos)
                return -1;
            i = close;
        }
    }
    return highest;
}

#ifndef _WIN32

// One insert with its printf form ("s" when none was given).
std::optional<std::string> FormatInsert(const std::string& spec, uintptr_t value)
{
    if (spec.empty() || spec.find_first_of("%*n") != std::string::npos)
        return std::nullopt;
    const char conversion = spec.back();
    char text[512];
    int written;
    if (conversion == 's') {
        const char* insert = reinterpret_cast<const char*>(value);
        written = std::snprintf(text, sizeof text, ("%" + spec).c_str(), insert ? insert : "");
        if (written >= 0 && size_t(written) >= sizeof text)  // long texts are not cut
            return std::string(insert ? insert : "");
    } else if (std::strchr("diuxXoc", conversion)) {
        std::string flags = spec.substr(0, spec.size() - 1);
        bool wide = false;
        for (const char* marker : {"I64", "ll", "l", "h"}) {
            const size_t at = flags.find(marker);
            if (at != std::string::npos) {
                wide = std::strcmp(marker, "I64") == 0 || std::strcmp(marker, "ll") == 0;
                flags.erase(at, std::strlen(marker));
                break;
            }
        }
        const std::string format = "%" + flags + (wide ? "ll" : "") + conversion;
        if (wide)
            written = std::snprintf(text, sizeof text, format.c_str(), (long long)value);
        else
            written = std::snprintf(text, sizeof text, format.c_str(), int(uint32_t(value)));
    } else {
        return std::nullopt;
    }
    if (written < 0)
        return std::nullopt;
    return std::string(text, std::min(size_t(written), sizeof text - 1));
}

#endif

}  // namespace

std::optional<std::string> LoadStringById(UINT id, HMODULE module, size_t maxLength)
{
#ifdef _WIN32
    std::vector<char> text(maxLength + 1);
    const int length = LoadStringA(module, id, text.data(), int(text.size()));
    if (length <= 0)
        return std::nullopt;
    return std::string(text.data(), size_t(length));
#else
    (void)module;
    const char* text = FindStringTableText(id);
    if (!text)
        return std::nullopt;
    return std::string(text, strnlen(text, maxLength));
#endif
}

std::optional<std::string> FormatMessageText(const std::string& format, MessageArgs args)
{
    const int highest = HighestInsert(format);
    if (highest < 0 || size_t(highest) > args.size())
        return std::nullopt;
    std::vector<uintptr_t> values;
    for (const MessageArg& arg : args)
        values.push_back(arg.Value());

#ifdef _WIN32
    values.push_back(0);  // never an empty array
    char* text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_ARGUMENT_ARRAY,
        format.c_str(), 0, 0, reinterpret_cast<LPSTR>(&text), 0,
        reinterpret_cast<va_list*>(values.data()));
    if (length == 0 || !text)
        return std::nullopt;
    std::string result(text, length);
    LocalFree(text);
    return result;
#else
    std::string result;
    for (size_t i = 0; i < format.size(); ++i) {
        const char c = format[i];
        if (c == '\n' || (c == '\r' && i + 1 < format.size() && format[i + 1] == '\n')) {
            result += "\r\n";
            i += c == '\r';
            continue;
        }
        if (c != '%') {
            result += c;
            continue;
        }
        const char next = format[++i];
        if (next == '0')
            break;
        if (next >= '1' && next <= '9') {
            size_t number = size_t(next - '0');
            if (i + 1 < format.size() && format[i + 1] >= '0' && format[i + 1] <= '9')
                number = number * 10 + size_t(format[++i] - '0');
            std::string spec = "s";
            if (i + 1 < format.size() && format[i + 1] == '!') {
                const size_t close = format.find('!', i + 2);
                spec = format.substr(i + 2, close - i - 2);
                i = close;
            }
            const std::optional<std::string> insert = FormatInsert(spec, values[number - 1]);
            if (!insert)
                return std::nullopt;
            result += *insert;
            continue;
        }
        switch (next) {
        case 'n': result += "\r\n"; break;
        case 'r': result += '\r'; break;
        case 't': result += '\t'; break;
        case 'b': result += ' '; break;
        default: result += next; break;  // "%%", "%!", "%." and the like stand for themselves
        }
    }
    if (result.empty())
        return std::nullopt;
    return result;
#endif
}

std::optional<std::string> FormatStringById(UINT id, HMODULE module, MessageArgs args)
{
    const std::optional<std::string> format = LoadStringById(id, module);
    if (!format)
        return std::nullopt;
    return FormatMessageText(*format, args);
}

#ifdef _WIN32

int MessageBoxById(HWND owner, UINT textId, UINT captionId, UINT style, HMODULE module,
                   MessageArgs args)
{
    const std::optional<std::string> caption = LoadStringById(captionId, module, 500);
    if (!caption)
        return 0;
    const std::optional<std::string> text = FormatStringById(textId, module, args);
    if (!text)
        return 0;
    return MessageBoxA(owner, text->c_str(), caption->c_str(), style);
}

void SystemErrorBox(HWND owner, UINT textId, UINT captionId, HMODULE module, DWORD code)
{
    char* systemText = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
        reinterpret_cast<LPSTR>(&systemText), 0, nullptr);
    const UINT style = MB_SETFOREGROUND | MB_ICONHAND;
    if (length == 0 || !systemText) {
        MessageBoxById(owner, textId, captionId, style, module, {code});
        return;
    }
    const std::string caption = LoadStringById(captionId, module, 200).value_or(std::string());
    MSGBOXPARAMSA box {};
    box.cbSize = sizeof box;
    box.hwndOwner = owner;
    box.hInstance = module;
    box.lpszText = systemText;
    box.lpszCaption = caption.c_str();
    box.dwStyle = style;
    MessageBoxIndirectA(&box);
    LocalFree(systemText);
}

bool ConfirmById(HWND owner, UINT captionId, UINT textId, MessageArgs args)
{
    const std::optional<std::string> caption = LoadStringById(captionId, ThisModule(), 100);
    const std::optional<std::string> format = LoadStringById(textId, ThisModule(), 200);
    if (!caption || !format)
        return false;
    const std::optional<std::string> text = FormatMessageText(*format, args);
    if (!text)
        return false;
    return YesNoDialog(*caption, *text, IDI_QUESTION_MARK, owner) == IDYES;
}

#endif

}  // namespace dm
