// Names of the HTTP method codes.
#include "http/http_method.h"

namespace Zarn {

const char* HttpMethodName(HttpMethod method) noexcept {
  switch (method) {
    case HttpMethod::Delete:
      return "DELETE";
    case HttpMethod::Get:
      return "GET";
    case HttpMethod::Head:
      return "HEAD";
    case HttpMethod::Options:
      return "OPTIONS";
    case HttpMethod::Patch:
      return "PATCH";
    case HttpMethod::Post:
      return "POST";
    case HttpMethod::Put:
      return "PUT";
    case HttpMethod::None:
    case HttpMethod::Custom:
      break;
  }
  return "";
}

}  // namespace Zarn
