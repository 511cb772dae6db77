// Whatever the PC's side of the line carries, our Amiga server neither crashes nor touches
// anything outside the volume it serves. The input is turned into a line: packets with good
// CRCs (so that requests get past the packet layer), damaged ones, and bare answer words.
#include "core/crc32.h"

extern "C" {
#include "amiga/native/host_fs.h"
#include "amiga/server/crc32.h"
#include "amiga/server/server.h"
}

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

namespace fs = std::filesystem;

struct FuzzLine {
    Transport base;
    std::vector<uint8_t> bytes;
    size_t at = 0;
};

int Read(Transport* t, void* buffer, uint32_t count, int32_t)
{
    auto* line = reinterpret_cast<FuzzLine*>(t);
    // The end of the input is the user stopping the server.
    if (line->bytes.size() - line->at < count)
        return IO_STOP;
    std::copy_n(line->bytes.begin() + long(line->at), count, static_cast<uint8_t*>(buffer));
    line->at += count;
    return IO_OK;
}
int Write(Transport*, const void*, uint32_t) { return IO_OK; }
void Discard(Transport*) {}

void Put32(std::vector<uint8_t>& out, uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(uint8_t(v >> shift));
}

// Each chunk: a control byte, then a packet type and length, then its data from the input.
std::vector<uint8_t> LineFrom(const uint8_t* data, size_t size)
{
    std::vector<uint8_t> out;
    int32_t sequence = 1;
    for (size_t at = 0; at < size;) {
        const uint8_t control = data[at++];
        if (control & 0x80) {  // a bare answer word
            for (int i = 0; i < 4; ++i)
                out.push_back(at < size ? data[at++] : 0);
            continue;
        }
        if (size - at < 3)
            break;
        const uint16_t type = (control & 0x40) ? uint16_t(data[at] << 8 | data[at + 1])
                                               : uint16_t(data[at] % 13 + ((control & 1) ? 100 : 0));
        const uint16_t length = uint16_t(std::min<size_t>(data[at + 2] * 4u + (control & 3), size - at - 3));
        at += 3;
        std::vector<uint8_t> header;
        header.push_back(uint8_t(type >> 8));
        header.push_back(uint8_t(type));
        header.push_back(uint8_t(length >> 8));
        header.push_back(uint8_t(length));
        Put32(header, uint32_t((control & 0x20) ? -sequence : sequence));
        if (!(control & 0x20))
            ++sequence;
        const uint32_t crc = dm::ComputeCrc32(header.data(), 8);
        Put32(header, (control & 0x10) ? ~crc : crc);
        out.insert(out.end(), header.begin(), header.end());
        if (length) {
            out.insert(out.end(), data + at, data + at + length);
            const uint32_t dataCrc = dm::ComputeCrc32(data + at, length);
            Put32(out, (control & 0x08) ? dataCrc ^ 1 : dataCrc);
        }
        at += length;
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const fs::path root = fs::temp_directory_path() / ("amiga-server-fuzz-" + std::to_string(getpid()));
    static const fs::path outside = root / "outside";
    static bool ready = false;
    if (!ready) {
        crc32_init();
        fs::create_directories(outside);
        std::ofstream(outside / "keep") << "outside the volume";
        ready = true;
    }
    const fs::path volume = root / "volume";
    std::error_code ignored;
    fs::remove_all(volume, ignored);
    fs::create_directories(volume / "Drawer");
    std::ofstream(volume / "file") << "content";
    std::ofstream(volume / "Drawer" / "inner") << "inner";

    FuzzLine line;
    line.base = {Read, Write, Discard, 1920, 0};
    line.bytes = LineFrom(data, size);
    FileSystem files {};
    HostFs* host = host_fs_create(volume.c_str(), "Work", &files);
    Channel channel {};
    channel_init(&channel, &line.base, 64);
    channel.max_retries = 3;
    Server server {};
    server_init(&server, &channel, &files);
    server_run(&server);
    host_fs_destroy(host);
    if (!fs::exists(outside / "keep") || fs::directory_entry(root).exists() == false)
        __builtin_trap();
    for (const auto& entry : fs::directory_iterator(root)) {
        if (entry.path() != volume && entry.path() != outside)
            __builtin_trap();  // something was made beside the volume
    }
    return 0;
}
