#include "cli/client.h"

#include "cli/protection_letters.h"

#include "core/amiga_dates.h"
#include "core/amiga_paths.h"
#include "core/messages.h"
#include "core/module.h"
#include "core/size_text.h"
#include "protocol/remote_errors.h"
#include "resources/string_ids.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>

namespace dm::cli {

std::atomic<bool> Client::stopRequested {false};

namespace {

constexpr uint32_t kPiece = 1024;  // file data moves in pieces of at most this much
constexpr uint32_t kKeepComment = 1u << 30;

std::string WithoutCarriageReturns(std::string text)
{
    for (size_t at; (at = text.find('\r')) != std::string::npos;)
        text.erase(at, 1);
    return text;
}

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

bool Client::Report(HRESULT result)
{
    RemoteErrorMessage message;
    const HRESULT exchange = ReportRemoteError(channel_, nullptr, result, &message, false);
    EndProgress();
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

std::optional<ListedItem> Client::Find(const std::string& path, bool folder)
{
    std::string error;
    std::optional<ListedItem> found =
        folder ? tree_.FindFolder(path, error) : tree_.Find(path, error);
    if (!found) {
        // A failed listing may have left a transport error behind: that is the better message.
        if (channel_.GetLink().PendingErrorId() != 0)
            Report(E_FAIL);
        else
            Fail(error);
    }
    return found;
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
        const HRESULT hr = tree_.List("", items);
        if (!Report(hr))
            return kExitFailed;
    } else {
        std::optional<ListedItem> found = Find(options_.arguments[0], false);
        if (!found)
            return kExitFailed;
        if (IsContainerKind(found->item.kind)) {
            const HRESULT hr =
                tree_.List(FolderPath(found->item.parentPath, found->item.name), items);
            if (!Report(hr))
                return kExitFailed;
        } else {
            items.push_back(*found);
        }
    }

    struct Row {
        std::string cells[6];
    };
    std::vector<Row> rows;
    rows.push_back({{"Name", "Size", "Type", "Modified", "Attributes", "Comment"}});
    for (const ListedItem& listed : items) {
        const RemoteItem& item = listed.item;
        Row row;
        row.cells[0] = std::string(DisplayName(item.name, item.kind));
        row.cells[1] = IsFileKind(item.kind) ? SizeText(item.size, false, 1024) : "";
        row.cells[2] = TypeText(item.kind);
        row.cells[3] = DateText(listed);
        row.cells[4] = AttributeText(listed.protection);
        row.cells[5] = item.kind == ItemKind::HdfFile ? "" : listed.comment;
        rows.push_back(row);
    }
    size_t widths[6] = {};
    for (const Row& row : rows)
        for (int i = 0; i < 6; ++i)
            widths[i] = std::max(widths[i], row.cells[i].size());
    for (const Row& row : rows) {
        std::string line;
        for (int i = 0; i < 6; ++i) {
            std::string cell = row.cells[i];
            if (i == 1)  // sizes line up on the right
                cell.insert(0, widths[i] - cell.size(), ' ');
            else if (i < 5)
                cell.resize(widths[i], ' ');
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

int Client::Get()
{
    if (options_.arguments.empty() || options_.arguments.size() > 2)
        return Usage("get takes REMOTE [LOCAL]");
    std::optional<ListedItem> found = Find(options_.arguments[0], false);
    if (!found)
        return kExitFailed;
    const RemoteItem& item = found->item;
    if (IsContainerKind(item.kind))
        return Fail(options_.arguments[0] + " is a drawer; only files can be fetched");

    std::string name(DisplayName(item.name, item.kind));
    std::string local = options_.arguments.size() > 1 ? options_.arguments[1] : name;
    if (const auto info = StatLocal(local); info && info->directory)
        local = JoinLocal(local, name);
    // Written under a temporary name and renamed only once complete.
    const std::string partial = local + ".part";
    std::ofstream file(partial, std::ios::binary | std::ios::trunc);
    if (!file)
        return Fail("cannot write " + partial);

    uint32_t size = 0;
    HRESULT hr = channel_.OpenFile(item, &size);
    uint64_t done = 0;
    std::vector<char> buffer(kPiece);
    while (SUCCEEDED(hr) && done < size) {
        uint32_t got = 0;
        hr = channel_.ReadFileData(buffer.data(), kPiece, &got);
        if (SUCCEEDED(hr) && got == 0)
            hr = E_FAIL;
        if (SUCCEEDED(hr)) {
            file.write(buffer.data(), got);
            done += got;
            Progress(name, done, size);
            if (!file)
                hr = E_FAIL;
        }
    }
    const HRESULT ended = channel_.EndFileRead();
    if (SUCCEEDED(hr))
        hr = ended;
    file.close();
    if (SUCCEEDED(hr) && !file)
        hr = E_FAIL;
    const bool ok = Report(hr);
    std::error_code ignored;
    if (!ok) {
        std::filesystem::remove(partial, ignored);
        return kExitFailed;
    }
    std::filesystem::rename(partial, local, ignored);
    if (ignored) {
        std::filesystem::remove(partial, ignored);
        return Fail("cannot write " + local);
    }
    SetLocalWriteTime(local, DateStampToFileTime(found->date));
    return kExitOk;
}

HRESULT Client::PutOne(const std::string& localPath, const LocalFileInfo& info,
                       const PcFileDescriptor& descriptor, const PcFileDescriptor& first,
                       const ListedItem& destination, OverwriteAnswer& answer, uint32_t total,
                       bool& refused)
{
    DirectoryEntry record;
    HRESULT hr = MakeCreateRecord(descriptor, &first, destination.item.Location(), record);
    refused = FAILED(hr);
    if (refused) {
        Fail(WithoutCarriageReturns(LoadStringById(IDS_ERR_FILE_INFO, ThisModule())
                                        .value_or("cannot send " + localPath)) +
             " (" + localPath + ")");
        return hr;
    }
    bool declined = false;
    hr = channel_.CreateObject(record, destination.item, answer, total, questions_, &declined);
    if (SUCCEEDED(hr) && !declined && !info.directory) {
        std::ifstream file(localPath, std::ios::binary);
        std::vector<char> buffer(kPiece);
        uint64_t done = 0;
        const std::string name = LocalBaseName(localPath);
        while (SUCCEEDED(hr) && done < info.size) {
            const uint32_t want = uint32_t(std::min<uint64_t>(kPiece, info.size - done));
            file.read(buffer.data(), want);
            if (file.gcount() != std::streamsize(want))
                break;  // the file shrank: the stream ends short and the Amiga drops it
            hr = channel_.WriteFileData(buffer.data(), want, nullptr);
            done += want;
            Progress(name, done, info.size);
        }
        const HRESULT ended = channel_.EndFileWrite();
        if (SUCCEEDED(hr))
            hr = ended;
    }
    return hr;
}

int Client::Put()
{
    if (options_.arguments.size() < 2)
        return Usage("put takes LOCAL... DESTFOLDER");
    std::optional<ListedItem> destination = Find(options_.arguments.back(), true);
    if (!destination)
        return kExitFailed;

    // Everything to send, folders before their contents, named relative to each top item.
    struct Entry {
        std::string path;
        LocalFileInfo info;
        PcFileDescriptor descriptor;
        size_t top;
    };
    std::vector<Entry> entries;
    std::vector<PcFileDescriptor> tops;
    for (size_t i = 0; i + 1 < options_.arguments.size(); ++i) {
        const std::string& path = options_.arguments[i];
        const std::optional<LocalFileInfo> info = StatLocal(path);
        if (!info)
            return Fail("cannot read " + path);
        if (info->directory && !options_.recursive)
            return Fail(path + " is a folder (use -r)");
        auto describe = [](const std::string& name, const LocalFileInfo& info) {
            PcFileDescriptor d;
            d.name = name;
            d.attributes = (info.directory ? FILE_ATTRIBUTE_DIRECTORY : 0) |
                           (info.readOnly ? FILE_ATTRIBUTE_READONLY : 0);
            d.lastWriteTime = info.lastWrite;
            d.sizeHigh = DWORD(info.size >> 32);
            d.sizeLow = DWORD(info.size & 0xFFFFFFFFu);
            return d;
        };
        tops.push_back(describe(LocalBaseName(path), *info));
        std::vector<std::pair<std::string, std::string>> pending = {{path, LocalBaseName(path)}};
        while (!pending.empty()) {
            auto [local, relative] = pending.front();
            pending.erase(pending.begin());
            const std::optional<LocalFileInfo> entryInfo = StatLocal(local);
            if (!entryInfo)
                return Fail("cannot read " + local);
            entries.push_back({local, *entryInfo, describe(relative, *entryInfo), tops.size() - 1});
            if (entryInfo->directory) {
                size_t at = 0;
                for (const std::string& child : ListLocalFolder(local))
                    pending.insert(pending.begin() + long(at++),
                                   {JoinLocal(local, child), relative + "\\" + child});
            }
        }
    }

    OverwriteAnswer answer = OverwriteAnswer::Yes;
    int failures = 0;
    for (const Entry& entry : entries) {
        bool refused = false;
        const HRESULT hr = PutOne(entry.path, entry.info, entry.descriptor, tops[entry.top],
                                  *destination, answer, uint32_t(entries.size()), refused);
        if (refused || !Report(hr))
            ++failures;
        if (answer == OverwriteAnswer::Cancel)
            break;
    }
    return failures ? kExitFailed : kExitOk;
}

int Client::Remove()
{
    if (options_.arguments.size() != 1)
        return Usage("rm takes one PATH");
    std::optional<ListedItem> found = Find(options_.arguments[0], false);
    if (!found)
        return kExitFailed;
    // The server deletes a drawer with everything in it; from the command line only on request.
    if (IsContainerKind(found->item.kind) && !options_.recursive) {
        bool empty = true;
        const HRESULT listed =
            channel_.ListDirectory(RemotePath(found->item), [&empty](const DirectoryEntry&) {
                empty = false;
                return true;
            });
        if (!Report(listed))
            return kExitFailed;
        if (!empty)
            return Fail("the drawer is not empty; rm -r removes it with everything in it");
    }
    return Report(channel_.Delete(found->item)) ? kExitOk : kExitFailed;
}

int Client::MoveOrCopy(bool copy)
{
    if (options_.arguments.size() != 2)
        return Usage(copy ? "cp takes PATH DESTFOLDER" : "mv takes PATH DESTFOLDER");
    std::optional<ListedItem> source = Find(options_.arguments[0], false);
    if (!source)
        return kExitFailed;
    std::optional<ListedItem> destination = Find(options_.arguments[1], true);
    if (!destination)
        return kExitFailed;
    HRESULT hr;
    if (copy) {
        OverwriteAnswer answer = OverwriteAnswer::Yes;
        hr = channel_.Copy(source->item, destination->item, answer, 1, questions_, nullptr);
    } else {
        hr = channel_.Move(source->item, destination->item);
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
    std::optional<ListedItem> folder = Find(parent, true);
    if (!folder)
        return kExitFailed;

    PcFileDescriptor drawer;
    drawer.name = name;
    drawer.attributes = FILE_ATTRIBUTE_DIRECTORY;
#ifdef _WIN32
    GetSystemTimeAsFileTime(&drawer.lastWriteTime);
#else
    drawer.lastWriteTime = MakeFileTime(116444736000000000ull + uint64_t(time(nullptr)) * 10000000);
#endif
    DirectoryEntry record;
    if (FAILED(MakeCreateRecord(drawer, nullptr, folder->item.Location(), record)))
        return Fail("the name is too long: " + path);
    OverwriteAnswer answer = OverwriteAnswer::Yes;
    return Report(channel_.CreateObject(record, folder->item, answer, 1, questions_, nullptr))
               ? kExitOk
               : kExitFailed;
}

int Client::RenameItem()
{
    if (options_.arguments.size() != 2)
        return Usage("rename takes PATH NEWNAME");
    std::optional<ListedItem> found = Find(options_.arguments[0], false);
    if (!found)
        return kExitFailed;
    return Report(channel_.Rename(found->item, options_.arguments[1])) ? kExitOk : kExitFailed;
}

int Client::Protect()
{
    if (options_.arguments.size() != 2)
        return Usage("protect takes PATH BITS");
    std::optional<ListedItem> found = Find(options_.arguments[0], false);
    if (!found)
        return kExitFailed;
    const std::optional<uint32_t> bits = ApplyProtection(found->protection, options_.arguments[1]);
    if (!bits)
        return Usage("protection bits are letters of hsparwed, optionally after + or -");
    return Report(channel_.SetAttributes(found->item, *bits | kKeepComment, "")) ? kExitOk
                                                                                 : kExitFailed;
}

int Client::Comment()
{
    if (options_.arguments.size() != 2)
        return Usage("comment takes PATH TEXT");
    std::optional<ListedItem> found = Find(options_.arguments[0], false);
    if (!found)
        return kExitFailed;
    return Report(
               channel_.SetAttributes(found->item, found->protection & 0xFF, options_.arguments[1]))
               ? kExitOk
               : kExitFailed;
}

int Client::Count()
{
    if (options_.arguments.size() != 1)
        return Usage("count takes one PATH");
    std::optional<ListedItem> found = Find(options_.arguments[0], true);
    if (!found)
        return kExitFailed;
    HRESULT hr = channel_.CountContents(found->item);
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
    std::optional<ListedItem> device = Find(options_.arguments[0], true);
    if (!device)
        return kExitFailed;
    if (device->item.kind != ItemKind::Volume && device->item.kind != ItemKind::Floppy)
        return Fail(options_.arguments[0] + " is not a disk");
    const uint32_t dosType = 0x444F5300u | (options_.fastFileSystem ? 1u : 0u);
    uint32_t steps = 0;
    HRESULT hr = channel_.Format(device->item, options_.arguments[1], dosType, options_.quick,
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
