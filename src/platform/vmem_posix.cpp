// 64 KiB blocks on POSIX. mmap promises only page alignment, but fresh
// mappings often land on a 64 KiB boundary anyway (the kernel places them
// next to earlier ones), so one plain 64 KiB mapping is tried first. Only
// when it is not aligned is it dropped for a larger one whose ends are
// trimmed, which keeps the 64 KiB alignment VirtualAlloc gives.
#include "platform/vmem.h"

#include <sys/mman.h>
#include <unistd.h>

namespace Zarn::Platform {
namespace {

void* Map(void* hint, size_t size) noexcept {
  void* mapped = mmap(hint, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return mapped == MAP_FAILED ? nullptr : mapped;
}

bool IsAligned(const void* address) noexcept {
  return (reinterpret_cast<uintptr_t>(address) & (kVirtualBlockSize - 1)) == 0;
}

}  // namespace

void* ReserveBlock() noexcept {
  void* mapped = Map(nullptr, kVirtualBlockSize);
  if (mapped == nullptr) return nullptr;
  if (IsAligned(mapped)) return mapped;
  // Mappings tend to go downwards: the aligned block just below this one is
  // often free, and asking for it costs one call.
  const uintptr_t below = reinterpret_cast<uintptr_t>(mapped) & ~(uintptr_t{kVirtualBlockSize} - 1);
  munmap(mapped, kVirtualBlockSize);
  if (void* hinted = Map(reinterpret_cast<void*>(below), kVirtualBlockSize)) {
    if (IsAligned(hinted)) return hinted;
    munmap(hinted, kVirtualBlockSize);
  }
  // Enough room that an aligned block surely lies inside; trim the rest.
  const auto page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  const size_t span = 2 * kVirtualBlockSize - (page < kVirtualBlockSize ? page : 0);
  mapped = Map(nullptr, span);
  if (mapped == nullptr) return nullptr;
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
