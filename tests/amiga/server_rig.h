// Our Amiga server's portable core run natively in a thread, on one end of a memory link pair,
// over a scratch folder served as DH0:Work; the PC's packet channel on the other end.
#pragma once

#include "amiga/native/memory_transport.h"
#include "core/shared_settings_section.h"
#include "link/memory_link.h"
#include "peer/fault_link.h"
#include "protocol/packet_channel.h"
#include "protocol/remote_questions.h"
#include "support/test_files.h"

extern "C" {
#include "amiga/native/host_fs.h"
#include "amiga/server/crc32.h"
#include "amiga/server/server.h"
}

#include <gtest/gtest.h>

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

class AnswerScript : public RemoteQuestions {
public:
    std::deque<OverwriteAnswer> answers;
    std::vector<std::string> asked;

    OverwriteAnswer AskOverwrite(UINT, const std::string& name, bool) override
    {
        asked.push_back(name);
        if (answers.empty())
            return OverwriteAnswer::Cancel;
        const OverwriteAnswer answer = answers.front();
        answers.pop_front();
        return answer;
    }
    bool ConfirmFormat(const std::string&, const RemoteItem&) override { return false; }
};

class AmigaServerRig {
public:
    AmigaServerRig()
    {
        work = scratch.Path() / "work";
        std::filesystem::create_directories(work);
        crc32_init();
        host = host_fs_create(work.c_str(), "Work", &fs);
        if (const char* log = std::getenv("DROVEMARK_TEST_LOG")) {
            std::snprintf(SharedSection().logPath, sizeof SharedSection().logPath, "%s", log);
            SharedSection().loggingEnabled = 1;
        }
    }
    ~AmigaServerRig()
    {
        Stop();
        host_fs_destroy(host);
    }

    // Faults, when given, go into what that side writes; waits are then short.
    void Start(uint16_t streamBuffer = 512, const peer::FaultPlan& pcFaults = {},
               const peer::FaultPlan& amigaFaults = {}, uint64_t seed = 1)
    {
        auto [pcEnd, amigaEnd] = MakeMemoryLinkPair("PC", "Amiga");
        pcLink = pcEnd.get();
        pcLink->SetHandshakeKey(pcKey);
        pcEnd->SetTimeouts(3000, 0.001f);
        amigaEnd->SetTimeouts(2000, 0.001f);
        pcEnd->SetDiscardWaitMs(2);
        amigaEnd->SetDiscardWaitMs(2);
        const bool faults = pcFaults.Any() || amigaFaults.Any();
        auto pcSide = std::make_unique<peer::FaultLink>(std::move(pcEnd), pcFaults, seed);
        amigaLink = std::make_unique<peer::FaultLink>(std::move(amigaEnd), amigaFaults, seed + 1);
        if (faults) {
            pcSide->SetTimeouts(600, 0.001f);
            amigaLink->SetTimeouts(600, 0.001f);
        }
        pc = std::make_unique<PacketChannel>(std::move(pcSide), 512, 50, pcState);
        pc->Open();
        amigaLink->Open();
        amiga::InitMemoryTransport(line, *amigaLink, 100000, faults ? 300 : 0);
        line.stop = false;
        channel_init(&channel, &line.base, streamBuffer);
        channel.keyed = serverKey.has_value();
        channel.key = serverKey.value_or(0);
        server_init(&server, &channel, &fs);
        thread = std::thread([this] { server_run(&server); });
    }
    void Stop()
    {
        line.stop = true;
        if (thread.joinable())
            thread.join();
        if (pc)
            pc->Close();
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
    const DirectoryEntry* Find(const std::vector<DirectoryEntry>& entries, const std::string& name)
    {
        for (const DirectoryEntry& entry : entries) {
            if (entry.name == name)
                return &entry;
        }
        return nullptr;
    }
    HRESULT Download(const RemoteItem& item, std::string& content)
    {
        uint32_t size = 0;
        HRESULT hr = pc->OpenFile(item, &size);
        if (FAILED(hr) || hr == kCancelled)
            return hr;
        content.assign(size, '\0');
        uint32_t read = 0;
        hr = pc->ReadFileData(content.data(), size, &read);
        const HRESULT ended = pc->EndFileRead();
        content.resize(read);
        return FAILED(hr) ? hr : ended;
    }
    HRESULT Upload(const std::string& path, const std::string& content, AnswerScript& ask,
                   bool* declined = nullptr, uint32_t protection = 0)
    {
        DirectoryEntry record;
        record.kind = ItemKind::File;
        record.name = path;
        record.size = uint32_t(content.size());
        record.protection = protection;
        OverwriteAnswer answer = OverwriteAnswer::Yes;
        bool no = false;
        HRESULT hr = pc->CreateObject(record, RemoteItem {}, answer, 2, ask, &no);
        if (declined)
            *declined = no;
        for (size_t at = 0; SUCCEEDED(hr) && !no && at < content.size(); at += 1000)
            hr = pc->WriteFileData(content.data() + at,
                                   uint32_t(std::min<size_t>(1000, content.size() - at)), nullptr);
        const HRESULT ended = pc->EndFileWrite();
        // As the PC does: the server's error, which also waits for the server to finish.
        uint32_t code = 0;
        std::string text;
        pc->GetLastError(code, text);
        return FAILED(hr) ? hr : ended;
    }
    uint32_t LastError()
    {
        uint32_t code = 0;
        std::string text;
        EXPECT_EQ(pc->GetLastError(code, text), S_OK);
        return code;
    }

    ScratchFolder scratch;
    std::filesystem::path work;
    FileSystem fs {};
    HostFs* host = nullptr;
    HandshakeState pcState;  // the PC process's: it outlives a connection
    std::optional<uint32_t> pcKey, serverKey;  // TCP/IP's password keys
    MemoryLink* pcLink = nullptr;
    std::unique_ptr<peer::FaultLink> amigaLink;
    std::unique_ptr<PacketChannel> pc;
    amiga::MemoryTransport line;
    Channel channel {};
    Server server {};
    std::thread thread;
};

inline RemoteItem At(const std::string& parent, const std::string& name,
                     ItemKind kind = ItemKind::File)
{
    RemoteItem item;
    item.parentPath = parent;
    item.name = name;
    item.kind = kind;
    return item;
}

inline std::string Bytes(size_t size, unsigned seed)
{
    std::string data(size, '\0');
    for (size_t i = 0; i < size; ++i)
        data[i] = char((i * 131 + seed * 17 + i / 251) & 0xFF);
    return data;
}

}  // namespace dm::test
