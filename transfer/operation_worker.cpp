#include "transfer/operation_worker.h"

#include "protocol/packet_channel.h"
#include "protocol/remote_errors.h"
#include "protocol/remote_questions.h"
#include "protocol/remote_session.h"
#include "shell/item_id.h"

#include <commctrl.h>

namespace dm {

namespace {

// The session and its lock for the whole of a worker's run.
class WorkerSession {
public:
    WorkerSession()
    {
        RemoteSession::Process().AddRef();
        channel_ = RemoteSession::Process().Open(true);
    }
    ~WorkerSession()
    {
        if (channel_)
            RemoteSession::Process().Close();
        RemoteSession::Process().Release();
    }
    PacketChannel* Channel() const { return channel_; }

private:
    PacketChannel* channel_ = nullptr;
};

void EnsureMessageQueue()
{
    MSG message;
    PeekMessageA(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
}

}  // namespace

std::unique_ptr<CountStep> TakeCountStep(const MSG& message)
{
    if (message.message != kMsgCounts)
        return nullptr;
    return std::unique_ptr<CountStep>(reinterpret_cast<CountStep*>(message.lParam));
}

bool WorkerThread::Running() const
{
    DWORD code = 0;
    return thread_ && GetExitCodeThread(thread_, &code) && code == STILL_ACTIVE;
}

bool WorkerThread::Launch(LPTHREAD_START_ROUTINE body, void* context)
{
    if (thread_)
        return false;
    stop_ = false;
    thread_ = CreateThread(nullptr, 0, body, context, 0, &threadId_);
    return thread_ != nullptr;
}

void WorkerThread::Signal(UINT message)
{
    if (!thread_)
        return;
    stop_ = true;
    PostThreadMessageA(threadId_, message, 0, 0);
}

void WorkerThread::Wait()
{
    if (!thread_)
        return;
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    thread_ = nullptr;
    threadId_ = 0;
}

bool WorkerThread::StopRequested(UINT message)
{
    MSG waiting;
    return PeekMessageA(&waiting, reinterpret_cast<HWND>(-1), message, message, PM_REMOVE) ||
           stop_.load();
}

bool CountingWorker::Start(const std::vector<const ITEMIDLIST*>& items, DWORD receiver)
{
    items_.clear();
    for (const ITEMIDLIST* item : items) {
        const ItemIdView view(item);
        if (!IsContainerKind(view.Kind()))
            continue;
        if (std::optional<RemoteItem> remote = view.ToRemoteItem())
            items_.push_back(std::move(*remote));
    }
    receiver_ = receiver;
    result_ = S_OK;
    return Launch(&CountingWorker::Run, this);
}

DWORD WINAPI CountingWorker::Run(void* self)
{
    static_cast<CountingWorker*>(self)->Count();
    return 0;
}

void CountingWorker::Count()
{
    WorkerSession session;
    PacketChannel* channel = session.Channel();
    if (!channel)
        return;
    EnsureMessageQueue();
    for (const RemoteItem& item : items_) {
        HRESULT hr = channel->CountContents(item);
        while (SUCCEEDED(hr)) {
            CountStep step;
            bool finished = false;
            if (StopRequested(kMsgQuitCount)) {
                channel->ReadProgress(step.bytes, step.drawers, step.files, finished, true);
                hr = HRESULT_FROM_WIN32(ERROR_CANCELLED);
                break;
            }
            hr = channel->ReadProgress(step.bytes, step.drawers, step.files, finished, false);
            if (FAILED(hr) || finished)
                break;
            auto* posted = new (std::nothrow) CountStep(step);
            if (posted && !PostThreadMessageA(receiver_, kMsgCounts, 0,
                                              reinterpret_cast<LPARAM>(posted)))
                delete posted;
        }
        const HRESULT reported = ReportRemoteError(*channel, nullptr, hr);
        result_ = FAILED(hr) ? hr : reported;
        if (FAILED(result_))
            break;
    }
}

bool FormatWorker::Start(FormatJob job)
{
    job_ = std::move(job);
    formatted_ = false;
    return Launch(&FormatWorker::Run, this);
}

DWORD WINAPI FormatWorker::Run(void* self)
{
    static_cast<FormatWorker*>(self)->Format();
    return 0;
}

void FormatWorker::Format()
{
    HRESULT hr = E_FAIL;
    {
        WorkerSession session;
        if (PacketChannel* channel = session.Channel()) {
            EnsureMessageQueue();
            DialogQuestions questions(job_.owner);
            uint32_t steps = 0;
            hr = channel->Format(job_.device, job_.volumeName, job_.dosType, job_.quick,
                                 job_.bootable, steps, questions);
            if (SUCCEEDED(hr) && steps > 0) {
                if (job_.progressBar) {
                    SendMessageA(job_.progressBar, PBM_SETRANGE32, 0, LPARAM(steps));
                    SendMessageA(job_.progressBar, PBM_SETSTEP, 1, 0);
                }
                for (uint32_t step = 0; step < steps; ++step) {
                    if (StopRequested(kMsgStopFormat)) {
                        hr = channel->FormatStep(true);
                        break;
                    }
                    hr = channel->FormatStep(false);
                    if (FAILED(hr))
                        break;
                    if (job_.progressBar)
                        SendMessageA(job_.progressBar, PBM_STEPIT, 0, 0);
                }
                // The disk was touched: what it held is gone even when stopped.
                formatted_ = true;
            }
            const HRESULT reported = ReportRemoteError(*channel, job_.owner, hr);
            if (SUCCEEDED(hr))
                hr = reported;
        }
    }
    PostThreadMessageA(job_.dialogThread, kMsgFormatDone, 0, LPARAM(hr));
}

}  // namespace dm
