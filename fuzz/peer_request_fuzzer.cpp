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
#include <system_error>

#include <unistd.h>

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

// Every input starts from the same served folders, so that one input's files do not slow the
// next and a fault reproduces from its input alone.
class Served {
public:
    Served()
    {
        // Memory-backed when the system has it: the folders are made anew for every input.
        const fs::path base = fs::is_directory("/dev/shm") ? fs::path("/dev/shm")
                                                           : fs::temp_directory_path();
        root_ = base / ("drovemark-fuzz-" + std::to_string(getpid()));
    }
    ~Served() { fs::remove_all(root_); }

    dm::peer::ServedTree& Fresh()
    {
        tree_.reset();
        std::error_code ignored;
        fs::remove_all(root_, ignored);
        fs::create_directories(root_ / "work" / "Devs");
        fs::create_directories(root_ / "disk");
        std::ofstream(root_ / "work" / "readme.txt") << "hello";
        std::ofstream(root_ / "disk.adf") << std::string(4096, 'a');
        std::ofstream(root_ / "outside") << "never touched";
        tree_ = std::make_unique<dm::peer::ServedTree>();
        std::string reason;
        tree_->AddDrive({dm::ItemKind::Volume, "DH0", "Work", (root_ / "work").string(), true, 0},
                        reason);
        tree_->AddDrive(
            {dm::ItemKind::Floppy, "DF1", "Disk", (root_ / "disk").string(), false, 1 << 20},
            reason);
        tree_->AddDrive({dm::ItemKind::AdfFile, "DF1", "", (root_ / "disk.adf").string(), false, 0},
                        reason);
        return *tree_;
    }
    bool OutsideUntouched() const { return std::ifstream(root_ / "outside").peek() == 'n'; }

private:
    fs::path root_;
    std::unique_ptr<dm::peer::ServedTree> tree_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    static Served served;
    dm::peer::RequestHandler handler(served.Fresh());
    const auto type = dm::PacketType(100 + data[0] % 14);
    const size_t split = std::min<size_t>(size - 1, data[1]);
    InputExchange exchange(data + 2 + split, size - 2 - std::min(size - 2, split));
    handler.Handle(type, data + 2, std::min(split, size - 2), exchange);
    handler.Handle(dm::PacketType::GetLastError, nullptr, 0, exchange);
    if (!served.OutsideUntouched())
        std::abort();  // something escaped the served folders
    return 0;
}
