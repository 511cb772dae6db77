// The optional diagnostic log of the connection. Callers test SharedSection().loggingEnabled
// first; the writer does not. Every failure is ignored: logging never changes an outcome.
#pragma once

#include "core/shared_settings_section.h"

#include <cstdint>

namespace dm {

// The log switch in force, shared by every process.
inline bool LogEnabled()
{
    return SharedSection().loggingEnabled != 0;
}

// One printf-style entry; "\n" in the format becomes CR LF in the file, inserted text does not.
#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void LogLine(const char* format, ...);

// "[n bytes]" and at most the first and the last 20 bytes in hexadecimal. Prefixes in use:
// "> " written, "< " read, "! " thrown away.
void LogHexDump(const char* prefix, const void* data, int32_t count);

}  // namespace dm
