// Routes of a test owner, published and called through their route records
// as the core calls them.
#include "remoting/dispatch.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "remoting/route_fixture.h"

namespace Zarn {
namespace {

using testing_routes::Answer;
using testing_routes::Call;
using testing_routes::CallRoute;
using testing_routes::FindRouteRecord;
using testing_routes::ReadAt;

class ShopPlugin {
 public:
  ShopPlugin() {
    AddRoute("/shop/v1/items/{itemId}", this, &ShopPlugin::GetItem).PathArgument("itemId", "", {});
    // Routes match the whole path, query included, so a query reaches only
    // routes whose last placeholder takes it in.
    AddRoute("/shop/v1/search/{scope}", this, &ShopPlugin::Search)
        .PathArgument("scope", "", {})
        .AnyArgument("q", "", {})
        .AnyArgument("items", "", {})
        .AnyArgument("filter", "", {})
        .AnyArgument("x-trace-id", "", {});
    AddRoute("/shop/v1/count/{unit}", this, &ShopPlugin::Count)
        .PathArgument("unit", "", {})
        .QueryArgument("limit", "", {})
        .AnyArgument("ids", "", {})
        .AnyArgument("exact", "", {});
    AddRoute(HttpMethod::Put, "/shop/v1/items/{itemId}", this, &ShopPlugin::PutItem)
        .PathArgument("itemId", "", {})
        .BodyArgument("item", "", {})
        .QueryArgument("note", "", {})
        .HeaderArgument("x-user", "", {});
    AddRoute("/shop/v1/echo/{+rest}", this, &ShopPlugin::Echo).PathArgument("rest", "", {});
    AddRoute(HttpMethod::Delete, "/shop/v1/items/{itemId}", this, &ShopPlugin::Fail)
        .PathArgument("itemId", "", {});
    block_ = registry_.PublishRoutes();
  }

  RemotingRegistry& registry() { return registry_; }
  const std::vector<std::string>& apiTags() const { return tags_; }
  const HostApiDescriptionBlock& block() const { return block_; }
  const HostRouteRecord& Route(const char* name) const {
    const HostRouteRecord* record = FindRouteRecord(block_, name);
    if (record == nullptr) throw std::runtime_error(name);
    return *record;
  }

  std::atomic<int> calls{0};

