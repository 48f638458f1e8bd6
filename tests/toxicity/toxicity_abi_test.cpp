// The toxicity routes through the real export: the fake core loads the
// library, initializes it, calls the published route callbacks, and plays
// the upstream service behind SendHttpRequest.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

#include "plugin/fake_core.h"
#include "remoting/route_fixture.h"

namespace Zarn {
namespace {

using AbiTest::FakeCore;
using AbiTest::HostContextBytes;
using AbiTest::LoadedPlugin;
using testing_routes::Answer;
using testing_routes::Call;
using testing_routes::CallRoute;
using testing_routes::FindRouteRecord;
using testing_routes::ReadAt;

constexpr char kAccounts[] = "GetArxVykToxicityV1AccountsByAccountId";
constexpr char kSummoners[] = "GetArxVykToxicityV1SummonersBySummonerId";
constexpr char kBase[] = "https://behaviour.example.net";

// What the upstream saw of one request, read by the record's offsets.
struct SentRequest {
  int32_t method = -1;
  std::string url;
  std::vector<std::pair<std::string, std::string>> headers;
  uint32_t bodyLength = 99;
  int32_t option = 0;
  uint8_t flag = 9;
};

// The upstream's answer to one request.
struct Reply {
  int32_t error = 0;
  int32_t status = 200;
  std::string body;
  bool nullBody = false;
};

// The service behind the fake core's SendHttpRequest. One per test; the
// core's function reaches it through a global, as a core would reach its
// own state.
struct Upstream {
  std::function<Reply(const SentRequest&)> answer;
  std::mutex lock;
  std::vector<SentRequest> sent;
  std::atomic<int> releases{0};
  std::atomic<int> exchanges{0};

  static Upstream*& Current() {
    static Upstream* current = nullptr;
    return current;
  }

  // The raw answer's storage: freed by the release function the plugin
  // calls.
  struct Storage {
    std::string body;
    Upstream* upstream;
  };

  static uint32_t PLUGIN_CALL Send(HostApi*, HostHttpResponse* response, const HostHttpRequest* request) {
    Upstream& self = *Current();
    SentRequest seen;
    seen.method = ReadAt<int32_t>(request, ZARN_AT(HostHttpRequest, method, 0));
    seen.url = ReadAt<const char*>(request, ZARN_AT(HostHttpRequest, url, 4));
    const auto* pairs = ReadAt<const HostHttpHeader*>(request, ZARN_AT(HostHttpRequest, headers, 8));
    const auto count = ReadAt<uint32_t>(request, ZARN_AT(HostHttpRequest, headerCount, 12));
    for (uint32_t i = 0; i < count; ++i) seen.headers.emplace_back(pairs[i].name, pairs[i].value);
    seen.bodyLength = ReadAt<uint32_t>(request, ZARN_AT(HostHttpRequest, bodyLength, 20));
    seen.option = ReadAt<int32_t>(request, ZARN_AT(HostHttpRequest, option, 24));
    seen.flag = ReadAt<uint8_t>(request, ZARN_AT(HostHttpRequest, flag, 28));
    const Reply reply = self.answer(seen);
    {
      std::lock_guard<std::mutex> hold(self.lock);
      self.sent.push_back(std::move(seen));
    }
    ++self.exchanges;
    auto* storage = new Storage{reply.body, &self};
    response->error = reply.error;
    response->status = reply.status;
    response->body = reply.nullBody ? nullptr : storage->body.data();
    response->bodyLength = static_cast<uint32_t>(storage->body.size());
    // The storage's address rides in the header pointer's place of an
    // answer without headers: the release finds it there.
    response->headers = reinterpret_cast<const HostHttpHeader*>(storage);
    response->headerCount = 0;
    response->release = [](HostHttpResponse* done) {
      auto* owned = reinterpret_cast<Storage*>(const_cast<HostHttpHeader*>(done->headers));
      ++owned->upstream->releases;
      delete owned;
    };
    return 0;
  }
};

class ToxicityRoutes : public ::testing::Test {
 protected:
  explicit ToxicityRoutes(uint32_t minor = 0, uint32_t patch = 0) : plugin_(18, minor, patch), host_(core_, 5) {}

  void SetUp() override {
    Upstream::Current() = &upstream_;
    core_.api.SendHttpRequest = &Upstream::Send;
    ASSERT_NE(plugin_.context(), nullptr);
    ASSERT_EQ(plugin_.Initialize(host_), 1);
    block_ = ReadAt<const HostApiDescriptionBlock*>(plugin_.record, AbiTest::kDescriptionOffset);
    ASSERT_NE(block_, nullptr);
  }
  void TearDown() override {
    plugin_.Shutdown();
    Upstream::Current() = nullptr;
  }

