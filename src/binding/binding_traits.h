// How native types map onto the binding system: each member type's kind,
// element kind, identity and accessor, derived from the type itself.
#pragma once

#include <cstdint>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "binding/binding_types.h"
#include "binding/static_type.h"
#include "util/format.h"
#include "values/binding_property.h"
#include "values/native_conversion.h"

namespace Zarn {

// Spellings of the remaining scalar types, by their C names.
template <>
struct TypeSpelling<int8_t> {
  static std::string Name() { return "signed char"; }
};
template <>
struct TypeSpelling<uint8_t> {
  static std::string Name() { return "unsigned char"; }
};
template <>
struct TypeSpelling<int16_t> {
  static std::string Name() { return "short"; }
};
template <>
struct TypeSpelling<uint16_t> {
  static std::string Name() { return "unsigned short"; }
};
template <>
struct TypeSpelling<int64_t> {
  static std::string Name() { return "__int64"; }
};
template <>
struct TypeSpelling<uint64_t> {
  static std::string Name() { return "unsigned __int64"; }
};
template <>
struct TypeSpelling<float> {
  static std::string Name() { return "float"; }
};
template <>
struct TypeSpelling<double> {
  static std::string Name() { return "double"; }
};
template <typename T>
struct TypeSpelling<std::unordered_map<std::string, T>> {
  static std::string Name() {
    const std::string key = TypeSpelling<std::string>::Name();
    const std::string value = TypeSpelling<T>::Name();
    return "class std::unordered_map<" + key + "," + value + ">";
  }
};

ZARN_TYPE_SPELLING(BindingProperty, "class Zarn::BindingProperty");

// Kind of a native member type. Class types not listed are records and
// enumerations are enums; both must be registered before a field uses them.
template <typename T, typename = void>
struct BindingKindOf {
  static constexpr BindingTypeKind kKind = std::is_enum_v<T> ? BindingTypeKind::Enum : BindingTypeKind::Struct;
  static constexpr BindingTypeKind kElementKind = BindingTypeKind::None;
  using Registered = T;  // the type whose registration the triple points to
};
#define ZARN_SCALAR_KIND(Type, Kind)                                        \
  template <>                                                               \
  struct BindingKindOf<Type> {                                              \
    static constexpr BindingTypeKind kKind = BindingTypeKind::Kind;         \
    static constexpr BindingTypeKind kElementKind = BindingTypeKind::None;  \
    using Registered = void;                                                \
  }
ZARN_SCALAR_KIND(bool, Bool);
ZARN_SCALAR_KIND(int8_t, Int8);
ZARN_SCALAR_KIND(uint8_t, UInt8);
ZARN_SCALAR_KIND(int16_t, Int16);
ZARN_SCALAR_KIND(uint16_t, UInt16);
ZARN_SCALAR_KIND(int32_t, Int32);
ZARN_SCALAR_KIND(uint32_t, UInt32);
ZARN_SCALAR_KIND(int64_t, Int64);
ZARN_SCALAR_KIND(uint64_t, UInt64);
ZARN_SCALAR_KIND(float, Float);
ZARN_SCALAR_KIND(double, Double);
ZARN_SCALAR_KIND(std::string, String);
ZARN_SCALAR_KIND(BindingProperty, Object);
ZARN_SCALAR_KIND(std::vector<uint8_t>, Blob);
#undef ZARN_SCALAR_KIND

template <typename T>
struct BindingKindOf<std::vector<T>, std::enable_if_t<!std::is_same_v<T, uint8_t>>> {
  static constexpr BindingTypeKind kKind = BindingTypeKind::Vector;
  static constexpr BindingTypeKind kElementKind = BindingKindOf<T>::kKind;
  using Registered = typename BindingKindOf<T>::Registered;
};
template <typename T>
struct BindingKindOf<std::unordered_map<std::string, T>> {
  static constexpr BindingTypeKind kKind = BindingTypeKind::Map;
  static constexpr BindingTypeKind kElementKind = BindingKindOf<T>::kKind;
  using Registered = typename BindingKindOf<T>::Registered;
};

// The accessor of a member of native type T.
template <typename T>
class TypedFieldAccessor final : public FieldAccessor {
 public:
  void AssignFrom(BindingResult& status, void* address, const BindingProperty& input, std::string_view name,
                  const BindingType* element, const BindingRegistry& registry, void* context) const override {
    NativeConversion<T>::Assign(status, *static_cast<T*>(address), input, name, element, registry, context);
  }
  void StoreTo(BindingResult& output, const void* address, const BindingType* element,
               const BindingRegistry& registry) const override {
    NativeConversion<T>::Store(output, *static_cast<const T*>(address), element, registry);
  }
};

}  // namespace Zarn
