// Scratch files and environment for tests.
#pragma once

#include "core/shared_settings_section.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace dm::test {

// A fresh, empty folder for one test, removed again afterwards.
class ScratchFolder {
public:
    ScratchFolder()
    {
        static int counter = 0;
        path_ = std::filesystem::temp_directory_path() /
                ("drovemark-test-" + std::to_string(Pid()) + "-" + std::to_string(counter++));
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~ScratchFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    std::string File(const std::string& name) const { return (path_ / name).string(); }

private:
    static long Pid();
    std::filesystem::path path_;
};

inline std::string ReadWholeFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// `size` bytes that take every value and repeat only far apart; `seed` tells files apart.
inline std::string PatternBytes(size_t size, unsigned seed = 1)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = char((i * 131 + seed * 7 + (i >> 9)) & 0xFF);
    return bytes;
}

inline void WriteWholeFile(const std::string& path, const std::string& content)
{
    std::ofstream(path, std::ios::binary) << content;
}

// The diagnostic log, written into a scratch file for the object's lifetime.
class ScratchLog {
public:
    ScratchLog()
    {
        std::snprintf(SharedSection().logPath, sizeof SharedSection().logPath, "%s", path_.c_str());
        SharedSection().loggingEnabled = 1;
    }
    ~ScratchLog()
    {
        SharedSection().loggingEnabled = 0;
        SharedSection().logPath[0] = 0;
    }
    std::string Text() const { return ReadWholeFile(path_); }

private:
    ScratchFolder folder_;
    std::string path_ = folder_.File("Drovemark_pc.log");
};

}  // namespace dm::test

#ifdef _WIN32
#  include <process.h>
inline long dm::test::ScratchFolder::Pid()
{
    return long(_getpid());
}
#else
#  include <unistd.h>
inline long dm::test::ScratchFolder::Pid()
{
    return long(getpid());
}
#endif
