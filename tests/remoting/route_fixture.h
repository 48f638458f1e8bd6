// A small plugin-like owner with routes of every kind, published through
// its registry, and a way to call a route the way the core does: a request
// record in, a response record out, read by offset and released.
#pragma once

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "plugin/memory.h"
#include "remoting/remoting_registry.h"
#include "values/host_value.h"
#include "values/value_text.h"

namespace Zarn::testing_routes {

// The byte offset of a field: the record's documented 32-bit offset in
// 32-bit builds (the target), the compiler's own in the 64-bit tools build,
// where pointers are wider.
#define ZARN_AT(Type, field, offset32) (sizeof(void*) == 4 ? size_t{offset32} : offsetof(Type, field))

template <typename T>
T ReadAt(const void* base, size_t offset) {
  T value;
  std::memcpy(&value, static_cast<const unsigned char*>(base) + offset, sizeof(T));
  return value;
}

// What a response record said, in readable form.
struct Answer {
  bool failed = false;
  std::string error;  // the error text when failed
  std::string value;  // RenderValue of the result value
  int32_t status = 0;
  std::string statusText;
  std::vector<std::pair<std::string, std::string>> headers;
  int32_t formatCode = 0;
  uint8_t formatFlag = 0;
};

struct Call {
  std::string path;
  int32_t method = 2;
  std::vector<std::pair<std::string, std::string>> headers;
  const char* contentType = nullptr;
  std::string body;
  bool hasBody = false;
  const char* methodName = nullptr;
  int32_t requestId = 7;
  // Host arguments: name (null for positional) and a value to convert.
  std::vector<std::pair<const char*, HostValue>> arguments;
};

// Reads a response record by its offsets.
inline Answer ReadAnswer(const HostRouteResponse& response) {
  const void* base = &response;
  Answer answer;
  answer.failed = ReadAt<uint8_t>(base, ZARN_AT(HostRouteResponse, result.failed, 16)) != 0;
  if (const char* error = ReadAt<const char*>(base, ZARN_AT(HostRouteResponse, result.errorText, 12))) answer.error = error;
  BindingProperty value;
  HostResult status{};
  const HostValue record = ReadAt<HostValue>(base, ZARN_AT(HostRouteResponse, result.value, 0));
  if (FromHostValue(status, value, record, "response")) answer.value = RenderValue(value);
  ReleaseHostValue(status.value);
  Memory::Free(status.errorText);
  answer.formatFlag = ReadAt<uint8_t>(base, ZARN_AT(HostRouteResponse, formatFlag, 17));
  answer.formatCode = ReadAt<int32_t>(base, ZARN_AT(HostRouteResponse, formatCode, 18));
  answer.status = ReadAt<int32_t>(base, ZARN_AT(HostRouteResponse, status, 22));
  if (const char* text = ReadAt<const char*>(base, ZARN_AT(HostRouteResponse, statusText, 26))) answer.statusText = text;
  const auto* pairs = ReadAt<const HostRouteHeader*>(base, ZARN_AT(HostRouteResponse, headers, 30));
  const auto count = ReadAt<uint32_t>(base, ZARN_AT(HostRouteResponse, headerCount, 34));
  for (uint32_t i = 0; i < count; ++i) answer.headers.emplace_back(pairs[i].name, pairs[i].value);
  return answer;
}

// Calls the route record's callback with call, reads the answer and lets
// the response go through the release function stored in it.
inline Answer CallRoute(const HostRouteRecord& route, const Call& call) {
  std::vector<HostRouteHeader> headers;
  for (const auto& header : call.headers) headers.push_back({header.first.c_str(), header.second.c_str()});
  std::vector<HostRouteArgument> arguments;
  for (const auto& argument : call.arguments) arguments.push_back({argument.first, argument.second});
  HostRouteRequest request{};
  request.method = call.method;
  request.path = call.path.c_str();
  request.arguments = arguments.empty() ? nullptr : arguments.data();
  request.argumentCount = static_cast<uint32_t>(arguments.size());
  request.userData = ReadAt<const void*>(&route, ZARN_AT(HostRouteRecord, routeUserData, 8));
  request.headers = headers.empty() ? nullptr : headers.data();
  request.headerCount = static_cast<uint32_t>(headers.size());
  request.contentType = call.contentType;
  request.body = call.hasBody ? reinterpret_cast<const uint8_t*>(call.body.data()) : nullptr;
  request.bodyLength = static_cast<uint32_t>(call.body.size());
  request.requestId = call.requestId;
  request.methodName = call.methodName;

  HostRouteResponse response{};
  const auto callback = ReadAt<HostRouteCallback>(&route, ZARN_AT(HostRouteRecord, callback, 61));
  callback(&response, &request);
  Answer answer = ReadAnswer(response);
  const auto release = ReadAt<HostResponseRelease>(&response, ZARN_AT(HostRouteResponse, release, 58));
  if (release != nullptr) release(&response);
  return answer;
}

// The route record of a function in a published block; null when absent.
inline const HostRouteRecord* FindRouteRecord(const HostApiDescriptionBlock& block, std::string_view name) {
  for (auto* record = static_cast<const HostRouteRecord*>(block.functions); record != nullptr;
       record = ReadAt<const HostRouteRecord*>(record, ZARN_AT(HostRouteRecord, next, 0))) {
    const char* recordName = ReadAt<const char*>(record, ZARN_AT(HostRouteRecord, name, 12));
    if (recordName != nullptr && name == recordName) return record;
  }
  return nullptr;
}

}  // namespace Zarn::testing_routes
