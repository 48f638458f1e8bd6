// Heap queries on glibc.
#include "platform/heap.h"

#include <malloc.h>
#include <string.h>

namespace Zarn::Platform {

size_t HeapBlockSize(void* block) noexcept { return block ? malloc_usable_size(block) : 0; }

char* HeapStrDup(const char* text) noexcept { return strdup(text); }

}  // namespace Zarn::Platform