 private:
  RouteResult GetItem(uint64_t itemId) {
    ++calls;
    RouteResult result;
    result.value.Member("id").SetUnsigned(itemId);
    return result;
  }
  // Every argument a generic value: absent ones stay empty.
  RouteResult Search(BindingProperty, BindingProperty q, BindingProperty items, BindingProperty filter, BindingProperty trace) {
    ++calls;
    RouteResult result;
    result.value.Member("q").CopyFrom(q);
    result.value.Member("items").CopyFrom(items);
    result.value.Member("filter").CopyFrom(filter);
    result.value.Member("trace").CopyFrom(trace);
    return result;
  }
  RouteResult Count(std::string, uint32_t limit, std::vector<int32_t> ids, bool exact) {
    ++calls;
    RouteResult result;
    result.value.Member("limit").SetUnsigned(limit);
    BindingProperty& list = result.value.Member("ids");
    list.MakeCollection();
    for (size_t i = 0; i < ids.size(); ++i) list.At(i).SetSigned(ids[i]);
    result.value.Member("exact").SetBool(exact);
    return result;
  }
  RouteResult PutItem(uint64_t itemId, const BindingProperty& item, const std::string& note, std::string user,
                      const RemotingRequest& request) {
    ++calls;
    RouteResult result;
    result.value.Member("id").SetUnsigned(itemId);
    result.value.Member("item").CopyFrom(item);
    result.value.Member("note").SetString(note);
    result.value.Member("user").SetString(user);
    result.value.Member("path").SetString(request.path);
    result.value.Member("requestId").SetSigned(request.requestId);
    result.value.Member("method").SetSigned(static_cast<int32_t>(request.method));
    result.value.Member("arguments").SetUnsigned(request.arguments.size());
    result.value.Member("headers").SetUnsigned(request.headers.size());
    result.value.Member("registry").SetBool(request.registry == &registry_);
    result.value.Member("timed").SetBool(request.receivedAt > 0);
    result.headers["etag"] = "v2";
    result.statusText = "Stored";
    result.status = 201;
    result.formatCode = 1;
    return result;
  }
  RouteResult Echo(std::string rest) {
    ++calls;
    RouteResult result;
    result.value.SetString(rest);
    return result;
  }
  RouteResult Fail(uint64_t) {
    ++calls;
    RouteResult result;
    result.SetError("Not found");
    result.status = 404;
    return result;
  }
  RemotingRegistry registry_;
  std::vector<std::string> tags_{"Plugins", "Plugin shop"};
  HostApiDescriptionBlock block_{};
};

constexpr char kGetItem[] = "GetShopV1ItemsByItemId";
constexpr char kSearch[] = "GetShopV1SearchByScope";
constexpr char kPutItem[] = "PutShopV1ItemsByItemId";

class Dispatch : public ::testing::Test {
 protected:
  // A PUT with the note and user the handler requires.
  static Call PutCall() {
    Call call;
    call.method = 7;
    call.arguments = {{"note", HostValue{5, {{"n", 1}}}}};
    call.headers = {{"x-user", "u"}};
    return call;
  }
  Answer Get(const char* route, std::string path) {
    Call call;
    call.path = std::move(path);
    return CallRoute(plugin_.Route(route), call);
  }
  ShopPlugin plugin_;
};

TEST_F(Dispatch, PublishedRecords) {
  const HostApiDescriptionBlock& block = plugin_.block();
  EXPECT_EQ(block.functionCount, 6u);
  // Chained in one array, in name order; the last link is null.
  const auto* first = static_cast<const HostRouteRecord*>(block.functions);
  for (uint32_t i = 0; i + 1 < block.functionCount; ++i) {
    EXPECT_EQ(ReadAt<const void*>(first + i, ZARN_AT(HostRouteRecord, next, 0)), first + i + 1);
    EXPECT_LT(std::string(ReadAt<const char*>(first + i, ZARN_AT(HostRouteRecord, name, 12))), ReadAt<const char*>(first + i + 1, ZARN_AT(HostRouteRecord, name, 12)));
  }
  EXPECT_EQ(ReadAt<const void*>(first + block.functionCount - 1, ZARN_AT(HostRouteRecord, next, 0)), nullptr);

  const HostRouteRecord& get = plugin_.Route(kGetItem);
  EXPECT_STREQ(ReadAt<const char*>(&get, ZARN_AT(HostRouteRecord, path, 69)), "/shop/v1/items/{itemId}");
  EXPECT_EQ(ReadAt<int32_t>(&get, ZARN_AT(HostRouteRecord, method, 73)), 2);
  EXPECT_EQ(ReadAt<uint8_t>(&get, ZARN_AT(HostRouteRecord, flag, 77)), 0);
  EXPECT_EQ(ReadAt<const void*>(&get, ZARN_AT(HostRouteRecord, textLists, 78)), nullptr);
  EXPECT_EQ(ReadAt<uint32_t>(&get, ZARN_AT(HostRouteRecord, textListCount, 82)), 0u);
  EXPECT_STREQ(ReadAt<const char*>(&get, ZARN_AT(HostRouteRecord, customMethod, 86)), "");
  EXPECT_EQ(ReadAt<HostRouteCallback>(&get, ZARN_AT(HostRouteRecord, callback, 61)), &RouteCallback);
  EXPECT_EQ(ReadAt<uint32_t>(&get, ZARN_AT(HostRouteRecord, argumentCount, 24)), 1u);  // argument count, from the function record
  const auto* entry = ReadAt<const HostRouteEntry*>(&get, ZARN_AT(HostRouteRecord, routeUserData, 8));
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->registry, &plugin_.registry());
  const auto* location = ReadAt<const HostRouteLocationEntry*>(&get, ZARN_AT(HostRouteRecord, locations, 65));
  ASSERT_NE(location, nullptr);
  EXPECT_EQ(ReadAt<int32_t>(location, ZARN_AT(HostRouteLocationEntry, location, 4)), 2);
  EXPECT_EQ(ReadAt<const void*>(location, ZARN_AT(HostRouteLocationEntry, next, 0)), nullptr);
  // Tags from the owner.
  EXPECT_EQ(ReadAt<uint32_t>(&get, ZARN_AT(HostRouteRecord, tagCount, 57)), 2u);

