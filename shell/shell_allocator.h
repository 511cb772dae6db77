// Where item identifiers and ID lists live: the shell's task allocator on Windows (the shell
// frees what we hand it, and we free what it hands us), the C heap elsewhere. Tests substitute
// one that fails on purpose.
#pragma once

#include <cstddef>

namespace dm {

class IdAllocator {
public:
    virtual void* Allocate(size_t bytes) = 0;
    virtual void Free(void* block) = 0;  // null is ignored

protected:
    ~IdAllocator() = default;
};

IdAllocator& ShellAllocator();

}  // namespace dm
