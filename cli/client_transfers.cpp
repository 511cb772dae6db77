// The client's transfers: get and put, of single files and of whole drawers and folders, drawer
// by drawer, with the questions before a file is replaced.
#include "cli/client.h"

#include "cli/local_writer.h"
#include "cli/message_lines.h"
#include "cli/text_encoding.h"

#include "core/amiga_dates.h"
#include "core/amiga_paths.h"
#include "core/messages.h"
#include "core/module.h"
#include "resources/string_ids.h"

#include <fstream>

namespace dm::cli {

namespace {

constexpr uint32_t kPiece = 1024;  // file data moves in pieces of at most this much
constexpr uint32_t kWholeFile = 1u << 20;  // larger files are written as they come
constexpr uint32_t kWriteForbidden = 1u << 2;

}  // namespace

void Client::Fetch(const RemoteItem& item, const ListedItem* record, const std::string& local,
                   bool singleItem, Tally& tally)
{
    // Two Amiga names may come to one name here: the first must be on the disk to be asked about.
    if (writer_.Holds(local))
        CountWritten(true, tally);
    if (const auto existing = StatLocal(local)) {
        OverwriteAnswer answer = OverwriteAnswer::No;
        if (!existing->directory) {
            answer = tally.answer == OverwriteAnswer::YesToAll
                         ? OverwriteAnswer::YesToAll
                         : questions_.AskReplaceLocal(local, singleItem);
            if (answer == OverwriteAnswer::YesToAll || answer == OverwriteAnswer::Cancel)
                tally.answer = answer;
        }
        if (answer != OverwriteAnswer::Yes && answer != OverwriteAnswer::YesToAll) {
            if (existing->directory)
                err_ << "drovemark: " << local << " is a folder; not replaced\n";
            else if (questions_.Interactive())
                err_ << "drovemark: " << local << " skipped\n";
            ++tally.skipped;
            return;
        }
    }
    CountWritten(false, tally);
    const std::string shown = LocalBaseName(local);
    // A file that fits in memory goes whole to the writer thread, so that the line fetches the
    // next one while the disk makes this one. A larger one is written as it comes, under a
    // temporary name, and renamed only once complete.
    const std::string partial = local + ".part";
    std::ofstream file;
    if (item.size > kWholeFile) {
        file.open(partial, std::ios::binary | std::ios::trunc);
        if (!file) {
            Fail("cannot write " + partial);
            ++tally.failed;
            return;
        }
    }
    uint32_t size = 0;
    HRESULT hr = channel_.OpenFile(item, &size);
    bool cannotWrite = false;
    if (SUCCEEDED(hr) && size > kWholeFile && !file.is_open()) {
        // The file has grown since it was listed.
        file.open(partial, std::ios::binary | std::ios::trunc);
        cannotWrite = !file;
        if (cannotWrite)
            hr = E_FAIL;
    }
    const bool streamed = file.is_open();
    std::vector<char> whole;
    if (SUCCEEDED(hr) && !streamed)
        whole.reserve(size);
    uint64_t done = 0;
    std::vector<char> buffer(kPiece);
    while (SUCCEEDED(hr) && hr != kCancelled && done < size) {
        uint32_t got = 0;
        hr = channel_.ReadFileData(buffer.data(), kPiece, &got);
        if (SUCCEEDED(hr) && (got == 0 || got > kPiece))
            hr = E_FAIL;
        if (SUCCEEDED(hr)) {
            if (streamed)
                file.write(buffer.data(), got);
            else
                whole.insert(whole.end(), buffer.data(), buffer.data() + got);
            done += got;
            Progress(shown, done, size);
            if (streamed && !file)
                hr = E_FAIL;
        }
    }
    const HRESULT ended = channel_.EndFileRead();
    if (SUCCEEDED(hr))
        hr = ended;
    if (streamed) {
        file.close();
        if (SUCCEEDED(hr) && !file)
            hr = E_FAIL;
    }
    if (cannotWrite) {
        Fail("cannot write " + partial);
        ++tally.failed;
        return;
    }
    if (!Report(hr)) {
        if (streamed)
            RemoveLocal(partial);
        ++tally.failed;
        return;
    }
    ArrivedFile arrived;
    arrived.local = local;
    if (record) {
        arrived.lastWrite = DateStampToFileTime(record->date);
        arrived.readOnly = (record->protection & kWriteForbidden) != 0;
    }
    if (!streamed) {
        arrived.bytes = std::move(whole);
        writer_.Add(std::move(arrived));
        return;
    }
    Count(PlaceWrittenFile(partial, arrived), tally);
}

void Client::Count(const WrittenFile& outcome, Tally& tally)
{
    if (outcome.written) {
        ++tally.fetched;
    } else {
        Fail(outcome.failure);
        ++tally.failed;
    }
}

void Client::CountWritten(bool wait, Tally& tally)
{
    for (const WrittenFile& outcome : writer_.Outcomes(wait))
        Count(outcome, tally);
}

int Client::Get()
{
    if (options_.arguments.empty() || options_.arguments.size() > 2)
        return Usage("get takes REMOTE [LOCAL]");
    const std::optional<LocatedItem> located = Locate(options_.arguments[0]);
    if (!located)
        return kExitFailed;
    RemoteItem item = located->Item();
    const ListedItem* record = located->known ? &located->listed : nullptr;

    // A drawer with -r: its listing is the first thing needed anyway.
    bool drawer = located->known && IsContainerKind(item.kind);
    std::vector<ListedItem> contents;
    bool listed = false;
    if (options_.recursive && !located->known) {
        listed = SUCCEEDED(tree_.List(FolderPath(item.parentPath, item.name), contents));
        if (!ForgetServerError())
            return kExitFailed;
        drawer = listed;
    }
    if (drawer && !options_.recursive)
        return Fail(options_.arguments[0] + " is a drawer (use -r)");

    const std::string name = PcNameOf(DisplayName(item.name, item.kind));
    const std::string localName = FromAmigaText(name, TextSide::FileNames);
    std::string local = options_.arguments.size() > 1 ? options_.arguments[1] : localName;
    if (const auto info = StatLocal(local); info && info->directory &&
                                            (options_.arguments.size() > 1 || !drawer))
        local = JoinLocal(local, localName);

    Tally tally;
    if (!drawer) {
        Fetch(item, record, local, true, tally);
        CountWritten(true, tally);
    } else {
        item.kind = located->known ? item.kind : ItemKind::Drawer;
        if (const auto info = StatLocal(local); info && !info->directory) {
            err_ << "drovemark: " << local << " is a file; not replaced by a folder\n";
            ++tally.skipped;
        } else {
            if (!MakeLocalFolder(local))
                return Fail("cannot make the folder " + local);
            GetTree(item, local, listed ? &contents : nullptr, tally);
            if (record)
                SetLocalWriteTime(local, DateStampToFileTime(record->date));
        }
    }
    // One file has said what became of it; a drawer's worth gets a summary.
    const unsigned total = tally.fetched + tally.skipped + tally.failed;
    if (tally.skipped && (drawer || total > 1))
        err_ << "drovemark: " << tally.skipped << (tally.skipped == 1 ? " file" : " files")
             << " not fetched: already on this computer (use --yes to replace)\n";
    if (tally.failed && total > 1)
        err_ << "drovemark: " << tally.failed << " of " << total << " failed\n";
    return tally.skipped || tally.failed ? kExitFailed : kExitOk;
}

void Client::GetTree(const RemoteItem& top, const std::string& topLocal,
                     const std::vector<ListedItem>* topItems, Tally& tally)
{
    // Drawers before their contents, each listed once; dates of drawers set once every file is
    // written, since a file made in a folder changes its date again.
    struct Pending {
        RemoteItem drawer;
        std::string local;
        std::optional<DateStamp> date;
        bool done;
    };
    std::vector<Pending> stack = {{top, topLocal, std::nullopt, false}};
    std::vector<std::pair<std::string, DateStamp>> dates;
    while (!stack.empty() && tally.answer != OverwriteAnswer::Cancel && !stopRequested) {
        Pending& next = stack.back();
        if (next.done) {
            if (next.date)
                dates.emplace_back(next.local, *next.date);
            stack.pop_back();
            continue;
        }
        next.done = true;
        const RemoteItem drawer = next.drawer;
        const std::string local = next.local;
        std::vector<ListedItem> items;
        if (topItems) {
            items = *topItems;
            topItems = nullptr;
        } else if (!Report(tree_.List(FolderPath(drawer.parentPath, drawer.name), items))) {
            ++tally.failed;
            continue;
        }
        for (auto it = items.rbegin(); it != items.rend(); ++it) {
            const ListedItem& listed = *it;
            const std::string name = PcNameOf(listed.item.name);
            const std::string path = JoinLocal(local, FromAmigaText(name, TextSide::FileNames));
            if (IsContainerKind(listed.item.kind)) {
                if (const auto info = StatLocal(path); info && !info->directory) {
                    err_ << "drovemark: " << path << " is a file; not replaced by a folder\n";
                    ++tally.skipped;
                    continue;
                }
                if (!MakeLocalFolder(path)) {
                    Fail("cannot make the folder " + path);
                    ++tally.failed;
                    continue;
                }
                stack.push_back({listed.item, path, listed.date, false});
            }
        }
        // Files of this drawer now, in listing order; its drawers follow from the stack.
        for (const ListedItem& listed : items) {
            if (IsContainerKind(listed.item.kind) || tally.answer == OverwriteAnswer::Cancel)
                continue;
            const std::string name = PcNameOf(listed.item.name);
            Fetch(listed.item, &listed, JoinLocal(local, FromAmigaText(name, TextSide::FileNames)),
                  false, tally);
        }
    }
    CountWritten(true, tally);
    for (const auto& [local, date] : dates)
        SetLocalWriteTime(local, DateStampToFileTime(date));
}

HRESULT Client::PutOne(const std::string& localPath, const LocalFileInfo& info,
                       const PcFileDescriptor& descriptor, const PcFileDescriptor& first,
                       const RemoteItem& destination, OverwriteAnswer& answer, uint32_t total,
                       bool& refused, bool& declined)
{
    DirectoryEntry record;
    HRESULT hr = MakeCreateRecord(descriptor, &first, destination.Location(), record);
    refused = FAILED(hr);
    if (refused) {
        Fail(WithoutCarriageReturns(LoadStringById(IDS_ERR_FILE_INFO, ThisModule())
                                        .value_or("cannot send " + localPath)) +
             " (" + localPath + ")");
        return hr;
    }
    // An image item takes the file's bytes as the whole disk or partition.
    if (destination.kind == ItemKind::AdfFile || destination.kind == ItemKind::HdfFile)
        record.name = RemotePath(destination);
    declined = false;
    hr = channel_.CreateObject(record, destination, answer, total, questions_, &declined);
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
    std::optional<LocatedItem> destination = Locate(options_.arguments.back(), false);
    if (!destination)
        return kExitFailed;
    const ItemKind kind = destination->Item().kind;
    const bool image =
        destination->known && (kind == ItemKind::AdfFile || kind == ItemKind::HdfFile);
    if (image) {
        const std::optional<LocalFileInfo> info = StatLocal(options_.arguments[0]);
        if (options_.arguments.size() != 2 || !info || info->directory)
            return Fail("an image item takes one file, the whole disk");
    } else if (destination->known && !IsContainerKind(kind)) {
        return Fail("not a volume or drawer: " + options_.arguments.back());
    } else if (!destination->known) {
        destination->listed.item.kind = ItemKind::Drawer;  // the Amiga says otherwise if it is not
    }

    // Everything to send, folders before their contents, named relative to each top item.
    struct Entry {
        std::string path;
        LocalFileInfo info;
        PcFileDescriptor descriptor;
        size_t top;
    };
    std::vector<Entry> entries;
    std::vector<PcFileDescriptor> tops;
    unsigned unsendable = 0;
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
        // Names go to the Amiga as ISO-8859-1; what has none is left here, and said so.
        auto amigaName = [&](const std::string& local, const std::string& name) {
            std::string refused;
            std::optional<std::string> converted = ToAmigaText(name, TextSide::FileNames, refused);
            if (!converted) {
                Fail(local + " not sent: Amiga names are ISO-8859-1, which has no " + refused);
                ++unsendable;
            }
            return converted;
        };
        const std::optional<std::string> topName = amigaName(path, LocalBaseName(path));
        if (!topName)
            continue;
        tops.push_back(describe(*topName, *info));
        std::vector<std::pair<std::string, std::string>> pending = {{path, *topName}};
        while (!pending.empty()) {
            auto [local, relative] = pending.front();
            pending.erase(pending.begin());
            const std::optional<LocalFileInfo> entryInfo = StatLocal(local);
            if (!entryInfo)
                return Fail("cannot read " + local);
            entries.push_back({local, *entryInfo, describe(relative, *entryInfo), tops.size() - 1});
            if (entryInfo->directory) {
                size_t at = 0;
                for (const std::string& child : ListLocalFolder(local)) {
                    const std::string childPath = JoinLocal(local, child);
                    if (const auto name = amigaName(childPath, child))
                        pending.insert(pending.begin() + long(at++),
                                       {childPath, relative + "\\" + *name});
                }
            }
        }
    }

    OverwriteAnswer answer = OverwriteAnswer::Yes;
    unsigned failures = unsendable, skipped = 0;
    for (const Entry& entry : entries) {
        bool refused = false, declined = false;
        const HRESULT hr = PutOne(entry.path, entry.info, entry.descriptor, tops[entry.top],
                                  destination->Item(), answer, uint32_t(entries.size()), refused,
                                  declined);
        if (refused || !Report(hr))
            ++failures;
        else if (declined)
            ++skipped;
        if (answer == OverwriteAnswer::Cancel)
            break;
    }
    if (skipped)
        err_ << "drovemark: " << skipped << (skipped == 1 ? " file" : " files")
             << " not sent: already on the Amiga (use --yes to replace)\n";
    return failures || skipped ? kExitFailed : kExitOk;
}

}  // namespace dm::cli