  const HostRouteRecord& put = plugin_.Route(kPutItem);
  EXPECT_EQ(ReadAt<int32_t>(&put, ZARN_AT(HostRouteRecord, method, 73)), 7);
  std::vector<int32_t> locations;
  for (auto* l = ReadAt<const HostRouteLocationEntry*>(&put, ZARN_AT(HostRouteRecord, locations, 65)); l != nullptr; l = l->next) {
    locations.push_back(l->location);
  }
  EXPECT_EQ(locations, (std::vector<int32_t>{2, 5, 1, 4}));
}

TEST_F(Dispatch, PathArgumentsReachTheHandler) {
  const struct {
    const char* path;
    std::string value;
    std::string error;
    int32_t status;
  } cases[] = {
      {"/shop/v1/items/42", "{id:u42}", "", 0},
      {"/shop/v1/items/0x2A", "{id:u42}", "", 0},
      {"/shop/v1/items/18446744073709551615", "{id:u18446744073709551615}", "", 0},
      {"/shop/v1/items/abc", "", "Value abc for 'itemId' of type uint64 is in an incorrect format", 0},
      {"/shop/v1/items/18446744073709551616", "",
       "Value 18446744073709551616 for 'itemId' of type uint64 is out of range", 0},
      {"/shop/v1/items/", "", "Expected value for argument 'itemId'.", 0},
      {"/shop/v1/items/4/2", "", "Invalid function", 404},
      {"/shop/v1/other", "", "Invalid function", 404},
      {"/shop/v1/items/42?x=1", "", "Unknown argument 'x' for 'GetShopV1ItemsByItemId'.", 0},
      {"/shop/v1/items/42?itemId=1", "",
       "Argument 'itemId' for 'GetShopV1ItemsByItemId' was specified in an invalid location.", 0},
      // The last placeholder takes in the query text too.
      {"/shop/v1/items/42?", "", "Value 42? for 'itemId' of type uint64 is in an incorrect format", 0},
      {"/shop/v1/items/42?&", "", "Unknown argument '' for 'GetShopV1ItemsByItemId'.", 0},
  };
  for (const auto& c : cases) {
    const int before = plugin_.calls;
    const Answer answer = Get(kGetItem, c.path);
    EXPECT_EQ(answer.error, c.error) << c.path;
    EXPECT_EQ(answer.failed, !c.error.empty()) << c.path;
    EXPECT_EQ(answer.status, c.status) << c.path;
    if (c.error.empty()) {
      EXPECT_EQ(answer.value, c.value) << c.path;
      EXPECT_EQ(plugin_.calls, before + 1) << c.path;
    } else {
      EXPECT_EQ(answer.value, "null") << c.path;
      EXPECT_EQ(plugin_.calls, before) << c.path;
    }
  }
}

TEST_F(Dispatch, QueryValuesAndNestedKeys) {
  const struct {
    const char* query;
    std::string value;
    std::string error;
  } cases[] = {
      {"q=a+b%21", "{filter:null,items:null,q:\"a b!\",trace:null}", ""},
      {"q=1&q=2", "{filter:null,items:null,q:\"2\",trace:null}", ""},
      {"items.2=5", "{filter:null,items:[null,null,\"5\"],q:null,trace:null}", ""},
      {"items=[1,2]", "{filter:null,items:[u1,u2],q:null,trace:null}", ""},
      {"items=", "{filter:null,items:{},q:null,trace:null}", ""},
      {"filter.a.b=x&filter.c=%7B%7D", "{filter:{a:{b:\"x\"},c:\"{}\"},items:null,q:null,trace:null}", ""},
      {"filter=%7B%22a%22%3A1%7D", "{filter:{a:u1},items:null,q:null,trace:null}", ""},
      {"filter=---%0Aa%3A+1", "{filter:{a:u1},items:null,q:null,trace:null}", ""},
      {"filter=---%0A-+x", "{filter:[\"x\"],items:null,q:null,trace:null}", ""},
      // A marker that does not start its line is plain text to YAML.
      {"filter=+---%0A-+x", "{filter:\"--- - x\",items:null,q:null,trace:null}", ""},
      {"filter=%92%01%C0", "{filter:[s1,null],items:null,q:null,trace:null}", ""},
      {"filter=abc", "{filter:\"abc\",items:null,q:null,trace:null}", ""},
      {"filter=%09%7B", "{filter:\"\t{\",items:null,q:null,trace:null}", ""},
      {"filter.0x3=y", "{filter:[null,null,null,\"y\"],items:null,q:null,trace:null}", ""},
      {"filter.010=y", "{filter:[null,null,null,null,null,null,null,null,\"y\"],items:null,q:null,trace:null}", ""},
      {"filter.x1=y", "{filter:{x1:\"y\"},items:null,q:null,trace:null}", ""},
      {"filter.a=%7B%7D", "{filter:{a:\"{}\"},items:null,q:null,trace:null}", ""},
      {"items.1z=y", "", "Index 1z is in an incorrect format"},
      {"items.4294967296=y", "", "Index 4294967296 is out of range"},
      {"items.65536=y", "", "Index 65536 is out of range"},
      {"filter=%7Bbad", "",
       "Couldn't deserialize JSON value for parameter 'filter' of 'GetShopV1SearchByScope': Error: Missing a name for "
       "object member. at offset 1."},
      {"filter=%91%C1", "",
       "Couldn't deserialize MessagePack value for parameter 'filter' of 'GetShopV1SearchByScope': Invalid MessagePack "
       "data at position 2."},
      {"nope=1", "", "Unknown argument 'nope' for 'GetShopV1SearchByScope'."},
      {"q=1&&", "", "Unknown argument '' for 'GetShopV1SearchByScope'."},
  };
  for (const auto& c : cases) {
    const Answer answer = Get(kSearch, std::string("/shop/v1/search/all?") + c.query);
    EXPECT_EQ(answer.error, c.error) << c.query;
    if (c.error.empty()) {
      EXPECT_EQ(answer.value, c.value) << c.query;
    }
  }
}

TEST_F(Dispatch, TypedArguments) {
  const struct {
    const char* query;
    std::string value;
    std::string error;
  } cases[] = {
      // An absent required bool is false; an empty value means true.
      {"limit=7&ids=[1,2]", "{exact:false,ids:[s1,s2],limit:u7}", ""},
      {"limit=7&ids=&exact=", "{exact:true,ids:[],limit:u7}", ""},
      {"limit=7&ids=&exact=true", "{exact:true,ids:[],limit:u7}", ""},
      {"limit=1&ids.1=5", "{exact:false,ids:[s0,s5],limit:u1}", ""},
      {"limit=&ids=", "", "Expected value for argument 'limit'."},
      {"limit=x&ids=", "", "Value x for 'limit' of type uint32 is in an incorrect format"},
      {"limit=4294967296&ids=", "", "Value 4294967296 for 'limit' of type uint32 is out of range"},
      {"ids=", "", "A value for 'limit' is required."},
  };
  for (const auto& c : cases) {
    const Answer answer = Get("GetShopV1CountByUnit", std::string("/shop/v1/count/all?") + c.query);
    EXPECT_EQ(answer.error, c.error) << c.query;
    if (c.error.empty()) {
      EXPECT_EQ(answer.value, c.value) << c.query;
    }
  }
}

TEST_F(Dispatch, SourcesAndPrecedence) {
  Call call;
  call.path = "/shop/v1/search/all?q=query";
  call.headers = {{"q", "header"}, {"x-trace-id", "t1"}, {"X-Trace-Id", "upper"}};
  Answer answer = CallRoute(plugin_.Route(kSearch), call);
  ASSERT_EQ(answer.error, "");
  // The query wins over the header; the argument's lower-cased name finds
  // only the header spelled in lower case.
  EXPECT_EQ(answer.value, "{filter:null,items:null,q:\"query\",trace:\"t1\"}");

  call.path = "/shop/v1/search/all";
  call.headers = {{"Q", "upper only"}};
  answer = CallRoute(plugin_.Route(kSearch), call);
  EXPECT_EQ(answer.value, "{filter:null,items:null,q:null,trace:null}");
}

TEST_F(Dispatch, HostArguments) {
  const struct {
    std::vector<std::pair<const char*, HostValue>> arguments;
    const char* path;
    std::string contains;
    std::string error;
  } cases[] = {
      {{{"q", HostValue{6, {{Memory::Duplicate("named"), 5}}}}}, "/shop/v1/search/all", "q:\"named\"", ""},
      {{{nullptr, HostValue{6, {{Memory::Duplicate("first"), 5}}}}}, "/shop/v1/search/all", "q:\"first\"", ""},
      {{{"zzz", HostValue{}}}, "/shop/v1/search/all", "", "Unknown argument 'zzz' for 'GetShopV1SearchByScope'."},
      // Positional arguments count after the one path capture.
      {{{nullptr, HostValue{}}, {nullptr, HostValue{}}, {nullptr, HostValue{}}, {nullptr, HostValue{}},
        {nullptr, HostValue{}}},
       "/shop/v1/search/all", "", "Unknown argument '5' for 'GetShopV1SearchByScope'."},
      {{{"q", HostValue{42, {}}}}, "/shop/v1/search/all", "",
       "Couldn't assign value to 'q' of type object because the input is of an incompatible type ''."},
  };
  for (const auto& c : cases) {
    Call call;
    call.path = c.path;
    call.arguments = c.arguments;
    const Answer answer = CallRoute(plugin_.Route(kSearch), call);
    EXPECT_EQ(answer.error, c.error);
    if (c.error.empty()) {
      EXPECT_THAT(answer.value, ::testing::HasSubstr(c.contains));
    }
    for (auto& argument : call.arguments) ReleaseHostValue(argument.second);
  }

  // An unnamed argument counts after the path captures: position 0 on a
  // route with one capture is argument 1, which GetItem does not have.
  Call positional;
  positional.path = "/shop/v1/items/5";
  positional.arguments = {{nullptr, HostValue{}}};
  EXPECT_EQ(CallRoute(plugin_.Route(kGetItem), positional).error,
            "Unknown argument '1' for 'GetShopV1ItemsByItemId'.");
}

TEST_F(Dispatch, BodiesByContentType) {
  const std::string map_with_extra("\x81\xa1" "a\x01\x00", 5);
  const struct {
    const char* contentType;
    std::string body;
    std::string item;
    std::string error;
  } cases[] = {
      {"application/json", R"({"a":[1,2.5,"x"]})", "{a:[u1,f2.5,\"x\"]}", ""},
      {"APPLICATION/JSON; charset=utf-8", "[true]", "[true]", ""},
      {"application/vnd.api+json", "{}", "{}", ""},
      {"application/json", std::string("{\"a\":1}\0garbage", 15), "{a:u1}", ""},
      {"application/x-yaml", "a: 1\nb: [x, 2.5, -3]\n", "{a:u1,b:[\"x\",f2.5,s-3]}", ""},
      {"application/x-msgpack", "\x81\xa1" "a\x01", "{a:s1}", ""},
      {"application/x-msgpack-ext", "\x92\x01\xc0", "[s1,null]", ""},
      {"application/x-msgpack", map_with_extra, "", "Extra MessgePack data found in body"},
      {"application/json", "{bad", "", "Error: Missing a name for object member. at offset 1."},
      {"text/plain", "x", "", "Unsupported body content type"},
      {nullptr, "x", "", "Unsupported body content type"},
  };
  for (const auto& c : cases) {
    Call call = PutCall();
    call.path = "/shop/v1/items/3";
    call.contentType = c.contentType;
    call.body = c.body;
    call.hasBody = true;
    const Answer answer = CallRoute(plugin_.Route(kPutItem), call);
    EXPECT_EQ(answer.error, c.error) << c.body;
    if (c.error.empty()) {
      EXPECT_THAT(answer.value, ::testing::HasSubstr("item:" + c.item + ",")) << c.body;
    }
  }

  // A body for a route without a body argument is ignored.
  Call ignored;
  ignored.path = "/shop/v1/items/3";
  ignored.contentType = "text/plain";
  ignored.body = "whatever";
  ignored.hasBody = true;
  EXPECT_EQ(CallRoute(plugin_.Route(kGetItem), ignored).error, "");

  // The body's failure replaces an earlier argument error.
  Call both = PutCall();
  both.path = "/shop/v1/items/3?bogus=1";
  both.contentType = "text/plain";
  both.body = "x";
  both.hasBody = true;
  EXPECT_EQ(CallRoute(plugin_.Route(kPutItem), both).error, "Unsupported body content type");
}

TEST_F(Dispatch, RequestRecordAndResponseFields) {
  Call call;
  call.method = 7;
  call.path = "/shop/v1/items/9";
  call.arguments = {{"note", HostValue{5, {{"hi", 2}}}}};
  call.headers = {{"x-user", "ann"}, {"accept", "a"}, {"accept", "b"}};
  call.contentType = "application/json";
  call.body = "{\"name\":\"pen\"}";
  call.hasBody = true;
  call.requestId = 31;
  const Answer answer = CallRoute(plugin_.Route(kPutItem), call);
  ASSERT_EQ(answer.error, "");
  EXPECT_EQ(answer.value,
            "{arguments:u4,headers:u2,id:u9,item:{name:\"pen\"},method:s7,note:\"hi\",path:\"/shop/v1/items/9\","
            "registry:true,requestId:s31,timed:true,user:\"ann\"}");
  EXPECT_EQ(answer.status, 201);
  EXPECT_EQ(answer.statusText, "Stored");
  EXPECT_EQ(answer.formatCode, 1);
  EXPECT_EQ(answer.headers, (std::vector<std::pair<std::string, std::string>>{{"etag", "v2"}}));

  // A header argument given in the query is refused.
  call.arguments.clear();
  call.path = "/shop/v1/items/9?x-user=bob";
  EXPECT_EQ(CallRoute(plugin_.Route(kPutItem), call).error,
            "Argument 'x-user' for 'PutShopV1ItemsByItemId' was specified in an invalid location.");
  // The wrong method does not match the route.
  call.method = 6;
  call.path = "/shop/v1/items/9";
  EXPECT_EQ(CallRoute(plugin_.Route(kPutItem), call).status, 404);
}

TEST_F(Dispatch, HandlerErrorsAndRestCaptures) {
  Call remove;
  remove.method = 1;
  remove.path = "/shop/v1/items/3";
  const Answer failed = CallRoute(plugin_.Route("DeleteShopV1ItemsByItemId"), remove);
  EXPECT_TRUE(failed.failed);
  EXPECT_EQ(failed.error, "Not found");
  EXPECT_EQ(failed.status, 404);
  EXPECT_EQ(failed.value, "null");
  EXPECT_EQ(failed.statusText, "");

  EXPECT_EQ(Get("GetShopV1EchoByRest", "/shop/v1/echo/a/b%20c").value, "\"a/b c\"");
}

TEST_F(Dispatch, ResponseReleaseReturnsEveryByte) {
  Call call = PutCall();
  call.path = "/shop/v1/items/9";
  call.contentType = "application/json";
  call.body = "{\"name\":\"pen\",\"tags\":[1,2,3]}";
  call.hasBody = true;
  HostRouteRequest request{};
  request.method = 7;
  std::vector<HostRouteArgument> arguments;
  for (const auto& argument : call.arguments) arguments.push_back({argument.first, argument.second});
  const HostRouteHeader header{"x-user", "u"};
  request.path = call.path.c_str();
  request.arguments = arguments.data();
  request.argumentCount = static_cast<uint32_t>(arguments.size());
  request.headers = &header;
  request.headerCount = 1;
  request.userData = ReadAt<const void*>(&plugin_.Route(kPutItem), ZARN_AT(HostRouteRecord, routeUserData, 8));
  request.contentType = call.contentType;
  request.body = reinterpret_cast<const uint8_t*>(call.body.data());
  request.bodyLength = static_cast<uint32_t>(call.body.size());
  HostRouteResponse response{};
  // Warm-up calls, so that lazily built statics and the value pools' caches
  // are in their steady state.
  for (int i = 0; i < 3; ++i) {
    RouteCallback(&response, &request);
    ReleaseRouteResponse(&response);
  }

  const Memory::Counters before = Memory::ReadCounters();
  RouteCallback(&response, &request);
  EXPECT_EQ(ReadAt<uint8_t>(&response, ZARN_AT(HostRouteResponse, result.failed, 16)), 0);
  EXPECT_EQ(ReadAt<HostResponseRelease>(&response, ZARN_AT(HostRouteResponse, release, 58)), &ReleaseRouteResponse);
  // A second call on the same record releases the first answer itself.
  RouteCallback(&response, &request);
  ReadAt<HostResponseRelease>(&response, ZARN_AT(HostRouteResponse, release, 58))(&response);
  const unsigned char zeros[sizeof(HostRouteResponse)] = {};
  EXPECT_EQ(std::memcmp(&response, zeros, sizeof(response)), 0);
  const Memory::Counters after = Memory::ReadCounters();
  // Bytes, not block counts: growing a buffer from null counts a free of 0
  // bytes besides its allocation.
  EXPECT_EQ(after.bytesAllocated - before.bytesAllocated, after.bytesFreed - before.bytesFreed);
  EXPECT_LE(after.allocations - before.allocations, after.frees - before.frees);

  // A successful answer without headers or stream.
  request.method = 2;
  request.path = "/shop/v1/items/1";
  request.userData = ReadAt<const void*>(&plugin_.Route(kGetItem), ZARN_AT(HostRouteRecord, routeUserData, 8));
  request.contentType = nullptr;
  request.body = nullptr;
  request.bodyLength = 0;
  RouteCallback(&response, &request);
  EXPECT_STREQ(ReadAt<const char*>(&response, ZARN_AT(HostRouteResponse, statusText, 26)), "");
  EXPECT_EQ(ReadAt<const void*>(&response, ZARN_AT(HostRouteResponse, headers, 30)), nullptr);
  EXPECT_EQ(std::memcmp(reinterpret_cast<const unsigned char*>(&response) + ZARN_AT(HostRouteResponse, bodyRead, 38), zeros,
                        ZARN_AT(HostRouteResponse, release, 58) - ZARN_AT(HostRouteResponse, bodyRead, 38)), 0);
  ReleaseRouteResponse(&response);
}

TEST_F(Dispatch, UnknownUserDataAnswers404) {
  HostRouteRequest request{};
  request.path = "/shop/v1/items/1";
  HostRouteResponse response;
  std::memset(&response, 0xAB, sizeof(response));  // old contents not ours: zeroed, not freed
  RouteCallback(&response, &request);
  const Answer answer = testing_routes::ReadAnswer(response);
  EXPECT_EQ(answer.error, "Invalid function");
  EXPECT_EQ(answer.status, 404);
  ReleaseRouteResponse(&response);
}

TEST_F(Dispatch, ConcurrentCalls) {
  constexpr int kThreads = 8;
  constexpr int kCalls = 300;
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kCalls; ++i) {
        const uint64_t id = static_cast<uint64_t>(t) * 100000 + static_cast<uint64_t>(i);
        Call call;
        call.path = "/shop/v1/items/" + std::to_string(id);
        const Answer answer = CallRoute(plugin_.Route(kGetItem), call);
        if (answer.value != "{id:u" + std::to_string(id) + "}") ++wrong;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(plugin_.calls, kThreads * kCalls);
}

TEST(RemotingRegistry, SecondRegistrationChangesNothing) {
  struct Owner {
    RemotingRegistry registry_;
    std::vector<std::string> tags_{"t"};
    RemotingRegistry& registry() { return registry_; }
    const std::vector<std::string>& apiTags() const { return tags_; }
    RouteResult First(uint64_t) { return {}; }
    RouteResult Second(uint64_t) { return {}; }
  } owner;
  FunctionBuilder first = AddRoute("/a/{x}/", &owner, &Owner::First).PathArgument("x", "first", {});
  FunctionBuilder second = AddRoute("/a/{x}/", &owner, &Owner::Second).PathArgument("y", "second", {});
  EXPECT_FALSE(first.existed());
  EXPECT_TRUE(second.existed());
  EXPECT_EQ(second.nextIndex(), 1u);
  const BindingFunction* function = owner.registry_.FindFunction("GetAByX");
  ASSERT_NE(function, nullptr);
  ASSERT_EQ(function->arguments.size(), 1u);
  EXPECT_EQ(function->arguments[0].name, "x");
  EXPECT_EQ(function->arguments[0].nameHash, Fnv1a("x"));
  EXPECT_EQ(function->arguments[0].type.kind, BindingTypeKind::UInt64);
  EXPECT_EQ(function->returns.kind, BindingTypeKind::Object);
  EXPECT_EQ(function->tags, owner.tags_);
  const RouteBinding* binding = owner.registry_.FindRoute(function);
  ASSERT_NE(binding, nullptr);
  EXPECT_EQ(binding->path, "/a/{x}");
  EXPECT_EQ(binding->handler->RequestTypeId(), StaticType::HashCode<void>());
  // "/" alone keeps its slash.
  AddRoute("/", &owner, &Owner::First);
  EXPECT_EQ(owner.registry_.FindRoute(owner.registry_.FindFunction("Get"))->path, "/");
}

}  // namespace
}  // namespace Zarn
