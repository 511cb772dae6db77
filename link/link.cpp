#include "link/link.h"

#include <algorithm>

namespace dm {

Link::Link(LinkKind kind, std::string_view name) : kind_(kind), name_(name.substr(0, 79)) {}

HRESULT Link::DiscardArrived()
{
    // A link that cannot tell what has arrived drains the slow way, waiting included.
    Discard();
    return S_FALSE;
}

void Link::SetPendingError(UINT id, std::string_view insert)
{
    pendingErrorId_ = id;
    errorInsert_ = insert;
    hasInsert_ = true;
}

std::optional<uint32_t> Link::TimeoutMs(uint32_t count, int32_t hint) const
{
    if (hint == kNoTimeout)
        return std::nullopt;
    if (hint < 0)
        return uint32_t(-int64_t(hint));
    const uint32_t basis = hint == 0 ? count : uint32_t(hint);
    // Products beyond 32 bits are cut to the largest wait rather than wrapping to a short one.
    const double product = double(float(basis) * msPerByte_);
    uint64_t t = product >= 4294967295.0 ? 0xFFFFFFFFull : uint64_t(product);
    t = std::max<uint64_t>(t, minTimeoutMs_);
    if (hint > 0)
        t += t / 8;
    return uint32_t(std::min<uint64_t>(t, 0xFFFFFFFFull));
}

}  // namespace dm
