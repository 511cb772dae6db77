#include "shell/shell_allocator.h"

#ifdef _WIN32
#  include "core/platform.h"

#  include <objbase.h>
#else
#  include <cstdlib>
#endif

namespace dm {

namespace {

// CoTaskMemAlloc is the allocator SHGetMalloc hands out, without the interface round trip.
class TaskAllocator final : public IdAllocator {
public:
    void* Allocate(size_t bytes) override
    {
#ifdef _WIN32
        return CoTaskMemAlloc(bytes);
#else
        return std::malloc(bytes);
#endif
    }

    void Free(void* block) override
    {
#ifdef _WIN32
        CoTaskMemFree(block);
#else
        std::free(block);
#endif
    }
};

}  // namespace

IdAllocator& ShellAllocator()
{
    static TaskAllocator allocator;
    return allocator;
}

}  // namespace dm
