// Line faults of each class, injected into what one side writes, and the operations every
// server of ours is driven with under them: uploads, downloads and listings that must complete
// with every byte right or fail, never complete wrong.
#pragma once

#include "peer/fault_link.h"
#include "support/server_rig.h"

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

namespace dm::test {

struct FaultClass {
    const char* id;
    const char* name;
    peer::FaultPlan plan;
    // Completed operations of every 3 * rounds on the emulated Amiga, with the PC's line
    // recovery. Where the Amiga follows a packet of the PC's with nothing but its answer word
    // (an upload's FileEnd), the PC cannot tell a lost answer from a lost packet: the emulated
    // Amiga answers a request for a lost answer only while it is writing, and it would take
    // the packet twice if it were sent again. Such an exchange fails, cleanly. Our own server
    // answers such a request also while it waits for the next command: it completes them all.
    double floor;
};

inline std::vector<FaultClass> LineFaults()
{
    peer::FaultPlan damaged, lost, dropped, late, bits, all;
    damaged.damagedAnswers = all.damagedAnswers = 0.02;
    lost.lostAnswers = all.lostAnswers = 0.01;
    dropped.drop = all.drop = 0.005;
    late.delayMs = all.delayMs = 30;
    bits.bits = all.bits = 1e-5;
    for (peer::FaultPlan* plan : {&damaged, &lost, &dropped, &late, &bits, &all})
        plan->incoming = false;
    return {
        {"None", "no faults", {}, 1.0},
        {"DamagedAnswers", "answer words damaged 2%", damaged, 1.0},
        {"LostAnswers", "answer words lost 1%", lost, 0.8},
        {"LostWrites", "writes lost 0.5%", dropped, 0.8},
        {"LateWrites", "late writes up to 30 ms", late, 1.0},
        {"BitErrors", "bit errors 1e-5", bits, 1.0},
        {"All", "all of them at once", all, 0.8},
    };
}

inline void PrepareFaultRun(ServerRig& rig, const std::string& content)
{
    WriteWholeFile(rig.Host("source"), content);
    fs::create_directories(rig.work / "many");
    for (int i = 0; i < 60; ++i)
        WriteWholeFile(rig.Host("many/entry-with-a-longish-name-" + std::to_string(i)), "x");
}

struct Tally {
    int attempted = 0;
    int completed = 0;
    double seconds = 0;
};

// Uploads, downloads and listings in turn; a completed one must be right to the byte.
inline Tally RunOperations(ServerRig& rig, size_t rounds, const std::string& content)
{
    Tally tally;
    const auto start = std::chrono::steady_clock::now();
    for (size_t i = 0; i < rounds; ++i) {
        const std::string name = "up" + std::to_string(i);
        tally.attempted += 3;
        if (SUCCEEDED(rig.Upload("DH0:Work/" + name, content))) {
            ++tally.completed;
            EXPECT_TRUE(ReadWholeFile(rig.Host(name)) == content) << "upload " << i;
        }
        std::string copy;
        const HRESULT downloaded = rig.Download(Item("DH0:Work", "source"), copy);
        uint32_t code = 0;
        std::string text;
        rig.pc->GetLastError(code, text);
        if (SUCCEEDED(downloaded)) {
            ++tally.completed;
            EXPECT_TRUE(copy == content) << "download " << i;
        }
        size_t listed = 0;
        const HRESULT hr = rig.pc->ListDirectory("DH0:Work/many", [&](const DirectoryEntry&) {
            ++listed;
            return true;
        });
        rig.pc->GetLastError(code, text);
        if (SUCCEEDED(hr)) {
            ++tally.completed;
            EXPECT_EQ(listed, 60u) << "listing " << i;
        }
    }
    tally.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // Failed uploads leave nothing: every file present is whole.
    for (const auto& entry : fs::directory_iterator(rig.work)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("up", 0) == 0) {
            EXPECT_TRUE(ReadWholeFile(entry.path().string()) == content) << name;
        }
    }
    return tally;
}

}  // namespace dm::test
