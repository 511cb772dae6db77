// The emulated Amiga served in-process on one end of a memory link pair, and the PC's packet
// channel on the other, over scratch folders: a hard-disk volume, an empty floppy drive, a
// floppy disk, a disk image, a partition image and a ROM.
#pragma once

#include "core/shared_settings_section.h"
#include "link/memory_link.h"
#include "peer/peer_session.h"
#include "protocol/remote_questions.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace dm::test {

namespace fs = std::filesystem;

// Answers the server's questions from a script; Cancel once the script runs out.
class ScriptedQuestions : public RemoteQuestions {
public:
    std::deque<OverwriteAnswer> answers;
    bool formatAnswer = true;
    std::vector<std::string> asked;
    std::vector<UINT> messages;

    OverwriteAnswer AskOverwrite(UINT messageId, const std::string& name, bool) override
    {
        asked.push_back(name);
        messages.push_back(messageId);
        if (answers.empty())
            return OverwriteAnswer::Cancel;
        const OverwriteAnswer answer = answers.front();
        answers.pop_front();
        return answer;
    }
    bool ConfirmFormat(const std::string& name, const RemoteItem&) override
    {
        asked.push_back(name);
        return formatAnswer;
    }
};

inline std::string Pattern(size_t size, unsigned seed = 1)
{
    std::string data(size, '\0');
    for (size_t i = 0; i < size; ++i)
        data[i] = char((i * 31 + seed * 7 + i / 509) & 0xFF);
    return data;
}

inline RemoteItem Item(const std::string& parent, const std::string& name,
                       ItemKind kind = ItemKind::File)
{
    RemoteItem item;
    item.parentPath = parent;
    item.name = name;
    item.kind = kind;
    return item;
}

struct ServerError {
    uint32_t code = 0;
    std::string text;
};

class PeerRig {
public:
    PeerRig()
    {
        work = scratch.Path() / "work";
        disk = scratch.Path() / "disk";
        outside = scratch.Path() / "outside";
        for (const fs::path& folder : {work, disk, outside})
            fs::create_directories(folder);
        WriteWholeFile((outside / "secret").string(), "outside the served folders");
        adf = (scratch.Path() / "disk.adf").string();
        hdf = (scratch.Path() / "part.hdf").string();
        rom = (scratch.Path() / "kick.rom").string();
        WriteWholeFile(adf, Pattern(901120, 2));
        WriteWholeFile(hdf, "DOS\x01" + Pattern(32 * 512 * 4 - 4, 3));
        WriteWholeFile(rom, Pattern(512 * 1024, 4));
        if (const char* log = std::getenv("DROVEMARK_TEST_LOG")) {
            std::snprintf(SharedSection().logPath, sizeof SharedSection().logPath, "%s", log);
            SharedSection().loggingEnabled = 1;
        }
    }
    ~PeerRig() { Stop(); }

    // The standard drives; `formattable` applies to DH0.
    void AddStandardDrives(bool formattable = true)
    {
        Add({ItemKind::Volume, "DH0", "Work", work.string(), formattable, 0});
        Add({ItemKind::Floppy, "DF0", "", "", false, 0});
        Add({ItemKind::Floppy, "DF1", "Disk", disk.string(), false, 0});
        Add({ItemKind::AdfFile, "DF1", "", adf, false, 0});
        Add({ItemKind::HdfFile, "DH1", "", hdf, false, 0});
        Add({ItemKind::RomFile, "", "", rom, false, 0});
    }
    void Add(const peer::DriveConfig& config)
    {
        if (!tree)
            tree = std::make_unique<peer::ServedTree>();
        std::string reason;
        ASSERT_TRUE(tree->AddDrive(config, reason)) << reason;
    }

