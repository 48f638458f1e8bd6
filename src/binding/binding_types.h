// Descriptors of the binding type system: type kinds and triples, records
// and enumerations with their fields and enumerators, events, functions and
// their arguments, and the accessors that move one member between its
// native form and a generic value.
//
// Descriptors are built once through the registry's builders and never
// change afterwards, so pointers to them are read without locks.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace Zarn {

struct StaticTypeId;
class BindingProperty;
class BindingResult;
class BindingRegistry;
struct BindingType;

// The kind of a field, argument, result or event payload.
enum class BindingTypeKind : uint32_t {
  None = 0,
  Bool = 1,
  Int8 = 2,
  UInt8 = 3,
  Int16 = 4,
  UInt16 = 5,
  Int32 = 6,
  UInt32 = 7,
  Int64 = 8,
  UInt64 = 9,
  Float = 10,
  Double = 11,
  String = 12,
  Object = 13,  // BindingProperty
  Blob = 14,    // vector of bytes
  Vector = 15,
  Enum = 16,
  Struct = 17,
  Callback = 18,
  Map = 19,     // hash map from string to the element kind
};

// "bool", "int8", ... "map"; "" for 0 and for codes outside 1 to 19.
const char* BindingTypeKindName(uint32_t code) noexcept;
inline const char* BindingTypeKindName(BindingTypeKind kind) noexcept {
  return BindingTypeKindName(static_cast<uint32_t>(kind));
}

// A type triple: the kind, the element kind of a vector or map, and the
// registered type of an enum or struct (or of the elements of a vector or
// map of them).
struct TypeRef {
  BindingTypeKind kind = BindingTypeKind::None;
  BindingTypeKind elementKind = BindingTypeKind::None;
  const BindingType* type = nullptr;
};

// Moves one native member to and from a generic value; one class per native
// type, owned by its field.
class FieldAccessor {
 public:
  virtual ~FieldAccessor() = default;
  // Converts input into the native member at address. On failure status
  // fails with the message naming name; the member may be partly written.
  // element: the registered type of an enum, struct or their vectors/maps.
  // context is passed through nested conversions unchanged.
  virtual void AssignFrom(BindingResult& status, void* address, const BindingProperty& input,
                          std::string_view name, const BindingType* element,
                          const BindingRegistry& registry, void* context) const = 0;
  // Converts the native member at address into output.
  virtual void StoreTo(BindingResult& output, const void* address, const BindingType* element,
                       const BindingRegistry& registry) const = 0;
};

// Field flags.
constexpr uint32_t kFieldOmitDefault = 1u << 0;  // left out of a converted structure when default
constexpr uint32_t kFieldRequired = 1u << 1;     // must be present when converting in

struct BindingField {
  std::string name;
  uint32_t nameHash = 0;  // FNV-1a of name
  std::string description;
  const StaticTypeId* typeId = nullptr;
  uint32_t offset = 0;  // bytes into the native record
  TypeRef type;
  TypeRef declaredType;  // replaces type in host descriptions when its kind is not 0
  uint32_t flags = 0;
  std::unique_ptr<FieldAccessor> accessor;
  const BindingType* owner = nullptr;
  bool optional = false;
};

struct BindingEnumerator {
  int32_t value = 0;
  std::string name;
  std::string description;
  const BindingType* owner = nullptr;
};

struct BindingType {
  uint32_t size = 0;  // native size; for an enumeration its storage width
  bool isEnum = false;
  std::string name;
  uint32_t typeHash = 0;
  const StaticTypeId* typeId = nullptr;
  std::string nameSpace;
  std::string description;
  std::vector<std::string> tags;
  std::vector<BindingField> fields;  // records, in registration order
  // Enumerations, in byte-wise order of their names.
  std::map<std::string, BindingEnumerator> enumerators;
  BindingRegistry* registry = nullptr;
};

struct BindingEvent {
  std::string name;
  const BindingType* payload = nullptr;
  std::string nameSpace;
  std::string description;
  std::vector<std::string> tags;
};

struct BindingArgument {
  std::string name;
  uint32_t nameHash = 0;
  std::string description;
  bool optional = false;
  TypeRef type;
  TypeRef declaredType;
};

// The callable behind a function; the remoting layer derives from it.
class FunctionHandler {
 public:
  virtual ~FunctionHandler() = default;
};

struct BindingFunction {
  std::string name;
  std::vector<BindingArgument> arguments;
  TypeRef returns;
  TypeRef declaredReturns;
  std::vector<std::string> tags;
  std::string nameSpace;
  std::string description;
  std::string help;
  bool threadSafe = false;
  bool async = false;
  std::unique_ptr<FunctionHandler> handler;
  BindingRegistry* registry = nullptr;
};

}  // namespace Zarn
