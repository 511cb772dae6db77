// The small markup of link labels: "text |link text|target| more text". Two bars in a row are
// one literal bar. The markup comes from the string table and from callers that build it from
// outside text, so it is read strictly within its length: a link whose text or target is not
// closed before the end is no link at all.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace dm {

struct MarkupLink {
    size_t first = 0;  // first character of the link text in the display text
    size_t last = 0;   // its last character (inclusive)
    std::string target;
};

struct LinkMarkup {
    std::string display;
    std::vector<MarkupLink> links;
};

// `crlfAsOne`: the control counts CR LF as one character, so every CR LF is stored as LF to
// keep the link positions right.
LinkMarkup ParseLinkMarkup(std::string_view markup, bool crlfAsOne = false);

// The markup of one link alone; empty when either text is empty (the label then shows nothing).
std::string SingleLinkMarkup(std::string_view text, std::string_view target);

}  // namespace dm
