// The commands that change the served folders, the errors they report, and the paths the server
// refuses.
#include "core/crc32.h"
#include "peer/metadata.h"
#include "peer_rig.h"
#include "resources/string_ids.h"

namespace dm {
namespace {

namespace fs = std::filesystem;
namespace error = peer::error;

using test::Item;
using test::PatternBytes;
using test::PeerRig;
using test::ReadWholeFile;
using test::ScriptedQuestions;
using test::WriteWholeFile;

const RemoteItem kWork = Item("", "DH0:Work", ItemKind::Volume);

RemoteItem Drawer(const std::string& parent, const std::string& name)
{
    return Item(parent, name, ItemKind::Drawer);
}

TEST(PeerCommands, DeleteTakesADrawerWithItsContentsButStopsAtProtectedItems)
{
    PeerRig rig;
    fs::create_directories(rig.work / "full" / "inner");
    WriteWholeFile(rig.Host("full/inner/kept"), "x");
    WriteWholeFile(rig.Host("full/loose"), "y");
    WriteWholeFile(rig.Host("file"), "x");
    rig.Start();
    ASSERT_EQ(rig.pc->SetAttributes(Item("DH0:Work/full/inner", "kept"),
                                    protection::DeleteForbidden, "makes a sidecar"),
              S_OK);

    EXPECT_TRUE(rig.Failed(rig.pc->Delete(Drawer("DH0:Work", "full")), error::DeleteProtected));
    EXPECT_TRUE(rig.HostExists("full/inner/kept"));
    ASSERT_EQ(rig.pc->SetAttributes(Item("DH0:Work/full/inner", "kept"), 0, ""), S_OK);
    EXPECT_EQ(rig.pc->Delete(Drawer("DH0:Work", "full")), S_OK)
        << "the server's sidecars do not keep a drawer from going";
    EXPECT_FALSE(rig.HostExists("full"));

    ASSERT_EQ(rig.pc->SetAttributes(Item("DH0:Work", "file"), protection::DeleteForbidden, ""),
              S_OK);
    EXPECT_TRUE(rig.Failed(rig.pc->Delete(Item("DH0:Work", "file")), error::DeleteProtected));
    ASSERT_EQ(rig.pc->SetAttributes(Item("DH0:Work", "file"), 0, ""), S_OK);
    EXPECT_EQ(rig.pc->Delete(Item("DH0:Work", "file")), S_OK);
    EXPECT_FALSE(rig.HostExists(peer::kSidecarName)) << "no metadata left to keep";
    EXPECT_TRUE(rig.Failed(rig.pc->Delete(Item("DH0:Work", "file")), error::NotFound));
    EXPECT_TRUE(rig.Failed(rig.pc->Delete(kWork), error::NotPossible));
}

TEST(PeerCommands, RenameMoveNewDrawerAndCreateCarryTheMetadata)
{
    PeerRig rig;
    fs::create_directories(rig.work / "Target");
    WriteWholeFile(rig.Host("file"), "content");
    WriteWholeFile(rig.Host("other"), "other");
    rig.Start();
    ASSERT_EQ(rig.pc->SetAttributes(Item("DH0:Work", "file"), 0x20, "travels along"), S_OK);

    EXPECT_TRUE(rig.Failed(rig.pc->Rename(Item("DH0:Work", "file"), "Other"), error::Exists));
    EXPECT_TRUE(rig.Failed(rig.pc->Rename(Item("DH0:Work", "file"), "bad/name"), error::BadPath));
    EXPECT_EQ(rig.pc->Rename(Item("DH0:Work", "file"), "renamed"), S_OK);
    EXPECT_EQ(rig.pc->Rename(Item("DH0:Work", "renamed"), "Renamed"), S_OK) << "case only";

    const RemoteItem target = Drawer("DH0:Work", "Target");
    EXPECT_EQ(rig.pc->Move(Item("DH0:Work", "Renamed"), target), S_OK);
    EXPECT_EQ(ReadWholeFile(rig.Host("Target/Renamed")), "content");
    const auto moved = rig.Find(rig.List("DH0:Work/Target"), "Renamed");
    ASSERT_TRUE(moved);
    EXPECT_EQ(moved->protection, 0x20u);
    EXPECT_EQ(moved->comment, "travels along");

    WriteWholeFile(rig.Host("Renamed"), "in the way");
    EXPECT_TRUE(rig.Failed(rig.pc->Move(Item("DH0:Work", "Renamed"), target), error::Exists));
    EXPECT_TRUE(rig.Failed(rig.pc->Move(target, target), error::NotPossible));
    EXPECT_TRUE(rig.Failed(rig.pc->Move(Item("DH0:Work", "other"), Item("", "DF1:Disk")),
                           error::NotPossible))
        << "moves stay on their volume";

    EXPECT_EQ(rig.pc->NewDrawer(target), S_OK);
    EXPECT_EQ(rig.pc->NewDrawer(target), S_OK);
    EXPECT_EQ(rig.pc->NewDrawer(kWork), S_OK);
    EXPECT_TRUE(fs::is_directory(rig.work / "Target" / "Unnamed1"));
    EXPECT_TRUE(fs::is_directory(rig.work / "Target" / "Unnamed2"));
    EXPECT_TRUE(fs::is_directory(rig.work / "Unnamed1"));

    // Creating a drawer sends no reply; the second time merges into the first.
    ScriptedQuestions ask;
    OverwriteAnswer answer = OverwriteAnswer::Yes;
    DirectoryEntry record;
    record.kind = ItemKind::Drawer;
    record.name = "DH0:Work/New";
    record.protection = 0x10;
    for (int time = 0; time < 2; ++time) {
        ASSERT_EQ(rig.pc->CreateObject(record, kWork, answer, 1, ask, nullptr), S_OK);
        EXPECT_EQ(rig.LastError().code, 0u);
    }
    const auto created = rig.Find(rig.List("DH0:Work"), "New");
    ASSERT_TRUE(created);
    EXPECT_EQ(created->kind, ItemKind::Drawer);
    EXPECT_EQ(created->protection, 0x10u);
    record.name = "DH0:Work/Missing/New";
    EXPECT_TRUE(rig.Failed(rig.pc->CreateObject(record, kWork, answer, 1, ask, nullptr),
                           error::NotFound, S_OK));

    // A volume is renamed by its name, with or without the device part.
    EXPECT_EQ(rig.pc->Rename(kWork, "DH0:Projects"), S_OK);
    EXPECT_TRUE(rig.Find(rig.List(""), "DH0:Projects"));
    EXPECT_TRUE(rig.Failed(rig.pc->Rename(Item("", "DH0:Projects"), "Has:Colon"), error::BadTitle));
    EXPECT_TRUE(rig.Failed(rig.pc->Rename(Item("", "DF0"), "Name"), error::DiskNotMounted));
}

// Attributes are kept by appending to the sidecar: a line a kill cut short neither counts nor
// swallows the next one, and the lines a change supersedes do not pile up.
TEST(PeerCommands, AttributesReplaceOrKeepTheCommentAndOutlastACutShortSidecar)
{
    PeerRig rig;
    WriteWholeFile(rig.Host("kept"), "k");
    WriteWholeFile(rig.Host("busy"), "b");
    WriteWholeFile(rig.Host(peer::kSidecarName),
                   "# drovemark metadata 1\n"
                   "I\tkept\t00000010\t-\t-\t-\t-\t-\twhole\n"
                   "I\tkept\t00000000\t-\t-\t-\t-\t-\twho");
    rig.Start();
    const auto comment = [&](const std::string& name) {
        const auto entry = rig.Find(rig.List("DH0:Work"), name);
        return entry ? entry->comment + "/" + std::to_string(entry->protection) : "missing";
    };
    EXPECT_EQ(comment("kept"), "whole/16");
    const RemoteItem busy = Item("DH0:Work", "busy");
    ASSERT_EQ(rig.pc->SetAttributes(busy, 0x0F, "first"), S_OK);
    EXPECT_EQ(comment("kept"), "whole/16");
    EXPECT_EQ(comment("busy"), "first/15");
    ASSERT_EQ(rig.pc->SetAttributes(busy, 0x40 | (1u << 30), "ignored"), S_OK);
    EXPECT_EQ(comment("busy"), "first/64");
    EXPECT_TRUE(rig.Failed(rig.pc->SetAttributes(busy, 0, std::string(80, 'c')), error::TooLarge));
    EXPECT_TRUE(rig.Failed(rig.pc->SetAttributes(kWork, 0, ""), error::NotPossible));

    const std::string longComment(70, 'c');
    for (int change = 0; change < 400; ++change)
        ASSERT_EQ(rig.pc->SetAttributes(busy, change & 0xF, longComment), S_OK);
    EXPECT_EQ(comment("busy"), longComment + "/15");
    EXPECT_EQ(comment("kept"), "whole/16");
    EXPECT_LT(fs::file_size(rig.Host(peer::kSidecarName)), 24u << 10);
    ASSERT_EQ(rig.pc->SetAttributes(busy, 0, ""), S_OK);
    EXPECT_EQ(comment("busy"), "/0");
}

TEST(PeerCommands, CopyAsksBeforeReplacingAndCopiesDrawersWholeAndCountingReportsTheTotals)
{
    PeerRig rig;
    fs::create_directories(rig.work / "Src" / "Sub");
    fs::create_directories(rig.work / "Dest");
    WriteWholeFile(rig.Host("Src/a"), "alpha");
    WriteWholeFile(rig.Host("Src/Sub/b"), PatternBytes(70000));
    rig.Start();
    ASSERT_EQ(rig.pc->SetAttributes(Item("DH0:Work/Src", "a"), 0x30, "copied comment"), S_OK);
    const RemoteItem source = Drawer("DH0:Work", "Src");
    const RemoteItem dest = Drawer("DH0:Work", "Dest");
    ScriptedQuestions ask;
    OverwriteAnswer answer = OverwriteAnswer::Yes;
    bool declined = false;

    ASSERT_EQ(rig.pc->Copy(source, dest, answer, 1, ask, &declined), S_OK);
    EXPECT_TRUE(ask.asked.empty());
    EXPECT_TRUE(ReadWholeFile(rig.Host("Dest/Src/Sub/b")) == PatternBytes(70000));
    const auto copied = rig.Find(rig.List("DH0:Work/Dest/Src"), "a");
    ASSERT_TRUE(copied);
    EXPECT_EQ(copied->protection, 0x30u);
    EXPECT_EQ(copied->comment, "copied comment");

    // Copying again meets the copy: the PC is asked about the folder and may decline.
    WriteWholeFile(rig.Host("Src/a"), "changed");
    ask.answers = {OverwriteAnswer::No, OverwriteAnswer::Yes};
    ASSERT_EQ(rig.pc->Copy(source, dest, answer, 1, ask, &declined), S_OK);
    EXPECT_TRUE(declined);
    EXPECT_EQ(ReadWholeFile(rig.Host("Dest/Src/a")), "alpha");
    ASSERT_EQ(rig.pc->Copy(source, dest, answer, 1, ask, &declined), S_OK);
    EXPECT_FALSE(declined);
    EXPECT_EQ(ReadWholeFile(rig.Host("Dest/Src/a")), "changed");
    EXPECT_EQ(ask.asked, (std::vector<std::string> {"Src", "Src"}));
    EXPECT_EQ(ask.messages[0], UINT(IDS_OVERWRITE_FOLDER));

    // Into itself, onto itself, from nowhere: refused before anything is asked.
    ask.asked.clear();
    EXPECT_TRUE(
        rig.Failed(rig.pc->Copy(source, Drawer("DH0:Work/Src", "Sub"), answer, 1, ask, nullptr),
                   error::NotPossible, E_FAIL));
    EXPECT_TRUE(rig.Failed(rig.pc->Copy(Item("DH0:Work/Src", "a"), source, answer, 1, ask, nullptr),
                           error::NotPossible, E_FAIL));
    EXPECT_TRUE(rig.Failed(rig.pc->Copy(Item("DH0:Work", "none"), dest, answer, 1, ask, nullptr),
                           error::NotFound, E_FAIL));
    EXPECT_TRUE(ask.asked.empty());

    // Across volumes, and out of an image.
    ASSERT_EQ(rig.pc->Copy(Item("DH0:Work/Src", "a"), Item("", "DF1:Disk", ItemKind::Floppy),
                           answer, 1, ask, nullptr),
              S_OK);
    EXPECT_EQ(ReadWholeFile((rig.disk / "a").string()), "changed");
    ASSERT_EQ(rig.pc->Copy(Item("", "::kick.rom"), dest, answer, 1, ask, nullptr), S_OK);
    EXPECT_TRUE(ReadWholeFile(rig.Host("Dest/kick.rom")) == ReadWholeFile(rig.rom));

    // Counting reports in steps, the totals without the sidecars, and stops when asked.
    fs::create_directories(rig.work / "Tree" / "A" / "Deep");
    fs::create_directories(rig.work / "Tree" / "B");
    WriteWholeFile(rig.Host("Tree/one"), PatternBytes(100));
    WriteWholeFile(rig.Host("Tree/A/two"), PatternBytes(2000));
    WriteWholeFile(rig.Host("Tree/A/Deep/three"), PatternBytes(30000));
    ASSERT_EQ(rig.pc->SetAttributes(Item("DH0:Work/Tree", "one"), 0, "sidecars are not counted"),
              S_OK);

    uint64_t bytes = 0, drawers = 0, files = 0;
    int steps = 0;
    ASSERT_EQ(rig.pc->CountContents(Drawer("DH0:Work", "Tree")), S_OK);
    uint32_t b = 0, d = 0, f = 0;
    for (bool finished = false; !finished; steps += finished ? 0 : 1) {
        ASSERT_EQ(rig.pc->ReadProgress(b, d, f, finished, false), S_OK);
        bytes += finished ? 0 : b, drawers += finished ? 0 : d, files += finished ? 0 : f;
    }
    EXPECT_GE(steps, 2);
    EXPECT_EQ(bytes, 32100u);
    EXPECT_EQ(drawers, 3u);
    EXPECT_EQ(files, 3u);

    // A single file counts as itself; a stop ends the count with nothing more sent.
    ASSERT_EQ(rig.pc->CountContents(Item("DH0:Work/Tree", "one")), S_OK);
    bool finished = false;
    ASSERT_EQ(rig.pc->ReadProgress(b, d, f, finished, true), S_OK);
    EXPECT_EQ(b, 100u);
    EXPECT_EQ(f, 1u);
    EXPECT_EQ(rig.List("DH0:Work/Tree").size(), 3u) << "the link carries on after a stop";

    ASSERT_EQ(rig.pc->CountContents(Drawer("DH0:Work", "gone")), S_OK);
    EXPECT_TRUE(rig.Failed(rig.pc->ReadProgress(b, d, f, finished, false), error::NotFound));
}

TEST(PeerCommands, FormatAsksErasesInStepsAndNamesTheDisk)
{
    PeerRig rig;
    fs::create_directories(rig.work / "Drawer");
    WriteWholeFile(rig.Host("Drawer/file"), "data");
    rig.Start();
    ScriptedQuestions ask;
    uint32_t steps = 0;
    ask.formatAnswer = false;
    EXPECT_EQ(rig.pc->Format(kWork, "Blank", 0x444F5301, true, false, steps, ask), kCancelled);
    EXPECT_EQ(ask.asked, std::vector<std::string> {"Work"});
    EXPECT_TRUE(rig.HostExists("Drawer/file"));

    ask.formatAnswer = true;
    ASSERT_EQ(rig.pc->Format(kWork, "Blank", 0x444F5301, true, false, steps, ask), S_OK);
    EXPECT_EQ(steps, 2u);
    for (uint32_t step = 0; step < steps; ++step)
        ASSERT_EQ(rig.pc->FormatStep(false), S_OK);
    EXPECT_EQ(rig.LastError().code, 0u);
    EXPECT_EQ(std::distance(fs::directory_iterator(rig.work), fs::directory_iterator()), 1)
        << "only the sidecar with the new name is left";
    EXPECT_EQ(ReadWholeFile((rig.outside / "secret").string()), "outside the served folders");
    EXPECT_TRUE(rig.List("DH0:Blank").empty());

    // A full format may be stopped; the erase has happened, the new name has not.
    WriteWholeFile(rig.Host("again"), "x");
    const RemoteItem blank = Item("", "DH0:Blank", ItemKind::Volume);
    ASSERT_EQ(rig.pc->Format(blank, "Other", 0x444F5300, false, false, steps, ask), S_OK);
    EXPECT_EQ(steps, peer::RequestHandler::kFullFormatSteps);
    EXPECT_EQ(rig.pc->FormatStep(false), S_OK);
    EXPECT_EQ(rig.pc->FormatStep(true), kCancelled);
    EXPECT_FALSE(rig.HostExists("again"));
    EXPECT_TRUE(rig.Find(rig.List(""), "DH0:Blank"));

    const RemoteItem floppy = Item("", "DF1:Disk", ItemKind::Floppy);
    EXPECT_TRUE(
        rig.Failed(rig.pc->Format(Item("", "DF0"), "X", 0x444F5300, true, false, steps, ask),
                   error::DiskNotMounted, E_FAIL));
    EXPECT_TRUE(rig.Failed(
        rig.pc->Format(floppy, std::string(31, 'n'), 0x444F5300, true, false, steps, ask),
        error::BadTitle, E_FAIL));

    // Only volumes marked formattable can be formatted; no question is asked.
    PeerRig fixed;
    fixed.AddStandardDrives(false);
    fixed.Start();
    const auto volume = fixed.Find(fixed.List(""), "DH0:Work");
    ASSERT_TRUE(volume);
    EXPECT_FALSE(volume->protection & peer::kFormattableBit);
    ask.asked.clear();
    EXPECT_TRUE(fixed.Failed(fixed.pc->Format(kWork, "X", 0x444F5300, true, false, steps, ask),
                             error::DiskWriteProtected, E_FAIL));
    EXPECT_TRUE(ask.asked.empty());
}

TEST(PeerCommands, PathsNeverLeaveTheServedFolder)
{
    PeerRig rig;
    WriteWholeFile(rig.Host("inside"), "inside");
    ASSERT_EQ(symlink(rig.outside.c_str(), rig.Host("link").c_str()), 0);
    ASSERT_EQ(symlink((rig.outside / "secret").c_str(), rig.Host("secret-link").c_str()), 0);
    rig.Start();
    const std::string outsider = (rig.outside / "secret").string();
    const std::vector<std::string> escapes = {
        "DH0:Work/../outside/secret",
        "DH0:Work/./inside",
        "DH0:Work//inside",
        "DH0:Work/link/secret",
        "DH0:Work/secret-link",
        outsider,
        "DH0:Work/",
        "DH0:Work/.drovemark-meta",
        "../outside/secret",
        "DH0:Work/inside/..",
        "Work:inside",
        ":DF1:disk.adf/x",
    };
    for (const std::string& path : escapes) {
        SCOPED_TRACE(path);
        std::string content;
        EXPECT_EQ(rig.Download(Item("", path), content), kCancelled);
        const uint32_t code = rig.LastError().code;
        EXPECT_TRUE(code == error::BadPath || code == error::NotFound ||
                    code == error::VolumeNotMounted)
            << code;
        EXPECT_EQ(rig.pc->Delete(Item("", path)), kCancelled);
        EXPECT_EQ(rig.Upload(path, "escaped"), E_FAIL);
        EXPECT_EQ(rig.Upload(path + "/new", "escaped"), E_FAIL);
        rig.List(path, kCancelled);
    }
    EXPECT_EQ(rig.pc->Rename(Item("DH0:Work", "inside"), "../escaped"), kCancelled);
    EXPECT_EQ(rig.pc->Move(Item("DH0:Work", "inside"), Drawer("DH0:Work", "link")), kCancelled);
    EXPECT_EQ(ReadWholeFile(outsider), "outside the served folders");
    EXPECT_EQ(std::distance(fs::directory_iterator(rig.outside), fs::directory_iterator()), 1);
    EXPECT_EQ(ReadWholeFile(rig.Host("inside")), "inside");
}

TEST(PeerCommands, AWrongPasswordKeyOrAnUnknownCommandIsRefused)
{
    const uint32_t key = ComputeCrc32("Vormantic");
    {
        PeerRig rig;
        rig.Start(key + 1, key);
        rig.List("", kCancelled);
        const test::ServerError reason = rig.LastError();
        EXPECT_EQ(reason.code, error::Handshake);
        EXPECT_EQ(reason.text, "The handshaking failed.");
        EXPECT_TRUE(rig.Failed(rig.Upload("DH0:Work/file", "x"), error::Handshake, E_FAIL));
        EXPECT_TRUE(rig.Failed(rig.pc->NewDrawer(kWork), error::Handshake));
        EXPECT_TRUE(fs::is_empty(rig.work));
    }
    {
        PeerRig rig;
        rig.Start(std::nullopt, key);  // identifies as over a serial line: no key at all
        rig.List("", kCancelled);
        EXPECT_EQ(rig.LastError().code, error::Handshake);
    }
    {
        PeerRig rig;
        rig.Start(key, key);
        EXPECT_EQ(rig.List("").size(), 6u);
        EXPECT_EQ(rig.verdict, peer::KeyVerdict::Accepted);

        // Unknown commands are refused with their reason.
        ASSERT_EQ(rig.pc->WritePacket(PacketType(150)), S_OK);
        EXPECT_EQ(rig.pc->WaitForAnswer(0), kCancelled);
        const test::ServerError reason = rig.LastError();
        EXPECT_EQ(reason.code, error::UnknownCommand);
        EXPECT_EQ(reason.text, "Unknown command.");

        // Late answers are ignored; a stream nobody asked for is stopped.
        ASSERT_EQ(rig.pc->WritePacket(PacketType::Ok), S_OK);
        EXPECT_EQ(rig.pc->BeginFileWrite(10), kCancelled);
        EXPECT_EQ(rig.pc->FinishSetup(), S_OK);
        EXPECT_EQ(rig.LastError().code, 0u);
    }
}

}  // namespace
}  // namespace dm
