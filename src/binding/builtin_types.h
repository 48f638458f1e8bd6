// The built-in types every registry starts with: the help records that
// describe an API as a tree, the asynchronous-operation and callback
// records, and the event "OnCallback".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "binding/static_type.h"
#include "values/binding_property.h"

namespace Zarn {

class BindingRegistry;

namespace BindingHelpProvider {

enum HelpFormat : int32_t { Full = 1, Epytext = 2 };

struct FullTypeIdentifier {
  std::string type;
  std::string elementType;
};

struct FullArgumentHelp {
  std::string name;
  std::string description;
  FullTypeIdentifier type;
  bool optional = false;
};

struct FullFunctionHelp {
  std::string name;
  std::string nameSpace;
  std::vector<FullArgumentHelp> arguments;
  FullTypeIdentifier returns;
  std::string description;
  std::string help;
  bool threadSafe = false;
  std::string async;
  std::vector<std::string> tags;
};

struct FullEnumValueHelp {
  std::string name;
  std::string description;
  int32_t value = 0;
};

struct FullFieldHelp {
  std::string name;
  std::string description;
  uint32_t offset = 0;
  FullTypeIdentifier type;
  bool optional = false;
};

struct FullTypeHelp {
  std::string name;
  std::string nameSpace;
  uint32_t size = 0;
  std::string description;
  std::vector<std::string> tags;
  std::vector<FullFieldHelp> fields;
  std::vector<FullEnumValueHelp> values;
};

struct FullEventHelp {
  std::string name;
  std::string nameSpace;
  FullTypeIdentifier type;
  std::string description;
  std::vector<std::string> tags;
};

struct FullApiHelp {
  std::vector<FullFunctionHelp> functions;
  std::vector<FullTypeHelp> types;
  std::vector<FullEventHelp> events;
};

}  // namespace BindingHelpProvider

struct BindingAsyncState {
  enum Type : int32_t { None = 0, Running = 1, Cancelling = 2, Cancelled = 3, Succeeded = 4, Failed = 5 };
};

struct BindingGenericEvent {
  BindingProperty data;
};

struct BindingCallbackEvent {
  uint32_t id = 0;
  std::vector<BindingProperty> parameters;
};

struct BindingGenericAsyncEvent {
  uint32_t asyncToken = 0;
  BindingProperty data;
};

struct BindingAsyncFailureEvent {
  uint32_t asyncToken = 0;
  std::string error;
};

struct BindingAsyncCancelEvent {
  uint32_t asyncToken = 0;
};

ZARN_TYPE_SPELLING(BindingAsyncState::Type, "enum Zarn::BindingAsyncState::Type");
ZARN_TYPE_SPELLING(BindingGenericEvent, "struct Zarn::BindingGenericEvent");
ZARN_TYPE_SPELLING(BindingCallbackEvent, "struct Zarn::BindingCallbackEvent");
ZARN_TYPE_SPELLING(BindingGenericAsyncEvent, "struct Zarn::BindingGenericAsyncEvent");
ZARN_TYPE_SPELLING(BindingAsyncFailureEvent, "struct Zarn::BindingAsyncFailureEvent");
ZARN_TYPE_SPELLING(BindingAsyncCancelEvent, "struct Zarn::BindingAsyncCancelEvent");
ZARN_TYPE_SPELLING(BindingHelpProvider::HelpFormat, "enum Zarn::BindingHelpProvider::HelpFormat");
ZARN_TYPE_SPELLING(BindingHelpProvider::FullTypeIdentifier, "struct Zarn::BindingHelpProvider::FullTypeIdentifier");
ZARN_TYPE_SPELLING(BindingHelpProvider::FullArgumentHelp, "struct Zarn::BindingHelpProvider::FullArgumentHelp");
ZARN_TYPE_SPELLING(BindingHelpProvider::FullFunctionHelp, "struct Zarn::BindingHelpProvider::FullFunctionHelp");
ZARN_TYPE_SPELLING(BindingHelpProvider::FullEnumValueHelp, "struct Zarn::BindingHelpProvider::FullEnumValueHelp");
ZARN_TYPE_SPELLING(BindingHelpProvider::FullFieldHelp, "struct Zarn::BindingHelpProvider::FullFieldHelp");
ZARN_TYPE_SPELLING(BindingHelpProvider::FullTypeHelp, "struct Zarn::BindingHelpProvider::FullTypeHelp");
ZARN_TYPE_SPELLING(BindingHelpProvider::FullEventHelp, "struct Zarn::BindingHelpProvider::FullEventHelp");
ZARN_TYPE_SPELLING(BindingHelpProvider::FullApiHelp, "struct Zarn::BindingHelpProvider::FullApiHelp");

// Registers the help types, then the asynchronous and callback types and
// the event "OnCallback", through the builders (existing names are kept).
void RegisterBuiltinTypes(BindingRegistry& registry);

}  // namespace Zarn
