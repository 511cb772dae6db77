// Protection bits as a user types them: "rwed" sets exactly those, "+x" or "-w" change some.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace dm::cli {

// The new low eight protection bits, or none when the letters are not of "hsparwed".
std::optional<uint32_t> ApplyProtection(uint32_t current, const std::string& bits);

}  // namespace dm::cli
