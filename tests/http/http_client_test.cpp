// The HTTP client transport against a fake core: what the raw request
// carries (read by byte offsets, as the core reads it), how every kind of raw
// answer (filled by byte offsets) is decoded, and when the answer is released.
#include "http/http_client.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "plugin/memory.h"
#include "plugin/plugin.h"
#include "values/value_text.h"

namespace Zarn {
namespace {

constexpr size_t P = sizeof(void*);
// HostHttpRequest: method, url, headers, count, body, length, option, flag.
constexpr size_t kRequestUrl = 4;
constexpr size_t kRequestHeaders = 4 + P;
constexpr size_t kRequestHeaderCount = 4 + 2 * P;
constexpr size_t kRequestBody = 8 + 2 * P;
constexpr size_t kRequestBodyLength = 8 + 3 * P;
constexpr size_t kRequestOption = 12 + 3 * P;
constexpr size_t kRequestFlag = 16 + 3 * P;
constexpr size_t kRequestSize = 20 + 3 * P;
// HostHttpResponse: error, status, headers, count, body, length, release.
constexpr size_t kResponseStatus = 4;
constexpr size_t kResponseHeaders = 8;
constexpr size_t kResponseHeaderCount = 8 + P;
constexpr size_t kResponseBody = 12 + P;
constexpr size_t kResponseBodyLength = 12 + 2 * P;
constexpr size_t kResponseRelease = 16 + 2 * P;
constexpr size_t kResponseSize = 16 + 3 * P;
static_assert(P != 4 || (kRequestSize == 32 && kResponseSize == 28));
static_assert(sizeof(HostHttpRequest) == kRequestSize && sizeof(HostHttpResponse) == kResponseSize);

template <typename T>
T Read(const void* base, size_t offset) {
  T value;
  std::memcpy(&value, static_cast<const unsigned char*>(base) + offset, sizeof value);
  return value;
}
template <typename T>
void Write(void* base, size_t offset, T value) {
  std::memcpy(static_cast<unsigned char*>(base) + offset, &value, sizeof value);
}

using Pairs = std::vector<std::pair<std::string, std::string>>;

Pairs Sorted(const HttpHeaders& headers) {
  Pairs pairs(headers.begin(), headers.end());
  std::sort(pairs.begin(), pairs.end());
  return pairs;
}

constexpr char kUrl[] = "https://toxicity.example/api/v1/accounts/42";
constexpr char kUserAgent[] = "ZarnClient/18.0.0 (arx-vyk-toxicity)";
// Bytes the fake core places right after every body it hands out: a reader
// that runs past the declared length turns valid JSON into an error and
// grows error texts.
constexpr char kBeyondBody[] = "]}x";

// A core's SendHttpRequest: records the raw request as the core reads it and
// answers from the fields below, writing the record by offsets.
class FakeExchange {
 public:
  struct SentRequest {
    int32_t method = -99;
    std::string url;
    Pairs headers;
    std::string body;
    int32_t option = -99;
    uint8_t flag = 99;
    uint8_t padding[3] = {9, 9, 9};
  };

  // The answer.
  int32_t error = 0;
  int32_t status = 200;
  Pairs headers;
  bool nullHeaders = false;  // a null array with headers.size() as its count
  std::string body;
  bool nullBody = false;
  bool withRelease = true;

  // What happened.
  int sends = 0;
  bool responseWasZeroed = false;
  SentRequest sent;
  int releases = 0;
  const void* filledRecord = nullptr;
  const void* releasedRecord = nullptr;

  FakeExchange() { active_ = this; }
  ~FakeExchange() { active_ = nullptr; }
  FakeExchange(const FakeExchange&) = delete;
  FakeExchange& operator=(const FakeExchange&) = delete;

  HttpSendFunction Function() {
    return [this](HostHttpResponse* response, const HostHttpRequest* request) { return Send(response, request); };
  }

