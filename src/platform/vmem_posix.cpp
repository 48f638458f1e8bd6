// 64 KiB blocks on POSIX: mmap gives only page alignment, so map twice the
// size and trim both ends to keep the 64 KiB alignment VirtualAlloc gives.
#include "platform/vmem.h"

#include <sys/mman.h>

namespace Zarn::Platform {

void* ReserveBlock() noexcept {
  const size_t span = 2 * kVirtualBlockSize;
  void* mapped = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) return nullptr;
  const uintptr_t start = reinterpret_cast<uintptr_t>(mapped);
  const uintptr_t aligned = (start + kVirtualBlockSize - 1) & ~(uintptr_t{kVirtualBlockSize} - 1);
  const size_t head = aligned - start;
  const size_t tail = span - head - kVirtualBlockSize;
  if (head != 0) munmap(mapped, head);
  if (tail != 0) munmap(reinterpret_cast<void*>(aligned + kVirtualBlockSize), tail);
  return reinterpret_cast<void*>(aligned);
}

void ReleaseBlock(void* block) noexcept {
  if (block != nullptr) munmap(block, kVirtualBlockSize);
}

}  // namespace Zarn::Platform
