// Owning handles for ID lists from the shell allocator, so that no caller frees by hand.
#pragma once

#include "shell/id_list.h"

#include <memory>

namespace dm {

struct IdListDeleter {
    void operator()(ITEMIDLIST* list) const { FreeIdList(list); }
};
using UniqueIdList = std::unique_ptr<ITEMIDLIST, IdListDeleter>;

inline UniqueIdList CloneUnique(const ITEMIDLIST* list)
{
    return UniqueIdList(list ? CloneIdList(list) : nullptr);
}

}  // namespace dm
