// Heap queries on the Windows C runtime.
#include "platform/heap.h"

#include <malloc.h>
#include <string.h>

namespace Zarn::Platform {

size_t HeapBlockSize(void* block) noexcept { return block ? _msize(block) : 0; }

char* HeapStrDup(const char* text) noexcept { return _strdup(text); }

}  // namespace Zarn::Platform
