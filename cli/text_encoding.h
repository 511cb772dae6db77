// Amiga names and comments are ISO-8859-1; the user types and reads text in the terminal's
// encoding (UTF-8 on Linux and macOS, the console's code page on Windows), and this computer's
// file names have an encoding of their own (UTF-8, or the ANSI code page on Windows).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace dm::cli {

enum class TextSide {
    Arguments,  // the command line
    Output,     // what is printed
    FileNames,  // names of files on this computer
};

// The ISO-8859-1 form of `text`, or none when it holds a character that ISO-8859-1 lacks (or
// bytes that are not text in its encoding); `refused` then shows the first such character.
std::optional<std::string> ToAmigaText(std::string_view text, TextSide from, std::string& refused);

// ISO-8859-1 `text` in the encoding of `to`; a character that encoding lacks becomes "?".
std::string FromAmigaText(std::string_view text, TextSide to);

}  // namespace dm::cli
