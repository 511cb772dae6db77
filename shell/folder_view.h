// What a folder asks of the views attached to it: show its list again, and mark or unmark the
// row of a cut item. Implemented by the shell view.
#pragma once

#include <shtypes.h>

namespace dm {

class FolderView {
public:
    virtual void RefreshFromFolder() = 0;
    virtual void MarkCut(const ITEMIDLIST* item, bool cut) = 0;

protected:
    ~FolderView() = default;
};

}  // namespace dm
