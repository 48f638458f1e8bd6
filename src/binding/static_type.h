// Stable identities of native types.
//
// Every native type that takes part in the binding system has a
// `StaticTypeId`: the 32-bit FNV-1a hash of an identity text, and the text
// "#" plus the hash as eight upper-case hexadecimal digits. The identity
// text spells the type the way one particular compiler did; the spellings
// are data (TypeSpelling below), never derived from this compiler's own
// function signatures, so identities are the same everywhere.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace Zarn {

// 32-bit FNV-1a (offset basis 0x811c9dc5, prime 0x01000193, bytes unsigned).
constexpr uint32_t Fnv1a(std::string_view text) {
  uint32_t hash = 0x811c9dc5u;
  for (char c : text) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x01000193u;
  }
  return hash;
}

// One per native type, created on first request, kept for the process.
struct StaticTypeId {
  uint32_t hash;
  const char* text;  // "#%08X" of hash in storage, or the readable text of a named record
  char storage[10];
};

// The spelled name of a native type inside its identity text. Specialized
// beside the types below and beside types declared elsewhere.
template <typename T>
struct TypeSpelling;

template <>
struct TypeSpelling<void> {
  static std::string Name() { return "void"; }
};
template <>
struct TypeSpelling<int32_t> {
  static std::string Name() { return "int"; }
};
template <>
struct TypeSpelling<uint32_t> {
  static std::string Name() { return "unsigned int"; }
};
template <>
struct TypeSpelling<bool> {
  static std::string Name() { return "bool"; }
};
template <>
struct TypeSpelling<std::string> {
  static std::string Name() {
    return "class std::basic_string<char,struct std::char_traits<char>,class std::allocator<char> >";
  }
};
template <typename T>
struct TypeSpelling<std::vector<T>> {
  static std::string Name() {
    const std::string element = TypeSpelling<T>::Name();
    return "class std::vector<" + element + ",class std::allocator<" + element + CloseTemplate(element) + " >";
  }
  // A blank goes between two closing angle brackets.
  static const char* CloseTemplate(const std::string& inner) {
    return !inner.empty() && inner.back() == '>' ? " >" : ">";
  }
};

#define ZARN_TYPE_SPELLING(Type, Spelled)                   \
  template <>                                               \
  struct TypeSpelling<Type> {                               \
    static std::string Name() { return Spelled; }           \
  }

namespace detail {
void InitializeTypeId(StaticTypeId& id, const std::string& identity);

// Builds an identity record in place, so its text may point into it.
struct TypeIdHolder {
  StaticTypeId id;
  TypeIdHolder(const std::string& hashIdentity, const char* readableText) {
    InitializeTypeId(id, hashIdentity);
    if (readableText != nullptr) id.text = readableText;
  }
};
}  // namespace detail

namespace StaticType {

// The identity text of T's ordinary record.
template <typename T>
std::string IdentityText() {
  return "unsigned int __cdecl StaticType::HashCode<" + TypeSpelling<T>::Name() + ">(void)";
}

// T's identity record.
template <typename T>
const StaticTypeId* HashCode() {
  static const detail::TypeIdHolder holder(IdentityText<T>(), nullptr);
  return &holder.id;
}

// The named record of T (BindingProperty and Resource): HashCode's hash
// with the readable text "const char *__cdecl StaticType::Name<...>(void)".
template <typename T>
const StaticTypeId* Name() {
  static const std::string text = "const char *__cdecl StaticType::Name<" + TypeSpelling<T>::Name() + ">(void)";
  static const detail::TypeIdHolder holder(IdentityText<T>(), text.c_str());
  return &holder.id;
}

}  // namespace StaticType
}  // namespace Zarn
