#include "core/diag_log.h"

#include "core/shared_settings_section.h"
#include "resources/version.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#ifdef _WIN32
#  include "core/platform.h"
#else
#  include <fcntl.h>
#  include <sys/file.h>
#  include <sys/utsname.h>
#  include <unistd.h>
#endif

namespace dm {

namespace {

constexpr int kDumpLineBytes = 20;

std::string Printf(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    char text[512];
    const int length = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return length < 0 ? std::string()
                      : std::string(text, std::min(size_t(length), sizeof text - 1));
}

#ifdef _WIN32

struct FileVersion {
    unsigned parts[4] = {0, 0, 0, 0};
};

FileVersion ReadFileVersion(const char* path)
{
    FileVersion version;
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path, &ignored);
    if (size == 0)
        return version;
    std::vector<char> data(size);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedSize = 0;
    if (GetFileVersionInfoA(path, 0, size, data.data()) &&
        VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &fixedSize) && fixed &&
        fixedSize >= sizeof(VS_FIXEDFILEINFO)) {
        version.parts[0] = HIWORD(fixed->dwFileVersionMS);
        version.parts[1] = LOWORD(fixed->dwFileVersionMS);
        version.parts[2] = HIWORD(fixed->dwFileVersionLS);
        version.parts[3] = LOWORD(fixed->dwFileVersionLS);
    }
    return version;
}

FileVersion RegisteredModuleVersion()
{
    char path[MAX_PATH + 1] = {};
    LONG size = sizeof path - 1;
    if (RegQueryValueA(HKEY_CLASSES_ROOT,
                       "CLSID\\{6B2D9A41-5C7E-4F83-9D10-3A5E7C24B8F6}\\InProcServer32", path,
                       &size) != ERROR_SUCCESS)
        return {};
    return ReadFileVersion(path);
}

std::string Banner()
{
    static const FileVersion shell32 = ReadFileVersion("Shell32.dll");
    OSVERSIONINFOA os {};
    os.dwOSVersionInfoSize = sizeof os;
#  pragma GCC diagnostic push
#  pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    GetVersionExA(&os);
#  pragma GCC diagnostic pop
    const FileVersion own = RegisteredModuleVersion();
    return Printf(
        "\r\nSYSTEM INFORMATION\r\nPlatformId: %d\r\nVersion: %d.%d\r\nBuildNumber: "
        "0x%08X\r\nCSDVersion: %s\r\nShell32: %d.%d.%d.%d\r\nDrovemark: "
        "%d.%d.%d.%d\r\n\r\n",
        int(os.dwPlatformId), int(os.dwMajorVersion), int(os.dwMinorVersion),
        unsigned(os.dwBuildNumber), os.szCSDVersion, shell32.parts[0], shell32.parts[1],
        shell32.parts[2], shell32.parts[3], own.parts[0], own.parts[1], own.parts[2], own.parts[3]);
}

// One entry's hold on the log: opened without sharing, positioned at the end.
class LogFile {
public:
    LogFile()
    {
        handle_ = CreateFileA(SharedSection().logPath, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle_ == INVALID_HANDLE_VALUE)
            return;
        LARGE_INTEGER end {};
        if (!SetFilePointerEx(handle_, LARGE_INTEGER {}, &end, FILE_END)) {
            CloseHandle(handle_);
            handle_ = INVALID_HANDLE_VALUE;
            return;
        }
        if (end.QuadPart == 0)
            Write(Banner());
    }
    ~LogFile()
    {
        if (handle_ != INVALID_HANDLE_VALUE)
            CloseHandle(handle_);
    }
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }
    void Write(const std::string& text)
    {
        DWORD written = 0;
        WriteFile(handle_, text.data(), DWORD(text.size()), &written, nullptr);
    }

private:
    HANDLE handle_;
};

#else

std::string Banner()
{
    struct utsname system {};
    uname(&system);
    unsigned major = 0, minor = 0, build = 0;
    std::sscanf(system.release, "%u.%u.%u", &major, &minor, &build);
    const std::string csd = std::string(system.sysname) + " " + system.release;
    return Printf(
        "\r\nSYSTEM INFORMATION\r\nPlatformId: %d\r\nVersion: %d.%d\r\nBuildNumber: "
        "0x%08X\r\nCSDVersion: %s\r\nShell32: %d.%d.%d.%d\r\nDrovemark: "
        "%d.%d.%d.%d\r\n\r\n",
        0, int(major), int(minor), build, csd.c_str(), 0, 0, 0, 0, DROVEMARK_VERSION_MAJOR,
        DROVEMARK_VERSION_MINOR, DROVEMARK_VERSION_PATCH, DROVEMARK_VERSION_BUILD);
}

// A lock instead of Windows' share mode: an entry that meets a held file is dropped.
class LogFile {
public:
    LogFile()
    {
        fd_ = open(SharedSection().logPath, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        if (fd_ < 0)
            return;
        if (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            close(fd_);
            fd_ = -1;
            return;
        }
        const off_t end = lseek(fd_, 0, SEEK_END);
        if (end < 0) {
            close(fd_);
            fd_ = -1;
            return;
        }
        if (end == 0)
            Write(Banner());
    }
    ~LogFile()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    void Write(const std::string& text)
    {
        size_t done = 0;
        while (done < text.size()) {
            const ssize_t written = write(fd_, text.data() + done, text.size() - done);
            if (written <= 0)
                return;
            done += size_t(written);
        }
    }

private:
    int fd_;
};

#endif

std::string DumpLine(const char* prefix, const unsigned char* bytes, int count)
{
    std::string line = prefix;
    for (int i = 0; i < count; ++i)
        line += Printf(i == 0 ? "%02X" : " %02X", bytes[i]);
    return line + "\r\n";
}

}  // namespace

void LogLine(const char* format, ...)
{
    if (!format)
        return;
    std::string converted;
    for (const char* c = format; *c; ++c) {
        if (*c == '\n')
            converted += '\r';
        converted += *c;
    }

    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, converted.c_str(), args);
    va_end(args);
    std::string text;
    if (length > 0) {
        std::vector<char> buffer(size_t(length) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), converted.c_str(), again);
        text.assign(buffer.data(), size_t(length));
    }
    va_end(again);

    LogFile file;
    if (file.IsOpen())
        file.Write(text);
}

void LogHexDump(const char* prefix, const void* data, int32_t count)
{
    const char* lead = prefix ? prefix : "";
    std::string text = lead + Printf("[%d bytes]\r\n", int(count));
    const auto* bytes = static_cast<const unsigned char*>(data);
    if (count > 0 && bytes) {
        const int first = std::min<int>(count, kDumpLineBytes);
        text += DumpLine(lead, bytes, first);
        const int remaining = count - first;
        if (remaining > kDumpLineBytes) {
            text += std::string(lead) + "...\r\n";
            text += DumpLine(lead, bytes + count - kDumpLineBytes, kDumpLineBytes);
        } else if (remaining > 0) {
            text += DumpLine(lead, bytes + first, remaining);
        }
    }
    LogFile file;
    if (file.IsOpen())
        file.Write(text);
}

}  // namespace dm
