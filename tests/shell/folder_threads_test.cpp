// One drawer re-read, renamed, enumerated and bound again from four threads at once, as
// Explorer windows and transfer workers do: nothing crashes, leaks, updates a view off its own
// thread, or shows a walk of the folder registry a folder that is not yet whole.
#include "core/live_objects.h"
#include "shell/amiga_folder.h"
#include "shell/folder_cache.h"
#include "shell/item_id.h"
#include "support/allocation_spy.h"
#include "support/amiga_folders.h"
#include "support/test_peer.h"

#include <gtest/gtest.h>
#include <wrl/client.h>

#include <atomic>
#include <thread>

using Microsoft::WRL::ComPtr;

namespace dm {
namespace {

// Walks the folder to its end; false when an item handed out was not a readable identifier.
bool Enumerate(IShellFolder* folder)
{
    ComPtr<IEnumIDList> walk;
    if (FAILED(folder->EnumObjects(nullptr, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, &walk)))
        return false;
    ITEMIDLIST* item = nullptr;
    bool readable = true;
    while (walk->Next(1, &item, nullptr) == S_OK) {
        UniqueIdList owned(item);
        readable = readable && ItemIdView(owned.get()).IsValid();
    }
    return readable;
}

std::vector<UniqueIdList> Clones(const std::vector<UniqueIdList>& items)
{
    std::vector<UniqueIdList> clones;
    for (const UniqueIdList& item : items)
        clones.push_back(CloneUnique(item.get()));
    return clones;
}

TEST(FolderThreads, AReReadARenameAndAnEnumerationOfOneDrawerRaceWithoutHarm)
{
    if (!test::UseTestPeer())
        GTEST_SKIP() << "runs under tools/with-peer";
    OleInitialize(nullptr);
    test::AllocationSpy& spy = test::AllocationSpy::Installed();
    const long objectsBefore = ModuleCounts::Objects();
    long outstandingAfterFirst = 0;
    // The first cycle leaves what the system keeps for good; the second must leave nothing more.
    for (int cycle = 0; cycle < 2; ++cycle) {
        // The root stays: it is the one folder at the root.
        ComPtr<IShellFolder> root = test::AmigaRoot(), work, docs;
        ASSERT_EQ(root->BindToObject(test::FindItem(root.Get(), "Work").get(), nullptr,
                                     IID_PPV_ARGS(&work)),
                  S_OK);
        UniqueIdList docsItem = test::FindItem(work.Get(), "Docs");
        ASSERT_TRUE(docsItem);
        ASSERT_EQ(work->BindToObject(docsItem.get(), nullptr, IID_PPV_ARGS(&docs)), S_OK);
        AmigaFolder& folder = *static_cast<AmigaFolder*>(docs.Get());
        ASSERT_TRUE(Enumerate(docs.Get()));
        test::CountingView view;
        folder.AttachView(&view);

        // Two listings that differ, so that every re-read changes what is shown.
        const std::vector<UniqueIdList> listed = folder.Items().CloneAll();
        ASSERT_EQ(listed.size(), 1u);
        std::vector<UniqueIdList> longer = Clones(listed);
        longer.push_back(MakeFolderItemId(folder, "extra.txt", ItemKind::File, 1, 0, 0, {}, ""));
        UniqueIdList asListed = CloneUnique(listed[0].get());
        UniqueIdList asRenamed(MakeItemId("DH0:Work/Docs", "renamed.txt", ItemKind::File,
                                          ItemIdView(asListed.get()).Size(), 0, 0,
                                          ItemIdView(asListed.get()).Modified(), ""));

        constexpr int kRounds = 3000;
        std::atomic<bool> unreadable {false}, halfMade {false}, bound {true};
        std::thread reread([&] {
            for (int i = 0; i < kRounds; ++i) {
                InstallReRead(folder, Clones(i % 2 ? longer : listed), S_OK);
                // Only the root is at the root: a folder being bound is not seen before its
                // path is written.
                std::vector<AmigaFolder*> roots = FolderRegistry::Matching("");
                if (roots.size() != 1)
                    halfMade = true;
                ReleaseFolders(roots);
            }
        });
        std::thread bind([&] {
            for (int i = 0; i < kRounds; ++i) {
                ComPtr<IShellFolder> again;
                if (FAILED(work->BindToObject(docsItem.get(), nullptr, IID_PPV_ARGS(&again))))
                    bound = false;
            }
        });
        std::thread rename([&] {
            for (int i = 0; i < kRounds; ++i) {
                RenameInFolders(i % 2 ? asRenamed.get() : asListed.get(),
                                i % 2 ? "letter.txt" : "renamed.txt");
                if (i % 100 == 0)
                    RefreshViewsByPath("DH0:Work/Docs");
            }
        });
        std::thread enumerate([&] {
            for (int i = 0; i < kRounds; ++i)
                if (!Enumerate(docs.Get()))
                    unreadable = true;
        });
        reread.join();
        rename.join();
        enumerate.join();
        bind.join();

        EXPECT_FALSE(unreadable) << "an enumeration handed out a broken identifier";
        EXPECT_TRUE(bound);
        EXPECT_FALSE(halfMade) << "the registry showed a folder before its path was written";
        EXPECT_EQ(view.offThread, 0) << "a view was updated off its own thread";
        EXPECT_GT(view.posted, 0) << "other threads' updates were not posted to the view";
        // The real thing, with the Amiga, through the connection lock, on top of the above.
        std::thread remote([&] { EXPECT_EQ(ReRead(folder), S_OK); });
        EXPECT_TRUE(Enumerate(docs.Get()));
        remote.join();
        EXPECT_EQ(folder.Items().Count(), 1u);
        folder.DetachView(&view);

        asListed.reset();
        asRenamed.reset();
        docsItem.reset();
        longer.clear();
        const_cast<std::vector<UniqueIdList>&>(listed).clear();
        docs.Reset();
        work.Reset();
        root.Reset();
        if (cycle == 0)
            outstandingAfterFirst = spy.outstanding;
        else
            EXPECT_EQ(spy.outstanding, outstandingAfterFirst) << "identifiers were leaked";
    }
    EXPECT_EQ(ModuleCounts::Objects(), objectsBefore);
    OleUninitialize();
}

}  // namespace
}  // namespace dm