  Answer Get(const char* route, const std::string& path) {
    const HostRouteRecord* record = FindRouteRecord(*block_, route);
    if (record == nullptr) {
      ADD_FAILURE() << "no route " << route;
      return {};
    }
    Call call;
    call.path = path;
    return CallRoute(*record, call);
  }

  FakeCore core_;
  LoadedPlugin plugin_;
  HostContextBytes host_;
  Upstream upstream_;
  const HostApiDescriptionBlock* block_ = nullptr;
};

TEST_F(ToxicityRoutes, PublishesBothRoutes) {
  EXPECT_EQ(block_->functionCount, 2u);
  const HostRouteRecord* accounts = FindRouteRecord(*block_, kAccounts);
  const HostRouteRecord* summoners = FindRouteRecord(*block_, kSummoners);
  ASSERT_NE(accounts, nullptr);
  ASSERT_NE(summoners, nullptr);
  EXPECT_STREQ(ReadAt<const char*>(accounts, ZARN_AT(HostRouteRecord, path, 69)),
               "/arx-vyk-toxicity/v1/accounts/{accountId}");
  EXPECT_STREQ(ReadAt<const char*>(summoners, ZARN_AT(HostRouteRecord, path, 69)),
               "/arx-vyk-toxicity/v1/summoners/{summonerId}");
  EXPECT_EQ(ReadAt<int32_t>(accounts, ZARN_AT(HostRouteRecord, method, 73)), 2);
  const auto* tags = ReadAt<const char* const*>(accounts, ZARN_AT(HostRouteRecord, tags, 53));
  ASSERT_EQ(ReadAt<uint32_t>(accounts, ZARN_AT(HostRouteRecord, tagCount, 57)), 2u);
  EXPECT_STREQ(tags[0], "Plugins");
  EXPECT_STREQ(tags[1], "Plugin arx-vyk-toxicity");
  // The types and events of the description come after the routes.
  EXPECT_GT(block_->typeCount, 0u);
}

TEST_F(ToxicityRoutes, UpstreamOutcomes) {
  const std::string url = std::string(kBase) + "/api/v1/accounts/42";
  const struct {
    const char* name;
    Reply reply;
    bool failed;
    std::string value;
    std::string error;
    int32_t status;
  } cases[] = {
      {"object", {0, 200, R"({"score":3})"}, false, "{score:u3}", "", 0},
      {"array", {0, 200, "[]"}, false, "[]", "", 0},
      {"scalar", {0, 201, "7"}, false, "u7", "", 0},
      {"no content", {0, 204, ""}, true, "null", "Error converting response for GET " + url + ": body was empty", 204},
      {"no content, null body", {0, 204, "", true}, true, "null",
       "Error converting response for GET " + url + ": body was empty", 204},
      {"not found with JSON", {0, 404, R"({"message":"unknown"})"}, true, "null", "", 404},
      {"unavailable with text", {0, 503, "Service down"}, true, "null",
       "Error deserializing json response for GET " + url + ": Error: Invalid value. at offset 0.", 503},
      {"2xx that is not JSON", {0, 200, "{oops"}, true, "null",
       "Error deserializing json response for GET " + url + ": Error: Missing a name for object member. at offset 1.",
       200},
      {"transport failure", {1, 0, "connection refused"}, true, "null", "connection refused", 0},
      {"timeout", {2, 0, "timed out"}, true, "null", "timed out", 0},
      {"unknown error code", {5, 200, "odd"}, true, "null", "odd", 0},
  };
  for (const auto& c : cases) {
    upstream_.answer = [&](const SentRequest&) { return c.reply; };
    const int releasesBefore = upstream_.releases;
    const Answer answer = Get(kAccounts, "/arx-vyk-toxicity/v1/accounts/42");
    EXPECT_EQ(answer.failed, c.failed) << c.name;
    EXPECT_EQ(answer.value, c.value) << c.name;
    EXPECT_EQ(answer.error, c.error) << c.name;
    EXPECT_EQ(answer.status, c.status) << c.name;
    EXPECT_EQ(upstream_.releases, releasesBefore + 1) << c.name << ": exactly one release per exchange";
  }
}

TEST_F(ToxicityRoutes, IdentifiersAndTheRequestSent) {
  upstream_.answer = [](const SentRequest&) { return Reply{0, 200, "{}"}; };
  const struct {
    const char* route;
    const char* path;
    std::string url;  // empty: no upstream call
    std::string error;
  } cases[] = {
      {kAccounts, "/arx-vyk-toxicity/v1/accounts/42", "/api/v1/accounts/42", ""},
      {kAccounts, "/arx-vyk-toxicity/v1/accounts/0x2A", "/api/v1/accounts/42", ""},
      {kAccounts, "/arx-vyk-toxicity/v1/accounts/052", "/api/v1/accounts/42", ""},
      {kAccounts, "/arx-vyk-toxicity/v1/accounts/18446744073709551615", "/api/v1/accounts/18446744073709551615", ""},
      {kSummoners, "/arx-vyk-toxicity/v1/summoners/7", "/api/v1/summoners/7", ""},
      {kAccounts, "/arx-vyk-toxicity/v1/accounts/abc", "",
       "Value abc for 'accountId' of type uint64 is in an incorrect format"},
      {kAccounts, "/arx-vyk-toxicity/v1/accounts/18446744073709551616", "",
       "Value 18446744073709551616 for 'accountId' of type uint64 is out of range"},
      {kAccounts, "/arx-vyk-toxicity/v1/accounts/", "", "Expected value for argument 'accountId'."},
      {kAccounts, "/arx-vyk-toxicity/v1/accounts/42?x=1", "",
       "Unknown argument 'x' for 'GetArxVykToxicityV1AccountsByAccountId'."},
      {kAccounts, "/arx-vyk-toxicity/v1/accounts/42?accountId=1", "",
       "Argument 'accountId' for 'GetArxVykToxicityV1AccountsByAccountId' was specified in an invalid location."},
      {kAccounts, "/arx-vyk-toxicity/v1/summoners/42", "", "Invalid function"},
  };
  for (const auto& c : cases) {
    upstream_.sent.clear();
    const Answer answer = Get(c.route, c.path);
    EXPECT_EQ(answer.error, c.error) << c.path;
    if (c.url.empty()) {
      EXPECT_TRUE(upstream_.sent.empty()) << c.path;
      continue;
    }
    ASSERT_EQ(upstream_.sent.size(), 1u) << c.path;
    const SentRequest& sent = upstream_.sent[0];
    EXPECT_EQ(sent.url, kBase + c.url);
    EXPECT_EQ(sent.method, 2);
    EXPECT_EQ(sent.option, 20);
    EXPECT_EQ(sent.flag, 1);
    EXPECT_EQ(sent.bodyLength, 0u);
    EXPECT_EQ(sent.headers, (std::vector<std::pair<std::string, std::string>>{
                                {"user-agent", "ZarnClient/18.0.0 (arx-vyk-toxicity)"}}));
  }
}

class ToxicityUnderNewerCore : public ToxicityRoutes {
 protected:
  ToxicityUnderNewerCore() : ToxicityRoutes(4, 2) {}
};

TEST_F(ToxicityUnderNewerCore, UserAgentNamesTheCoreVersion) {
  upstream_.answer = [](const SentRequest&) { return Reply{0, 200, "{}"}; };
  Get(kSummoners, "/arx-vyk-toxicity/v1/summoners/1");
  ASSERT_EQ(upstream_.sent.size(), 1u);
  EXPECT_EQ(upstream_.sent[0].headers, (std::vector<std::pair<std::string, std::string>>{
                                           {"user-agent", "ZarnClient/18.4.2 (arx-vyk-toxicity)"}}));
}

TEST_F(ToxicityRoutes, ConcurrentLookupsKeepTheirOwnAnswers) {
  // The service answers with the identifier it was asked for.
  upstream_.answer = [](const SentRequest& sent) {
    const std::string id = sent.url.substr(sent.url.rfind('/') + 1);
    return Reply{0, 200, "{\"id\":" + id + "}"};
  };
  constexpr int kThreads = 8;
  constexpr int kLookups = 1000;
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kLookups; ++i) {
        const uint64_t id = static_cast<uint64_t>(t) * 1000000 + static_cast<uint64_t>(i);
        const bool account = (i % 2) == 0;
        const Answer answer = account ? Get(kAccounts, "/arx-vyk-toxicity/v1/accounts/" + std::to_string(id))
                                      : Get(kSummoners, "/arx-vyk-toxicity/v1/summoners/" + std::to_string(id));
        if (answer.failed || answer.value != "{id:u" + std::to_string(id) + "}") ++wrong;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(upstream_.exchanges, kThreads * kLookups);
  EXPECT_EQ(upstream_.releases, kThreads * kLookups);
}

}  // namespace
}  // namespace Zarn
