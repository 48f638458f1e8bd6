// Host events as the core delivers them: the record its event callbacks
// receive, the event names of JSON-API resource events and the matching of
// resource paths against "*" patterns.
//
// The subscription operations and the two callbacks themselves belong to
// PluginCore (plugin/plugin_core.h), which owns the handler tables.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "plugin/abi.h"
#include "values/host_value.h"

namespace Zarn {

#pragma pack(push, 1)
// One event, passed by pointer to the callback given to Subscribe. Owned by
// the core and valid during the call only; the plugin copies what it keeps.
struct HostEvent {
  const char* name;   // NUL-terminated event name; may be null (then ignored)
  HostValue payload;  // borrowed: converted during the call, never released by the plugin
  uint32_t reserved;  // not read
  void* userData;     // the user data given to Subscribe: the PluginCore object
};
#pragma pack(pop)

ZARN_ASSERT_RECORD(HostEvent);
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(HostEvent) == 24);
static_assert(offsetof(HostEvent, payload) == 4);
static_assert(offsetof(HostEvent, reserved) == 16);
static_assert(offsetof(HostEvent, userData) == 20);
#endif

// The event name of the JSON-API resource events for path: "OnJsonApiEvent"
// and the path's non-empty segments joined by "_", keeping at most three
// segments, or five when the first is "arx-platform-config".
//   "/example/v1/items/extra" -> "OnJsonApiEvent_example_v1_items"
//   "" and "/"                -> "OnJsonApiEvent"
std::string JsonApiEventName(std::string_view path);

// Whether path matches pattern. Characters other than "*" match themselves;
// a "*" matches one run of characters inside a segment: it never crosses a
// "/" and never backs off, so "/a/*" needs at least one character after
// "/a/", and a "*" followed by anything but "/" (as in "/a/*x") never
// matches.
bool MatchPathPattern(std::string_view pattern, std::string_view path) noexcept;

}  // namespace Zarn
