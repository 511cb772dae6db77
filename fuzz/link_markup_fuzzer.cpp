// Any markup, however it ends, gives links that lie inside the display text and have a target.
#include "core/link_markup.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view markup(reinterpret_cast<const char*>(data), size);
    for (bool crlfAsOne : {false, true}) {
        const dm::LinkMarkup parsed = dm::ParseLinkMarkup(markup, crlfAsOne);
        if (parsed.display.size() > size)
            std::abort();
        for (const dm::MarkupLink& link : parsed.links) {
            if (link.first > link.last || link.last >= parsed.display.size() || link.target.empty())
                std::abort();
        }
    }
    return 0;
}
