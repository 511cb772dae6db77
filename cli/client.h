// The commands of the drovemark client, each one remote operation or a batch of them.
#pragma once

#include "cli/local_files.h"
#include "cli/options.h"
#include "cli/remote_tree.h"
#include "cli/terminal_questions.h"
#include "core/amiga_names.h"
#include "protocol/packet_channel.h"

#include <atomic>
#include <iosfwd>
#include <memory>

namespace dm::cli {

enum ExitCode { kExitOk = 0, kExitFailed = 1, kExitUsage = 2 };

class Client {
public:
    Client(const Options& options, PacketChannel& channel, std::ostream& out, std::ostream& err);

    // Runs the command of the options; the exit code.
    int Run();

    // Set from a signal handler: the running count or format stops at its next step.
    static std::atomic<bool> stopRequested;

private:
    int List();
    int Get();
    int Put();
    int Remove();
    int MoveOrCopy(bool copy);
    int MakeDrawer();
    int RenameItem();
    int Protect();
    int Comment();
    int Count();
    int FormatDisk();

    // After each remote operation: the server's or the transport's message, printed once.
    bool Report(HRESULT result);
    int Usage(const char* message);
    int Fail(const std::string& message);
    std::optional<ListedItem> Find(const std::string& path, bool folder);
    HRESULT PutOne(const std::string& localPath, const LocalFileInfo& info,
                   const PcFileDescriptor& descriptor, const PcFileDescriptor& first,
                   const ListedItem& destination, OverwriteAnswer& answer, uint32_t total,
                   bool& refused);
    void Progress(const std::string& what, uint64_t done, uint64_t total);
    void EndProgress();

    const Options& options_;
    PacketChannel& channel_;
    RemoteTree tree_;
    TerminalQuestions questions_;
    std::ostream& out_;
    std::ostream& err_;
    bool progressShown_ = false;
    bool showProgress_;
};

}  // namespace dm::cli
