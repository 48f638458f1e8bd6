// Message formatting with numbered placeholders.
//
// A pattern holds literal text and placeholders that name their argument by
// number ("%1", "%2", ...), optionally followed by "$" and a printf
// printf conversion ("%1$08x"); plain printf placeholders ("%s", "%u") take the
// arguments in order. Each argument is formatted by its own static type, so
// a pattern can never make the C library read an argument as another type.
//
//   std::string url = Format("%1/api/v1/accounts/%2", base, id);
//
// Expansion works in a fixed stack buffer; the only heap allocation is the
// returned string.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

namespace Zarn {

// What a descriptor's format operation receives for one placeholder.
struct FormatContext {
  char* output;             // where the argument's text goes
  size_t written;           // characters written before this placeholder
  size_t remaining;         // buffer end minus output; at least 1
  char placeholder[64];     // "%" plus the parsed conversion text, NUL-terminated
  size_t placeholderLength; // at most 59
  const char* allowed;      // set by format: the type's conversions, default first
  char conversion;          // set by format: the conversion finally used
  const char* defaultLength;  // set by format: "" or "ll"
  const void* argument;     // the argument itself
  int32_t starValues[2];    // '*' width and precision, in that order
  uint32_t starCount;       // 0, 1 or 2
};

// Describes how to format one argument type.
struct FormatArgument {
  // Writes the argument's text at context.output, at most remaining - 1
  // characters plus a NUL; returns the characters written, or remaining when
  // the text did not fit (the buffer is then full).
  size_t (*format)(FormatContext& context);
  // The argument as a signed 32-bit value, for '*' widths; 0 for non-integers.
  int32_t (*toInt)(const void* argument);
  bool isInteger;
};

// Descriptors of the built-in argument types.
extern const FormatArgument kFormatInt32;
extern const FormatArgument kFormatUInt32;
extern const FormatArgument kFormatChar;
extern const FormatArgument kFormatInt64;
extern const FormatArgument kFormatUInt64;
extern const FormatArgument kFormatDouble;
extern const FormatArgument kFormatCString;     // const char*
extern const FormatArgument kFormatString;      // std::string
extern const FormatArgument kFormatStringView;  // std::string_view

// Expands pattern into buffer (capacity > 0) with count arguments; argument
// i is described by descriptors[i] and found at arguments[i]. Returns the
// number of characters written, excluding the NUL that is always written;
// the expansion is cut to capacity - 1 characters, and stops early (keeping
// what came before) at a malformed placeholder or a missing argument.
size_t FormatToBuffer(char* buffer, size_t capacity, const char* pattern,
                      const FormatArgument* const* descriptors, const void* const* arguments,
                      uint32_t count) noexcept;

// Formats text as a string argument would be: the helper of descriptors
// that render their value to text first (a version, a result code).
size_t FormatTextArgument(FormatContext& context, const char* text, size_t length) noexcept;

// Maps an argument type to its descriptor. Other modules add overloads
// "constexpr const FormatArgument* FormatArgumentFor(const T*)" for their
// own types beside the type, found by argument-dependent lookup.
namespace detail {
template <typename T>
constexpr const FormatArgument* BuiltinFormatArgument() {
  using U = std::remove_cv_t<T>;
  if constexpr (std::is_same_v<U, char>) {
    return &kFormatChar;
  } else if constexpr (std::is_same_v<U, bool>) {
    return &kFormatInt32;
  } else if constexpr (std::is_integral_v<U>) {
    if constexpr (sizeof(U) <= 4) {
      return std::is_signed_v<U> ? &kFormatInt32 : &kFormatUInt32;
    } else {
      return std::is_signed_v<U> ? &kFormatInt64 : &kFormatUInt64;
    }
  } else if constexpr (std::is_enum_v<U>) {
    return BuiltinFormatArgument<std::underlying_type_t<U>>();
  } else if constexpr (std::is_floating_point_v<U>) {
    return &kFormatDouble;
  } else if constexpr (std::is_same_v<U, const char*> || std::is_same_v<U, char*>) {
    return &kFormatCString;
  } else if constexpr (std::is_same_v<U, std::string>) {
    return &kFormatString;
  } else if constexpr (std::is_same_v<U, std::string_view>) {
    return &kFormatStringView;
  } else {
    return FormatArgumentFor(static_cast<const U*>(nullptr));
  }
}

// Arguments whose descriptor reads a different type than they are stored as
// (small integers, enums, floats, arrays of char) are converted once here.
template <typename T>
decltype(auto) FormatStorage(const T& value) {
  using U = std::remove_cv_t<T>;
  if constexpr (std::is_same_v<U, char> || std::is_same_v<U, std::string> ||
                std::is_same_v<U, std::string_view> || std::is_same_v<U, const char*> ||
                std::is_same_v<U, char*>) {
    return (value);
  } else if constexpr (std::is_same_v<U, bool>) {
    return int32_t{value};
  } else if constexpr (std::is_integral_v<U>) {
    if constexpr (sizeof(U) <= 4) {
      using Wide = std::conditional_t<std::is_signed_v<U>, int32_t, uint32_t>;
      return static_cast<Wide>(value);
    } else {
      using Wide = std::conditional_t<std::is_signed_v<U>, int64_t, uint64_t>;
      return static_cast<Wide>(value);
    }
  } else if constexpr (std::is_enum_v<U>) {
    return FormatStorage(static_cast<std::underlying_type_t<U>>(value));
  } else if constexpr (std::is_floating_point_v<U>) {
    return static_cast<double>(value);
  } else {
    return (value);
  }
}

template <typename T>
using FormatStored = std::remove_cv_t<std::remove_reference_t<decltype(FormatStorage(std::declval<const T&>()))>>;

template <typename T>
decltype(auto) FormatPrepare(const T& value) {
  if constexpr (std::is_array_v<T>) {
    return static_cast<const char*>(value);
  } else {
    return FormatStorage(value);
  }
}

template <typename... Args>
size_t FormatPrepared(char* buffer, size_t capacity, const char* pattern, const Args&... args) noexcept {
  if constexpr (sizeof...(Args) == 0) {
    return FormatToBuffer(buffer, capacity, pattern, nullptr, nullptr, 0);
  } else {
    static constexpr const FormatArgument* kDescriptors[] = {
        BuiltinFormatArgument<FormatStored<Args>>()...};
    const void* pointers[] = {static_cast<const void*>(&args)...};
    return FormatToBuffer(buffer, capacity, pattern, kDescriptors, pointers, sizeof...(Args));
  }
}
}  // namespace detail

constexpr size_t kFormatBufferSize = 4096;

// Expands pattern with its arguments into a caller's buffer; see
// FormatToBuffer for the result.
template <typename... Args>
size_t FormatInto(char* buffer, size_t capacity, const char* pattern, const Args&... args) noexcept {
  return detail::FormatPrepared(buffer, capacity, pattern, detail::FormatPrepare(args)...);
}

// Expands pattern with its arguments into a 4096-character buffer and returns
// the result, cut to 4095 characters.
template <typename... Args>
std::string Format(const char* pattern, const Args&... args) {
  char buffer[kFormatBufferSize];
  const size_t length = FormatInto(buffer, sizeof buffer, pattern, args...);
  return std::string(buffer, length);
}

}  // namespace Zarn
