// Conversion between generic values and native values, one rule per native
// kind: into native members (with every range, format and type check and
// its message) and back into generic values.
//
// Every rule into a native value takes a status result that starts
// succeeded and is failed by the first refusal; a rule entered with a failed
// status does nothing beyond writing a scalar target's default. The name is
// what messages show as the value's name.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "values/binding_property.h"

namespace Zarn {

class BindingRegistry;
struct BindingType;
struct StaticTypeId;

namespace Convert {

// Limits and the type name messages show for one numeric target.
struct SignedLimits {
  int64_t lo;
  int64_t hi;
  const char* typeName;
};
struct UnsignedLimits {
  uint64_t hi;
  const char* typeName;
};
struct FloatingLimits {
  double lo;
  double hi;
  const char* typeName;
};

template <typename T>
constexpr SignedLimits kSignedLimits = {};
template <>
constexpr SignedLimits kSignedLimits<int8_t> = {-128, 127, "int8"};
template <>
constexpr SignedLimits kSignedLimits<int16_t> = {-32768, 32767, "int16"};
template <>
constexpr SignedLimits kSignedLimits<int32_t> = {INT32_MIN, INT32_MAX, "int32"};
template <>
constexpr SignedLimits kSignedLimits<int64_t> = {INT64_MIN, INT64_MAX, "int64"};
template <typename T>
constexpr UnsignedLimits kUnsignedLimits = {};
template <>
constexpr UnsignedLimits kUnsignedLimits<uint8_t> = {255u, "uint8"};
template <>
constexpr UnsignedLimits kUnsignedLimits<uint16_t> = {65535u, "uint16"};
template <>
constexpr UnsignedLimits kUnsignedLimits<uint32_t> = {4294967295u, "uint32"};
template <>
constexpr UnsignedLimits kUnsignedLimits<uint64_t> = {UINT64_MAX, "uint64"};
template <typename T>
constexpr FloatingLimits kFloatingLimits = {};
template <>
constexpr FloatingLimits kFloatingLimits<float> = {-3.4028234663852886e38, 3.4028234663852886e38, "float"};
template <>
constexpr FloatingLimits kFloatingLimits<double> = {-1.7976931348623157e308, 1.7976931348623157e308, "double"};

// ---- rules into native values ----------------------------------------------------

void AssignSigned(BindingResult& status, int64_t& out, const BindingProperty& input, std::string_view name,
                  const SignedLimits& limits);
void AssignUnsigned(BindingResult& status, uint64_t& out, const BindingProperty& input, std::string_view name,
                    const UnsignedLimits& limits);
void AssignFloating(BindingResult& status, double& out, const BindingProperty& input, std::string_view name,
                    const FloatingLimits& limits);
void AssignBool(BindingResult& status, bool& out, const BindingProperty& input, std::string_view name);
void AssignString(BindingResult& status, std::string& out, const BindingProperty& input, std::string_view name,
                  const BindingRegistry& registry);
void AssignBlob(BindingResult& status, std::vector<uint8_t>& out, const BindingProperty& input,
                std::string_view name);
void AssignObject(BindingResult& status, BindingProperty& out, const BindingProperty& input);
// The enumerator value for an enumeration of type, 0 on refusal.
int32_t AssignEnum(BindingResult& status, const BindingProperty& input, std::string_view name,
                   const BindingType* type);
// The record rule: type may be null (an unregistered record).
void AssignRecordFields(BindingResult& status, void* record, const BindingProperty& input, std::string_view name,
                        const BindingType* type, const BindingRegistry& registry, void* context);
// Fails with the vector/map message; true when input has the right shape.
bool CheckVectorInput(BindingResult& status, const BindingProperty& input, std::string_view name, bool isBool);
bool CheckMapInput(BindingResult& status, const BindingProperty& input, std::string_view name);

// ---- rules from native values -----------------------------------------------------

// Clears output and marks it succeeded.
void Succeed(BindingResult& output);
void StoreEnum(BindingResult& output, int64_t value, const StaticTypeId* type);
void StoreRecordFields(BindingResult& output, const void* record, const BindingType* type,
                       const BindingRegistry& registry);

}  // namespace Convert

// The conversions of one native type. This primary form serves records and
// enumerations, which need their registered type; the forms below serve
// every other member type.
template <typename T, typename = void>
struct NativeConversion {
  static void Assign(BindingResult& status, T& target, const BindingProperty& input, std::string_view name,
                     const BindingType* type, const BindingRegistry& registry, void* context) {
    if constexpr (std::is_enum_v<T>) {
      target = static_cast<T>(Convert::AssignEnum(status, input, name, type));
    } else {
      Convert::AssignRecordFields(status, &target, input, name, type, registry, context);
    }
  }
  static void Store(BindingResult& output, const T& value, const BindingType* type,
                    const BindingRegistry& registry) {
    if constexpr (std::is_enum_v<T>) {
      using Underlying = std::underlying_type_t<T>;
      Convert::StoreEnum(output, static_cast<int64_t>(static_cast<Underlying>(value)),
                         type != nullptr ? TypeIdOf(type) : nullptr);
    } else {
      Convert::StoreRecordFields(output, &value, type, registry);
    }
  }
  static const StaticTypeId* TypeIdOf(const BindingType* type);
};

namespace detail {
const StaticTypeId* RegisteredTypeId(const BindingType* type);
}
template <typename T, typename E>
const StaticTypeId* NativeConversion<T, E>::TypeIdOf(const BindingType* type) {
  return detail::RegisteredTypeId(type);
}

template <typename T>
struct NativeConversion<T, std::enable_if_t<std::is_integral_v<T> && std::is_signed_v<T>>> {
  static void Assign(BindingResult& status, T& target, const BindingProperty& input, std::string_view name,
                     const BindingType*, const BindingRegistry&, void*) {
    int64_t value = 0;
    Convert::AssignSigned(status, value, input, name, Convert::kSignedLimits<T>);
    target = static_cast<T>(value);
  }
  static void Store(BindingResult& output, const T& value, const BindingType*, const BindingRegistry&) {
    Convert::Succeed(output);
    output.SetSigned(value);
  }
};

template <typename T>
struct NativeConversion<T, std::enable_if_t<std::is_integral_v<T> && std::is_unsigned_v<T> &&
                                             !std::is_same_v<T, bool>>> {
  static void Assign(BindingResult& status, T& target, const BindingProperty& input, std::string_view name,
                     const BindingType*, const BindingRegistry&, void*) {
    uint64_t value = 0;
    Convert::AssignUnsigned(status, value, input, name, Convert::kUnsignedLimits<T>);
    target = static_cast<T>(value);
  }
  static void Store(BindingResult& output, const T& value, const BindingType*, const BindingRegistry&) {
    Convert::Succeed(output);
    output.SetUnsigned(value);
  }
};

template <typename T>
struct NativeConversion<T, std::enable_if_t<std::is_floating_point_v<T>>> {
  static void Assign(BindingResult& status, T& target, const BindingProperty& input, std::string_view name,
                     const BindingType*, const BindingRegistry&, void*) {
    double value = 0;
    Convert::AssignFloating(status, value, input, name, Convert::kFloatingLimits<T>);
    target = static_cast<T>(value);
  }
  static void Store(BindingResult& output, const T& value, const BindingType*, const BindingRegistry&) {
    Convert::Succeed(output);
    output.SetFloat(static_cast<double>(value));
  }
};

template <>
struct NativeConversion<bool> {
  static void Assign(BindingResult& status, bool& target, const BindingProperty& input, std::string_view name,
                     const BindingType*, const BindingRegistry&, void*) {
    Convert::AssignBool(status, target, input, name);
  }
  static void Store(BindingResult& output, const bool& value, const BindingType*, const BindingRegistry&) {
    Convert::Succeed(output);
    output.SetBool(value);
  }
};

template <>
struct NativeConversion<std::string> {
  static void Assign(BindingResult& status, std::string& target, const BindingProperty& input,
                     std::string_view name, const BindingType*, const BindingRegistry& registry, void*) {
    Convert::AssignString(status, target, input, name, registry);
  }
  static void Store(BindingResult& output, const std::string& value, const BindingType*, const BindingRegistry&) {
    Convert::Succeed(output);
    output.SetString(value.c_str());  // up to the first NUL
  }
};

template <>
struct NativeConversion<std::vector<uint8_t>> {
  static void Assign(BindingResult& status, std::vector<uint8_t>& target, const BindingProperty& input,
                     std::string_view name, const BindingType*, const BindingRegistry&, void*) {
    Convert::AssignBlob(status, target, input, name);
  }
  static void Store(BindingResult& output, const std::vector<uint8_t>& value, const BindingType*,
                    const BindingRegistry&) {
    Convert::Succeed(output);
    output.SetBlob(value.data(), value.size());
  }
};

template <>
struct NativeConversion<BindingProperty> {
  static void Assign(BindingResult& status, BindingProperty& target, const BindingProperty& input,
                     std::string_view, const BindingType*, const BindingRegistry&, void*) {
    Convert::AssignObject(status, target, input);
  }
  static void Store(BindingResult& output, const BindingProperty& value, const BindingType*,
                    const BindingRegistry&) {
    Convert::Succeed(output);
    output.CopyFrom(value);
  }
};

// Vectors: the elements of a collection, each by the element's rule; empty
// elements keep their initial value.
template <typename T>
struct NativeConversion<std::vector<T>, std::enable_if_t<!std::is_same_v<T, uint8_t>>> {
  static void Assign(BindingResult& status, std::vector<T>& target, const BindingProperty& input,
                     std::string_view name, const BindingType* type, const BindingRegistry& registry,
                     void* context) {
    target.clear();
    if (!status.Succeeded()) return;
    if (!Convert::CheckVectorInput(status, input, name, std::is_same_v<T, bool>)) return;
    const size_t count = input.Size();
    target.resize(count);
    for (size_t i = 0; i < count && status.Succeeded(); ++i) {
      const BindingProperty& element = input.ElementAt(i);
      if (element.Kind() == PropertyKind::Empty) continue;
      if constexpr (std::is_same_v<T, bool>) {
        bool value = false;
        NativeConversion<bool>::Assign(status, value, element, name, type, registry, context);
        target[i] = value;
      } else {
        NativeConversion<T>::Assign(status, target[i], element, name, type, registry, context);
      }
    }
  }
  static void Store(BindingResult& output, const std::vector<T>& value, const BindingType* type,
                    const BindingRegistry& registry) {
    Convert::Succeed(output);
    output.MakeCollection();
    output.Reserve(value.size());
    for (size_t i = 0; i < value.size() && output.Succeeded(); ++i) {
      BindingResult element;
      NativeConversion<T>::Store(element, value[i], type, registry);
      if (!element.Succeeded()) {
        output.SetError(element.Error());
      } else {
        output.At(i).TakeFrom(element);
      }
    }
  }
};

// Maps: the members of a structure, each by the value's rule; empty members
// create no entry.
template <typename T>
struct NativeConversion<std::unordered_map<std::string, T>> {
  static void Assign(BindingResult& status, std::unordered_map<std::string, T>& target,
                     const BindingProperty& input, std::string_view name, const BindingType* type,
                     const BindingRegistry& registry, void* context) {
    target.clear();
    if (!status.Succeeded()) return;
    if (!Convert::CheckMapInput(status, input, name)) return;
    for (const auto& member : input.Members()) {
      if (!status.Succeeded()) break;
      if (member.Value().Kind() == PropertyKind::Empty) continue;
      T& entry = target[std::string(member.Key())];
      NativeConversion<T>::Assign(status, entry, member.Value(), name, type, registry, context);
    }
  }
  static void Store(BindingResult& output, const std::unordered_map<std::string, T>& value,
                    const BindingType* type, const BindingRegistry& registry) {
    Convert::Succeed(output);
    output.MakeStructure();
    for (const auto& entry : value) {
      if (!output.Succeeded()) break;
      BindingResult member;
      NativeConversion<T>::Store(member, entry.second, type, registry);
      if (!member.Succeeded()) {
        output.SetError(member.Error());
      } else {
        output.Member(entry.first).TakeFrom(member);
      }
    }
  }
};

}  // namespace Zarn
