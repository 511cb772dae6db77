// The client's commands other than the transfers: listing, deleting, moving and copying, new
// drawers, renaming, protection bits, comments, counting and formatting, and how each reports.
#include "cli/client.h"

#include "cli/message_lines.h"
#include "cli/protection_letters.h"
#include "cli/text_encoding.h"

#include "core/amiga_dates.h"
#include "core/amiga_paths.h"
#include "core/messages.h"
#include "core/module.h"
#include "core/size_text.h"
#include "protocol/remote_errors.h"
#include "resources/string_ids.h"

#include <cstdio>
#include <iomanip>
#include <iostream>

namespace dm::cli {

std::atomic<bool> Client::stopRequested {false};

namespace {

constexpr uint32_t kKeepComment = 1u << 30;

std::string TypeText(ItemKind kind)
{
    return LoadStringById(TypeTextId(kind), ThisModule(), 79).value_or("????");
}

std::string DateText(const ListedItem& listed)
{
    char text[80];
    const bool dateOnly = listed.item.kind == ItemKind::RomFile;
    if (FormatDateText(DateStampToFileTime(listed.date), text, sizeof text, dateOnly) == 0)
        return "????";
    return text;
}

bool IsFileKind(ItemKind kind)
{
    return !IsContainerKind(kind);
}

}  // namespace

Client::Client(const Options& options, PacketChannel& channel, std::ostream& out, std::ostream& err)
    : options_(options),
      channel_(channel),
      tree_(channel),
      questions_(options.assumeYes),
      out_(out),
      err_(err),
      showProgress_(&err == &std::cerr && IsTerminal(2))
{
}

int Client::Run()
{
    const std::string& c = options_.command;
    if (c == "ls")
        return List();
    if (c == "get")
        return Get();
    if (c == "put")
        return Put();
    if (c == "rm")
        return Remove();
    if (c == "mv")
        return MoveOrCopy(false);
    if (c == "cp")
        return MoveOrCopy(true);
    if (c == "mkdir")
        return MakeDrawer();
    if (c == "rename")
        return RenameItem();
    if (c == "protect")
        return Protect();
    if (c == "comment")
        return Comment();
    if (c == "count")
        return Count();
    if (c == "format")
        return FormatDisk();
    return Usage(("unknown command " + c).c_str());
}

bool Client::Report(HRESULT result, bool* shown)
{
    RemoteErrorMessage message;
    const HRESULT exchange = ReportRemoteError(channel_, nullptr, result, &message, false);
    EndProgress();
    if (shown)
        *shown = message.shown;
    if (message.shown) {
        std::string text = "drovemark: " + WithoutCarriageReturns(message.text);
        // A server may caption its error with its own words: show them when they add any.
        if (message.caption != message.text &&
            message.caption != LoadStringById(IDS_CAPTION_ERROR, ThisModule()).value_or(""))
            text += " (" + message.caption + ")";
        err_ << text << "\n";
    }
    return SUCCEEDED(result) && SUCCEEDED(exchange) && !message.shown;
}

int Client::Usage(const char* message)
{
    err_ << "drovemark: " << message << "\nTry 'drovemark --help'.\n";
    return kExitUsage;
}

int Client::Fail(const std::string& message)
{
    EndProgress();
    err_ << "drovemark: " << message << "\n";
    return kExitFailed;
}

std::optional<std::string> Client::AmigaText(const std::string& text)
{
    std::string refused;
    std::optional<std::string> converted = ToAmigaText(text, TextSide::Arguments, refused);
    if (!converted)
        Fail("\"" + text + "\" cannot be sent: Amiga names and comments are ISO-8859-1, which has no " +
             refused);
    return converted;
}

std::optional<LocatedItem> Client::Locate(const std::string& userPath, bool folder)
{
    const std::optional<std::string> path = AmigaText(userPath);
    if (!path)
        return std::nullopt;
    std::string error;
    std::optional<LocatedItem> located = tree_.Locate(*path, error);
    if (!located) {
        NotFound(error);
        return std::nullopt;
    }
    if (folder && located->known && !IsContainerKind(located->Item().kind)) {
        Fail("not a volume or drawer: " + userPath);
        return std::nullopt;
    }
    if (folder && !located->known)
        located->listed.item.kind = ItemKind::Drawer;  // the Amiga says otherwise if it is not
    return located;
}

std::optional<ListedItem> Client::Find(const std::string& userPath)
{
    const std::optional<std::string> path = AmigaText(userPath);
    if (!path)
        return std::nullopt;
    std::string error;
    std::optional<ListedItem> found = tree_.Find(*path, error);
    if (!found)
        NotFound(error);
    return found;
}

void Client::NotFound(const std::string& error)
{
    // A failed listing has the better message behind it: a lost line, a refused handshake.
    bool shown = false;
    if (channel_.GetLink().PendingErrorId() != 0 || error.empty())
        Report(E_FAIL, &shown);
    if (!shown)
        Fail(error.empty() ? "cannot list the Amiga's volumes" : FromAmigaText(error, TextSide::Output));
}

bool Client::ForgetServerError()
{
    if (channel_.GetLink().PendingErrorId() != 0) {
        Report(E_FAIL);
        return false;
    }
    uint32_t code = 0;
    std::string text;
    return SUCCEEDED(channel_.GetLastError(code, text));
}

void Client::Progress(const std::string& what, uint64_t done, uint64_t total)
{
    if (!showProgress_)
        return;
    const int percent = total ? int(done * 100 / total) : 100;
    err_ << "\r" << what << "  " << std::setw(3) << percent << "%  " << done << " of " << total
         << " bytes" << std::flush;
    progressShown_ = true;
}

void Client::EndProgress()
{
    if (progressShown_)
        err_ << "\n";
    progressShown_ = false;
}

int Client::List()
{
    if (options_.arguments.size() > 1)
        return Usage("ls takes at most one path");
    std::vector<ListedItem> items;
    if (options_.arguments.empty()) {
        if (!Report(tree_.List("", items)))
            return kExitFailed;
    } else {
        const std::optional<LocatedItem> located = Locate(options_.arguments[0]);
        if (!located)
            return kExitFailed;
        const RemoteItem& item = located->Item();
        if (located->known && !IsContainerKind(item.kind)) {
            items.push_back(located->listed);
        } else if (located->known) {
            if (!Report(tree_.List(FolderPath(item.parentPath, item.name), items)))
                return kExitFailed;
        } else if (SUCCEEDED(tree_.List(FolderPath(item.parentPath, item.name), items))) {
            // A drawer: one listing was all it took.
            if (!Report(S_OK))
                return kExitFailed;
        } else {
            // A file, or nothing: its parent's listing tells.
            if (!ForgetServerError())
                return kExitFailed;
            const std::optional<ListedItem> found = Find(options_.arguments[0]);
            if (!found)
                return kExitFailed;
            if (!Report(S_OK))
                return kExitFailed;
            items.assign(1, *found);
        }
    }

    struct Row {
        std::string cells[6];
    };
    std::vector<Row> rows;
    rows.push_back({{"Name", "Size", "Type", "Modified", "Attributes", "Comment"}});
    std::vector<size_t> nameWidths = {4};  // characters on the screen, not bytes
    for (const ListedItem& listed : items) {
        const RemoteItem& item = listed.item;
        Row row;
        const std::string_view name = DisplayName(item.name, item.kind);
        row.cells[0] = FromAmigaText(name, TextSide::Output);
        row.cells[1] = IsFileKind(item.kind) ? SizeText(item.size, false, 1024) : "";
        row.cells[2] = TypeText(item.kind);
        row.cells[3] = DateText(listed);
        row.cells[4] = AttributeText(listed.protection);
        row.cells[5] =
            item.kind == ItemKind::HdfFile ? "" : FromAmigaText(listed.comment, TextSide::Output);
        rows.push_back(row);
        nameWidths.push_back(name.size());
    }
    size_t widths[6] = {};
    for (size_t r = 0; r < rows.size(); ++r)
        for (int i = 0; i < 6; ++i)
            widths[i] = std::max(widths[i], i == 0 ? nameWidths[r] : rows[r].cells[i].size());
    for (size_t r = 0; r < rows.size(); ++r) {
        std::string line;
        for (int i = 0; i < 6; ++i) {
            std::string cell = rows[r].cells[i];
            const size_t shown = i == 0 ? nameWidths[r] : cell.size();
            if (i == 1)  // sizes line up on the right
                cell.insert(0, widths[i] - shown, ' ');
            else if (i < 5)
                cell.append(widths[i] - shown, ' ');
            line += cell;
            if (i < 5)
                line += "  ";
        }
        while (!line.empty() && line.back() == ' ')
            line.pop_back();
        out_ << line << "\n";
    }
    return kExitOk;
}

int Client::Remove()
{
    if (options_.arguments.size() != 1)
        return Usage("rm takes one PATH");
    const std::optional<LocatedItem> found = Locate(options_.arguments[0]);
    if (!found)
        return kExitFailed;
    RemoteItem item = found->Item();
    // The server deletes a drawer with everything in it; from the command line only on request,
    // so without -r the item's own record says what it is.
    if (!options_.recursive && !found->known) {
        const std::optional<ListedItem> listed = Find(options_.arguments[0]);
        if (!listed)
            return kExitFailed;
        item = listed->item;
    }
    if (IsContainerKind(item.kind) && !options_.recursive) {
        bool empty = true;
        const HRESULT listed =
            channel_.ListDirectory(RemotePath(item), [&empty](const DirectoryEntry&) {
                empty = false;
                return true;
            });
        if (!Report(listed))
            return kExitFailed;
        if (!empty)
            return Fail("the drawer is not empty; rm -r removes it with everything in it");
    }
    return Report(channel_.Delete(item)) ? kExitOk : kExitFailed;
}

int Client::MoveOrCopy(bool copy)
{
    if (options_.arguments.size() != 2)
        return Usage(copy ? "cp takes PATH DESTFOLDER" : "mv takes PATH DESTFOLDER");
    const std::optional<LocatedItem> source = Locate(options_.arguments[0]);
    if (!source)
        return kExitFailed;
    const std::optional<LocatedItem> destination = Locate(options_.arguments[1], true);
    if (!destination)
        return kExitFailed;
    HRESULT hr;
    if (copy) {
        OverwriteAnswer answer = OverwriteAnswer::Yes;
        hr = channel_.Copy(source->Item(), destination->Item(), answer, 1, questions_, nullptr);
    } else {
        hr = channel_.Move(source->Item(), destination->Item());
    }
    return Report(hr) ? kExitOk : kExitFailed;
}

int Client::MakeDrawer()
{
    if (options_.arguments.size() != 1)
        return Usage("mkdir takes one PATH");
    const std::string& path = options_.arguments[0];
    const size_t colon = path.find(':');
    const size_t slash = path.rfind('/');
    if (colon == std::string::npos)
        return Usage("mkdir needs a path with a volume, such as Work:NewDrawer");
    const size_t split = slash != std::string::npos && slash > colon ? slash : colon;
    const std::string parent = path.substr(0, split + (split == colon ? 1 : 0));
    const std::string name = path.substr(split + 1);
    if (name.empty())
        return Usage("mkdir needs the new drawer's name");
    const std::optional<LocatedItem> folder = Locate(parent, true);
    if (!folder)
        return kExitFailed;
    const std::optional<std::string> amigaName = AmigaText(name);
    if (!amigaName)
        return kExitFailed;

    PcFileDescriptor drawer;
    drawer.name = *amigaName;
    drawer.attributes = FILE_ATTRIBUTE_DIRECTORY;
#ifdef _WIN32
    GetSystemTimeAsFileTime(&drawer.lastWriteTime);
#else
    drawer.lastWriteTime = MakeFileTime(116444736000000000ull + uint64_t(time(nullptr)) * 10000000);
#endif
    DirectoryEntry record;
    if (FAILED(MakeCreateRecord(drawer, nullptr, folder->Item().Location(), record)))
        return Fail("the name is too long: " + path);
    OverwriteAnswer answer = OverwriteAnswer::Yes;
    return Report(channel_.CreateObject(record, folder->Item(), answer, 1, questions_, nullptr))
               ? kExitOk
               : kExitFailed;
}

int Client::RenameItem()
{
    if (options_.arguments.size() != 2)
        return Usage("rename takes PATH NEWNAME");
    const std::optional<LocatedItem> found = Locate(options_.arguments[0]);
    if (!found)
        return kExitFailed;
    const std::optional<std::string> newName = AmigaText(options_.arguments[1]);
    if (!newName)
        return kExitFailed;
    return Report(channel_.Rename(found->Item(), *newName)) ? kExitOk : kExitFailed;
}

int Client::Protect()
{
    if (options_.arguments.size() != 2)
        return Usage("protect takes PATH BITS");
    const std::string& letters = options_.arguments[1];
    if (!ApplyProtection(0, letters))
        return Usage("protection bits are letters of hsparwed, optionally after + or -");
    // Changing some bits needs the others as they are; setting all of them does not.
    const bool relative = !letters.empty() && (letters[0] == '+' || letters[0] == '-');
    std::optional<ListedItem> found;
    if (relative) {
        found = Find(options_.arguments[0]);
    } else if (const auto located = Locate(options_.arguments[0])) {
        found = located->listed;
    }
    if (!found)
        return kExitFailed;
    const uint32_t bits = *ApplyProtection(found->protection, letters);
    return Report(channel_.SetAttributes(found->item, bits | kKeepComment, "")) ? kExitOk
                                                                                : kExitFailed;
}

int Client::Comment()
{
    if (options_.arguments.size() != 2)
        return Usage("comment takes PATH TEXT");
    const std::optional<std::string> comment = AmigaText(options_.arguments[1]);
    if (!comment)
        return kExitFailed;
    const std::optional<ListedItem> found = Find(options_.arguments[0]);
    if (!found)
        return kExitFailed;
    return Report(channel_.SetAttributes(found->item, found->protection & 0xFF, *comment))
               ? kExitOk
               : kExitFailed;
}

int Client::Count()
{
    if (options_.arguments.size() != 1)
        return Usage("count takes one PATH");
    const std::optional<LocatedItem> found = Locate(options_.arguments[0], true);
    if (!found)
        return kExitFailed;
    HRESULT hr = channel_.CountContents(found->Item());
    uint64_t bytes = 0, drawers = 0, files = 0;
    bool finished = false;
    while (SUCCEEDED(hr) && !finished) {
        uint32_t b = 0, d = 0, f = 0;
        hr = channel_.ReadProgress(b, d, f, finished, stopRequested.load());
        if (SUCCEEDED(hr) && !finished) {
            bytes += b;
            drawers += d;
            files += f;
            if (showProgress_) {
                err_ << "\r" << drawers << " drawers, " << files << " files, " << bytes << " bytes"
                     << std::flush;
                progressShown_ = true;
            }
        }
    }
    if (!Report(hr))
        return kExitFailed;
    out_ << drawers << " drawers, " << files << " files, " << bytes << " bytes\n";
    return kExitOk;
}

int Client::FormatDisk()
{
    if (options_.arguments.size() != 2)
        return Usage("format takes DEVICE NAME");
    const std::optional<LocatedItem> located = Locate(options_.arguments[0], true);
    if (!located)
        return kExitFailed;
    const ListedItem* device = &located->listed;
    if (!located->known ||
        (device->item.kind != ItemKind::Volume && device->item.kind != ItemKind::Floppy))
        return Fail(options_.arguments[0] + " is not a disk");
    const uint32_t dosType = 0x444F5300u | (options_.fastFileSystem ? 1u : 0u);
    uint32_t steps = 0;
    const std::optional<std::string> volumeName = AmigaText(options_.arguments[1]);
    if (!volumeName)
        return kExitFailed;
    HRESULT hr = channel_.Format(device->item, *volumeName, dosType, options_.quick,
                                 options_.bootable, steps, questions_);
    for (uint32_t step = 0; SUCCEEDED(hr) && hr != kCancelled && step < steps; ++step) {
        hr = channel_.FormatStep(stopRequested.load());
        if (hr == S_OK)
            Progress("Formatting " + options_.arguments[0], step + 1, steps);
    }
    if (hr == kCancelled) {
        Report(hr);
        err_ << "drovemark: format stopped\n";
        return kExitFailed;
    }
    return Report(hr) ? kExitOk : kExitFailed;
}

}  // namespace dm::cli
