// The two texts of the browser's status bar for the shown or selected items.
#pragma once

#include <shtypes.h>

#include <string>
#include <vector>

namespace dm {

struct StatusTexts {
    std::string count;  // "3 object(s)" or "1 object(s) selected"
    std::string size;   // total size of the files, or a drive's free space and capacity
};

StatusTexts MakeStatusTexts(const std::vector<const ITEMIDLIST*>& items, bool selected);

}  // namespace dm
