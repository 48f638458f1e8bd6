// The HTTP client transport: raw request building, the exchange through the
// send callable, and the conversion of the raw response.
#include "http/http_client.h"

#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "formats/json_reader.h"
#include "util/format.h"

namespace Zarn {
namespace {

constexpr char kUserAgentHeader[] = "user-agent";

bool EqualsIgnoringAsciiCase(std::string_view text, std::string_view lowerCase) noexcept {
  if (text.size() != lowerCase.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != lowerCase[i]) return false;
  }
  return true;
}

bool HasUserAgent(const HttpHeaders& headers) noexcept {
  for (const auto& header : headers) {
    if (EqualsIgnoringAsciiCase(header.first, kUserAgentHeader)) return true;
  }
  return false;
}

// The core's text: count bytes at data, nothing when data is null.
std::string HostBytes(const char* data, uint32_t count) {
  return data == nullptr ? std::string() : std::string(data, count);
}

std::string HostText(const char* text) { return text == nullptr ? std::string() : std::string(text); }

// Gives the raw response back to the core once the transport is done with
// it, on every path out of the exchange.
struct ReleaseHostResponse {
  void operator()(HostHttpResponse* response) const noexcept {
    if (response->release != nullptr) response->release(response);
  }
};

}  // namespace

std::string HttpRequestDescription(int32_t method, const std::string& url) {
  return Format("%1 %2", HttpMethodName(HttpMethodFromCode(method)), url);
}

HttpRequest MakeGetRequest(const std::string& url, int32_t option, const HttpHeaders& headers) {
  HttpRequest request;
  request.method = static_cast<int32_t>(HttpMethod::Get);
  request.url = url;
  request.headers = headers;
  request.option = option;
  request.flag = true;
  return request;
}

HttpResponse ConvertHttpResponse(const HostHttpResponse& raw, const std::string& description) {
  HttpResponse response;
  const int32_t error = raw.error;
  response.error = error == -1 || error == 0 || error == 1 || error == 2 ? error : 1;
  if (response.error != 0) {
    response.message = HostBytes(raw.body, raw.bodyLength);
    return response;
  }

  response.status = raw.status;
  if (raw.headerCount != 0 && raw.headers == nullptr) {
    response.decodeFailed = 1;
    response.message = Format("Error converting response for %1: headers was null", description);
  } else {
    for (uint32_t i = 0; i < raw.headerCount; ++i) {
      const HostHttpHeader& header = raw.headers[i];
      response.headers.emplace(HostText(header.name), HostText(header.value));
    }
  }

  // Decides decodeFailed on its own: a readable body clears a header failure
  // (whose message stays).
  if (raw.body == nullptr || raw.bodyLength == 0) {
    response.decodeFailed = 1;
    response.message = Format("Error converting response for %1: body was empty", description);
    return response;
  }
  const std::string text(raw.body, raw.bodyLength);
  BindingResult parsed = ParseJson(text);
  if (parsed.Succeeded()) {
    response.body.TakeFrom(parsed);
    response.decodeFailed = 0;
  } else {
    response.decodeFailed = 1;
    response.message = Format("Error deserializing json response for %1: %2", description, parsed.Error());
    response.body.SetString(std::string_view(text));
  }
  return response;
}

HttpResponse SendHttpExchange(const HttpRequest& request, const std::string& userAgent, const HttpSendFunction& send) {
  HostHttpRequest raw;
  std::memset(&raw, 0, sizeof raw);
  raw.method = static_cast<int32_t>(HttpMethodFromCode(request.method));
  raw.url = request.url.c_str();
  raw.option = request.option;
  raw.flag = request.flag ? 1 : 0;

  const bool addUserAgent = !HasUserAgent(request.headers);
  std::vector<HostHttpHeader> headers;
  headers.reserve(request.headers.size() + (addUserAgent ? 1 : 0));
  if (addUserAgent) headers.push_back({kUserAgentHeader, userAgent.c_str()});
  for (const auto& header : request.headers) headers.push_back({header.first.c_str(), header.second.c_str()});
  raw.headers = headers.data();
  raw.headerCount = static_cast<uint32_t>(headers.size());

  raw.body = request.body.data();
  raw.bodyLength = static_cast<uint32_t>(request.body.size());

  HostHttpResponse answer;
  std::memset(&answer, 0, sizeof answer);
  static_cast<void>(send(&answer, &raw));
  const std::unique_ptr<HostHttpResponse, ReleaseHostResponse> held(&answer);
  return ConvertHttpResponse(answer, HttpRequestDescription(request.method, request.url));
}

}  // namespace Zarn
