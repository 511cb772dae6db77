#include "peer/fault_link.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <optional>
#include <cstdlib>
#include <thread>
#include <vector>

namespace dm::peer {

namespace {

constexpr uint32_t kMaxDelayMs = 60000;

bool ParseNumber(std::string_view text, double& value)
{
    const std::string copy(text);
    char* end = nullptr;
    value = std::strtod(copy.c_str(), &end);
    return !copy.empty() && end == copy.c_str() + copy.size() && value == value;
}

}  // namespace

bool ParseFaults(std::string_view text, FaultPlan& plan, std::string& error)
{
    plan = FaultPlan {};
    while (!text.empty()) {
        const size_t comma = text.find(',');
        const std::string_view item = text.substr(0, comma);
        text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
        const size_t equals = item.find('=');
        double value = 0;
        if (equals == std::string_view::npos || !ParseNumber(item.substr(equals + 1), value)) {
            error = "fault \"" + std::string(item) + "\" is not name=number";
            return false;
        }
        const std::string_view name = item.substr(0, equals);
        if (name == "delay") {
            if (value < 0 || value > kMaxDelayMs) {
                error = "delay must be 0 to 60000 ms";
                return false;
            }
            plan.delayMs = uint32_t(value);
            continue;
        }
        double* rate = name == "bits"      ? &plan.bits
                       : name == "answers" ? &plan.answers
                       : name == "lost"    ? &plan.lostAnswers
                       : name == "damaged" ? &plan.damagedAnswers
                       : name == "drop"    ? &plan.drop
                                           : nullptr;
        if (!rate) {
            error = "unknown fault \"" + std::string(name) +
                    "\" (bits, answers, lost, damaged, drop, delay)";
            return false;
        }
        if (value < 0 || value > 1) {
            error = std::string(name) + " is a probability: 0 to 1";
            return false;
        }
        *rate = value;
    }
    return true;
}

FaultLink::FaultLink(std::unique_ptr<Link> inner, const FaultPlan& plan, uint64_t seed)
    : Link(inner->Kind(), inner->Name()), inner_(std::move(inner)), plan_(plan), random_(seed)
{
    SetTimeoutBasis(inner_->MinTimeoutMs(), inner_->MsPerByte());
    gap_ = NextGap();
}

bool FaultLink::Chance(double probability)
{
    return probability > 0 && std::uniform_real_distribution<double>(0, 1)(random_) < probability;
}

uint64_t FaultLink::NextGap()
{
    if (plan_.bits <= 0)
        return UINT64_MAX;
    if (plan_.bits >= 1)
        return 0;
    return std::geometric_distribution<uint64_t>(plan_.bits)(random_);
}

void FaultLink::FlipBits(uint8_t* data, size_t size)
{
    uint64_t left = uint64_t(size) * 8;
    uint64_t at = 0;
    while (gap_ < left) {
        at += gap_;
        data[at / 8] ^= uint8_t(1u << (at % 8));
        ++counts_->flippedBits;
        left -= gap_ + 1;
        ++at;
        gap_ = NextGap();
    }
    if (gap_ != UINT64_MAX)
        gap_ -= left;
}

int32_t FaultLink::Hint(uint32_t count, int32_t hint) const
{
    if (!ownWaits_)
        return hint;
    const std::optional<uint32_t> ms = TimeoutMs(count, hint);
    return ms ? -int32_t(std::min<uint32_t>(*ms, INT32_MAX)) : kNoTimeout;
}

HRESULT FaultLink::Read(void* buffer, uint32_t count, int32_t hint)
{
    const HRESULT hr = inner_->Read(buffer, count, Hint(count, hint));
    if (FAILED(hr)) {
        SetPendingError(inner_->PendingErrorId());
        return hr;
    }
    // Bit errors hit packet headers and data; answer words have their own fault class.
    if (count != 4 && plan_.incoming)
        FlipBits(static_cast<uint8_t*>(buffer), count);
    return hr;
}

HRESULT FaultLink::Write(const void* buffer, uint32_t count, int32_t hint)
{
    if (plan_.delayMs > 0) {
        const uint32_t wait = std::uniform_int_distribution<uint32_t>(0, plan_.delayMs)(random_);
        std::this_thread::sleep_for(std::chrono::milliseconds(wait));
    }
    if (Chance(plan_.drop)) {
        ++counts_->droppedWrites;
        return S_OK;
    }
    std::vector<uint8_t> bytes(static_cast<const uint8_t*>(buffer),
                               static_cast<const uint8_t*>(buffer) + count);
    if (count == 4) {
        bool lose = Chance(plan_.lostAnswers);
        bool damage = !lose && Chance(plan_.damagedAnswers);
        if (!lose && !damage && Chance(plan_.answers)) {
            lose = std::uniform_int_distribution<int>(0, 1)(random_) == 0;
            damage = !lose;
        }
        if (lose) {
            ++counts_->lostAnswers;
            return S_OK;
        }
        if (damage) {
            ++counts_->damagedAnswers;
            bytes[std::uniform_int_distribution<int>(0, 3)(random_)] ^= 0x5A;
        }
    }
    if (count != 4)
        FlipBits(bytes.data(), bytes.size());
    const HRESULT hr = inner_->Write(bytes.data(), count, Hint(count, hint));
    if (FAILED(hr))
        SetPendingError(inner_->PendingErrorId());
    return hr;
}

}  // namespace dm::peer