    // Starts serving; `pcKey` is what the PC identifies with, `expectedKey` what the server
    // wants (TCP/IP), none for a serial line.
    void Start(std::optional<uint32_t> pcKey = std::nullopt,
               std::optional<uint32_t> expectedKey = std::nullopt)
    {
        if (!tree)
            AddStandardDrives();
        handler = std::make_unique<peer::RequestHandler>(*tree);
        auto [pcEnd, amigaEnd] = MakeMemoryLinkPair("PC", "Amiga");
        pcLink = pcEnd.get();
        amigaLink = amigaEnd.get();
        pcEnd->SetTimeouts(pcWaitMs, 0.001f);
        amigaEnd->SetTimeouts(amigaWaitMs, 0.001f);
        pcEnd->SetDiscardWaitMs(2);
        amigaEnd->SetDiscardWaitMs(2);
        pcEnd->SetHandshakeKey(pcKey);
        pc = std::make_unique<PacketChannel>(std::move(pcEnd), 512, 50, pcState);
        pc->Open();
        amigaEnd->Open();  // before the PC's first read, which fails at once on a closed end
        peer::SessionOptions options;
        options.expectedKey = expectedKey;
        server = std::thread(
            [this, link = std::unique_ptr<Link>(std::move(amigaEnd)), options]() mutable {
                peer::ServeLink(std::move(link), *handler, options, verdict);
            });
    }
    void Stop()
    {
        if (pc)
            pc->Close();
        if (server.joinable())
            server.join();
        pc.reset();
    }
    std::vector<DirectoryEntry> List(const std::string& path, HRESULT expected = S_OK)
    {
        std::vector<DirectoryEntry> entries;
        EXPECT_EQ(pc->ListDirectory(path,
                                    [&](const DirectoryEntry& entry) {
                                        entries.push_back(entry);
                                        return true;
                                    }),
                  expected)
            << path;
        return entries;
    }
    std::optional<DirectoryEntry> Find(const std::vector<DirectoryEntry>& entries,
                                       const std::string& name)
    {
        for (const DirectoryEntry& entry : entries) {
            if (entry.name == name)
                return entry;
        }
        return std::nullopt;
    }

    HRESULT Download(const RemoteItem& item, std::string& content)
    {
        uint32_t size = 0;
        HRESULT hr = pc->OpenFile(item, &size);
        if (FAILED(hr))
            return hr;
        content.assign(size, '\0');
        uint32_t read = 0;
        hr = pc->ReadFileData(content.data(), size, &read);
        const HRESULT ended = pc->EndFileRead();
        content.resize(read);
        return FAILED(hr) ? hr : ended;
    }

    // Sends `content` as the file `path`; `sent` bytes only, when given, to break off. Like the
    // PC, it then asks for the server's error, which also waits for the server to finish.
    HRESULT Upload(const std::string& path, const std::string& content, ScriptedQuestions& ask,
                   OverwriteAnswer& answer, bool* declined = nullptr,
                   const RemoteItem& destination = Item("", ""), size_t sent = SIZE_MAX,
                   uint32_t protectionBits = 0, DateStamp date = {15000, 600, 0})
    {
        DirectoryEntry record;
        record.kind = ItemKind::File;
        record.name = path;
        record.size = uint32_t(content.size());
        record.protection = protectionBits;
        record.date = date;
        bool no = false;
        HRESULT hr = pc->CreateObject(record, destination, answer, 2, ask, &no);
        if (declined)
            *declined = no;
        const size_t count = no ? 0 : std::min(sent, content.size());
        for (size_t at = 0; SUCCEEDED(hr) && at < count; at += 1000)
            hr = pc->WriteFileData(content.data() + at,
                                   uint32_t(std::min<size_t>(1000, count - at)), nullptr);
        const HRESULT ended = pc->EndFileWrite();
        uint32_t code = 0;
        std::string text;
        pc->GetLastError(code, text);
        return FAILED(hr) ? hr : ended;
    }
    HRESULT Upload(const std::string& path, const std::string& content)
    {
        ScriptedQuestions ask;
        OverwriteAnswer answer = OverwriteAnswer::Yes;
        return Upload(path, content, ask, answer);
    }

    ServerError LastError()
    {
        ServerError error;
        EXPECT_EQ(pc->GetLastError(error.code, error.text), S_OK);
        return error;
    }

    // That a command failed with `expected`, for the reason `code` by the server's account.
    testing::AssertionResult Failed(HRESULT result, uint32_t code, HRESULT expected = kCancelled)
    {
        const uint32_t reported = LastError().code;
        if (result == expected && reported == code)
            return testing::AssertionSuccess();
        return testing::AssertionFailure()
               << "result " << std::hex << result << std::dec << ", code " << reported;
    }

    std::string Host(const std::string& relative) const { return (work / relative).string(); }
    bool HostExists(const std::string& relative) const
    {
        struct stat st;
        return lstat(Host(relative).c_str(), &st) == 0;
    }

    ScratchFolder scratch;
    fs::path work, disk, outside;
    std::string adf, hdf, rom;
    std::unique_ptr<peer::ServedTree> tree;
    std::unique_ptr<peer::RequestHandler> handler;
    peer::KeyVerdict verdict = peer::KeyVerdict::Unknown;
    // The links' shortest waits, set before Start.
    uint32_t pcWaitMs = 3000;
    uint32_t amigaWaitMs = 2000;
    HandshakeState pcState;
    MemoryLink* pcLink = nullptr;
    MemoryLink* amigaLink = nullptr;
    std::unique_ptr<PacketChannel> pc;
    std::thread server;
};

}  // namespace dm::test
