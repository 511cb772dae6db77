// Sizes as the user reads them: "999 bytes", "1KB", "1.50MB", with the locale's separators.
#pragma once

#include "core/platform.h"

#include <string>

namespace dm {

// `scale` picks the unit as if it were the size (1 = bytes, 1024 = kilobytes); 0 picks by size.
// Whole numbers round up; fractional ones show two decimals unless they are all zero.
std::string SizeText(uint32_t size, bool fractional, uint32_t scale);

// SizeText into a buffer, cut to its length. Returns the characters written without the
// terminator, 0 on failure.
int FormatSizeText(uint32_t size, char* buffer, int bufferLength, bool fractional, uint32_t scale);

}  // namespace dm
