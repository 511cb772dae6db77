#include "peer/metadata.h"

#include "core/amiga_dates.h"
#include "peer/host_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <mutex>
#include <set>
#include <vector>

namespace dm::peer {

namespace {

constexpr char kHeader[] = "# drovemark metadata 1";
constexpr size_t kMaxSidecarSize = 16 << 20;

std::string Escape(const std::string& text)
{
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    for (const char c : text) {
        const auto byte = uint8_t(c);
        if (c == '\\')
            out += "\\\\";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\n')
            out += "\\n";
        else if (byte < 0x20 || byte == 0x7F)
            out += std::string("\\x") + kHex[byte >> 4] + kHex[byte & 15];
        else
            out += c;
    }
    return out;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::optional<std::string> Unescape(std::string_view text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i >= text.size())
            return std::nullopt;
        switch (text[i]) {
        case '\\': out += '\\'; break;
        case 't': out += '\t'; break;
        case 'n': out += '\n'; break;
        case 'x': {
            if (i + 2 >= text.size())
                return std::nullopt;
            const int high = HexDigit(text[i + 1]);
            const int low = HexDigit(text[i + 2]);
            if (high < 0 || low < 0)
                return std::nullopt;
            out += char(high * 16 + low);
            i += 2;
            break;
        }
        default: return std::nullopt;
        }
    }
    return out;
}

std::vector<std::string_view> SplitFields(std::string_view line)
{
    std::vector<std::string_view> fields;
    size_t start = 0;
    while (true) {
        const size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string_view::npos ? tab : tab - start));
        if (tab == std::string_view::npos)
            return fields;
        start = tab + 1;
    }
}

template <typename T>
bool Number(std::string_view text, T& value, int base = 10)
{
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return ec == std::errc() && end == text.data() + text.size() && !text.empty();
}

bool ParseItem(const std::vector<std::string_view>& f, std::string& name, ItemMeta& item)
{
    // I name protection days minutes ticks seconds nanoseconds comment
    if (f.size() != 9)
        return false;
    const std::optional<std::string> parsedName = Unescape(f[1]);
    const std::optional<std::string> comment = Unescape(f[8]);
    if (!parsedName || parsedName->empty() || !comment || !Number(f[2], item.protection, 16))
        return false;
    if (f[3] != "-") {
        DateStamp date;
        if (!Number(f[3], date.days) || !Number(f[4], date.minutes) || !Number(f[5], date.ticks) ||
            !Number(f[6], item.mtimeSeconds) || !Number(f[7], item.mtimeNanoseconds))
            return false;
        item.date = date;
    }
    name = *parsedName;
    item.comment = *comment;
    return true;
}

std::string ItemLine(const std::string& name, const ItemMeta& item)
{
    char numbers[128];
    if (item.date) {
        std::snprintf(numbers, sizeof numbers, "%08x\t%d\t%d\t%d\t%lld\t%lld",
                      unsigned(item.protection), int(item.date->days), int(item.date->minutes),
                      int(item.date->ticks), (long long)item.mtimeSeconds,
                      (long long)item.mtimeNanoseconds);
    } else {
        std::snprintf(numbers, sizeof numbers, "%08x\t-\t-\t-\t-\t-", unsigned(item.protection));
    }
    return "I\t" + Escape(name) + "\t" + numbers + "\t" + Escape(item.comment) + "\n";
}

// The size of each sidecar as last written whole, by file identity. Appended lines that
// outweigh it (and a small allowance) get the sidecar rewritten, so it stays within a small
// multiple of what it holds however often its items change.
constexpr off_t kAppendAllowance = 16 << 10;
std::mutex g_wholeSizesLock;
std::map<std::pair<dev_t, ino_t>, off_t> g_wholeSizes;

void RememberWholeSize(const struct stat& st)
{
    const std::lock_guard<std::mutex> hold(g_wholeSizesLock);
    if (g_wholeSizes.size() >= 4096)
        g_wholeSizes.clear();
    g_wholeSizes[{st.st_dev, st.st_ino}] = st.st_size;
}

bool Outgrown(int dirfd, const struct stat& st)
{
    off_t whole = -1;
    {
        const std::lock_guard<std::mutex> hold(g_wholeSizesLock);
        const auto it = g_wholeSizes.find({st.st_dev, st.st_ino});
        if (it != g_wholeSizes.end())
            whole = it->second;
    }
    if (whole < 0) {
        // First seen by this process: what it would hold written whole.
        struct stat measured = st;
        measured.st_size = off_t(SerializeFolderMeta(LoadFolderMeta(dirfd)).size());
        RememberWholeSize(measured);
        whole = measured.st_size;
    }
    return st.st_size - whole > whole + kAppendAllowance;
}

int WriteAll(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0)
            return wrote < 0 ? errno : EIO;
        done += size_t(wrote);
    }
    return 0;
}

}  // namespace

std::string SerializeFolderMeta(const FolderMeta& meta)
{
    std::string text = std::string(kHeader) + "\n";
    if (!meta.label.empty())
        text += "L\t" + Escape(meta.label) + "\n";
    for (const auto& [name, item] : meta.items)
        text += ItemLine(name, item);
    return text;
}