  uint32_t Send(HostHttpResponse* response, const HostHttpRequest* request) {
    ++sends;
    RecordRequest(request);
    unsigned char zero[kResponseSize] = {};
    responseWasZeroed = std::memcmp(response, zero, kResponseSize) == 0;

    filledRecord = response;
    bodyBytes_ = body + kBeyondBody;
    headerTexts_ = headers;
    headerArray_.clear();
    for (const auto& header : headerTexts_) {
      headerArray_.push_back(header.first.c_str());
      headerArray_.push_back(header.second.c_str());
    }
    Write<int32_t>(response, 0, error);
    Write<int32_t>(response, kResponseStatus, status);
    Write<const void*>(response, kResponseHeaders, nullHeaders ? nullptr : headerArray_.data());
    Write<uint32_t>(response, kResponseHeaderCount, static_cast<uint32_t>(headers.size()));
    Write<const void*>(response, kResponseBody, nullBody ? nullptr : bodyBytes_.data());
    Write<uint32_t>(response, kResponseBodyLength, static_cast<uint32_t>(body.size()));
    Write<void (*)(HostHttpResponse*)>(response, kResponseRelease, withRelease ? &Release : nullptr);
    return 0xDEADu;
  }

 private:
  void RecordRequest(const HostHttpRequest* request) {
    sent.method = Read<int32_t>(request, 0);
    sent.url = Read<const char*>(request, kRequestUrl);
    const auto* array = Read<const unsigned char*>(request, kRequestHeaders);
    const uint32_t count = Read<uint32_t>(request, kRequestHeaderCount);
    sent.headers.clear();
    for (uint32_t i = 0; i < count; ++i) {
      sent.headers.emplace_back(Read<const char*>(array, i * 2 * P), Read<const char*>(array, i * 2 * P + P));
    }
    sent.body.assign(Read<const char*>(request, kRequestBody), Read<uint32_t>(request, kRequestBodyLength));
    sent.option = Read<int32_t>(request, kRequestOption);
    sent.flag = Read<uint8_t>(request, kRequestFlag);
    std::memcpy(sent.padding, reinterpret_cast<const unsigned char*>(request) + kRequestFlag + 1, 3);
  }

  // Frees the answer as a core would: afterwards none of it may be read, so
  // its bytes are overwritten and the record turned into a failed exchange
  // with the text "released".
  static void PLUGIN_CALL Release(HostHttpResponse* response) {
    FakeExchange& self = *active_;
    ++self.releases;
    self.releasedRecord = response;
    std::fill(self.bodyBytes_.begin(), self.bodyBytes_.end(), '#');
    for (auto& header : self.headerTexts_) {
      std::fill(header.first.begin(), header.first.end(), '#');
      std::fill(header.second.begin(), header.second.end(), '#');
    }
    static const char kReleased[] = "released";
    Write<int32_t>(response, 0, 77);
    Write<const void*>(response, kResponseHeaders, nullptr);
    Write<const void*>(response, kResponseBody, kReleased);
    Write<uint32_t>(response, kResponseBodyLength, sizeof kReleased - 1);
  }

