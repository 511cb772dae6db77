// A link that damages what passes through it, for testing recovery: bit errors, lost or damaged
// answer words, lost writes and late writes, drawn from a seeded generator so that a failing run
// can be repeated.
#pragma once

#include "link/link.h"

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <string_view>

namespace dm::peer {

struct FaultPlan {
    double bits = 0;       // probability of each bit being flipped in what this side writes
    bool incoming = true;  // ... and in what it reads
    double answers = 0;    // probability of a 4-byte write (an answer word) being lost or damaged
    double lostAnswers = 0;     // ... being lost
    double damagedAnswers = 0;  // ... being damaged
    double drop = 0;       // probability of any write being lost
    uint32_t delayMs = 0;  // each write waits up to this long

    bool Any() const
    {
        return bits > 0 || answers > 0 || lostAnswers > 0 || damagedAnswers > 0 || drop > 0 ||
               delayMs > 0;
    }
};

// "bits=1e-4,answers=0.01,lost=0.01,damaged=0.02,drop=0.001,delay=20"; false with the reason when it does not parse.
bool ParseFaults(std::string_view text, FaultPlan& plan, std::string& error);

class FaultLink : public Link {
public:
    struct Counts {
        uint64_t flippedBits = 0;
        uint64_t lostAnswers = 0;
        uint64_t damagedAnswers = 0;
        uint64_t droppedWrites = 0;
    };

    FaultLink(std::unique_ptr<Link> inner, const FaultPlan& plan, uint64_t seed);

    HRESULT Open() override { return inner_->Open(); }
    HRESULT Close() override { return inner_->Close(); }
    HRESULT Read(void* buffer, uint32_t count, int32_t hint) override;
    HRESULT Write(const void* buffer, uint32_t count, int32_t hint) override;
    HRESULT Discard() override { return inner_->Discard(); }
    HRESULT DiscardArrived() override { return inner_->DiscardArrived(); }
    bool StartsEmpty() const override { return inner_->StartsEmpty(); }
    uint32_t Openings() const override { return inner_->Openings(); }
    bool GetHandshakeKey(uint32_t& key) override { return inner_->GetHandshakeKey(key); }

    // Shared, so that the counts outlive the link (a session owns and destroys its link).
    std::shared_ptr<const Counts> Injected() const { return counts_; }
    Link& Inner() { return *inner_; }
    // Waits by this basis instead of the inner link's, so that a test can shorten them.
    void SetTimeouts(uint32_t minTimeoutMs, float msPerByte)
    {
        SetTimeoutBasis(minTimeoutMs, msPerByte);
        ownWaits_ = true;
    }

private:
    void FlipBits(uint8_t* data, size_t size);
    uint64_t NextGap();
    bool Chance(double probability);

    std::unique_ptr<Link> inner_;
    FaultPlan plan_;
    std::mt19937_64 random_;
    int32_t Hint(uint32_t count, int32_t hint) const;

    uint64_t gap_ = 0;  // clean bits before the next flip
    bool ownWaits_ = false;
    std::shared_ptr<Counts> counts_ = std::make_shared<Counts>();
};

}  // namespace dm::peer
