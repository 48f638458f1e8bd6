// Calls to the core's own REST API (HostApi entry 0, CallApi): the request
// and response records, the result a call is reduced to, and the telemetry
// sender built on it.
//
// Ownership: the plugin builds the request record, its path and its
// parameter array, and they stay valid until CallApi returns; the plugin
// releases the parameters' values afterwards. The response record is the
// plugin's memory, zeroed before the call and filled by the core; what its
// pointers address is the core's and goes through the record's cleanup
// function, which the plugin calls once when it is done.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "plugin/abi.h"
#include "values/host_value.h"

namespace Zarn {

class PluginCore;

#pragma pack(push, 1)
// One parameter of an API request.
struct HostApiParameter {
  uint32_t reserved;  // 0
  HostValue value;    // owned by the plugin; released after the call
};

// Built by the plugin, zero-filled; valid during CallApi only.
struct HostApiRequest {
  int32_t method;                      // HttpMethod code 1-8, else 0
  const char* path;                    // NUL-terminated resource path, e.g. "/telemetry/v1/events/startup"
  const HostApiParameter* parameters;  // parameterCount entries
  uint32_t parameterCount;
  uint8_t reserved0[24];               // 0
  uint32_t pluginHandle;               // HostContext::pluginHandle
  uint32_t reserved1;                  // 0
};

// Zeroed by the plugin, filled by the core during CallApi. It has the layout
// of the route response record (remoting/host_routes.h); the plugin reads
// only errorText, status and cleanup.
struct HostApiResponse {
  HostValue value;       // not read
  const char* errorText; // NUL-terminated; null when the call succeeded
  uint8_t failed;        // not read
  uint8_t formatFlag;    // not read
  int32_t formatCode;    // not read
  int32_t status;        // HTTP status of a failed call
  const char* statusText;
  const void* headers;
  uint32_t headerCount;
  const void* bodyRead;
  const void* bodyRelease;
  uint64_t bodyLength;
  const void* bodyStream;
  void(PLUGIN_CALL* cleanup)(HostApiResponse* self);  // may be null; frees what the core put here
};
#pragma pack(pop)

ZARN_ASSERT_RECORD(HostApiParameter);
ZARN_ASSERT_RECORD(HostApiRequest);
ZARN_ASSERT_RECORD(HostApiResponse);
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(HostApiParameter) == 16 && offsetof(HostApiParameter, value) == 4);
static_assert(sizeof(HostApiRequest) == 48);
static_assert(offsetof(HostApiRequest, path) == 4);
static_assert(offsetof(HostApiRequest, parameters) == 8);
static_assert(offsetof(HostApiRequest, parameterCount) == 12);
static_assert(offsetof(HostApiRequest, reserved0) == 16);
static_assert(offsetof(HostApiRequest, pluginHandle) == 40);
static_assert(offsetof(HostApiRequest, reserved1) == 44);
static_assert(sizeof(HostApiResponse) == 62);
static_assert(offsetof(HostApiResponse, errorText) == 12);
static_assert(offsetof(HostApiResponse, failed) == 16);
static_assert(offsetof(HostApiResponse, status) == 22);
static_assert(offsetof(HostApiResponse, bodyLength) == 46);
static_assert(offsetof(HostApiResponse, cleanup) == 58);
#endif

// What a call to the core's API comes down to.
struct ApiCallResult {
  int32_t status = 0;   // 0 on success; the core's status, or 400 when nothing was sent
  std::string message;  // empty on success
  bool failed = false;
};

// A value that is available from the moment the future exists: the result
// of an operation that completed before it returned. Waiting never blocks.
// (The Windows toolchain's runtime has no std::future.)
template <typename T>
class ReadyFuture {
 public:
  ReadyFuture() = default;
  explicit ReadyFuture(T value) : value_(std::make_shared<T>(std::move(value))) {}

  // False only for a default-constructed future.
  bool valid() const noexcept { return value_ != nullptr; }
  // Returns at once; the value stays readable (unlike std::future::get).
  const T& get() const { return *value_; }
  void wait() const noexcept {}

 private:
  std::shared_ptr<const T> value_;
};

// The writing side of a ReadyFuture: set_value once, then get_future.
template <typename T>
class ReadyPromise {
 public:
  void set_value(T value) { value_ = std::move(value); }
  ReadyFuture<T> get_future() { return ReadyFuture<T>(std::move(value_)); }

 private:
  T value_{};
};

// Posts telemetry events through the core. Owned by its plugin, which
// replaces it at each connection.
class TelemetrySender {
 public:
  explicit TelemetrySender(PluginCore& plugin) noexcept : plugin_(&plugin) {}

  // POSTs payload (a native record of a registered type) to
  // "/telemetry/v1/events/" + eventName through the plugin's CallCoreApi.
  // Blocks during the call; the returned future is already satisfied.
  template <typename T>
  ReadyFuture<ApiCallResult> SendTelemetry(const std::string& eventName, const T& payload) const;

 private:
  PluginCore* plugin_;
};

}  // namespace Zarn
