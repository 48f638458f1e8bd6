// The binding registry: registration rules, lookups, the built-in and
// plugin-manager registrations, and concurrent lookups.
#include "binding/binding_registry.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "binding/builtin_types.h"
#include "plugin/plugin_manager_types.h"
#include "remoting/remoting_registry.h"

namespace Zarn {
namespace {

struct Point {
  int32_t x = 0;
  int32_t y = 0;
};
enum class Color : int32_t { Red = 1 };
struct Unrelated {};
struct SameHashA {};
struct SameHashB {};
struct Opaque {};

}  // namespace

ZARN_TYPE_SPELLING(Point, "struct Zarn::Point");
ZARN_TYPE_SPELLING(Color, "enum Zarn::Color");
ZARN_TYPE_SPELLING(Unrelated, "struct Zarn::Unrelated");
ZARN_TYPE_SPELLING(SameHashA, "struct Zarn::SameHash");
ZARN_TYPE_SPELLING(SameHashB, "struct Zarn::SameHash");
ZARN_TYPE_SPELLING(Opaque, "struct Zarn::Opaque");

namespace {

std::string Triple(const TypeRef& ref) {
  std::string text = BindingTypeKindName(ref.kind);
  if (ref.elementKind != BindingTypeKind::None) text += std::string("<") + BindingTypeKindName(ref.elementKind) + ">";
  if (ref.type != nullptr) text += " " + ref.type->name;
  return text;
}

std::string Tags(const std::vector<std::string>& tags) {
  std::string text;
  for (const std::string& tag : tags) text += (text.empty() ? "" : ",") + tag;
  return text;
}

// Every type of a registry in name order, as one text.
std::string Listing(const BindingRegistry& registry) {
  std::map<std::string, const BindingType*> sorted;
  for (const auto& entry : registry.Types()) sorted.emplace(std::string(entry.first), entry.second);
  std::ostringstream out;
  for (const auto& entry : sorted) {
    const BindingType& type = *entry.second;
    out << type.name << (type.isEnum ? " enum " : " record ") << type.size << " [" << Tags(type.tags) << "] \""
        << type.description << "\"\n";
    for (const BindingField& field : type.fields) {
      out << "  ." << field.name << " @" << field.offset << " " << Triple(field.type) << " \"" << field.description
          << "\"\n";
    }
    for (const auto& enumerator : type.enumerators) {
      out << "  " << enumerator.second.name << "=" << enumerator.second.value << " \""
          << enumerator.second.description << "\"\n";
    }
  }
  return out.str();
}

#define AT(Record, member) offsetof(Record, member)

// The registrations of a fresh plugin registry, by name.
std::string ExpectedListing() {
  using namespace BindingHelpProvider;
  using namespace Client;
  using namespace Client::AppModule;
  std::ostringstream out;
  out << "BindingAsyncCancelEvent record " << sizeof(BindingAsyncCancelEvent)
      << " [$builtin,async] \"Represents a cancelled asynchronous operation.\"\n"
      << "  .asyncToken @" << AT(BindingAsyncCancelEvent, asyncToken) << " uint32 \"Asynchronous operation token\"\n"
      << "BindingAsyncFailureEvent record " << sizeof(BindingAsyncFailureEvent)
      << " [$builtin,async] \"Represents a failed asynchronous operation.\"\n"
      << "  .asyncToken @" << AT(BindingAsyncFailureEvent, asyncToken) << " uint32 \"Asynchronous operation token\"\n"
      << "  .error @" << AT(BindingAsyncFailureEvent, error) << " string \"Error message\"\n"
      << "BindingAsyncState enum 4 [$builtin,async] \"Possible states of an asynchronous operation.\"\n"
      << "  Cancelled=3 \"The operation was cancelled\"\n"
      << "  Cancelling=2 \"A request to cancel the operation has been made\"\n"
      << "  Failed=5 \"The operation encountered an error\"\n"
      << "  None=0 \"Invalid state\"\n"
      << "  Running=1 \"The operation is in flight\"\n"
      << "  Succeeded=4 \"The operation completed successfully\"\n"
      << "BindingCallbackEvent record " << sizeof(BindingCallbackEvent)
      << " [$builtin] \"Represents the parameters of a call to a provided callback.\"\n"
      << "  .id @" << AT(BindingCallbackEvent, id) << " uint32 \"ID of the callback being invoked\"\n"
      << "  .parameters @" << AT(BindingCallbackEvent, parameters) << " vector<object> \"Callback parameters\"\n"
      << "BindingFullApiHelp record " << sizeof(FullApiHelp) << " [$builtin,help] \"Describes the exposed native API.\"\n"
      << "  .functions @" << AT(FullApiHelp, functions) << " vector<struct> BindingFullFunctionHelp \"\"\n"
      << "  .types @" << AT(FullApiHelp, types) << " vector<struct> BindingFullTypeHelp \"\"\n"
      << "  .events @" << AT(FullApiHelp, events) << " vector<struct> BindingFullEventHelp \"\"\n"
      << "BindingFullArgumentHelp record " << sizeof(FullArgumentHelp)
      << " [$builtin,help] \"Describes a function parameter.\"\n"
      << "  .name @" << AT(FullArgumentHelp, name) << " string \"\"\n"
      << "  .description @" << AT(FullArgumentHelp, description) << " string \"\"\n"
      << "  .type @" << AT(FullArgumentHelp, type) << " struct BindingFullTypeIdentifier \"\"\n"
      << "  .optional @" << AT(FullArgumentHelp, optional) << " bool \"\"\n"
      << "BindingFullEnumValueHelp record " << sizeof(FullEnumValueHelp)
      << " [$builtin,help] \"Describes an enumerator.\"\n"
      << "  .name @" << AT(FullEnumValueHelp, name) << " string \"\"\n"
      << "  .description @" << AT(FullEnumValueHelp, description) << " string \"\"\n"
      << "  .value @" << AT(FullEnumValueHelp, value) << " int32 \"\"\n"
      << "BindingFullEventHelp record " << sizeof(FullEventHelp) << " [$builtin,help] \"Describes an event.\"\n"
      << "  .name @" << AT(FullEventHelp, name) << " string \"\"\n"
      << "  .nameSpace @" << AT(FullEventHelp, nameSpace) << " string \"\"\n"
      << "  .type @" << AT(FullEventHelp, type) << " struct BindingFullTypeIdentifier \"\"\n"
      << "  .description @" << AT(FullEventHelp, description) << " string \"\"\n"
      << "  .tags @" << AT(FullEventHelp, tags) << " vector<string> \"\"\n"
      << "BindingFullFieldHelp record " << sizeof(FullFieldHelp)
      << " [$builtin,help] \"Describes a member of a struct.\"\n"
      << "  .name @" << AT(FullFieldHelp, name) << " string \"\"\n"
      << "  .description @" << AT(FullFieldHelp, description) << " string \"\"\n"
      << "  .offset @" << AT(FullFieldHelp, offset) << " uint32 \"\"\n"
      << "  .type @" << AT(FullFieldHelp, type) << " struct BindingFullTypeIdentifier \"\"\n"
      << "  .optional @" << AT(FullFieldHelp, optional) << " bool \"\"\n"
      << "BindingFullFunctionHelp record " << sizeof(FullFunctionHelp) << " [$builtin,help] \"Describes a function.\"\n"
      << "  .name @" << AT(FullFunctionHelp, name) << " string \"\"\n"
      << "  .nameSpace @" << AT(FullFunctionHelp, nameSpace) << " string \"\"\n"
      << "  .arguments @" << AT(FullFunctionHelp, arguments) << " vector<struct> BindingFullArgumentHelp \"\"\n"
      << "  .returns @" << AT(FullFunctionHelp, returns) << " struct BindingFullTypeIdentifier \"\"\n"
      << "  .description @" << AT(FullFunctionHelp, description) << " string \"\"\n"
      << "  .help @" << AT(FullFunctionHelp, help) << " string \"\"\n"
      << "  .threadSafe @" << AT(FullFunctionHelp, threadSafe) << " bool \"\"\n"
      << "  .async @" << AT(FullFunctionHelp, async) << " string \"\"\n"
      << "  .tags @" << AT(FullFunctionHelp, tags) << " vector<string> \"\"\n"
      << "BindingFullTypeHelp record " << sizeof(FullTypeHelp)
      << " [$builtin,help] \"Describes a struct or enum type.\"\n"
      << "  .name @" << AT(FullTypeHelp, name) << " string \"\"\n"
      << "  .nameSpace @" << AT(FullTypeHelp, nameSpace) << " string \"\"\n"
      << "  .size @" << AT(FullTypeHelp, size) << " uint32 \"\"\n"
      << "  .description @" << AT(FullTypeHelp, description) << " string \"\"\n"
      << "  .tags @" << AT(FullTypeHelp, tags) << " vector<string> \"\"\n"
      << "  .fields @" << AT(FullTypeHelp, fields) << " vector<struct> BindingFullFieldHelp \"\"\n"
      << "  .values @" << AT(FullTypeHelp, values) << " vector<struct> BindingFullEnumValueHelp \"\"\n"
      << "BindingFullTypeIdentifier record " << sizeof(FullTypeIdentifier)
      << " [$builtin,help] \"Describes the type of a value.\"\n"
      << "  .type @" << AT(FullTypeIdentifier, type) << " string \"\"\n"
      << "  .elementType @" << AT(FullTypeIdentifier, elementType) << " string \"\"\n"
      << "BindingGenericAsyncEvent record " << sizeof(BindingGenericAsyncEvent)
      << " [$builtin,async] \"Represents generic data for an asynchronous event.\"\n"
      << "  .asyncToken @" << AT(BindingGenericAsyncEvent, asyncToken) << " uint32 \"Asynchronous operation token\"\n"
      << "  .data @" << AT(BindingGenericAsyncEvent, data) << " object \"Event data\"\n"
      << "BindingGenericEvent record " << sizeof(BindingGenericEvent)
      << " [$builtin] \"Represents generic data for an event.\"\n"
      << "  .data @" << AT(BindingGenericEvent, data) << " object \"Event data\"\n"
      << "BindingHelpFormat enum 4 [$builtin,help] \"Help format for binding functions and types.\"\n"
      << "  Epytext=2 \"Python epytext format\"\n"
      << "  Full=1 \"Native help format\"\n"
      << "PluginLcdsEvent record " << sizeof(PluginLcdsEvent) << " [zclient] \"\"\n"
      << "  .clientId @" << AT(PluginLcdsEvent, clientId) << " string \"\"\n"
      << "  .subtopic @" << AT(PluginLcdsEvent, subtopic) << " string \"\"\n"
      << "  .typeName @" << AT(PluginLcdsEvent, typeName) << " string \"\"\n"
      << "  .body @" << AT(PluginLcdsEvent, body) << " object \"\"\n"
      << "PluginLcdsResponse record " << sizeof(PluginLcdsResponse) << " [zclient] \"\"\n"
      << "  .typeName @" << AT(PluginLcdsResponse, typeName) << " string \"\"\n"
      << "  .body @" << AT(PluginLcdsResponse, body) << " object \"\"\n"
      << "PluginManagerResource record " << sizeof(PluginManagerResource) << " [zclient] \"\"\n"
      << "  .state @" << AT(PluginManagerResource, state) << " enum PluginManagerState \"\"\n"
      << "PluginManagerState enum 4 [zclient] \"\"\n"
      << "  NotReady=0 \"\"\n"
      << "  PluginsInitialized=1 \"\"\n"
      << "PluginResourceEvent record " << sizeof(PluginResourceEvent) << " [zclient] \"\"\n"
      << "  .uri @" << AT(PluginResourceEvent, uri) << " string \"\"\n"
      << "  .eventType @" << AT(PluginResourceEvent, eventType) << " enum PluginResourceEventType \"\"\n"
      << "  .data @" << AT(PluginResourceEvent, data) << " object \"\"\n"
      << "PluginResourceEventType enum 4 [zclient] \"\"\n"
      << "  Create=0 \"\"\n"
      << "  Delete=2 \"\"\n"
      << "  Update=1 \"\"\n"
      << "PluginServiceProxyResponse record " << sizeof(PluginServiceProxyResponse) << " [zclient] \"\"\n"
      << "  .uuid @" << AT(PluginServiceProxyResponse, uuid) << " string \"\"\n"
      << "  .serviceName @" << AT(PluginServiceProxyResponse, serviceName) << " string \"\"\n"
      << "  .methodName @" << AT(PluginServiceProxyResponse, methodName) << " string \"\"\n"
      << "  .payload @" << AT(PluginServiceProxyResponse, payload) << " string \"\"\n"
      << "  .status @" << AT(PluginServiceProxyResponse, status) << " string \"\"\n"
      << "  .error @" << AT(PluginServiceProxyResponse, error) << " string \"\"\n";
  return out.str();
}

TEST(BindingTypeKind, Names) {
  const char* const expected[] = {"",       "bool",  "int8",   "uint8",  "int16",  "uint16",   "int32",
                                  "uint32", "int64", "uint64", "float",  "double", "string",   "object",
                                  "blob",   "vector", "enum",  "struct", "callback", "map"};
  for (uint32_t code = 0; code < 20; ++code) EXPECT_STREQ(BindingTypeKindName(code), expected[code]) << code;
  EXPECT_STREQ(BindingTypeKindName(20u), "");
  EXPECT_STREQ(BindingTypeKindName(0xFFFFFFFFu), "");
}

TEST(BindingRegistry, PluginRegistryHoldsExactlyTheBuiltinAndPluginManagerTypes) {
  RemotingRegistry registry;
  RegisterPluginManagerTypes(registry);
  EXPECT_EQ(Listing(registry), ExpectedListing());
  EXPECT_EQ(registry.Types().size(), 22u);

  struct EventRow {
    const char* name;
    const char* payload;
    const char* description;
    const char* tags;
  };
  const EventRow events[] = {
      {"OnCallback", "BindingCallbackEvent", "Fired when a callback is invoked.", "$builtin"},
      {"OnJsonApiEvent", "PluginResourceEvent", "Fired when a resource is changed.", "zclient"},
      {"OnLcdsEvent", "PluginLcdsEvent", "Fired when a message is received over the LCDS connection.", "zclient"},
      {"OnServiceProxyUuidEvent", "PluginServiceProxyResponse",
       "Fired when a uuid-based service proxy message is received.", "zclient"},
      {"OnServiceProxyMethodEvent", "PluginServiceProxyResponse",
       "Fired when a method-based service proxy message is received.", "zclient"},
      {"OnServiceProxyAsyncEvent", "PluginServiceProxyResponse",
       "Fired when an async service proxy message is received.", "zclient"},
  };
  EXPECT_EQ(registry.Events().size(), 6u);
  for (const EventRow& row : events) {
    const BindingEvent* event = registry.FindEvent(row.name);
    ASSERT_NE(event, nullptr) << row.name;
    // The payload is the very descriptor registered under that name.
    EXPECT_EQ(event->payload, registry.FindType(row.payload)) << row.name;
    EXPECT_EQ(event->description, row.description) << row.name;
    EXPECT_EQ(Tags(event->tags), row.tags) << row.name;
  }

  const std::string before = Listing(registry);
  RegisterPluginManagerTypes(registry);
  registry.InitializeBuiltins();
  RegisterPluginManagerTypes(registry);
  EXPECT_EQ(Listing(registry), before) << "registering again changes nothing";
  EXPECT_EQ(registry.Events().size(), 6u);
}

TEST(BindingRegistry, RegistrationRules) {
  BindingRegistry registry;
  TypeBuilder first = registry.RegisterType<Point>("Point");
  EXPECT_FALSE(first.existed());
  first.AddField("x", &Point::x).AddField("y", &Point::y).SetDescription("first").AddTag("").AddTag("t").AddTag("t");
  EXPECT_EQ(first.lastOffset(), offsetof(Point, y));

  TypeBuilder second = registry.RegisterType<Unrelated>("Point");
  EXPECT_TRUE(second.existed());
  second.AddField("z", &Point::x).AddEnumerator("E", 1).SetDescription("second").AddTag("u");
  const BindingType* point = registry.FindType("Point");
  ASSERT_NE(point, nullptr);
  EXPECT_EQ(point, first.type());
  EXPECT_EQ(point->description, "first");
  EXPECT_EQ(point->fields.size(), 2u);
  EXPECT_TRUE(point->enumerators.empty());
  EXPECT_EQ(Tags(point->tags), "t,t") << "empty tags are ignored, repeats kept";
  EXPECT_EQ(point->fields[1].nameHash, Fnv1a("y"));
  EXPECT_EQ(point->fields[1].owner, point);
  EXPECT_EQ(registry.FindTypeById(StaticType::HashCode<Point>()), point);
  EXPECT_EQ(registry.FindTypeById(StaticType::HashCode<Unrelated>()), nullptr);

  registry.RegisterType("Nothing", 0, StaticType::HashCode<void>(), false);
  EXPECT_NE(registry.FindType("Nothing"), nullptr);
  EXPECT_EQ(registry.FindTypeById(StaticType::HashCode<void>()), nullptr) << "void identity is not indexed";

  registry.RegisterType<SameHashA>("A");
  registry.RegisterType<SameHashB>("B");
  ASSERT_EQ(StaticType::HashCode<SameHashA>()->hash, StaticType::HashCode<SameHashB>()->hash);
  EXPECT_EQ(registry.FindTypeById(StaticType::HashCode<SameHashA>()), registry.FindType("B")) << "last one wins";

  TypeBuilder color = registry.RegisterType<Color>("Color");
  color.AddEnumerator("b", 1, "bee").AddEnumerator("a", 1).AddEnumerator("c", 3).AddEnumerator("c", 4, "last");
  const BindingType* colorType = registry.FindType("Color");
  EXPECT_TRUE(colorType->isEnum);
  EXPECT_EQ(colorType->size, 4u);
  EXPECT_STREQ(registry.EnumeratorName(StaticType::HashCode<Color>(), 1), "a") << "first in name order";
  EXPECT_EQ(registry.EnumeratorName(StaticType::HashCode<Color>(), 3), nullptr) << "c was redefined as 4";
  EXPECT_EQ(BindingRegistry::FindEnumerator(*colorType, "c")->description, "last");
  EXPECT_TRUE(BindingRegistry::HasEnumerator(*colorType, 4));
  EXPECT_FALSE(BindingRegistry::HasEnumerator(*colorType, 0));
  EXPECT_EQ(BindingRegistry::FindEnumerator(*colorType, "C"), nullptr) << "names are case-sensitive";

  struct WithColor {
    Color color;
    std::vector<Point> points;
  };
  registry.RegisterType<Opaque>("WithColor").AddField("color", &WithColor::color).AddField("points", &WithColor::points);
  const BindingType* withColor = registry.FindType("WithColor");
  EXPECT_EQ(Triple(withColor->fields[0].type), "enum Color");
  EXPECT_EQ(Triple(withColor->fields[1].type), "vector<struct> Point");
}

TEST(BindingRegistry, EventsAndFunctions) {
  BindingRegistry registry;
  const BindingType* point = registry.RegisterType<Point>("Point").type();
  EXPECT_FALSE(registry.RegisterEvent("Moved", point).SetDescription("d").AddTag("x").existed());
  EventBuilder again = registry.RegisterEvent("Moved", nullptr);
  EXPECT_TRUE(again.existed());
  again.SetDescription("other");
  EXPECT_EQ(registry.FindEvent("Moved")->payload, point);
  EXPECT_EQ(registry.FindEvent("Moved")->description, "d");

  const uint32_t version = registry.functionsVersion();
  BindingFunction* listed = registry.AddFunction("F", {}, false);
  BindingFunction* hidden = registry.AddFunction("G", {}, true);
  EXPECT_EQ(registry.functionsVersion(), version + 1);
  EXPECT_EQ(registry.FindFunction("F"), listed);
  EXPECT_EQ(registry.FindFunction("G"), nullptr);
  EXPECT_EQ(hidden->registry, &registry);
  EXPECT_EQ(registry.Functions().size(), 1u);
  registry.RemoveFunction(listed);
  EXPECT_EQ(registry.FindFunction("F"), nullptr);
  EXPECT_EQ(registry.functionsVersion(), version + 2);
}

TEST(BindingRegistry, BuiltinsOnce) {
  BindingRegistry registry;
  EXPECT_FALSE(registry.initialized());
  registry.InitializeBuiltins();
  registry.InitializeBuiltins();
  EXPECT_TRUE(registry.initialized());
  EXPECT_EQ(registry.Types().size(), 15u);
  EXPECT_EQ(registry.Events().size(), 1u);
  const BindingType* callback = registry.FindType("BindingCallbackEvent");
  EXPECT_EQ(registry.FindEvent("OnCallback")->payload, callback);
  EXPECT_EQ(registry.FindTypeById(StaticType::HashCode<BindingCallbackEvent>()), callback);
}

TEST(BindingRegistry, LookupsWhileRegistering) {
  RemotingRegistry registry;
  std::atomic<bool> done{false};
  std::atomic<int> misses{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 8; ++t) {
    readers.emplace_back([&] {
      do {
        if (registry.FindType("BindingFullApiHelp") == nullptr) ++misses;
        if (registry.FindTypeById(StaticType::HashCode<BindingCallbackEvent>()) == nullptr) ++misses;
        if (registry.FindEvent("OnCallback") == nullptr) ++misses;
        registry.FindType("Dynamic7");
        (void)registry.Types().size();
      } while (!done.load());
    });
  }
  for (int i = 0; i < 300; ++i) {
    registry.RegisterType("Dynamic" + std::to_string(i), 4, StaticType::HashCode<void>(), false).AddTag("x");
    registry.RegisterEvent("Event" + std::to_string(i), nullptr);
  }
  done = true;
  for (std::thread& reader : readers) reader.join();
  EXPECT_EQ(misses.load(), 0);
  EXPECT_EQ(registry.Types().size(), 315u);
}

}  // namespace
}  // namespace Zarn
