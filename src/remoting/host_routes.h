// The records through which the core serves the plugin's routes: one route
// record per routed function in the export block, and for every request a
// request record the core fills and a response record the plugin fills.
//
// Ownership: route records, their location and text-list arrays and the
// host entries belong to the registry that published them. Everything a
// response record points to is allocated by the plugin and freed by the
// response-release function stored in the record, except the body stream,
// which the core destroys through the body release function.
#pragma once

#include <cstddef>
#include <cstdint>

#include "binding/host_description.h"
#include "plugin/abi.h"
#include "values/host_value.h"

namespace Zarn {

class RemotingRegistry;
struct RouteBinding;
struct RouteResult;
struct HostRouteRequest;
struct HostRouteResponse;

using HostRouteCallback = uint32_t(PLUGIN_CALL*)(HostRouteResponse* response, const HostRouteRequest* request);
using HostResponseRelease = void(PLUGIN_CALL*)(HostRouteResponse* response);
using HostBodyRead = uint32_t(PLUGIN_CALL*)(void* stream, void* buffer, uint32_t offset, uint32_t size);
using HostBodyRelease = void(PLUGIN_CALL*)(void* stream);

#pragma pack(push, 1)
struct HostRouteLocationEntry {
  const HostRouteLocationEntry* next;  // null in the last entry
  int32_t location;                    // ArgumentLocation 1 to 5, else 0
};

struct HostRouteTextListEntry {
  const HostRouteTextListEntry* next;  // null in the last entry
  const char* const* texts;
  uint32_t textCount;
};

// A function record (without its own link) followed by the route.
struct HostRouteRecord {
  const HostRouteRecord* next;  // the following record of the array; null in the last
  // The function's record, copied.
  uint32_t reserved;
  const void* routeUserData;  // the route's HostRouteEntry
  const char* name;
  const char* nameSpace;
  const HostArgumentRecord* arguments;
  uint32_t argumentCount;
  HostTypeTriple returns;
  const char* description;
  const char* help;
  uint8_t threadSafe;
  const char* async;
  const char* const* tags;
  uint32_t tagCount;
  // The route.
  HostRouteCallback callback;
  const HostRouteLocationEntry* locations;  // one per function argument
  const char* path;
  int32_t method;  // HttpMethod 1 to 8, else 0
  uint8_t flag;
  const HostRouteTextListEntry* textLists;
  uint32_t textListCount;
  const char* customMethod;
};

// {name, value}, both NUL-terminated.
struct HostRouteHeader {
  const char* name;
  const char* value;
};

struct HostRouteArgument {
  const char* name;  // null for a positional argument
  HostValue value;
};

// Filled by the core; read during the callback only.
struct HostRouteRequest {
  int32_t method;  // HttpMethod
  const char* path;
  const HostRouteArgument* arguments;
  uint32_t argumentCount;
  const void* userData;  // the route record's user data
  const HostRouteHeader* headers;
  uint32_t headerCount;
  const char* contentType;  // may be null
  const uint8_t* body;      // null when there is none
  uint32_t bodyLength;
  int32_t requestId;
  const char* methodName;  // read only for method 8; may be null
};

// Provided by the core, filled by the plugin.
struct HostRouteResponse {
  HostResult result;
  uint8_t formatFlag;
  int32_t formatCode;  // BodyFormat 1 to 3, else 0
  int32_t status;
  const char* statusText;  // never null once filled
  HostRouteHeader* headers;
  uint32_t headerCount;
  HostBodyRead bodyRead;        // set only with a body stream
  HostBodyRelease bodyRelease;  // set only with a body stream
  uint64_t bodyLength;
  void* bodyStream;
  HostResponseRelease release;  // frees what the plugin allocated and zeroes the record
};
#pragma pack(pop)

// What a route record's user data points to.
struct HostRouteEntry {
  RemotingRegistry* registry;
  const RouteBinding* binding;
};

ZARN_ASSERT_RECORD(HostRouteLocationEntry);
ZARN_ASSERT_RECORD(HostRouteTextListEntry);
ZARN_ASSERT_RECORD(HostRouteRecord);
ZARN_ASSERT_RECORD(HostRouteHeader);
ZARN_ASSERT_RECORD(HostRouteArgument);
ZARN_ASSERT_RECORD(HostRouteRequest);
ZARN_ASSERT_RECORD(HostRouteResponse);
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(HostRouteLocationEntry) == 8 && offsetof(HostRouteLocationEntry, location) == 4);
static_assert(sizeof(HostRouteTextListEntry) == 12);
static_assert(offsetof(HostRouteTextListEntry, texts) == 4 && offsetof(HostRouteTextListEntry, textCount) == 8);

