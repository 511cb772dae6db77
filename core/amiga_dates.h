// AmigaDOS DateStamps and Windows FILETIMEs, and the date text shown to the user.
#pragma once

#include "core/amiga_types.h"
#include "core/platform.h"

namespace dm {

// 1 January 1978 00:00 as a FILETIME value.
constexpr uint64_t kAmigaEpoch = 118969344000000000ull;

FILETIME DateStampToFileTime(const DateStamp& stamp);

// Times before the Amiga epoch cannot be represented: they become the epoch itself.
DateStamp FileTimeToDateStamp(const FILETIME& time);

// Writes the local short date and, unless `dateOnly`, the time without seconds. Returns the
// characters written including the terminator, or 0 when the time or the buffer do not do.
int FormatDateText(const FILETIME& time, char* buffer, int bufferLength, bool dateOnly);

}  // namespace dm
