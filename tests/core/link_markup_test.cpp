#include "core/link_markup.h"

#include <gtest/gtest.h>

namespace dm {
namespace {

TEST(LinkMarkup, WordsThenOneLinkShowWordsAndLinkTextWithOnlyTheLinkTextClickable)
{
    const LinkMarkup parsed = ParseLinkMarkup("See |the page|https://example.org/x| now.");
    EXPECT_EQ(parsed.display, "See the page now.");
    ASSERT_EQ(parsed.links.size(), 1u);
    EXPECT_EQ(parsed.links[0].first, 4u);
    EXPECT_EQ(parsed.links[0].last, 11u);
    EXPECT_EQ(parsed.links[0].target, "https://example.org/x");

    // Two bars are one bar, also inside a target; the next link starts after it.
    const LinkMarkup bars = ParseLinkMarkup("a||b |c|d||e| |f|g|");
    EXPECT_EQ(bars.display, "a|b c f");
    ASSERT_EQ(bars.links.size(), 2u);
    EXPECT_EQ(bars.links[0].target, "d|e");
    EXPECT_EQ(bars.links[1].first, 6u);
    EXPECT_EQ(bars.links[1].last, 6u);

    // For controls that count CR LF as one character, the link positions follow.
    const LinkMarkup control = ParseLinkMarkup("line\r\n|go|t|", true);
    EXPECT_EQ(control.display, "line\ngo");
    ASSERT_EQ(control.links.size(), 1u);
    EXPECT_EQ(control.links[0].first, 5u);
    EXPECT_EQ(ParseLinkMarkup("line\r\n|go|t|").links.at(0).first, 6u);
}

TEST(LinkMarkup, TextEndingInsideALinkOrWithALoneBarOpensNothing)
{
    for (const char* markup : {"text |link", "text |link|targ", "text |", "|", "x|l|"}) {
        const LinkMarkup parsed = ParseLinkMarkup(markup);
        EXPECT_TRUE(parsed.links.empty()) << markup;
        EXPECT_LE(parsed.display.size(), std::string_view(markup).size());
    }
    EXPECT_EQ(ParseLinkMarkup("text |link|targ").display, "text link");
    // Empty link text or target: nothing to click, nothing to open.
    EXPECT_TRUE(ParseLinkMarkup("||x|||").links.empty());
    EXPECT_TRUE(ParseLinkMarkup("a |l||| b").links.empty());
    EXPECT_EQ(SingleLinkMarkup("", "https://x/"), "");
    EXPECT_EQ(SingleLinkMarkup("Home", ""), "");
    EXPECT_EQ(ParseLinkMarkup(SingleLinkMarkup("A|B", "t")).links.at(0).target, "t");
}

}  // namespace
}  // namespace dm
