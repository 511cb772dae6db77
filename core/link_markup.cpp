#include "core/link_markup.h"

namespace dm {

namespace {

enum class Part { Text, LinkText, Target };

}  // namespace

LinkMarkup ParseLinkMarkup(std::string_view markup, bool crlfAsOne)
{
    LinkMarkup result;
    Part part = Part::Text;
    MarkupLink pending;
    for (size_t i = 0; i < markup.size(); ++i) {
        const char c = markup[i];
        if (c == '|' && i + 1 < markup.size() && markup[i + 1] == '|') {
            ++i;
            if (part == Part::Target)
                pending.target.push_back('|');
            else
                result.display.push_back('|');
            continue;
        }
        if (c == '|') {
            if (part == Part::Text) {
                pending = MarkupLink {};
                pending.first = result.display.size();
                part = Part::LinkText;
            } else if (part == Part::LinkText) {
                part = Part::Target;
            } else {
                // A link without text has nothing to click; one without target opens nothing.
                if (result.display.size() > pending.first && !pending.target.empty()) {
                    pending.last = result.display.size() - 1;
                    result.links.push_back(std::move(pending));
                }
                pending = MarkupLink {};
                part = Part::Text;
            }
            continue;
        }
        if (crlfAsOne && c == '\r' && i + 1 < markup.size() && markup[i + 1] == '\n')
            continue;
        if (part == Part::Target)
            pending.target.push_back(c);
        else
            result.display.push_back(c);
    }
    // An unfinished link keeps its text as plain text and loses its target.
    return result;
}

std::string SingleLinkMarkup(std::string_view text, std::string_view target)
{
    if (text.empty() || target.empty())
        return {};
    auto escaped = [](std::string_view in) {
        std::string out;
        for (char c : in) {
            out.push_back(c);
            if (c == '|')
                out.push_back('|');
        }
        return out;
    };
    return "|" + escaped(text) + "|" + escaped(target) + "|";
}

}  // namespace dm
