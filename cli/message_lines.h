// Messages from the string table and from the server end their lines in CR LF; the terminal
// ends them in LF.
#pragma once

#include <string>

namespace dm::cli {

inline std::string WithoutCarriageReturns(std::string text)
{
    for (size_t at; (at = text.find('\r')) != std::string::npos;)
        text.erase(at, 1);
    return text;
}

}  // namespace dm::cli
