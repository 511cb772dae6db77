#include "setup/serial_setup.h"

#include "core/messages.h"
#include "core/module.h"
#include "core/progress_dialog.h"
#include "link/serial_link.h"
#include "protocol/packet_channel.h"
#include "protocol/remote_errors.h"
#include "protocol/remote_questions.h"
#include "protocol/remote_session.h"
#include "resources/string_ids.h"
#include "setup/amiga_files.h"
#include "setup/raw_file_send.h"
#include "shell/item_id.h"
#include "shell/item_id_list.h"
#include "transfer/local_file_list.h"
#include "transfer/pc_to_amiga.h"

#include <string>
#include <vector>

namespace dm {

namespace {

constexpr uint32_t kSetupBaudRate = 19200;
constexpr DWORD kTypeStartsMs = 5000;
constexpr DWORD kRexxStartsMs = 10000;
constexpr DWORD kScriptEndsMs = 5000;
constexpr DWORD kServerStartsMs = 1200;
constexpr DWORD kLineFeedTimeoutMs = 1000;
constexpr int kMaxSingleLineFeeds = 4096;
constexpr const char* kFinalFiles[] = {"Drovemark", "Drovemark.info", "ReadMe.txt",
                                       "ReadMe.txt.info"};

int Ask(UINT textId, UINT buttons, UINT icon = MB_ICONINFORMATION)
{
    return MessageBoxById(nullptr, textId, IDS_SETUP_TITLE, buttons | icon | MB_SETFOREGROUND,
                          ThisModule());
}

void ShowErrorCode(HRESULT hr)
{
    MessageBoxById(nullptr, IDS_ERROR_CODE_UNKNOWN, IDS_SETUP_TITLE,
                   MB_OK | MB_ICONSTOP | MB_SETFOREGROUND, ThisModule(), {unsigned(hr)});
}

// Amiga OS 1.2 and 1.3: Type ends with the user's Ctrl+C; the line feeds then push the rest of
// the file out of the Amiga's buffer.
HRESULT OldSystemPath(SerialLink& link)
{
    RawSend program;
    program.fileName = "Drovemark";
    program.waitBeforeMs = kTypeStartsMs;
    const HRESULT hr = RawSendFile(link, program);
    if (SUCCEEDED(hr)) {
        if (Ask(IDS_SETUP_PRESS_CTRL_C, MB_OKCANCEL) != IDOK)
            return kCancelled;
    } else if (hr == kRawWriteFault) {
        Ask(IDS_SETUP_FAILED_OS13, MB_OK, MB_ICONSTOP);
    }
    if (SUCCEEDED(hr) || hr == kRawWriteFault) {
        const char lineFeed = '\n';
        for (int sent = 0; sent < kMaxSingleLineFeeds; ++sent) {
            if (FAILED(link.Write(&lineFeed, 1, -int32_t(kLineFeedTimeoutMs))))
                break;
        }
    }
    return hr;
}

// Amiga OS 2.0 and later: Type catches an ARexx script, which then fetches the program.
HRESULT NewSystemPath(SerialLink& link)
{
    RawSend script;
    script.fileName = "Setup.rexx";
    script.waitBeforeMs = kTypeStartsMs;
    script.waitAfterMs = kScriptEndsMs;
    script.tail = true;
    script.sendBreak = true;
    HRESULT hr = RawSendFile(link, script);
    if (SUCCEEDED(hr)) {
        if (Ask(IDS_SETUP_RUN_REXX, MB_OKCANCEL) == IDOK) {
            RawSend program;
            program.fileName = "Drovemark";
            program.waitBeforeMs = kRexxStartsMs;
            program.tail = true;
            hr = RawSendFile(link, program);
        } else {
            hr = kCancelled;
        }
        // The script waits for a break whether or not its program came.
        if (FAILED(SendSetupBreak(link)) && SUCCEEDED(hr))
            hr = E_FAIL;
    }
    if (hr == kRawWriteFault)
        Ask(IDS_SETUP_FAILED_OS20, MB_OK, MB_ICONSTOP);
    return hr;
}

// The rest of the Amiga side, with the protocol, into the RAM disk; the copy reports its own
// failures once it runs.
HRESULT FinalCopy()
{
    std::string folder;
    HRESULT hr = AmigaFilesFolder(kCopyFolderLimit, folder);
    LocalFileList files;
    UniqueIdList target;
    if (SUCCEEDED(hr)) {
        target.reset(MakeItemId("", "RAM:RAM", ItemKind::Volume, 0, 0, 0, {}, ""));
        if (!target)
            hr = E_OUTOFMEMORY;
    }
    if (SUCCEEDED(hr)) {
        std::vector<std::string> paths;
        for (const char* name : kFinalFiles)
            paths.push_back(folder + name);
        hr = files.BuildFromPaths(paths);
    }
    if (FAILED(hr)) {
        ShowErrorCode(hr);
        return hr;
    }
    ProgressDialog progress;
    DialogQuestions questions(nullptr);
    PcTransferOutcome outcome;
    hr = SendLocalFiles(files, target.get(), nullptr, progress, questions, outcome);
    progress.Stop();
    if (SUCCEEDED(hr) && !outcome.AllDelivered())
        hr = kCancelled;
    return hr;
}

void FinishOnAmiga()
{
    RemoteSession& session = RemoteSession::Process();
    if (PacketChannel* channel = session.Open(true)) {
        channel->FinishSetup();
        channel->GetLink().ClearPendingError();
        session.Close();
    }
}

// From the user's go-ahead to the final copy, with the connection lock held throughout.
void GuidedSetup(RemoteSession& session, SerialLink& link)
{
    if (Ask(IDS_SETUP_INTRO, MB_OKCANCEL) != IDOK)
        return;
    const int version = Ask(IDS_SETUP_ASK_OS_VERSION, MB_YESNOCANCEL, MB_ICONQUESTION);
    if (version != IDYES && version != IDNO)
        return;
    const bool newSystem = version == IDYES;
    if (Ask(newSystem ? IDS_SETUP_SERPREFS_OS20 : IDS_SETUP_SERPREFS_OS13, MB_OKCANCEL) != IDOK)
        return;
    if (Ask(IDS_SETUP_TYPE_COMMAND, MB_OKCANCEL) != IDOK)
        return;

    // Both ends of a fresh Amiga talk at 19200, whatever this PC uses otherwise; the stored
    // speed is only lent, never saved.
    const uint32_t storedRate = link.BaudRate();
    const uint32_t stamp = session.Settings()->Stamp();
    link.SetBaudRate(kSetupBaudRate);
    HRESULT hr = link.Open();
    if (SUCCEEDED(hr)) {
        hr = newSystem ? NewSystemPath(link) : OldSystemPath(link);
        link.Close();
    }
    // The user hears of a failure here, once: nothing is left for a later operation to show.
    link.ClearPendingError();
    if (FAILED(hr)) {
        if (hr != E_ABORT && hr != kCancelled && hr != kRawWriteFault)
            ShowErrorCode(hr);
    } else if (newSystem || Ask(IDS_SETUP_RUN_SETUP, MB_OKCANCEL) == IDOK) {
        if (newSystem)
            Sleep(kServerStartsMs);
        if (SUCCEEDED(FinalCopy())) {
            FinishOnAmiga();
            Ask(IDS_SETUP_DONE, MB_OK);
        }
    }
    // Settings another process saved meanwhile were loaded afresh by the copy's own Open: the
    // link is then gone, and the new record holds the stored speed already.
    if (session.Settings() && session.Settings()->Stamp() == stamp)
        link.SetBaudRate(storedRate);
}

}  // namespace

void RunSerialSetup()
{
    RemoteSession& session = RemoteSession::Process();
    session.AddRef();
    // A link kept open between a data object's streams counts too: Setup would close it under
    // them.
    if (session.HasCurrentLink()) {
        Ask(IDS_ERR_CONN_CONFLICT, MB_OK, MB_ICONSTOP);
    } else if (PacketChannel* channel = session.Open(false)) {
        // This hold keeps the connection lock until the end, also across the final copy, so
        // that no other program takes the line between the raw files and the protocol. A link
        // kept open by whoever had the lock while this waited for it is still in use.
        if (session.HasCurrentLink())
            Ask(IDS_ERR_CONN_CONFLICT, MB_OK, MB_ICONSTOP);
        else if (channel->GetLink().Kind() != LinkKind::Serial)
            Ask(IDS_SETUP_NOT_SERIAL, MB_OK, MB_ICONSTOP);
        else
            GuidedSetup(session, static_cast<SerialLink&>(channel->GetLink()));
        session.Close();
    }
    session.Release();
}

}  // namespace dm
