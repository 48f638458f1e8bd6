#include "remoting/host_routes.h"

#include <cstring>
#include <new>

#include "plugin/memory.h"
#include "remoting/dispatch.h"
#include "remoting/remoting_registry.h"

namespace Zarn {

const char kEmptyStatusText[] = "";

namespace {

// An owned copy, or null when memory ran out.
char* CopyText(std::string_view text) noexcept {
  auto* copy = static_cast<char*>(Memory::Allocate(text.size() + 1));
  if (copy == nullptr) return nullptr;
  std::memcpy(copy, text.data(), text.size());
  copy[text.size()] = '\0';
  return copy;
}

void FailResponse(HostRouteResponse& response, std::string_view message, int32_t status) noexcept {
  ReleaseRouteResponse(&response);
  response.release = ReleaseRouteResponse;
  response.result.errorText = CopyText(message);
  response.result.failed = 1;
  response.status = status;
  response.statusText = kEmptyStatusText;
}

}  // namespace

void WriteResponse(HostRouteResponse& response, RouteResult& result, const BindingRegistry* registry) {
  if (result.Succeeded()) {
    ToHostValue(response.result.value, result.value, registry);
  } else {
    ReleaseHostValue(response.result.value);
    Memory::Free(response.result.errorText);
    response.result.errorText = CopyText(result.Error());
    response.result.failed = 1;
  }
  response.formatFlag = result.formatFlag;
  response.formatCode = result.formatCode >= 1 && result.formatCode <= 3 ? result.formatCode : 0;
  response.status = result.status;
  response.statusText = kEmptyStatusText;
  if (!result.statusText.empty()) {
    char* copy = CopyText(result.statusText);
    if (copy != nullptr) response.statusText = copy;
  }
  if (!result.headers.empty()) {
    const size_t count = result.headers.size();
    auto* pairs = static_cast<HostRouteHeader*>(Memory::Allocate(count * sizeof(HostRouteHeader)));
    if (pairs != nullptr) {
      uint32_t written = 0;
      for (const auto& [name, value] : result.headers) {
        pairs[written].name = CopyText(name);
        pairs[written].value = CopyText(value);
        ++written;
      }
      response.headers = pairs;
      response.headerCount = written;
    }
  }
  if (result.bodyStream != nullptr) {
    response.bodyLength = result.bodyStream->Size();
    response.bodyStream = result.bodyStream.release();
    response.bodyRead = ReadRouteBody;
    response.bodyRelease = ReleaseRouteBody;
  }
}

void PLUGIN_CALL ReleaseRouteResponse(HostRouteResponse* response) {
  if (response == nullptr) return;
  ReleaseHostValue(response->result.value);
  Memory::Free(response->result.errorText);
  if (response->statusText != nullptr && response->statusText != kEmptyStatusText) {
    Memory::Free(const_cast<char*>(response->statusText));
  }
  if (response->headers != nullptr) {
    for (uint32_t i = 0; i < response->headerCount; ++i) {
      Memory::Free(const_cast<char*>(response->headers[i].name));
      Memory::Free(const_cast<char*>(response->headers[i].value));
    }
    Memory::Free(response->headers);
  }
  // The body stream is the core's from the moment it was handed over; it
  // goes through the body release function only.
  std::memset(response, 0, sizeof(*response));
}

uint32_t PLUGIN_CALL ReadRouteBody(void* stream, void* buffer, uint32_t offset, uint32_t size) {
  if (stream == nullptr) return 0;
  try {
    return static_cast<RouteBodyStream*>(stream)->Read(buffer, offset, size);
  } catch (...) {
    return 0;
  }
}

void PLUGIN_CALL ReleaseRouteBody(void* stream) { delete static_cast<RouteBodyStream*>(stream); }

uint32_t PLUGIN_CALL RouteCallback(HostRouteResponse* response, const HostRouteRequest* request) {
  if (response == nullptr) return 0;
  const auto* entry = request != nullptr ? static_cast<const HostRouteEntry*>(request->userData) : nullptr;
  if (entry == nullptr || entry->binding == nullptr) {
    if (response->release != ReleaseRouteResponse) std::memset(response, 0, sizeof(*response));
    FailResponse(*response, "Invalid function", 404);
    return 0;
  }
  try {
    DispatchRoute(*response, *request, *entry->binding);
  } catch (const std::bad_alloc&) {
    FailResponse(*response, "Out of memory", 500);
  } catch (...) {
    FailResponse(*response, "Internal error", 500);
  }
  return 0;
}

}  // namespace Zarn
