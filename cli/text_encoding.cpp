#include "cli/text_encoding.h"

#ifdef _WIN32
#  include <io.h>
#  include <windows.h>
#endif

#include <cstdint>

namespace dm::cli {

#ifdef _WIN32

namespace {

UINT CodePage(TextSide side)
{
    // The console shows text in its own code page; pipes and files get the ANSI one.
    if (side == TextSide::Output && _isatty(1))
        return GetConsoleOutputCP();
    return CP_ACP;
}

}  // namespace

std::optional<std::string> ToAmigaText(std::string_view text, TextSide from, std::string& refused)
{
    if (text.empty())
        return std::string();
    if (text.size() > 0x7FFFFFF)
        return std::nullopt;
    const UINT page = CodePage(from);
    const int length = MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, text.data(), int(text.size()),
                                           nullptr, 0);
    std::wstring wide(size_t(length > 0 ? length : 0), L'\0');
    if (length <= 0 || MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, text.data(),
                                           int(text.size()), wide.data(), length) != length) {
        refused = std::string(text);
        return std::nullopt;
    }
    std::string latin1;
    for (size_t i = 0; i < wide.size(); ++i) {
        if (wide[i] > 0xFF) {
            const bool pair = wide[i] >= 0xD800 && wide[i] < 0xDC00 && i + 1 < wide.size();
            const int n = WideCharToMultiByte(page, 0, &wide[i], pair ? 2 : 1, nullptr, 0, nullptr,
                                              nullptr);
            refused.assign(size_t(n > 0 ? n : 0), '\0');
            if (n > 0)
                WideCharToMultiByte(page, 0, &wide[i], pair ? 2 : 1, refused.data(), n, nullptr,
                                    nullptr);
            return std::nullopt;
        }
        latin1 += char(wide[i]);
    }
    return latin1;
}

std::string FromAmigaText(std::string_view text, TextSide to)
{
    std::wstring wide;
    for (unsigned char c : text)
        wide += wchar_t(c);
    if (wide.empty())
        return std::string();
    const UINT page = CodePage(to);
    const int n = WideCharToMultiByte(page, 0, wide.data(), int(wide.size()), nullptr, 0, nullptr,
                                      nullptr);
    std::string out(size_t(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(page, 0, wide.data(), int(wide.size()), out.data(), n, nullptr,
                            nullptr);
    return out;
}

#else

namespace {

// The code point at `at` and its length in bytes; length 0 for bytes that are not UTF-8.
uint32_t DecodeUtf8(std::string_view text, size_t at, size_t& length)
{
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    length = lead < 0x80 ? 1 : lead >= 0xC2 && lead < 0xE0 ? 2 : lead >= 0xE0 && lead < 0xF0 ? 3
           : lead >= 0xF0 && lead < 0xF5                   ? 4
                                                           : 0;
    if (length == 0 || at + length > text.size()) {
        length = 0;
        return 0;
    }
    uint32_t point = length == 1 ? lead : lead & (0x7F >> length);
    for (size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) {
            length = 0;
            return 0;
        }
        point = (point << 6) | (byte(at + i) & 0x3F);
    }
    // Overlong forms, surrogates and points past Unicode are not text.
    static const uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (point < kSmallest[length] || (point >= 0xD800 && point < 0xE000) || point > 0x10FFFF)
        length = 0;
    return point;
}

}  // namespace

std::optional<std::string> ToAmigaText(std::string_view text, TextSide, std::string& refused)
{
    std::string latin1;
    for (size_t at = 0; at < text.size();) {
        size_t length = 0;
        const uint32_t point = DecodeUtf8(text, at, length);
        if (length == 0) {
            refused = "byte 0x" + std::string(1, "0123456789ABCDEF"[(text[at] >> 4) & 0xF]) +
                      "0123456789ABCDEF"[text[at] & 0xF] + " (not UTF-8)";
            return std::nullopt;
        }
        if (point > 0xFF) {
            refused = std::string(text.substr(at, length));
            return std::nullopt;
        }
        latin1 += char(point);
        at += length;
    }
    return latin1;
}

std::string FromAmigaText(std::string_view text, TextSide)
{
    std::string utf8;
    for (unsigned char c : text) {
        if (c < 0x80) {
            utf8 += char(c);
        } else {
            utf8 += char(0xC0 | (c >> 6));
            utf8 += char(0x80 | (c & 0x3F));
        }
    }
    return utf8;
}

#endif

}  // namespace dm::cli
