// Files and images both ways: byte-identical at every packet boundary, never half-written, and
// replaced only after the PC said so.
#include "core/amiga_dates.h"
#include "peer/metadata.h"
#include "peer_rig.h"
#include "resources/string_ids.h"

#include <dirent.h>

#include <atomic>

namespace dm {
namespace {

namespace fs = std::filesystem;

using test::Item;
using test::PatternBytes;
using test::PeerRig;
using test::ReadWholeFile;
using test::ScriptedQuestions;
using test::WriteWholeFile;

// Host names in the folder, the server's own included.
std::vector<std::string> HostNames(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(PeerTransfer, ReplacingAFileAsksFirstAndABrokenOffUploadLeavesNothingBehind)
{
    PeerRig rig;
    WriteWholeFile(rig.Host("a"), "old a");
    WriteWholeFile(rig.Host("b"), "old b");
    rig.Start();

    ScriptedQuestions ask;
    ask.answers = {OverwriteAnswer::No};
    OverwriteAnswer answer = OverwriteAnswer::Yes;
    bool declined = false;
    EXPECT_EQ(rig.Upload("DH0:Work/a", "new a", ask, answer, &declined), S_OK);
    EXPECT_TRUE(declined);
    EXPECT_EQ(ReadWholeFile(rig.Host("a")), "old a");
    EXPECT_EQ(rig.LastError().code, 0u) << "declining is no failure";
    ASSERT_EQ(ask.asked, std::vector<std::string> {"a"});
    EXPECT_EQ(ask.messages[0], UINT(IDS_OVERWRITE_FILE));

    ask.answers = {OverwriteAnswer::Yes};
    EXPECT_EQ(rig.Upload("DH0:Work/A", "new a", ask, answer, &declined), S_OK);
    EXPECT_FALSE(declined);
    EXPECT_EQ(ReadWholeFile(rig.Host("a")), "new a") << "the existing name, whatever its case";
    EXPECT_FALSE(rig.HostExists("A"));

    // Yes to all answers every later question of the batch without asking.
    ask.asked.clear();
    ask.answers = {OverwriteAnswer::YesToAll};
    answer = OverwriteAnswer::Yes;
    EXPECT_EQ(rig.Upload("DH0:Work/a", "newer a", ask, answer), S_OK);
    EXPECT_EQ(rig.Upload("DH0:Work/b", "newer b", ask, answer), S_OK);
    EXPECT_EQ(ask.asked.size(), 1u);
    EXPECT_EQ(ReadWholeFile(rig.Host("a")), "newer a");
    EXPECT_EQ(ReadWholeFile(rig.Host("b")), "newer b");

    ask.answers = {OverwriteAnswer::Cancel};
    answer = OverwriteAnswer::Yes;
    EXPECT_EQ(rig.Upload("DH0:Work/b", "cancelled", ask, answer, &declined), S_OK);
    EXPECT_TRUE(declined);
    EXPECT_EQ(answer, OverwriteAnswer::Cancel);
    EXPECT_EQ(ReadWholeFile(rig.Host("b")), "newer b");

    // An upload broken off leaves nothing behind, and the link still carries whole files.
    const std::vector<std::string> before = HostNames(rig.work);
    ask.answers = {OverwriteAnswer::Yes};
    answer = OverwriteAnswer::Yes;
    const std::string content = PatternBytes(5000);
    EXPECT_EQ(rig.Upload("DH0:Work/partial", content, ask, answer, nullptr, Item("", ""), 2000),
              E_FAIL);
    EXPECT_EQ(rig.Upload("DH0:Work/b", content, ask, answer, nullptr, Item("", ""), 3000), E_FAIL);
    EXPECT_EQ(rig.LastError().code, 0u);
    EXPECT_EQ(HostNames(rig.work), before);
    EXPECT_EQ(ReadWholeFile(rig.Host("b")), "newer b");
    ASSERT_EQ(rig.Upload("DH0:Work/partial", content), S_OK);
    EXPECT_EQ(ReadWholeFile(rig.Host("partial")), content);
}

// Before a request the PC waits for the line to fall quiet only when it is not known to be:
// after an exchange that ended cleanly the server, which speaks only when spoken to, has
// nothing on the way. Noise and lost or damaged words on such a line are still recovered to
// the byte, and the line is trusted again only after a waiting drain and a clean exchange.
TEST(PeerTransfer, OnlyACleanExchangeLeavesTheLineTrustedAsQuiet)
{
    struct Fault {
        const char* what;
        bool amigaSide;  // whose writes are touched
        std::function<bool(const std::string&)> target;  // the first such write after arming
        std::function<void(std::string&)> apply;
        bool atEnd = false;  // armed for the error report that ends the clean exchange before
    };
    const auto word = [](const std::string& b) { return b.size() == 4; };
    const auto packet = [](const std::string& b) { return b.size() > 100; };
    const auto any = [](const std::string&) { return true; };
    const Fault faults[] = {
        {"noise waiting before the request", true, nullptr, nullptr},
        {"noise ahead of the server's answer word", true, word,
         [](std::string& b) { b.insert(0, "\x7F\x00\x55", 3); }},
        {"noise ahead of the server's data", true, packet,
         [](std::string& b) { b.insert(0, "\xFF\x13", 2); }},
        {"the server's answer word lost", true, word, [](std::string& b) { b.clear(); }},
        {"the PC's answer word lost", false, word, [](std::string& b) { b.clear(); }},
        {"the PC's last answer word before the request lost", false, word,
         [](std::string& b) { b.clear(); }, true},
        {"the PC's answer word damaged", false, word, [](std::string& b) { b[1] ^= 0x20; }},
        {"the server's data damaged", true, packet, [](std::string& b) { b[40] ^= 0x08; }},
        {"the PC's request lost", false, any, [](std::string& b) { b.clear(); }},
    };
    const std::string content = PatternBytes(3000, 5);
    for (const Fault& fault : faults) {
        SCOPED_TRACE(fault.what);
        PeerRig rig;
        rig.pcWaitMs = 400;
        rig.amigaWaitMs = 150;
        WriteWholeFile(rig.Host("file"), content);
        rig.Start();
        rig.pcLink->SetStartsEmpty(true);  // as a new TCP/IP connection does
        std::atomic<bool> armed = false;
        if (fault.apply) {
            MemoryLink& side = fault.amigaSide ? *rig.amigaLink : *rig.pcLink;
            side.SetWriteFilter([&](std::string& bytes, uint64_t) {
                if (armed && fault.target(bytes)) {
                    armed = false;
                    fault.apply(bytes);
                }
            });
        }
        const auto download = [&](bool armAtEnd) {
            std::string copy;
            EXPECT_EQ(rig.Download(Item("DH0:Work", "file"), copy), S_OK);
            EXPECT_TRUE(copy == content);
            armed = armed || armAtEnd;
            rig.LastError();
        };
        download(fault.atEnd);
        // That answer word lost looks clean from here: the request after it finds it out.
        EXPECT_TRUE(rig.pc->LineQuiet());
        if (!fault.apply)
            rig.amigaLink->Write("\x42\x00\x99", 3, 0);
        else if (!fault.atEnd)
            armed = true;
        download(false);
        EXPECT_FALSE(armed) << "the fault was never applied";
        // A drain that found noise waits, and what follows it is clean.
        EXPECT_EQ(rig.pc->LineQuiet(), !fault.apply);
        download(false);
        EXPECT_TRUE(rig.pc->LineQuiet());
    }
}

// What an upload's record says, the host file carries too; its protection then holds. Images
// download whole and go back only at their size, after the question.
TEST(PeerTransfer, UploadsTakeTheRecordAndFitTheirVolumeAndImagesOnlyTheirSizeAfterAsking)
{
    PeerRig rig;
    rig.Start();
    ScriptedQuestions ask;
    OverwriteAnswer answer = OverwriteAnswer::Yes;
    const DateStamp date {12000, 61, 0};
    ASSERT_EQ(rig.Upload("DH0:Work/dated", "x", ask, answer, nullptr, Item("", ""), SIZE_MAX,
                         protection::WriteForbidden | protection::ReadForbidden, date),
              S_OK);
    struct stat st;
    ASSERT_EQ(stat(rig.Host("dated").c_str(), &st), 0);
    EXPECT_EQ(FileTimeToDateStamp(peer::FileTimeFromTimespec(st.st_mtim)), date);
    EXPECT_TRUE(rig.Failed(rig.Upload("DH0:Work/dated", "y", ask, answer),
                           peer::error::FileWriteProtected, E_FAIL));
    std::string content;
    EXPECT_TRUE(
        rig.Failed(rig.Download(Item("DH0:Work", "dated"), content), peer::error::ReadProtected));
    EXPECT_EQ(ReadWholeFile(rig.Host("dated")), "x");

    // A floppy disk holds no more than its capacity; a larger file replacing one counts only
    // the difference.
    ASSERT_EQ(rig.Upload("DF1:Disk/first", PatternBytes(600000)), S_OK);
    EXPECT_EQ(rig.Upload("DF1:Disk/second", PatternBytes(400000)), E_FAIL);
    EXPECT_EQ(rig.LastError().code, peer::error::VolumeFull);
    EXPECT_FALSE(fs::exists(rig.disk / "second"));
    const auto floppy = rig.Find(rig.List(""), "DF1:Disk");
    ASSERT_TRUE(floppy);
    EXPECT_EQ(floppy->inUse, 600000u);
    ask.answers = {OverwriteAnswer::Yes};
    answer = OverwriteAnswer::Yes;
    EXPECT_EQ(rig.Upload("DF1:Disk/first", PatternBytes(900000), ask, answer), S_OK);
    EXPECT_EQ(fs::file_size(rig.disk / "first"), 900000u);

    ASSERT_EQ(rig.Download(Item("", ":DF1:disk.adf", ItemKind::AdfFile), content), S_OK);
    EXPECT_TRUE(content == ReadWholeFile(rig.adf));
    ASSERT_EQ(rig.Download(Item("", "::kick.rom", ItemKind::RomFile), content), S_OK);
    EXPECT_TRUE(content == ReadWholeFile(rig.rom));

    const RemoteItem adf = Item("", ":DF1:disk.adf", ItemKind::AdfFile);
    const std::string fresh = PatternBytes(901120, 9);
    ask = ScriptedQuestions {};
    ask.answers = {OverwriteAnswer::Yes};
    ASSERT_EQ(rig.Upload(":DF1:disk.adf", fresh, ask, answer, nullptr, adf), S_OK);
    ASSERT_EQ(ask.asked, std::vector<std::string> {"disk.adf"});
    EXPECT_EQ(ask.messages[0], UINT(IDS_OVERWRITE_VOLUME));
    EXPECT_TRUE(ReadWholeFile(rig.adf) == fresh);
    EXPECT_EQ(
        HostNames(rig.scratch.Path()),
        (std::vector<std::string> {"disk", "disk.adf", "kick.rom", "outside", "part.hdf", "work"}));

    EXPECT_EQ(rig.Upload(":DF1:disk.adf", "too small", ask, answer, nullptr, adf), E_FAIL);
    test::ServerError error = rig.LastError();
    EXPECT_EQ(error.code, peer::error::SizeMismatch);
    EXPECT_EQ(error.text, "The file size does not match disk capacity.");
    EXPECT_EQ(rig.Upload("::kick.rom", PatternBytes(512 * 1024), ask, answer), E_FAIL);
    EXPECT_EQ(rig.LastError().code, peer::error::FileWriteProtected);
    EXPECT_TRUE(ReadWholeFile(rig.adf) == fresh);
}

}  // namespace
}  // namespace dm
