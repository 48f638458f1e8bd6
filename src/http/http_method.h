// HTTP method codes, shared by the route table and the HTTP client transport.
// The codes are the ones the core uses in its request and route records.
#pragma once

#include <cstdint>

namespace Zarn {

// 0 stands for "no method" (a route that accepts any); 8 for a method whose
// name travels as a separate text.
enum class HttpMethod : int32_t {
  None = 0,
  Delete = 1,
  Get = 2,
  Head = 3,
  Options = 4,
  Patch = 5,
  Post = 6,
  Put = 7,
  Custom = 8,
};

// The method for a code received from outside: the code itself when it is
// 1 to 8, otherwise None.
constexpr HttpMethod HttpMethodFromCode(int32_t code) noexcept {
  return code >= 1 && code <= 8 ? static_cast<HttpMethod>(code) : HttpMethod::None;
}

// "DELETE", "GET", "HEAD", "OPTIONS", "PATCH", "POST" or "PUT" for codes 1 to
// 7; "" for None, Custom and any other code. Static text.
const char* HttpMethodName(HttpMethod method) noexcept;

}  // namespace Zarn
