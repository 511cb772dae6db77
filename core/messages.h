// Texts from the string table, formatted with message inserts ("%1", "%1!d!", "%1!X!"), and the
// message boxes built from them.
#pragma once

#include "core/platform.h"

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>

namespace dm {

// One message insert: a text (the default "!s!" form) or a number ("!d!", "!u!", "!X!" ...).
// Texts are referenced, not copied: they must outlive the call.
class MessageArg {
public:
    MessageArg(const char* text) : value_(reinterpret_cast<uintptr_t>(text)) {}
    MessageArg(const std::string& text) : value_(reinterpret_cast<uintptr_t>(text.c_str())) {}
    MessageArg(int value) : value_(uintptr_t(intptr_t(value))) {}
    MessageArg(unsigned value) : value_(uintptr_t(value)) {}
    MessageArg(long value) : value_(uintptr_t(intptr_t(value))) {}
    MessageArg(unsigned long value) : value_(uintptr_t(value)) {}
    MessageArg(long long value) : value_(uintptr_t(value)) {}
    MessageArg(unsigned long long value) : value_(uintptr_t(value)) {}

    uintptr_t Value() const { return value_; }

private:
    uintptr_t value_;
};

using MessageArgs = std::initializer_list<MessageArg>;

// The string `id` of `module`, at most `maxLength` characters; none when it does not exist.
std::optional<std::string> LoadStringById(UINT id, HMODULE module, size_t maxLength = 4000);

// Message formatting of a format text with an argument array; none when the format is bad or
// names an insert that was not given.
std::optional<std::string> FormatMessageText(const std::string& format, MessageArgs args);

std::optional<std::string> FormatStringById(UINT id, HMODULE module, MessageArgs args = {});

#ifdef _WIN32

// Returns the button pressed, or 0 when a string is missing or formatting fails (nothing shown).
int MessageBoxById(HWND owner, UINT textId, UINT captionId, UINT style, HMODULE module,
                   MessageArgs args = {});

// The system's text for `code`, or the string `textId` ("Error code 0x%1!X!.") when it has none.
void SystemErrorBox(HWND owner, UINT textId, UINT captionId, HMODULE module, DWORD code);

// True only when the user answers Yes; false without asking when a string is missing.
bool ConfirmById(HWND owner, UINT captionId, UINT textId, MessageArgs args = {});

#endif

}  // namespace dm
