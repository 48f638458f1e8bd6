// The HTTP client transport. The plugin has no network stack: a request is
// flattened into a HostHttpRequest that points into the request's own
// strings, handed to the core through a send callable (the plugin passes its
// SendHttpRequest), and the HostHttpResponse the core fills is turned into an
// HttpResponse whose body is already read as JSON. The transport knows
// nothing of the host beyond that callable, so it builds and tests alone.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>

#include "http/http_method.h"
#include "plugin/abi.h"
#include "values/binding_property.h"

namespace Zarn {

// Header names and values, several values per name allowed.
using HttpHeaders = std::unordered_multimap<std::string, std::string>;

// An outgoing request, owned by the caller.
struct HttpRequest {
  int32_t method = 0;  // HttpMethod code; anything outside 1-8 goes out as 0
  std::string url;     // absolute
  HttpHeaders headers;
  std::string body;    // bytes, sent as they are
  int32_t option = 0;  // passed to the core unchanged; the plugin's requests use 20
  bool flag = false;   // passed to the core unchanged; the plugin's requests use true
};

// A decoded answer. A failed exchange has error != 0 and the core's text in
// message; an empty or undecodable body has decodeFailed 1 and a message.
// Any HTTP status is a success for the transport: judging it is the caller's.
struct HttpResponse {
  int32_t error = -1;         // 0 none; -1, 1, 2 from the core; other codes become 1
  int32_t status = 0;         // HTTP status, only set when error is 0
  int32_t decodeFailed = -1;  // 0 body decoded; 1 headers or body failed to convert
  std::string message;        // transport or decoding error text
  HttpHeaders headers;        // every pair the core delivered, duplicates kept
  BindingProperty body;       // the JSON body, or its raw text as a string when it is not JSON
};

// Hands one raw exchange to the core: fills the zeroed response for the
// request and returns the core's result, which the transport ignores. The
// request's pointers are valid during the call only.
using HttpSendFunction = std::function<uint32_t(HostHttpResponse* response, const HostHttpRequest* request)>;

// "%1 %2" with the method's name ("" for codes other than 1 to 7) and the
// URL: "GET https://host/path". Messages use it to name the request.
std::string HttpRequestDescription(int32_t method, const std::string& url);

// Performs request through send, blocking until the core answers. Unless the
// request has a header named "user-agent" (in any case), a first header
// ("user-agent", userAgent) is added. The raw response's release function, if
// any, is called exactly once, after its contents have been copied. Failures
// come back in the response; the only exception that can escape is
// std::bad_alloc, and the raw response is released before it does.
HttpResponse SendHttpExchange(const HttpRequest& request, const std::string& userAgent, const HttpSendFunction& send);

// A filled raw response as a fresh HttpResponse; description names the
// request in messages ("Error converting response for %1: ..."). Reads the
// body and header arrays bounded by their counts; releases nothing.
HttpResponse ConvertHttpResponse(const HostHttpResponse& raw, const std::string& description);

// A GET of url with a copy of headers, an empty body, option and flag true.
HttpRequest MakeGetRequest(const std::string& url, int32_t option, const HttpHeaders& headers);

}  // namespace Zarn
