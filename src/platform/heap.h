// The C heap'\''s block-size query and string duplication.
// One portable declaration here; heap_win32.cpp calls the real Windows
// functions and heap_posix.cpp is our own stand-in for Linux.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Zarn::Platform {

// Usable size of a block from malloc/realloc/HeapStrDup (_msize,
// malloc_usable_size); 0 for null.
size_t HeapBlockSize(void* block) noexcept;

// strdup on the C heap (_strdup); null on failure. Free with free().
char* HeapStrDup(const char* text) noexcept;

}  // namespace Zarn::Platform
