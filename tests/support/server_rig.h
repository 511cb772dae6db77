// The PC's packet channel on one end of a memory link pair, and a server of ours on the other
// over a scratch folder served as DH0:Work: what the tests of either server drive it with.
#pragma once

#include "protocol/remote_questions.h"
#include "support/channel_pair.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
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

class ServerRig {
public:
    ServerRig()
    {
        work = scratch.Path() / "work";
        fs::create_directories(work);
        TraceToTestLog();
    }

    // The line's two ends, the PC's keeping `pcKey`; both wait as set below.
    std::pair<std::unique_ptr<MemoryLink>, std::unique_ptr<MemoryLink>> MakeLine(
        std::optional<uint32_t> pcKey)
    {
        auto ends = MakeMemoryLinkPair("PC", "Amiga");
        pcLink = ends.first.get();
        pcLink->SetHandshakeKey(pcKey);
        pcLink->SetTimeouts(pcWaitMs, 0.001f);
        ends.second->SetTimeouts(amigaWaitMs, 0.001f);
        pcLink->SetDiscardWaitMs(2);
        ends.second->SetDiscardWaitMs(2);
        return ends;
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
    static std::optional<DirectoryEntry> Find(const std::vector<DirectoryEntry>& entries,
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
    HRESULT Upload(const std::string& path, const std::string& content, ScriptedQuestions& ask,
                   bool* declined = nullptr)
    {
        OverwriteAnswer answer = OverwriteAnswer::Yes;
        return Upload(path, content, ask, answer, declined);
    }
    HRESULT Upload(const std::string& path, const std::string& content)
    {
        ScriptedQuestions ask;
        return Upload(path, content, ask);
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

    // Both ends wait this long at the least, set before Start.
    uint32_t pcWaitMs = 3000;
    uint32_t amigaWaitMs = 2000;

    ScratchFolder scratch;
    fs::path work;
    HandshakeState pcState;
    MemoryLink* pcLink = nullptr;
    std::unique_ptr<PacketChannel> pc;
};

}  // namespace dm::test
