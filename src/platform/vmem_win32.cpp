// 64 KiB blocks on Windows: VirtualAlloc's allocation granularity is 64 KiB.
#include "platform/vmem.h"

#include <windows.h>

namespace Zarn::Platform {

void* ReserveBlock() noexcept {
  return VirtualAlloc(nullptr, kVirtualBlockSize, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void ReleaseBlock(void* block) noexcept {
  if (block != nullptr) VirtualFree(block, 0, MEM_RELEASE);
}

}  // namespace Zarn::Platform
