// The conversion rules and their messages.
#include "values/native_conversion.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "binding/binding_registry.h"
#include "formats/base64.h"

namespace Zarn::Convert {
namespace {

const char kRequired[] = "A value for '%1' is required.";
const char kOutOfRange[] = "Value %1 for '%2' of type %3 is out of range";
const char kIncorrectFormat[] = "Value %1 for '%2' of type %3 is in an incorrect format";
const char kInvalidType[] = "Couldn't assign value to '%1' of type %2 because the input is of an invalid type %3.";

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The refusal of the numeric rules for bool, blob, collection and structure
// inputs (and any other kind code).
void RefuseKind(BindingResult& status, const BindingProperty& input, std::string_view name, const char* typeName) {
  status.SetError(kInvalidType, name, typeName, PropertyKindName(input.Kind()));
}

// The text of a string node, NUL-terminated.
const char* TextOf(const BindingProperty& input) { return input.GetString().data(); }

}  // namespace

void AssignSigned(BindingResult& status, int64_t& out, const BindingProperty& input, std::string_view name,
                  const SignedLimits& limits) {
  out = 0;
  if (!status.Succeeded()) return;
  switch (input.Kind()) {
    case PropertyKind::Empty:
      status.SetError(kRequired, name);
      return;
    case PropertyKind::Signed: {
      const int64_t v = input.GetSigned();
      if (v < limits.lo || v > limits.hi) return status.SetError(kOutOfRange, v, name, limits.typeName);
      out = v;
      return;
    }
    case PropertyKind::Unsigned: {
      const uint64_t v = input.GetUnsigned();
      if (v > static_cast<uint64_t>(limits.hi)) return status.SetError(kOutOfRange, v, name, limits.typeName);
      out = static_cast<int64_t>(v);
      return;
    }
    case PropertyKind::Float: {
      const double x = input.GetFloat();
      // 2^63 is the first double past every int64 (hi converted to double
      // rounds up to it), and NaN has no integer value.
      if (std::isnan(x) || static_cast<double>(limits.lo) > x || x > static_cast<double>(limits.hi) ||
          x >= 9223372036854775808.0) {
        return status.SetError(kOutOfRange, x, name, limits.typeName);
      }
      out = static_cast<int64_t>(x);
      return;
    }
    case PropertyKind::String: {
      const char* text = TextOf(input);
      char* end = nullptr;
      errno = 0;
      const long long v = std::strtoll(text, &end, 0);
      if (*end != '\0') return status.SetError(kIncorrectFormat, text, name, limits.typeName);
      if (errno == ERANGE || v < limits.lo || v > limits.hi) {
        return status.SetError(kOutOfRange, text, name, limits.typeName);
      }
      out = v;
      return;
    }
    case PropertyKind::Enum: {
      const int32_t v = input.GetEnum().value;
      if (v < limits.lo || v > limits.hi) return status.SetError(kOutOfRange, v, name, limits.typeName);
      out = v;
      return;
    }
    case PropertyKind::Bool:
    case PropertyKind::Blob:
    case PropertyKind::Collection:
    case PropertyKind::Structure:
      break;
  }
  RefuseKind(status, input, name, limits.typeName);
}

void AssignUnsigned(BindingResult& status, uint64_t& out, const BindingProperty& input, std::string_view name,
                    const UnsignedLimits& limits) {
  out = 0;
  if (!status.Succeeded()) return;
  switch (input.Kind()) {
    case PropertyKind::Empty:
      status.SetError(kRequired, name);
      return;
    case PropertyKind::Signed: {
      const int64_t v = input.GetSigned();
      if (v < 0 || static_cast<uint64_t>(v) > limits.hi) return status.SetError(kOutOfRange, v, name, limits.typeName);
      out = static_cast<uint64_t>(v);
      return;
    }
    case PropertyKind::Unsigned: {
      const uint64_t v = input.GetUnsigned();
      if (v > limits.hi) return status.SetError(kOutOfRange, v, name, limits.typeName);
      out = v;
      return;
    }
    case PropertyKind::Float: {
      const double x = input.GetFloat();
      // 2^64 is the first double past every uint64.
      if (std::isnan(x) || x < 0 || x > static_cast<double>(limits.hi) || x >= 18446744073709551616.0) {
        return status.SetError(kOutOfRange, x, name, limits.typeName);
      }
      out = static_cast<uint64_t>(x);
      return;
    }
    case PropertyKind::String: {
      const char* text = TextOf(input);
      char* end = nullptr;
      errno = 0;
      const unsigned long long v = std::strtoull(text, &end, 0);
      if (*end != '\0') return status.SetError(kIncorrectFormat, text, name, limits.typeName);
      // The C library negates a "-" number into a huge value, also after
      // leading white space.
      const char* first = text;
      while (IsSpace(*first)) ++first;
      if (errno == ERANGE || v > limits.hi || *first == '-') {
        return status.SetError(kOutOfRange, text, name, limits.typeName);
      }
      out = v;
      return;
    }
    case PropertyKind::Enum: {
      const int32_t v = input.GetEnum().value;
      if (v < 0 || static_cast<uint64_t>(v) > limits.hi) return status.SetError(kOutOfRange, v, name, limits.typeName);
      out = static_cast<uint64_t>(v);
      return;
    }
    case PropertyKind::Bool:
    case PropertyKind::Blob:
    case PropertyKind::Collection:
    case PropertyKind::Structure:
      break;
  }
  RefuseKind(status, input, name, limits.typeName);
}

void AssignFloating(BindingResult& status, double& out, const BindingProperty& input, std::string_view name,
                    const FloatingLimits& limits) {
  out = 0.0;
  if (!status.Succeeded()) return;
  constexpr double kTwo63 = 9223372036854775808.0;
  constexpr double kTwo64 = 18446744073709551616.0;
  switch (input.Kind()) {
    case PropertyKind::Empty:
      status.SetError(kRequired, name);
      return;
    case PropertyKind::Signed:
    case PropertyKind::Enum: {
      const int64_t v = input.Kind() == PropertyKind::Signed ? input.GetSigned() : input.GetEnum().value;
      if ((limits.lo >= -kTwo63 && v < static_cast<int64_t>(limits.lo)) ||
          (limits.hi <= kTwo63 && v > static_cast<int64_t>(limits.hi))) {
        return status.SetError(kOutOfRange, v, name, limits.typeName);
      }
      out = static_cast<double>(v);
      return;
    }
    case PropertyKind::Unsigned: {
      const uint64_t v = input.GetUnsigned();
      if (limits.hi <= kTwo64 && limits.hi >= 0 && v > static_cast<uint64_t>(limits.hi)) {
        return status.SetError(kOutOfRange, v, name, limits.typeName);
      }
      out = static_cast<double>(v);
      return;
    }
    case PropertyKind::Float: {
      const double x = input.GetFloat();
      if (limits.lo > x || limits.hi < x) return status.SetError(kOutOfRange, x, name, limits.typeName);
      out = x;
      return;
    }
    case PropertyKind::String: {
      const char* text = TextOf(input);
      char* end = nullptr;
      errno = 0;
      const double x = std::strtod(text, &end);
      if (*end != '\0') return status.SetError(kIncorrectFormat, text, name, limits.typeName);
      if (errno == ERANGE || limits.lo > x || limits.hi < x) {
        return status.SetError(kOutOfRange, text, name, limits.typeName);
      }
      out = x;
      return;
    }
    case PropertyKind::Bool:
    case PropertyKind::Blob:
    case PropertyKind::Collection:
    case PropertyKind::Structure:
      break;
  }
  RefuseKind(status, input, name, limits.typeName);
}

void AssignBool(BindingResult& status, bool& out, const BindingProperty& input, std::string_view name) {
  out = false;
  if (!status.Succeeded()) return;
  switch (input.Kind()) {
    case PropertyKind::Empty:
      return status.SetError(kRequired, name);
    case PropertyKind::Bool:
      out = input.GetBool();
      return;
    case PropertyKind::String: {
      const std::string_view text = input.GetString();
      if (text == "1" || text == "true") {
        out = true;
      } else if (!(text == "0" || text == "false")) {
        status.SetError(
            "Value %1 for '%2' of type bool is in an incorrect format. Options are \"true\", \"false\", \"1\", \"0\".",
            TextOf(input), name);
      }
      return;
    }
    default:
      return status.SetError("Couldn't assign value to '%1' of type bool because the input is of an invalid type %2.",
                             name, PropertyKindName(input.Kind()));
  }
}

void AssignString(BindingResult& status, std::string& out, const BindingProperty& input, std::string_view name,
                  const BindingRegistry& registry) {
  out.clear();
  if (!status.Succeeded()) return;
  switch (input.Kind()) {
    case PropertyKind::Empty:
      return status.SetError(kRequired, name);
    case PropertyKind::String:
      out.assign(input.GetString());
      return;
    case PropertyKind::Enum: {
      const EnumValue value = input.GetEnum();
      if (const char* enumerator = registry.EnumeratorName(value.type, value.value)) {
        out = enumerator;
      } else {
        status.SetError("%1 is not a valid enumeration value for '%2'.", value.value, name);
      }
      return;
    }
    default:
      return status.SetError("Couldn't assign value to '%1' because the input is not a string.", name);
  }
}

void AssignBlob(BindingResult& status, std::vector<uint8_t>& out, const BindingProperty& input,
                std::string_view name) {
  out.clear();
  if (!status.Succeeded()) return;
  switch (input.Kind()) {
    case PropertyKind::Empty:
      return status.SetError(kRequired, name);
    case PropertyKind::Blob:
      out = input.GetBlob();
      return;
    case PropertyKind::String: {
      const std::string_view text = input.GetString();
      for (const char c : text) {
        const bool valid = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
                           c == '/' || c == '=';
        if (!valid) {
          return status.SetError(
              "Couldn't assign string value to '%1' of type blob because the input has invalid base64 characters.",
              name);
        }
      }
      out = DecodeBase64(text);
      return;
    }
    default:
      return status.SetError("Couldn't assign value to '%1' of type blob because the input is not a blob.", name);
  }
}

void AssignObject(BindingResult& status, BindingProperty& out, const BindingProperty& input) {
  out.Clear();
  if (status.Succeeded()) out.CopyFrom(input);
}

int32_t AssignEnum(BindingResult& status, const BindingProperty& input, std::string_view name,
                   const BindingType* type) {
  if (!status.Succeeded()) return 0;
  const char* typeName = type != nullptr ? type->name.c_str() : "";
  auto has = [&](int32_t value) { return type != nullptr && BindingRegistry::HasEnumerator(*type, value); };
  const char kNotValid[] = "%1 is not a valid %2 enumeration value for '%3'.";
  switch (input.Kind()) {
    case PropertyKind::Empty:
      status.SetError(kRequired, name);
      return 0;
    case PropertyKind::Signed: {
      const int64_t v = input.GetSigned();
      if (has(static_cast<int32_t>(v))) return static_cast<int32_t>(v);
      status.SetError(kNotValid, v, typeName, name);
      return 0;
    }
    case PropertyKind::Unsigned: {
      const uint64_t v = input.GetUnsigned();
      if (has(static_cast<int32_t>(v))) return static_cast<int32_t>(v);
      status.SetError(kNotValid, v, typeName, name);
      return 0;
    }
    case PropertyKind::String: {
      if (type != nullptr) {
        if (const BindingEnumerator* found = BindingRegistry::FindEnumerator(*type, input.GetString())) {
          return found->value;
        }
      }
      BindingResult number;
      int64_t value = 0;
      AssignSigned(number, value, input, name, {INT32_MIN, INT32_MAX, typeName});
      if (number.Succeeded() && has(static_cast<int32_t>(value))) return static_cast<int32_t>(value);
      status.SetError(kNotValid, TextOf(input), typeName, name);
      return 0;
    }
    case PropertyKind::Enum: {
      const int32_t v = input.GetEnum().value;
      if (has(v)) return v;
      status.SetError(kNotValid, v, typeName, name);
      return 0;
    }
    default:
      status.SetError("Couldn't assign value to '%1' of enum type because the input is of an invalid type %2.", name,
                      PropertyKindName(input.Kind()));
      return 0;
  }
}

void AssignRecordFields(BindingResult& status, void* record, const BindingProperty& input, std::string_view name,
                        const BindingType* type, const BindingRegistry& registry, void* context) {
  if (type == nullptr) {
    status.SetError(
        "Couldn't assign value to '%1' because the input is an unregistered structure or not a structure at all.",
        name);
    return;
  }
  if (status.Succeeded() && input.Kind() != PropertyKind::Structure) {
    status.SetError("Couldn't assign value to '%1' of type %2 because the input not a structure.", name, type->name);
    return;
  }
  unsigned char* base = static_cast<unsigned char*>(record);
  for (const BindingField& field : type->fields) {
    if (!status.Succeeded()) break;
    const BindingProperty& member = input.FindMember(field.name);
    if (member.Kind() != PropertyKind::Empty) {
      if (field.accessor != nullptr) {
        field.accessor->AssignFrom(status, base + field.offset, member, field.name, field.type.type, registry,
                                   context);
      }
    } else if ((field.flags & kFieldRequired) != 0) {
      status.SetError(
          "Couldn't assign value to '%1' of type %2 because the input structure doesn't have required field '%3'.",
          name, type->name, field.name);
    }
  }
}

bool CheckVectorInput(BindingResult& status, const BindingProperty& input, std::string_view name, bool isBool) {
  if (input.Kind() == PropertyKind::Collection) return true;
  if (isBool && input.Kind() == PropertyKind::Empty) {
    status.SetError(kRequired, name);
  } else {
    status.SetError("Couldn't assign value to '%1' of type vector because the input not a collection.", name);
  }
  return false;
}

bool CheckMapInput(BindingResult& status, const BindingProperty& input, std::string_view name) {
  if (input.Kind() == PropertyKind::Structure) return true;
  status.SetError("Couldn't assign value to '%1' of type map because the input not a structure.", name);
  return false;
}

// ---- from native values -------------------------------------------------------------

void Succeed(BindingResult& output) { output = BindingProperty::Empty(); }

void StoreEnum(BindingResult& output, int64_t value, const StaticTypeId* type) {
  Succeed(output);
  output.SetEnum(static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(value))), type);
}

void StoreRecordFields(BindingResult& output, const void* record, const BindingType* type,
                       const BindingRegistry& registry) {
  if (type == nullptr) {
    output.SetError(std::string_view("Couldn't convert native value because it's an unregistered structure."));
    return;
  }
  Succeed(output);
  output.MakeStructure();
  const unsigned char* base = static_cast<const unsigned char*>(record);
  for (const BindingField& field : type->fields) {
    if (!output.Succeeded()) break;
    if (field.accessor == nullptr) continue;
    BindingResult member;
    field.accessor->StoreTo(member, base + field.offset, field.type.type, registry);
    if (!member.Succeeded()) {
      output.SetError(member.Error());
    } else if ((field.flags & kFieldOmitDefault) == 0 || !member.IsDefault()) {
      output.Member(field.name).TakeFrom(member);
    }
  }
}

}  // namespace Zarn::Convert

namespace Zarn::detail {
const StaticTypeId* RegisteredTypeId(const BindingType* type) { return type->typeId; }
}  // namespace Zarn::detail
