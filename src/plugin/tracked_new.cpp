// The library's global operator new and delete, routed through the tracked
// allocator.
//
// This file is linked into the plugin's shared library (and into the test
// programs), never into the static framework library by itself. In the
// shared library the C++ runtime is linked statically and every symbol but
// the export is local, so the library's own code and every template or
// runtime function it carries (std::string growth included) allocate here,
// while the host process keeps its own operator new untouched.
#include <cstddef>
#include <cstdint>
#include <new>

#include "plugin/memory.h"

namespace {

void* AllocateOrThrow(std::size_t size) {
  if (size == 0) size = 1;
  for (;;) {
    if (void* block = Zarn::Memory::Allocate(size)) return block;
    std::new_handler handler = std::get_new_handler();
    if (handler == nullptr) throw std::bad_alloc();
    handler();
  }
}

// Over-aligned blocks keep the address returned by Allocate just before the
// aligned address.
void* AllocateAligned(std::size_t size, std::align_val_t alignment) noexcept {
  const std::size_t align = static_cast<std::size_t>(alignment);
  const std::size_t total = size + align + sizeof(void*);
  if (total < size) return nullptr;
  void* raw = Zarn::Memory::Allocate(total);
  if (raw == nullptr) return nullptr;
  const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(raw) + sizeof(void*);
  const std::uintptr_t aligned = (start + align - 1) & ~(static_cast<std::uintptr_t>(align) - 1);
  reinterpret_cast<void**>(aligned)[-1] = raw;
  return reinterpret_cast<void*>(aligned);
}

void FreeAligned(void* block) noexcept {
  if (block != nullptr) Zarn::Memory::Free(static_cast<void**>(block)[-1]);
}

}  // namespace

void* operator new(std::size_t size) { return AllocateOrThrow(size); }
void* operator new[](std::size_t size) { return AllocateOrThrow(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return Zarn::Memory::Allocate(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return Zarn::Memory::Allocate(size == 0 ? 1 : size);
}
void operator delete(void* block) noexcept { Zarn::Memory::Free(block); }
void operator delete[](void* block) noexcept { Zarn::Memory::Free(block); }
void operator delete(void* block, std::size_t) noexcept { Zarn::Memory::Free(block); }
void operator delete[](void* block, std::size_t) noexcept { Zarn::Memory::Free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { Zarn::Memory::Free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { Zarn::Memory::Free(block); }

void* operator new(std::size_t size, std::align_val_t alignment) {
  if (void* block = AllocateAligned(size, alignment)) return block;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
  if (void* block = AllocateAligned(size, alignment)) return block;
  throw std::bad_alloc();
}
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return AllocateAligned(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return AllocateAligned(size, alignment);
}
void operator delete(void* block, std::align_val_t) noexcept { FreeAligned(block); }
void operator delete[](void* block, std::align_val_t) noexcept { FreeAligned(block); }
void operator delete(void* block, std::size_t, std::align_val_t) noexcept { FreeAligned(block); }
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept { FreeAligned(block); }
void operator delete(void* block, std::align_val_t, const std::nothrow_t&) noexcept {
  FreeAligned(block);
}
void operator delete[](void* block, std::align_val_t, const std::nothrow_t&) noexcept {
  FreeAligned(block);
}