  static FakeExchange* active_;
  std::string bodyBytes_;
  Pairs headerTexts_;
  std::vector<const char*> headerArray_;
};
FakeExchange* FakeExchange::active_ = nullptr;

HttpRequest MakeRequest(int32_t method, HttpHeaders headers = {}) {
  HttpRequest request;
  request.method = method;
  request.url = kUrl;
  request.headers = std::move(headers);
  return request;
}

std::string Label(const Pairs& pairs) {
  std::string text;
  for (const auto& pair : pairs) text += "(" + pair.first + ": " + pair.second + ")";
  return text;
}

TEST(HttpClient, RawRequestCarriesMethodUrlBodyOptionAndFlag) {
  struct Case {
    int32_t method;
    int32_t sentMethod;
    const char* name;  // as the request description shows it
    int32_t option;
    bool flag;
  };
  const Case cases[] = {
      {1, 1, "DELETE", 20, true},  {2, 2, "GET", 20, true},   {3, 3, "HEAD", 0, false},
      {4, 4, "OPTIONS", -5, true}, {5, 5, "PATCH", 7, false}, {6, 6, "POST", 20, true},
      {7, 7, "PUT", 20, true},     {8, 8, "", 20, true},      {0, 0, "", 20, true},
      {9, 0, "", 20, true},        {-1, 0, "", 20, false},    {0x102, 0, "", 20, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.method);
    HttpRequest request = MakeRequest(c.method);
    // An inner NUL: the body goes by its length, not as a text.
    request.body = std::string("{\"a\":1}\0tail", 12);
    request.option = c.option;
    request.flag = c.flag;
    FakeExchange core;
    core.status = 204;
    const HttpResponse response = SendHttpExchange(request, kUserAgent, core.Function());

    ASSERT_EQ(core.sends, 1);
    EXPECT_EQ(core.sent.method, c.sentMethod);
    EXPECT_EQ(core.sent.url, kUrl);
    EXPECT_EQ(core.sent.body, request.body);
    EXPECT_EQ(core.sent.option, c.option);
    EXPECT_EQ(core.sent.flag, c.flag ? 1 : 0);
    EXPECT_EQ(core.sent.padding[0] | core.sent.padding[1] | core.sent.padding[2], 0);
    EXPECT_TRUE(core.responseWasZeroed);
    EXPECT_EQ(response.message,
              std::string("Error converting response for ") + c.name + " " + kUrl + ": body was empty");
  }
}

TEST(HttpClient, AddsTheUserAgentUnlessTheRequestNamesOne) {
  struct Case {
    HttpHeaders headers;
    Pairs sent;
  };
  const Case cases[] = {
      {{}, {{"user-agent", kUserAgent}}},
      {{{"user-agent", "mine"}}, {{"user-agent", "mine"}}},
      {{{"User-Agent", "mine"}}, {{"User-Agent", "mine"}}},
      {{{"USER-AGENT", "mine"}}, {{"USER-AGENT", "mine"}}},
      {{{"uSeR-aGeNt", ""}}, {{"uSeR-aGeNt", ""}}},
      // Near misses are ordinary headers.
      {{{"user-agents", "x"}}, {{"user-agent", kUserAgent}, {"user-agents", "x"}}},
      {{{"user_agent", "x"}}, {{"user-agent", kUserAgent}, {"user_agent", "x"}}},
      {{{"accept", "application/json"}}, {{"user-agent", kUserAgent}, {"accept", "application/json"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Label(Pairs(c.headers.begin(), c.headers.end())));
    FakeExchange core;
    static_cast<void>(SendHttpExchange(MakeRequest(2, c.headers), kUserAgent, core.Function()));
    EXPECT_EQ(core.sent.headers, c.sent) << Label(core.sent.headers);
  }
}

TEST(HttpClient, SendsEveryRequestHeaderAfterTheUserAgent) {
  const HttpHeaders headers = {{"accept", "application/json"}, {"x-trace", "1"}, {"x-trace", "2"}, {"cookie", "a=b"}};
  FakeExchange core;
  static_cast<void>(SendHttpExchange(MakeRequest(6, headers), kUserAgent, core.Function()));

  Pairs expected = {{"user-agent", kUserAgent}};
  expected.insert(expected.end(), headers.begin(), headers.end());  // the map's own order
  EXPECT_EQ(core.sent.headers, expected) << Label(core.sent.headers);
}

TEST(HttpClient, FailedExchangeCarriesTheCoreText) {
  struct Case {
    int32_t error;
    int32_t reported;
  };
  const Case cases[] = {{-1, -1}, {1, 1}, {2, 2}, {5, 1}, {3, 1}, {-2, 1}, {0x7FFFFFFF, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    FakeExchange core;
    core.error = c.error;
    core.status = 503;  // not copied for a failed exchange
    core.headers = {{"retry-after", "5"}};
    core.body = "connection refused";
    const HttpResponse response = SendHttpExchange(MakeRequest(2), kUserAgent, core.Function());

    EXPECT_EQ(response.error, c.reported);
    EXPECT_EQ(response.message, "connection refused");
    EXPECT_EQ(response.status, 0);
    EXPECT_EQ(response.decodeFailed, -1);
    EXPECT_TRUE(response.headers.empty());
    EXPECT_EQ(RenderValue(response.body), "null");
    EXPECT_EQ(core.releases, 1);
  }
}

TEST(HttpClient, FailedExchangeWithoutText) {
  FakeExchange core;
  core.error = 1;
  core.body = "ignored";
  core.nullBody = true;
  const HttpResponse response = SendHttpExchange(MakeRequest(2), kUserAgent, core.Function());
  EXPECT_EQ(response.error, 1);
  EXPECT_EQ(response.message, "");
}

TEST(HttpClient, DecodesTheBodyAsJson) {
  const std::string description = std::string("GET ") + kUrl;
  struct Case {
    int32_t status;
    std::string body;
    bool nullBody;
    int32_t decodeFailed;
    std::string value;    // RenderValue of the decoded body
    std::string message;  // after the description
  };
  const Case cases[] = {
      {200, "{\"score\":3}", false, 0, "{score:u3}", ""},
      {200, "[]", false, 0, "[]", ""},
      {200, "[1,\"a\",-2]", false, 0, "[u1,\"a\",s-2]", ""},
      {200, "42", false, 0, "u42", ""},
      {200, "\"text\"", false, 0, "\"text\"", ""},
      {200, "true", false, 0, "true", ""},
      {200, "null", false, 0, "null", ""},
      {200, "  ", false, 0, "null", ""},  // white space only reads as an empty value
      {404, "{\"code\":404}", false, 0, "{code:u404}", ""},
      {204, "", true, 1, "null", "Error converting response for " + description + ": body was empty"},
      {204, "", false, 1, "null", "Error converting response for " + description + ": body was empty"},
      {200, "", false, 1, "null", "Error converting response for " + description + ": body was empty"},
      {500, "oops", false, 1, "\"oops\"",
       "Error deserializing json response for " + description + ": Error: Invalid value. at offset 0."},
      {200, "[1]x", false, 1, "\"[1]x\"",
       "Error deserializing json response for " + description +
           ": Error: The document root must not follow by other values. at offset 3."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    FakeExchange core;
    core.status = c.status;
    core.body = c.body;
    core.nullBody = c.nullBody;
    const HttpResponse response = SendHttpExchange(MakeRequest(2), kUserAgent, core.Function());

    EXPECT_EQ(response.error, 0);
    EXPECT_EQ(response.status, c.status);
    EXPECT_EQ(response.decodeFailed, c.decodeFailed);
    EXPECT_EQ(RenderValue(response.body), c.value);
    EXPECT_EQ(response.message, c.message);
  }
}

TEST(HttpClient, KeepsEveryResponseHeader) {
  FakeExchange core;
  core.headers = {{"set-cookie", "a=1"}, {"content-type", "application/json"}, {"set-cookie", "b=2"}};
  core.body = "{}";
  const HttpResponse response = SendHttpExchange(MakeRequest(2), kUserAgent, core.Function());

  EXPECT_EQ(response.decodeFailed, 0);
  const Pairs expected = {{"content-type", "application/json"}, {"set-cookie", "a=1"}, {"set-cookie", "b=2"}};
  EXPECT_EQ(Sorted(response.headers), expected) << Label(Sorted(response.headers));
}

TEST(HttpClient, NullHeaderArray) {
  const std::string headersNull = std::string("Error converting response for GET ") + kUrl + ": headers was null";
  struct Case {
    const char* label;
    size_t count;
    std::string body;
    int32_t decodeFailed;
    std::string message;
  };
  const Case cases[] = {
      // A readable body decides decodeFailed; the header message stays.
      {"count 2, JSON body", 2, "{\"a\":1}", 0, headersNull},
      {"count 2, empty body", 2, "", 1, std::string("Error converting response for GET ") + kUrl + ": body was empty"},
      {"count 1, text body", 1, "oops", 1,
       std::string("Error deserializing json response for GET ") + kUrl + ": Error: Invalid value. at offset 0."},
      // No pairs: a null array is no fault.
      {"count 0, JSON body", 0, "{\"a\":1}", 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    FakeExchange core;
    core.nullHeaders = true;
    core.headers = Pairs(c.count, {"name", "value"});
    core.body = c.body;
    const HttpResponse response = SendHttpExchange(MakeRequest(2), kUserAgent, core.Function());

    EXPECT_EQ(response.error, 0);
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.decodeFailed, c.decodeFailed);
    EXPECT_EQ(response.message, c.message);
    EXPECT_TRUE(response.headers.empty());
  }
}

TEST(HttpClient, ReleasesTheAnswerOnceAfterReadingIt) {
  struct Case {
    const char* label;
    int32_t error;
    std::string body;
    bool withRelease;
  };
  const Case cases[] = {
      {"decoded", 0, "{\"score\":3}", true},
      {"not JSON", 0, "oops", true},
      {"empty body", 0, "", true},
      {"failed exchange", 2, "timed out", true},
      {"no release function", 0, "{\"score\":3}", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    FakeExchange core;
    core.error = c.error;
    core.headers = {{"content-type", "application/json"}};
    core.body = c.body;
    core.withRelease = c.withRelease;
    const HttpResponse response = SendHttpExchange(MakeRequest(2), kUserAgent, core.Function());

    EXPECT_EQ(core.releases, c.withRelease ? 1 : 0);
    if (c.withRelease) {
      EXPECT_EQ(core.releasedRecord, core.filledRecord);
    }
    // The release overwrote the answer: what came through was read before.
    EXPECT_EQ(response.error, c.error);
    if (c.error != 0) {
      EXPECT_EQ(response.message, c.body);
    } else {
      EXPECT_EQ(Sorted(response.headers), (Pairs{{"content-type", "application/json"}}));
      const char* value = c.body == "oops" ? "\"oops\"" : c.body.empty() ? "null" : "{score:u3}";
      EXPECT_EQ(RenderValue(response.body), value);
    }
  }
}

TEST(HttpClient, GivesBackWhatItAllocates) {
  FakeExchange core;
  core.headers = {{"content-type", "application/json"}, {"set-cookie", "a=1"}};
  const HttpRequest request = MakeRequest(6, {{"accept", "application/json"}, {"x-long", std::string(100, 'x')}});
  for (const char* body : {"{\"list\":[1,2,{\"text\":\"a longer text than fits inline\"}]}", "not JSON at all"}) {
    SCOPED_TRACE(body);
    core.body = body;
    static_cast<void>(SendHttpExchange(request, kUserAgent, core.Function()));  // settles the fake's buffers
    const Memory::Counters before = Memory::ReadCounters();
    {
      const HttpResponse response = SendHttpExchange(request, kUserAgent, core.Function());
      EXPECT_NE(response.body.Kind(), PropertyKind::Empty);
    }
    const Memory::Counters after = Memory::ReadCounters();
    EXPECT_GT(after.allocations, before.allocations);
    EXPECT_EQ(after.bytesAllocated - after.bytesFreed, before.bytesAllocated - before.bytesFreed);
  }
}

// A plugin whose host is the fake exchange.
class HttpPlugin : public Plugin {
 public:
  explicit HttpPlugin(FakeExchange& core) : core_(core) { Connect(7, kUserAgent); }
  uint32_t SendHttpRequest(HostHttpResponse* response, const HostHttpRequest* request) override {
    return core_.Send(response, request);
  }
  // The connection subscribes the service-proxy events; this core takes them.
  uint32_t Subscribe(const char*, uint32_t, HostEventCallback, void*, uint32_t) override { return 0; }
  uint32_t Unsubscribe(const char*, uint32_t) override { return 0; }

 private:
  FakeExchange& core_;
};

TEST(PluginHttp, GetGoesThroughSendHttpRequestWithTheUserAgent) {
  FakeExchange core;
  core.body = "{\"score\":3}";
  HttpPlugin plugin(core);
  const HttpResponse response = plugin.Get(kUrl, 20);

  ASSERT_EQ(core.sends, 1);
  EXPECT_EQ(core.sent.method, 2);
  EXPECT_EQ(core.sent.url, kUrl);
  EXPECT_EQ(core.sent.headers, (Pairs{{"user-agent", kUserAgent}}));
  EXPECT_EQ(core.sent.body, "");
  EXPECT_EQ(core.sent.option, 20);
  EXPECT_EQ(core.sent.flag, 1);
  EXPECT_EQ(core.releases, 1);
  EXPECT_EQ(response.decodeFailed, 0);
  EXPECT_EQ(RenderValue(response.body), "{score:u3}");
}

TEST(PluginHttp, GetSendsACopyOfTheGivenHeaders) {
  FakeExchange core;
  core.body = "[]";
  HttpPlugin plugin(core);
  const HttpHeaders headers = {{"User-Agent", "other/1.0"}, {"accept", "application/json"}};
  const HttpResponse response = plugin.Get(kUrl, 3, headers);

  EXPECT_EQ(Sorted(HttpHeaders(core.sent.headers.begin(), core.sent.headers.end())), Sorted(headers));
  EXPECT_EQ(core.sent.option, 3);
  EXPECT_EQ(RenderValue(response.body), "[]");
}

}  // namespace
}  // namespace Zarn
