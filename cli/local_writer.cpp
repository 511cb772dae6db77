#include "cli/local_writer.h"

#include "cli/local_files.h"

#include <fstream>
#include <utility>

namespace dm::cli {

WrittenFile WriteArrivedFile(const ArrivedFile& file)
{
    const std::string partial = file.local + ".part";
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        if (out) {
            out.write(file.bytes.data(), std::streamsize(file.bytes.size()));
            out.close();
        }
        if (!out) {
            RemoveLocal(partial);
            return {file.local, false, "cannot write " + partial};
        }
    }
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

std::vector<WrittenFile> LocalWriter::Outcomes(bool wait)
{
    std::unique_lock lock(mutex_);
    if (wait)
        changed_.wait(lock, [&] { return queue_.empty() && !writing_; });
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
        writing_ = true;
        lock.unlock();
        WrittenFile outcome = WriteArrivedFile(file);
        lock.lock();
        writing_ = false;
        pendingBytes_ -= file.bytes.size();
        outcomes_.push_back(std::move(outcome));
        changed_.notify_all();
    }
}

}  // namespace dm::cli
