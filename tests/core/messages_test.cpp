#include "core/messages.h"

#include "core/module.h"
#include "resources/string_ids.h"

#include <gtest/gtest.h>

namespace dm {
namespace {

TEST(MessageText, InsertsTextsAndNumbersInTheirFormsAndRefusesMissingOnesAndStrings)
{
    EXPECT_EQ(FormatMessageText("Cannot copy %1.", {"Work/x"}), "Cannot copy Work/x.");
    EXPECT_EQ(FormatMessageText("%2 then %1", {"a", "b"}), "b then a");
    EXPECT_EQ(FormatMessageText("%1!d! items", {-3}), "-3 items");
    EXPECT_EQ(FormatMessageText("0x%1!X!", {0x8007000Eu}), "0x8007000E");
    EXPECT_EQ(FormatMessageText("%1!u!", {4294967295u}), "4294967295");
    EXPECT_EQ(FormatMessageText("%1!08x!", {0xBEEFu}), "0000beef");
    EXPECT_EQ(FormatMessageText("%1!d!%% used", {50}), "50% used");
    // Line breaks come out as CR LF, as the system formatter writes them.
    EXPECT_EQ(FormatMessageText("line\nnext", {}), "line\r\nnext");
    EXPECT_EQ(FormatMessageText("line\r\nnext%nend", {}), "line\r\nnext\r\nend");
    // Formats that need more inserts than given are refused.
    EXPECT_FALSE(FormatMessageText("%1 and %2", {"only one"}));
    EXPECT_FALSE(FormatMessageText("%1", {}));
    EXPECT_FALSE(FormatMessageText("%1!d", {1}));  // unterminated form

    // The string table's texts, formed with their inserts; missing ones give nothing.
    EXPECT_EQ(FormatStringById(IDS_FORMAT_WARNING, ThisModule(), {"DF0:", "880KB", 42}),
              "WARNING!\r\nDo you really wish to format the disk in device DF0: (880KB capacity, "
              "42% used) and lose all its data?");
    EXPECT_EQ(LoadStringById(IDS_APP_NAME, ThisModule(), 5), "Drove");
    EXPECT_FALSE(LoadStringById(9999, ThisModule()));
    EXPECT_FALSE(FormatStringById(9999, ThisModule(), {"x"}));
}

}  // namespace
}  // namespace dm
