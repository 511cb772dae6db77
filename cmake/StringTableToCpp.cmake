# Turns the STRINGTABLE of a resource script into a C++ table (cmake -P, INPUT and OUTPUT set).
file(STRINGS ${INPUT} lines ENCODING UTF-8)
set(body "")
foreach(line IN LISTS lines)
  if(line MATCHES "^[ \t]*(IDS_[A-Za-z0-9_]+)[ \t]*,[ \t]*\"(.*)\"[ \t]*$")
    set(id ${CMAKE_MATCH_1})
    set(text "${CMAKE_MATCH_2}")
    # Resource scripts double a quote; C++ escapes it. Other escapes mean the same in both.
    string(REPLACE "\"\"" "\\\"" text "${text}")
    string(APPEND body "    {${id}, \"${text}\"},\n")
  endif()
endforeach()
file(WRITE ${OUTPUT}.tmp
"// Generated from resources/strings.rc; do not edit.
#include \"core/string_table.h\"
#include \"resources/string_ids.h\"

#include <algorithm>
#include <iterator>

namespace dm {
namespace {
const StringTableEntry kStringTable[] = {
${body}};
}  // namespace

const char* FindStringTableText(UINT id)
{
    const auto found = std::find_if(std::begin(kStringTable), std::end(kStringTable),
                                    [id](const StringTableEntry& e) { return e.id == id; });
    return found == std::end(kStringTable) ? nullptr : found->text;
}
}  // namespace dm
")
file(COPY_FILE ${OUTPUT}.tmp ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.tmp)
