// The API description a plugin loaded through its export hands the core,
// walked by byte offset from the load record exactly as the core walks it:
// the 22 registered types and 6 events with their names, sizes, fields,
// enumerators in name order and tags, compared with a registry built the
// same way in this process and with the texts clients see.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "binding/description_reader.h"
#include "binding/host_description.h"
#include "binding/builtin_types.h"
#include "plugin/fake_core.h"
#include "plugin/plugin_manager_types.h"
#include "remoting/remoting_registry.h"

namespace {

using Zarn::AbiTest::LoadedPlugin;
using namespace Zarn::DescriptionTest;

std::vector<std::string> SortedNames(const std::vector<Type>& types) {
  std::vector<std::string> names;
  for (const Type& type : types) names.push_back(type.name);
  std::sort(names.begin(), names.end());
  return names;
}

// What the plugin registers by the time it publishes: the built-in types
// and the plugin-manager types and events.
struct ExpectedRegistry {
  Zarn::RemotingRegistry registry;
  ExpectedRegistry() { Zarn::RegisterPluginManagerTypes(registry); }
};

class DescriptionAbi : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(plugin_.context(), nullptr);
    const void* block = Zarn::AbiTest::Read<const void*>(plugin_.record, Zarn::AbiTest::kDescriptionOffset);
    ASSERT_NE(block, nullptr);
    description_ = ReadDescription(block, kRouteRecordSize);
  }
  void TearDown() override {
    if (plugin_.context() != nullptr) plugin_.Shutdown();
  }

  LoadedPlugin plugin_{18, 0, 0};
  Description description_;
};

