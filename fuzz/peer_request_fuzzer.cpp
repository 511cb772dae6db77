// Whatever request bytes arrive, the emulated Amiga neither crashes nor touches anything outside
// the folders it serves. The exchange after the request follows the input too.
#include "peer/peer_exchange.h"
#include "peer/request_handler.h"
#include "peer/served_tree.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

namespace {

namespace fs = std::filesystem;

// Answers the handler from the input's bytes: a failure, a cancel or a success per call.
class InputExchange : public dm::peer::PeerExchange {
public:
    InputExchange(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    HRESULT Send(dm::PacketType, const void*, uint16_t) override { return Outcome(); }
    HRESULT WaitForAnswer(bool) override { return Outcome(); }
    HRESULT BeginFileRead(uint32_t* size) override
    {
        *size = left_ = Next() * 97u;
        return Outcome();
    }
    HRESULT ReadFileData(void* buffer, uint32_t count, uint32_t* read) override
    {
        *read = std::min(count, left_);
        std::memset(buffer, Next(), *read);
        left_ -= *read;
        return Outcome();
    }
    HRESULT EndFileRead() override { return Outcome(); }
    HRESULT BeginFileWrite(uint32_t) override { return Outcome(); }
    HRESULT WriteFileData(const void*, uint32_t, uint32_t*) override { return Outcome(); }
    HRESULT EndFileWrite() override { return Outcome(); }

private:
    uint8_t Next() { return at_ < size_ ? data_[at_++] : 0; }
    HRESULT Outcome()
    {
        const uint8_t roll = Next();
        return roll % 11 == 0 ? dm::kCancelled : roll % 13 == 0 ? E_FAIL : S_OK;
    }
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
    uint32_t left_ = 0;
};

struct Served {
    fs::path root;
    std::unique_ptr<dm::peer::ServedTree> tree;
};

Served& Tree()
{
    static Served served = [] {
        Served s;
        s.root = fs::temp_directory_path() / ("drovemark-fuzz-" + std::to_string(getpid()));
        fs::create_directories(s.root / "work" / "Devs");
        fs::create_directories(s.root / "disk");
        std::ofstream(s.root / "work" / "readme.txt") << "hello";
        std::ofstream(s.root / "disk.adf") << std::string(4096, 'a');
        std::ofstream(s.root / "outside") << "never touched";
        s.tree = std::make_unique<dm::peer::ServedTree>();
        std::string reason;
        s.tree->AddDrive({dm::ItemKind::Volume, "DH0", "Work", (s.root / "work").string(), true, 0},
                         reason);
        s.tree->AddDrive(
            {dm::ItemKind::Floppy, "DF1", "Disk", (s.root / "disk").string(), false, 1 << 20},
            reason);
        s.tree->AddDrive(
            {dm::ItemKind::AdfFile, "DF1", "", (s.root / "disk.adf").string(), false, 0}, reason);
        std::atexit([] { fs::remove_all(Tree().root); });
        return s;
    }();
    return served;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    Served& served = Tree();
    dm::peer::RequestHandler handler(*served.tree);
    const auto type = dm::PacketType(100 + data[0] % 14);
    const size_t split = std::min<size_t>(size - 1, data[1]);
    InputExchange exchange(data + 2 + split, size - 2 - std::min(size - 2, split));
    handler.Handle(type, data + 2, std::min(split, size - 2), exchange);
    handler.Handle(dm::PacketType::GetLastError, nullptr, 0, exchange);
    if (std::ifstream(served.root / "outside").peek() != 'n')
        std::abort();  // something escaped the served folders
    return 0;
}
