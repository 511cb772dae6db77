// Long remote operations on threads of their own, so that the window showing their progress
// keeps answering: counting what drawers hold (for the properties window) and formatting a
// disk. Each worker takes the session and the connection lock itself; it and the thread that
// shows its progress share nothing while it runs but thread messages, whose data travels with
// the message.
#pragma once

#include "protocol/remote_item.h"
#include "shell/item_id_list.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace dm {

// Counting worker -> properties thread: lParam owns a CountStep (see TakeCountStep).
constexpr UINT kMsgCounts = WM_USER + 1;
// Properties thread -> counting worker: stop counting.
constexpr UINT kMsgQuitCount = WM_USER + 2;
// Format dialog thread -> format worker: stop at the next step.
constexpr UINT kMsgStopFormat = WM_USER + 1;
// Format worker -> format dialog thread: finished; lParam is the format's HRESULT.
constexpr UINT kMsgFormatDone = WM_USER + 2;

// What one step of a count adds to the totals shown.
struct CountStep {
    uint32_t bytes = 0;
    uint32_t drawers = 0;
    uint32_t files = 0;
};

// The step a kMsgCounts message carries; the receiver owns it from here on.
std::unique_ptr<CountStep> TakeCountStep(const MSG& message);

// The thread of one worker: started once, stopped by a message or a flag (a message posted
// before the worker has a queue would be lost), and always waited for without a time limit.
class WorkerThread {
public:
    WorkerThread() = default;
    ~WorkerThread() { Stop(); }
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    bool Running() const;
    // The worker's thread, while it has one: where its questions appear.
    DWORD ThreadId() const { return threadId_; }
    // Asks the worker to stop with `message`; never waits.
    void Signal(UINT message);
    // Waits for the worker's end (never from a thread the worker sends messages to while it
    // runs), then lets its thread go.
    void Wait();
    void Stop(UINT message = kMsgQuitCount)
    {
        Signal(message);
        Wait();
    }

protected:
    bool Launch(LPTHREAD_START_ROUTINE body, void* context);
    // On the worker: whether `message` is waiting (it is taken) or the flag was set.
    bool StopRequested(UINT message);

private:
    HANDLE thread_ = nullptr;
    DWORD threadId_ = 0;
    std::atomic<bool> stop_ {false};
};

// Counts the contents of every container among `items` (bytes, drawers, files), posting each
// step to `receiver`'s thread as kMsgCounts.
class CountingWorker final : public WorkerThread {
public:
    bool Start(const std::vector<const ITEMIDLIST*>& items, DWORD receiver);
    // The result of the last count once the worker ended (cancelled when stopped).
    HRESULT Result() const { return result_; }

private:
    static DWORD WINAPI Run(void* self);
    void Count();

    std::vector<RemoteItem> items_;
    DWORD receiver_ = 0;
    HRESULT result_ = S_OK;
};

struct FormatJob {
    RemoteItem device;
    std::string volumeName;  // at most 30 characters
    uint32_t dosType = 0x444F5300;
    bool quick = false;
    bool bootable = false;
    HWND owner = nullptr;        // of the server's question and error messages
    HWND progressBar = nullptr;  // stepped once per format step, when given
    DWORD dialogThread = 0;      // receives kMsgFormatDone
};

// Formats a disk step by step; kMsgStopFormat to its thread stops it at the next step.
class FormatWorker final : public WorkerThread {
public:
    bool Start(FormatJob job);
    // The dialog thread keeps reading its messages until kMsgFormatDone arrives.
    void RequestStop() { Signal(kMsgStopFormat); }
    // Whether the format got as far as its steps (set only by the worker, read after its end).
    bool Formatted() const { return formatted_; }

private:
    static DWORD WINAPI Run(void* self);
    void Format();

    FormatJob job_;
    bool formatted_ = false;
};

}  // namespace dm
