// The API description block handed to the core in the load record: three
// arrays of packed records (functions, types, events) with their counts.
#pragma once

#include <cstddef>
#include <cstdint>

#include "plugin/abi.h"

namespace Zarn {

#pragma pack(push, 1)
// Owned by the plugin; the plugin object keeps the copy the core reads.
struct HostApiDescriptionBlock {
  const void* functions;  // first function (or route) record; null when none
  uint32_t functionCount;
  const void* types;      // first type record
  uint32_t typeCount;
  const void* events;     // first event record
  uint32_t eventCount;
};
#pragma pack(pop)

ZARN_ASSERT_RECORD(HostApiDescriptionBlock);
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(HostApiDescriptionBlock) == 24);
static_assert(offsetof(HostApiDescriptionBlock, types) == 8);
static_assert(offsetof(HostApiDescriptionBlock, eventCount) == 20);
#endif

}  // namespace Zarn
