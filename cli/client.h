// The commands of the drovemark client, each one remote operation or a batch of them.
#pragma once

#include "cli/local_files.h"
#include "cli/local_writer.h"
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
    // What a download of several files came to.
    struct Tally {
        unsigned fetched = 0;
        unsigned skipped = 0;
        unsigned failed = 0;
        OverwriteAnswer answer = OverwriteAnswer::Yes;
    };

    int List();
    int Get();
    // A drawer's contents into the folder `local`, drawer by drawer; `items` is the drawer's
    // listing when it has been read already.
    void GetTree(const RemoteItem& drawer, const std::string& local,
                 const std::vector<ListedItem>* items, Tally& tally);
    // Fetches one file to `local` unless a file there may not be replaced; counts the outcome.
    void Fetch(const RemoteItem& item, const ListedItem* record, const std::string& local,
               bool singleItem, Tally& tally);
    // Counts (and reports) what the writer thread made of the files handed to it; with `wait`,
    // of all of them.
    void CountWritten(bool wait, Tally& tally);
    void Count(const WrittenFile& outcome, Tally& tally);
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
    bool Report(HRESULT result, bool* shown = nullptr);
    int Usage(const char* message);
    int Fail(const std::string& message);
    // The ISO-8859-1 form of a user's text, or none after saying which character has none.
    std::optional<std::string> AmigaText(const std::string& text);
    std::optional<LocatedItem> Locate(const std::string& userPath, bool folder = false);
    // Says why a path led nowhere.
    void NotFound(const std::string& error);
    std::optional<ListedItem> Find(const std::string& userPath);
    // After a request that may fail as part of a search: the server forgets its error, and a
    // transport failure is reported (false then).
    bool ForgetServerError();
    HRESULT PutOne(const std::string& localPath, const LocalFileInfo& info,
                   const PcFileDescriptor& descriptor, const PcFileDescriptor& first,
                   const RemoteItem& destination, OverwriteAnswer& answer, uint32_t total,
                   bool& refused, bool& declined);
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
    LocalWriter writer_;
};

}  // namespace dm::cli
