// An allocator that counts what is outstanding and can be told to fail one allocation.
#pragma once

#include "shell/shell_allocator.h"

#include <cstdlib>
#include <set>

namespace dm {

class CountingAllocator final : public IdAllocator {
public:
    // `failAt` is the 1-based allocation that returns null; 0 never fails.
    explicit CountingAllocator(int failAt = 0) : failAt_(failAt) {}
    ~CountingAllocator()
    {
        for (void* block : live_)
            std::free(block);
    }

    void* Allocate(size_t bytes) override
    {
        if (++calls_ == failAt_)
            return nullptr;
        void* block = std::malloc(bytes ? bytes : 1);
        live_.insert(block);
        return block;
    }

    void Free(void* block) override
    {
        if (!block)
            return;
        if (live_.erase(block) == 0)
            ++strayFrees_;
        else
            std::free(block);
    }

    size_t Outstanding() const { return live_.size(); }
    int StrayFrees() const { return strayFrees_; }

private:
    int failAt_;
    int calls_ = 0;
    int strayFrees_ = 0;
    std::set<void*> live_;
};

}  // namespace dm