FolderMeta ParseFolderMeta(const std::string& text)
{
    FolderMeta meta;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find('\n', start);
        if (end == std::string::npos)
            break;  // every line written whole ends in a newline
        const std::vector<std::string_view> fields =
            SplitFields(std::string_view(text).substr(start, end - start));
        start = end + 1;
        if (fields.size() == 2 && fields[0] == "L") {
            if (std::optional<std::string> label = Unescape(fields[1]))
                meta.label = *label;
        } else if (fields[0] == "I") {
            std::string name;
            ItemMeta item;
            if (ParseItem(fields, name, item))
                meta.items[name] = item;
        }
    }
    return meta;
}

FolderMeta LoadFolderMeta(int dirfd)
{
    Fd file(openat(dirfd, kSidecarName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st;
    if (!file.Valid() || fstat(file.Get(), &st) != 0 || !S_ISREG(st.st_mode))
        return {};
    std::string text;
    char buffer[8192];
    while (text.size() < kMaxSidecarSize) {
        const ssize_t got = ::read(file.Get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        text.append(buffer, size_t(got));
    }
    return ParseFolderMeta(text);
}

int SaveFolderMeta(int dirfd, FolderMeta meta)
{
    // The folder read once rather than each entry looked up: a batch of uploads into one
    // drawer would otherwise cost the square of its size.
    std::vector<NameEntry> listed;
    const bool haveNames = ListNames(dirfd, listed) == 0;
    std::set<std::string> names;
    for (NameEntry& entry : listed)
        names.insert(std::move(entry.name));
    for (auto it = meta.items.begin(); it != meta.items.end();) {
        struct stat st;
        const bool present =
            haveNames ? names.count(it->first) != 0 : StatAt(dirfd, it->first, st);
        if (IsReservedName(it->first) || !present)
            it = meta.items.erase(it);
        else
            ++it;
    }
    if (meta.items.empty() && meta.label.empty()) {
        if (unlinkat(dirfd, kSidecarName, 0) != 0 && errno != ENOENT)
            return errno;
        return 0;
    }
    TempFile temp;
    if (const int error = temp.Create(dirfd, 0644))
        return error;
    const std::string text = SerializeFolderMeta(meta);
    if (const int error = temp.Write(text.data(), text.size()))
        return error;
    struct stat st;
    const bool measured = fstat(temp.Handle(), &st) == 0;
    if (const int error = temp.CommitAs(kSidecarName))
        return error;
    if (measured)
        RememberWholeSize(st);
    return 0;
}

int SaveItemMeta(int dirfd, const std::string& name, const ItemMeta& item)
{
    const auto rewrite = [&] {
        FolderMeta meta = LoadFolderMeta(dirfd);
        meta.items[name] = item;
        return SaveFolderMeta(dirfd, std::move(meta));
    };
    // A rename per change costs a journal commit on some file systems; one appended line does
    // not, and a later line for a name replaces the earlier ones when read.
    Fd file(openat(dirfd, kSidecarName,
                   O_RDWR | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644));
    struct stat st;
    if (!file.Valid() || fstat(file.Get(), &st) != 0 || !S_ISREG(st.st_mode))
        return rewrite();
    std::string text = ItemLine(name, item);
    if (st.st_size == 0) {
        text = std::string(kHeader) + "\n" + text;
    } else {
        // A line cut short by a kill must not run into this one.
        char last = 0;
        if (pread(file.Get(), &last, 1, st.st_size - 1) != 1 || last != '\n' ||
            Outgrown(dirfd, st))
            return rewrite();
    }
    return WriteAll(file.Get(), text);
}

DateStamp ItemDate(const struct stat& st, const ItemMeta* meta)
{
    if (meta && meta->date && meta->mtimeSeconds == int64_t(st.st_mtim.tv_sec) &&
        meta->mtimeNanoseconds == int64_t(st.st_mtim.tv_nsec))
        return *meta->date;
    return FileTimeToDateStamp(FileTimeFromTimespec(st.st_mtim));
}

void RecordHostTime(const struct stat& st, ItemMeta& meta)
{
    meta.mtimeSeconds = int64_t(st.st_mtim.tv_sec);
    meta.mtimeNanoseconds = int64_t(st.st_mtim.tv_nsec);
}

int ApplyDate(int dirfd, const std::string& name, const DateStamp& date, ItemMeta& meta)
{
    timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1] = TimespecFromFileTime(DateStampToFileTime(date));
    if (utimensat(dirfd, name.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
        return errno;
    struct stat st;
    if (!StatAt(dirfd, name, st))
        return errno;
    meta.date = date;
    RecordHostTime(st, meta);
    return 0;
}

int ApplyDate(int fd, const DateStamp& date, ItemMeta& meta)
{
    timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1] = TimespecFromFileTime(DateStampToFileTime(date));
    struct stat st;
    if (futimens(fd, times) != 0 || fstat(fd, &st) != 0)
        return errno;
    meta.date = date;
    RecordHostTime(st, meta);
    return 0;
}

uint32_t ItemProtection(const struct stat& st, const ItemMeta* meta)
{
    if (meta)
        return meta->protection;
    uint32_t bits = 0;
    if (!(st.st_mode & S_IRUSR))
        bits |= protection::ReadForbidden;
    if (!(st.st_mode & S_IWUSR))
        bits |= protection::WriteForbidden | protection::DeleteForbidden;
    return bits;
}

}  // namespace dm::peer
