// Writes downloaded files to this computer on a thread of its own. Creating, renaming and dating a
// file costs the local disk about as much as the few packets of a small file cost the line, so a
// drawer of small files goes twice as fast when the line fetches the next file meanwhile.
#pragma once

#include "core/platform.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace dm::cli {

// A whole file as it came from the Amiga, to be written under `local`.
struct ArrivedFile {
    std::string local;
    std::vector<char> bytes;
    std::optional<FILETIME> lastWrite;
    bool readOnly = false;
};

struct WrittenFile {
    std::string local;
    bool written = false;
    std::string failure;  // what could not be written, when not written
};

// Writes `file` under a temporary name and renames it once complete, so that no half-written file
// ever carries the name.
WrittenFile WriteArrivedFile(const ArrivedFile& file);
// Gives the complete `partial` the name, date and protection of `file` (its bytes unused).
WrittenFile PlaceWrittenFile(const std::string& partial, const ArrivedFile& file);

class LocalWriter {
public:
    // Add waits while more than `pendingBytes` are still to be written.
    explicit LocalWriter(size_t pendingBytes = size_t(8) << 20);
    ~LocalWriter();  // writes everything added first
    LocalWriter(const LocalWriter&) = delete;
    LocalWriter& operator=(const LocalWriter&) = delete;

    void Add(ArrivedFile file);
    // Whether a file of that name (in any case) is still to be written.
    bool Holds(const std::string& local);
    // What became of the files written since the last call; with `wait`, once every file added so
    // far is written.
    std::vector<WrittenFile> Outcomes(bool wait);

private:
    void Run();

    const size_t pendingLimit_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<ArrivedFile> queue_;
    size_t pendingBytes_ = 0;
    std::string writing_;  // the name being written, or empty
    bool closing_ = false;
    std::vector<WrittenFile> outcomes_;
    std::thread thread_;
};

}  // namespace dm::cli
