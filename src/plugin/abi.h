// The binary interface between the core and the plugin: the export's load
// record, the plugin's entry table, the host context and the host's function
// table, and the memory statistics record.
//
// Every record is packed, 32-bit little-endian on the target: pointers and
// integers are 4 bytes. Every function uses the platform's C calling
// convention (PLUGIN_CALL) and receives its table's owner first. The 64-bit
// tools build keeps the field order with 8-byte pointers; exact offsets are
// asserted in 32-bit builds only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#if defined(_WIN32)
#define PLUGIN_CALL __cdecl
#define PLUGIN_EXPORT
#else
#define PLUGIN_CALL
#define PLUGIN_EXPORT __attribute__((visibility("default")))
#endif

#define ZARN_ASSERT_RECORD(Type) \
  static_assert(std::is_trivially_copyable_v<Type> && std::is_standard_layout_v<Type>, #Type)

namespace Zarn {

struct HostApi;
struct HostContext;
struct MemoryStatistics;
struct HostEvent;          // one delivered host event (plugin/host_events.h)
struct HostHttpRequest;    // outgoing HTTP exchange
struct HostHttpResponse;
struct HostApiRequest;     // the core's own REST API (plugin/core_api.h)
struct HostApiResponse;

#pragma pack(push, 1)

// Filled by the export. IN: the core's plugin-API version in the first three
// fields. OUT (only when the load succeeds; otherwise untouched): all seven.
struct PluginLoadRecord {
  uint32_t major;            // IN core major / OUT plugin major
  uint32_t minor;            // IN core minor / OUT plugin minor
  uint32_t patch;            // IN core patch / OUT plugin patch
  const void* entryTable;    // OUT: PluginEntryTable, inside the plugin object
  void* context;             // OUT: the plugin object, first argument of every entry
  const char* shortName;     // OUT: NUL-terminated, owned by the plugin object
  const void* description;   // OUT: 24-byte API description block, owned by the plugin
};

// The three functions the core calls, stored inside the plugin object.
struct PluginEntryTable {
  // Once, before any other call but the export. Returns 1 when the plugin is
  // ready. The context stays valid until Shutdown returns.
  uint8_t(PLUGIN_CALL* Initialize)(void* context, HostContext* host);
  // Once, last: tears the plugin down and destroys the object.
  void(PLUGIN_CALL* Shutdown)(void* context);
  // At any time, from any thread: fills the core-owned record.
  void(PLUGIN_CALL* GetMemoryStatistics)(void* context, MemoryStatistics* statistics);
};

// Owned by the core, kept by pointer for the plugin's lifetime.
struct HostContext {
  HostApi* api;
  uint32_t pluginHandle;  // passed back unchanged wherever the host asks for it
};

// Event callback given to Subscribe: called with the event record, which the
// core owns and which is valid during the call only.
using HostEventCallback = void(PLUGIN_CALL*)(const HostEvent* event);

// The core's functions. Each receives this table first; entries 0-8 return a
// 32-bit value the plugin does not inspect. Calls are synchronous.
struct HostApi {
  uint32_t(PLUGIN_CALL* CallApi)(HostApi* self, HostApiResponse* response,
                                 const HostApiRequest* request);                    // 0
  uint32_t(PLUGIN_CALL* SendHttpRequest)(HostApi* self, HostHttpResponse* response,
                                         const HostHttpRequest* request);           // 1
  uint32_t(PLUGIN_CALL* Entry2)(HostApi* self, uint32_t value);                     // 2
  uint32_t(PLUGIN_CALL* Subscribe)(HostApi* self, const char* eventName, uint32_t pluginHandle,
                                   HostEventCallback callback, void* userData,
                                   uint32_t flag);                                  // 3
  uint32_t(PLUGIN_CALL* Unsubscribe)(HostApi* self, const char* eventName,
                                     uint32_t pluginHandle);                        // 4
  uint32_t(PLUGIN_CALL* Entry5)(HostApi* self, uint32_t a, uint32_t b, uint32_t c, uint64_t d,
                                uint32_t e);                                        // 5
  uint32_t(PLUGIN_CALL* Entry6)(HostApi* self);                                     // 6
  uint32_t(PLUGIN_CALL* Entry7)(HostApi* self, const char* text, uint32_t value);   // 7
  uint32_t(PLUGIN_CALL* Entry8)(HostApi* self);                                     // 8
  void(PLUGIN_CALL* Log)(HostApi* self, int32_t level, const char* message);        // 9
};

// Filled by GetMemoryStatistics; owned by the core.
struct MemoryStatistics {
  uint64_t peakBytes;       // highest live bytes seen
  uint64_t peakBlocks;      // live blocks when peakBytes was last raised
  uint64_t bytesAllocated;  // cumulative
  uint64_t allocations;     // cumulative
  uint64_t bytesFreed;      // cumulative
  uint64_t frees;           // cumulative
  uint32_t reserved0;       // always 0
  uint32_t reserved1;       // always 0
};

// One HTTP header in the arrays of both HTTP records.
struct HostHttpHeader {
  const char* name;   // NUL-terminated; owned by the array's producer
  const char* value;  // NUL-terminated; owned by the array's producer
};

// An outgoing HTTP exchange, built by the plugin for SendHttpRequest. Every
// pointer borrows the plugin's memory and stays valid until SendHttpRequest
// returns; the core copies what it keeps.
struct HostHttpRequest {
  int32_t method;                 // HttpMethod code 1-8, else 0
  const char* url;                // NUL-terminated absolute URL
  const HostHttpHeader* headers;  // headerCount pairs
  uint32_t headerCount;
  const char* body;               // bodyLength bytes, not NUL-terminated
  uint32_t bodyLength;            // bytes
  int32_t option;                 // passed through to the core
  uint8_t flag;                   // 0 or 1; passed through to the core
  uint8_t padding[3];             // 0
};

// The answer to a HostHttpRequest: zeroed by the plugin, filled by the core
// during SendHttpRequest. What the pointers address is the core's; the plugin
// calls release (when not null) exactly once, after copying what it needs.
struct HostHttpResponse {
  int32_t error;                  // 0: exchange done; -1, 1, 2 (others read as 1): failed
  int32_t status;                 // HTTP status; meaningful when error is 0
  const HostHttpHeader* headers;  // headerCount pairs; may be null
  uint32_t headerCount;
  const char* body;               // bodyLength bytes: the body, or the error text when failed; may be null
  uint32_t bodyLength;            // bytes
  void(PLUGIN_CALL* release)(HostHttpResponse* self);  // may be null
};

#pragma pack(pop)

ZARN_ASSERT_RECORD(PluginLoadRecord);
ZARN_ASSERT_RECORD(PluginEntryTable);
ZARN_ASSERT_RECORD(HostContext);
ZARN_ASSERT_RECORD(HostApi);
ZARN_ASSERT_RECORD(MemoryStatistics);
ZARN_ASSERT_RECORD(HostHttpHeader);
ZARN_ASSERT_RECORD(HostHttpRequest);
ZARN_ASSERT_RECORD(HostHttpResponse);
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(HostHttpHeader) == 8 && offsetof(HostHttpHeader, value) == 4);
static_assert(sizeof(HostHttpRequest) == 32);
static_assert(offsetof(HostHttpRequest, url) == 4);
static_assert(offsetof(HostHttpRequest, headers) == 8);
static_assert(offsetof(HostHttpRequest, headerCount) == 12);
static_assert(offsetof(HostHttpRequest, body) == 16);
static_assert(offsetof(HostHttpRequest, bodyLength) == 20);
static_assert(offsetof(HostHttpRequest, option) == 24);
static_assert(offsetof(HostHttpRequest, flag) == 28);
static_assert(offsetof(HostHttpRequest, padding) == 29);
static_assert(sizeof(HostHttpResponse) == 28);
static_assert(offsetof(HostHttpResponse, status) == 4);
static_assert(offsetof(HostHttpResponse, headers) == 8);
static_assert(offsetof(HostHttpResponse, headerCount) == 12);
static_assert(offsetof(HostHttpResponse, body) == 16);
static_assert(offsetof(HostHttpResponse, bodyLength) == 20);
static_assert(offsetof(HostHttpResponse, release) == 24);
#endif
static_assert(sizeof(MemoryStatistics) == 56 && offsetof(MemoryStatistics, reserved0) == 48);
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(PluginLoadRecord) == 28);
static_assert(offsetof(PluginLoadRecord, entryTable) == 12);
static_assert(offsetof(PluginLoadRecord, context) == 16);
static_assert(offsetof(PluginLoadRecord, shortName) == 20);
static_assert(offsetof(PluginLoadRecord, description) == 24);
static_assert(sizeof(PluginEntryTable) == 12);
static_assert(sizeof(HostContext) == 8 && offsetof(HostContext, pluginHandle) == 4);
static_assert(sizeof(HostApi) == 40);
static_assert(offsetof(HostApi, Subscribe) == 12 && offsetof(HostApi, Log) == 36);
#endif

}  // namespace Zarn
