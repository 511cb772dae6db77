// The few Win32 types and calls the portable core needs. The Windows build uses the real
// ones; elsewhere this header supplies look-alikes with the same names and layouts.
#pragma once

#include <cstdint>
#include <string>

#ifdef _WIN32
#  ifndef NOMINMAX
#    define NOMINMAX
#  endif
#  include <windows.h>
#else

typedef int32_t HRESULT;
typedef uint32_t DWORD;
typedef uint16_t WORD;
typedef uint8_t BYTE;
typedef int BOOL;
typedef unsigned int UINT;
typedef void* HMODULE;
typedef void* HINSTANCE;
typedef void* HWND;

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

struct SYSTEMTIME {
    WORD wYear, wMonth, wDayOfWeek, wDay, wHour, wMinute, wSecond, wMilliseconds;
};

#  define S_OK ((HRESULT)0)
#  define S_FALSE ((HRESULT)1)
#  define E_FAIL ((HRESULT)0x80004005L)
#  define E_ABORT ((HRESULT)0x80004004L)
#  define E_NOTIMPL ((HRESULT)0x80004001L)
#  define E_OUTOFMEMORY ((HRESULT)0x8007000EL)
#  define E_INVALIDARG ((HRESULT)0x80070057L)
#  define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#  define FAILED(hr) (((HRESULT)(hr)) < 0)
#  define HRESULT_FROM_WIN32(x) \
    ((HRESULT)(x) <= 0 ? ((HRESULT)(x)) : ((HRESULT)(((x)&0x0000FFFF) | (7 << 16) | 0x80000000)))

#  define ERROR_SUCCESS 0L
#  define ERROR_FILE_NOT_FOUND 2L
#  define ERROR_ACCESS_DENIED 5L
#  define ERROR_ALREADY_EXISTS 183L
#  define ERROR_CANCELLED 1223L

#  define MAX_PATH 260

#  define FILE_ATTRIBUTE_READONLY 0x00000001
#  define FILE_ATTRIBUTE_HIDDEN 0x00000002
#  define FILE_ATTRIBUTE_SYSTEM 0x00000004
#  define FILE_ATTRIBUTE_DIRECTORY 0x00000010
#  define FILE_ATTRIBUTE_ARCHIVE 0x00000020
#  define FILE_ATTRIBUTE_NORMAL 0x00000080

#  define IDOK 1
#  define IDCANCEL 2
#  define IDYES 6
#  define IDNO 7

// Local time follows the TZ environment, including the daylight-saving rule of the date itself.
BOOL FileTimeToLocalFileTime(const FILETIME* utc, FILETIME* local);
BOOL LocalFileTimeToFileTime(const FILETIME* local, FILETIME* utc);
BOOL FileTimeToSystemTime(const FILETIME* time, SYSTEMTIME* out);
BOOL SystemTimeToFileTime(const SYSTEMTIME* time, FILETIME* out);
DWORD GetTickCount();

#endif  // _WIN32

namespace dm {

// A cancel by the user or the server: never shown as an error.
constexpr HRESULT kCancelled = HRESULT(0x800704C7L);

inline uint64_t FileTimeValue(const FILETIME& t)
{
    return (uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

inline FILETIME MakeFileTime(uint64_t value)
{
    FILETIME t;
    t.dwLowDateTime = DWORD(value & 0xFFFFFFFFu);
    t.dwHighDateTime = DWORD(value >> 32);
    return t;
}

// Locale-dependent text forms: the system default locale on Windows, fixed forms elsewhere
// (ISO dates, "." decimals, "," thousands) so that output and tests do not depend on the host.
namespace platform {

// `plainNumber` is a non-negative decimal such as "1.500000"; rounded to `decimals` places.
std::string FormatLocaleNumber(const std::string& plainNumber, int decimals);
std::string FormatLocaleShortDate(const SYSTEMTIME& time);
std::string FormatLocaleTimeNoSeconds(const SYSTEMTIME& time);

}  // namespace platform
}  // namespace dm
