#include "cli/local_writer.h"

#include "cli/local_files.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <utility>

namespace dm::cli {

WrittenFile WriteArrivedFile(const ArrivedFile& file)
{
    const std::string partial = file.local + ".part";
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        if (!out)  // what holds the name is not ours to remove
            return {file.local, false, "cannot write " + partial};
        out.write(file.bytes.data(), std::streamsize(file.bytes.size()));
        out.close();
        if (!out) {
            RemoveLocal(partial);
            return {file.local, false, "cannot write " + partial};
        }
    }
    return PlaceWrittenFile(partial, file);
}

WrittenFile PlaceWrittenFile(const std::string& partial, const ArrivedFile& file)
{
    if (!RenameLocal(partial, file.local)) {
        RemoveLocal(partial);
        return {file.local, false, "cannot write " + file.local};
    }
    if (file.lastWrite)
        SetLocalWriteTime(file.local, *file.lastWrite);
    if (file.readOnly)
        SetLocalReadOnly(file.local);
    return {file.local, true, {}};
}

LocalWriter::LocalWriter(size_t pendingBytes) : pendingLimit_(pendingBytes) {}

LocalWriter::~LocalWriter()
{
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void LocalWriter::Add(ArrivedFile file)
{
    std::unique_lock lock(mutex_);
    if (!thread_.joinable())
        thread_ = std::thread([this] { Run(); });
    // One file larger than the limit still goes, alone.
    changed_.wait(lock, [&] {
        return pendingBytes_ == 0 || pendingBytes_ + file.bytes.size() <= pendingLimit_;
    });
    pendingBytes_ += file.bytes.size();
    queue_.push_back(std::move(file));
    changed_.notify_all();
}

bool LocalWriter::Holds(const std::string& local)
{
    auto same = [&](const std::string& name) {
        return std::equal(name.begin(), name.end(), local.begin(), local.end(), [](char a, char b) {
            return std::tolower(static_cast<unsigned char>(a)) ==
                   std::tolower(static_cast<unsigned char>(b));
        });
    };
    std::lock_guard lock(mutex_);
    return same(writing_) || std::any_of(queue_.begin(), queue_.end(),
                                         [&](const ArrivedFile& f) { return same(f.local); });
}

std::vector<WrittenFile> LocalWriter::Outcomes(bool wait)
{
    std::unique_lock lock(mutex_);
    if (wait)
        changed_.wait(lock, [&] { return queue_.empty() && writing_.empty(); });
    return std::exchange(outcomes_, {});
}

void LocalWriter::Run()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return closing_ || !queue_.empty(); });
        if (queue_.empty())
            return;
        ArrivedFile file = std::move(queue_.front());
        queue_.pop_front();
        writing_ = file.local;
        lock.unlock();
        WrittenFile outcome = WriteArrivedFile(file);
        lock.lock();
        writing_.clear();
        pendingBytes_ -= file.bytes.size();
        outcomes_.push_back(std::move(outcome));
        changed_.notify_all();
    }
}

}  // namespace dm::cli