TEST_F(DescriptionAbi, ListsTheRegisteredTypesAndEvents) {
  const std::vector<std::string> types = {
      "BindingAsyncCancelEvent",   "BindingAsyncFailureEvent",  "BindingAsyncState",
      "BindingCallbackEvent",      "BindingFullApiHelp",        "BindingFullArgumentHelp",
      "BindingFullEnumValueHelp",  "BindingFullEventHelp",      "BindingFullFieldHelp",
      "BindingFullFunctionHelp",   "BindingFullTypeHelp",       "BindingFullTypeIdentifier",
      "BindingGenericAsyncEvent",  "BindingGenericEvent",       "BindingHelpFormat",
      "PluginLcdsEvent",           "PluginLcdsResponse",        "PluginManagerResource",
      "PluginManagerState",        "PluginResourceEvent",       "PluginResourceEventType",
      "PluginServiceProxyResponse",
  };
  ASSERT_EQ(description_.types.size(), 22u);
  EXPECT_EQ(SortedNames(description_.types), types);

  struct EventRow {
    const char* name;
    const char* payload;
    const char* description;
    const char* tag;
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
  ASSERT_EQ(description_.events.size(), 6u);
  for (const EventRow& row : events) {
    SCOPED_TRACE(row.name);
    const Event* event = FindNamed(description_.events, row.name);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(event->payloadTypeName, row.payload);
    EXPECT_EQ(event->description, row.description);
    EXPECT_EQ(event->nameSpace, "");
    EXPECT_EQ(event->tags, std::vector<std::string>{row.tag});
  }
}

// Every type record against the registry's descriptor: size, texts, tags,
// fields in registration order, enumerators in name order.
TEST_F(DescriptionAbi, TypeRecordsMatchTheRegistry) {
  ExpectedRegistry expected;
  const Zarn::BindingRegistry::TypeMap types = expected.registry.Types();
  ASSERT_EQ(types.size(), description_.types.size());
  for (const auto& entry : types) {
    const Zarn::BindingType& want = *entry.second;
    SCOPED_TRACE(want.name);
    const Type* got = FindNamed(description_.types, want.name);
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(got->size, want.size);
    EXPECT_EQ(got->nameSpace, want.nameSpace);
    EXPECT_EQ(got->description, want.description);
    EXPECT_EQ(got->tags, want.tags);
    if (!want.fields.empty()) {
      EXPECT_EQ(got->enumeratorPointer, nullptr);
      ASSERT_EQ(got->fields.size(), want.fields.size());
      for (size_t i = 0; i < want.fields.size(); ++i) {
        const Zarn::BindingField& field = want.fields[i];
        SCOPED_TRACE(field.name);
        ASSERT_EQ(field.declaredType.kind, Zarn::BindingTypeKind::None) << "no registration declares a type";
        EXPECT_EQ(got->fields[i].name, field.name);
        EXPECT_EQ(got->fields[i].description, field.description);
        EXPECT_EQ(got->fields[i].offset, field.offset);
        EXPECT_EQ(got->fields[i].type.kind, static_cast<uint32_t>(field.type.kind));
        EXPECT_EQ(got->fields[i].type.elementKind, static_cast<uint32_t>(field.type.elementKind));
        EXPECT_EQ(got->fields[i].optional, 0);
      }
    } else {
      EXPECT_EQ(got->fieldPointer, nullptr);
      ASSERT_EQ(got->enumerators.size(), want.enumerators.size());
      size_t i = 0;
      for (const auto& named : want.enumerators) {  // name order
        EXPECT_EQ(got->enumerators[i].name, named.second.name);
        EXPECT_EQ(got->enumerators[i].value, named.second.value);
        EXPECT_EQ(got->enumerators[i].description, named.second.description);
        ++i;
      }
    }
  }
}

// The texts and numbers clients see, written out: enumerators in name
// order, tags, and the triples of members of every shape.
TEST_F(DescriptionAbi, KnownRecords) {
  struct EnumRow {
    const char* type;
    std::vector<std::pair<std::string, int32_t>> enumerators;
    std::vector<std::string> tags;
  };
  const EnumRow enums[] = {
      {"BindingAsyncState",
       {{"Cancelled", 3}, {"Cancelling", 2}, {"Failed", 5}, {"None", 0}, {"Running", 1}, {"Succeeded", 4}},
       {"$builtin", "async"}},
      {"BindingHelpFormat", {{"Epytext", 2}, {"Full", 1}}, {"$builtin", "help"}},
      {"PluginManagerState", {{"NotReady", 0}, {"PluginsInitialized", 1}}, {"zclient"}},
      {"PluginResourceEventType", {{"Create", 0}, {"Delete", 2}, {"Update", 1}}, {"zclient"}},
  };
  for (const EnumRow& row : enums) {
    SCOPED_TRACE(row.type);
    const Type* type = FindNamed(description_.types, row.type);
    ASSERT_NE(type, nullptr);
    EXPECT_EQ(type->size, 4u);
    EXPECT_EQ(type->tags, row.tags);
    std::vector<std::pair<std::string, int32_t>> got;
    for (const Enumerator& e : type->enumerators) got.emplace_back(e.name, e.value);
    EXPECT_EQ(got, row.enumerators);
  }

  struct FieldRow {
    const char* type;
    const char* field;
    Triple triple;
  };
  const FieldRow fields[] = {
      {"PluginResourceEvent", "uri", {12, 0, ""}},
      {"PluginResourceEvent", "eventType", {16, 0, "PluginResourceEventType"}},
      {"PluginResourceEvent", "data", {13, 0, ""}},
      {"PluginManagerResource", "state", {16, 0, "PluginManagerState"}},
      {"BindingCallbackEvent", "id", {7, 0, ""}},
      {"BindingCallbackEvent", "parameters", {15, 13, ""}},
      {"BindingFullTypeHelp", "size", {7, 0, ""}},
      {"BindingFullTypeHelp", "tags", {15, 12, ""}},
      {"BindingFullTypeHelp", "fields", {15, 17, "BindingFullFieldHelp"}},
      {"BindingFullTypeHelp", "values", {15, 17, "BindingFullEnumValueHelp"}},
      {"BindingFullFunctionHelp", "returns", {17, 0, "BindingFullTypeIdentifier"}},
      {"BindingFullFunctionHelp", "threadSafe", {1, 0, ""}},
      {"BindingFullEnumValueHelp", "value", {6, 0, ""}},
  };
  for (const FieldRow& row : fields) {
    SCOPED_TRACE(std::string(row.type) + "." + row.field);
    const Type* type = FindNamed(description_.types, row.type);
    ASSERT_NE(type, nullptr);
    const Field* field = FindNamed(type->fields, row.field);
    ASSERT_NE(field, nullptr);
    EXPECT_EQ(field->type, row.triple);
  }

  const Type* help = FindNamed(description_.types, "BindingFullTypeHelp");
  ASSERT_NE(help, nullptr);
  std::vector<std::string> order;
  for (const Field& field : help->fields) order.push_back(field.name);
  EXPECT_EQ(order, (std::vector<std::string>{"name", "nameSpace", "size", "description", "tags", "fields", "values"}));
  EXPECT_EQ(help->description, "Describes a struct or enum type.");
  EXPECT_EQ(help->tags, (std::vector<std::string>{"$builtin", "help"}));
  EXPECT_EQ(help->size, sizeof(Zarn::BindingHelpProvider::FullTypeHelp));
  const Type* async = FindNamed(description_.types, "BindingAsyncCancelEvent");
  ASSERT_NE(async, nullptr);
  EXPECT_EQ(async->size, 4u);
  ASSERT_EQ(async->fields.size(), 1u);
  EXPECT_EQ(async->fields[0].description, "Asynchronous operation token");
}

}  // namespace