static_assert(sizeof(HostRouteRecord) == 90);
static_assert(offsetof(HostRouteRecord, reserved) == 4);
static_assert(offsetof(HostRouteRecord, routeUserData) == 8);
static_assert(offsetof(HostRouteRecord, name) == 12);
static_assert(offsetof(HostRouteRecord, tagCount) == 57);
static_assert(offsetof(HostRouteRecord, callback) == 61);
static_assert(offsetof(HostRouteRecord, locations) == 65);
static_assert(offsetof(HostRouteRecord, path) == 69);
static_assert(offsetof(HostRouteRecord, method) == 73);
static_assert(offsetof(HostRouteRecord, flag) == 77);
static_assert(offsetof(HostRouteRecord, textLists) == 78);
static_assert(offsetof(HostRouteRecord, textListCount) == 82);
static_assert(offsetof(HostRouteRecord, customMethod) == 86);
// The copied part lies exactly where it lies in the function record.
static_assert(offsetof(HostRouteRecord, reserved) == offsetof(HostFunctionRecord, reserved));
static_assert(offsetof(HostRouteRecord, tagCount) == offsetof(HostFunctionRecord, tagCount));
static_assert(offsetof(HostRouteRecord, callback) == sizeof(HostFunctionRecord));

static_assert(sizeof(HostRouteHeader) == 8 && offsetof(HostRouteHeader, value) == 4);
static_assert(sizeof(HostRouteArgument) == 16 && offsetof(HostRouteArgument, value) == 4);

static_assert(sizeof(HostRouteRequest) == 48);
static_assert(offsetof(HostRouteRequest, path) == 4);
static_assert(offsetof(HostRouteRequest, arguments) == 8);
static_assert(offsetof(HostRouteRequest, argumentCount) == 12);
static_assert(offsetof(HostRouteRequest, userData) == 16);
static_assert(offsetof(HostRouteRequest, headers) == 20);
static_assert(offsetof(HostRouteRequest, headerCount) == 24);
static_assert(offsetof(HostRouteRequest, contentType) == 28);
static_assert(offsetof(HostRouteRequest, body) == 32);
static_assert(offsetof(HostRouteRequest, bodyLength) == 36);
static_assert(offsetof(HostRouteRequest, requestId) == 40);
static_assert(offsetof(HostRouteRequest, methodName) == 44);

static_assert(sizeof(HostRouteResponse) == 62);
static_assert(offsetof(HostRouteResponse, formatFlag) == 17);
static_assert(offsetof(HostRouteResponse, formatCode) == 18);
static_assert(offsetof(HostRouteResponse, status) == 22);
static_assert(offsetof(HostRouteResponse, statusText) == 26);
static_assert(offsetof(HostRouteResponse, headers) == 30);
static_assert(offsetof(HostRouteResponse, headerCount) == 34);
static_assert(offsetof(HostRouteResponse, bodyRead) == 38);
static_assert(offsetof(HostRouteResponse, bodyRelease) == 42);
static_assert(offsetof(HostRouteResponse, bodyLength) == 46);
static_assert(offsetof(HostRouteResponse, bodyStream) == 54);
static_assert(offsetof(HostRouteResponse, release) == 58);
#endif

// The route callback the route records carry: finds the route through the
// request's user data and dispatches the request. Never throws; returns 0.
uint32_t PLUGIN_CALL RouteCallback(HostRouteResponse* response, const HostRouteRequest* request);

// Frees everything the plugin allocated for response (not the body stream)
// and zeroes its 62 bytes. A null response is ignored.
void PLUGIN_CALL ReleaseRouteResponse(HostRouteResponse* response);

// The body stream's read and release functions.
uint32_t PLUGIN_CALL ReadRouteBody(void* stream, void* buffer, uint32_t offset, uint32_t size);
void PLUGIN_CALL ReleaseRouteBody(void* stream);

// Writes result into response (which the dispatcher cleared): the value or
// the error text, format flag and code, status and its text, headers, and
// the body stream, whose ownership passes to the response. Values are
// converted with registry's enumeration names.
void WriteResponse(HostRouteResponse& response, RouteResult& result, const BindingRegistry* registry);

// The shared empty status text; never freed.
extern const char kEmptyStatusText[];

}  // namespace Zarn
