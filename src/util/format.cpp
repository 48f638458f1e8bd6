// Expansion of numbered-placeholder patterns.
//
// Literal runs are copied in bulk and the common bare forms (%1 or %s of a
// string, %d/%u of an integer) are rendered here directly, with output
// identical to the C library's; everything else goes through snprintf with
// the finished placeholder text. The length modifier of that text is always
// the one of the argument's own type, so the C library never reads more or
// less than the argument it is given.
#include "util/format.h"

#include <cstdio>
#include <cstring>

namespace Zarn {
namespace {

constexpr size_t kPlaceholderLimit = 60;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Copies length characters of text to the output the way a truncating
// snprintf would: all of it when it fits with its NUL, else as much as fits
// and "buffer full".
size_t Emit(FormatContext& context, const char* text, size_t length) {
  if (length < context.remaining) {
    std::memcpy(context.output, text, length);
    return length;
  }
  std::memcpy(context.output, text, context.remaining - 1);
  context.output[context.remaining - 1] = '\0';
  return context.remaining;
}

// Completes the placeholder text for a type: a bare "%" gets the default
// length modifier and conversion; otherwise a final character that is not
// an allowed conversion is replaced by the default conversion.
void Finish(FormatContext& context, const char* allowed, const char* defaultLength) {
  context.allowed = allowed;
  context.defaultLength = defaultLength;
  if (context.placeholderLength == 1) {
    size_t length = 1;
    for (const char* m = defaultLength; *m; ++m) context.placeholder[length++] = *m;
    context.placeholder[length++] = allowed[0];
    context.placeholder[length] = '\0';
    context.placeholderLength = length;
  } else {
    char& last = context.placeholder[context.placeholderLength - 1];
    if (std::strchr(allowed, last) == nullptr) last = allowed[0];
  }
  context.conversion = context.placeholder[context.placeholderLength - 1];
}

// The finished placeholder split into the part before its length modifier
// ("%-08.3") and its conversion.
struct SpecParts {
  size_t prefixLength;
  char conversion;
};

SpecParts SplitSpec(const FormatContext& context) {
  const char* text = context.placeholder;
  const size_t end = context.placeholderLength - 1;  // the conversion
  size_t i = 1;
  while (i < end && std::strchr("-+ #0", text[i]) != nullptr) ++i;
  while (i < end && (IsDigit(text[i]) || text[i] == '*')) ++i;
  if (i < end && text[i] == '.') {
    ++i;
    while (i < end && (IsDigit(text[i]) || text[i] == '*')) ++i;
  }
  return {i, text[end]};
}

// Rebuilds the placeholder with the given length modifier.
void BuildSpec(const FormatContext& context, const SpecParts& parts, const char* lengthModifier,
               char* spec) {
  std::memcpy(spec, context.placeholder, parts.prefixLength);
  size_t length = parts.prefixLength;
  for (const char* m = lengthModifier; *m; ++m) spec[length++] = *m;
  spec[length++] = parts.conversion;
  spec[length] = '\0';
}

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#endif
template <typename Value>
size_t Print(FormatContext& context, const char* spec, Value value) {
  int result;
  switch (context.starCount) {
    case 0:
      result = std::snprintf(context.output, context.remaining, spec, value);
      break;
    case 1:
      result = std::snprintf(context.output, context.remaining, spec, context.starValues[0], value);
      break;
    default:
      result = std::snprintf(context.output, context.remaining, spec, context.starValues[0],
                             context.starValues[1], value);
      break;
  }
  // C99 libraries report truncation as the would-be length, older ones as a
  // negative number; both mean the buffer is full.
  if (result < 0 || static_cast<size_t>(result) >= context.remaining) {
    context.output[context.remaining - 1] = '\0';
    return context.remaining;
  }
  return static_cast<size_t>(result);
}
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

size_t EmitUnsigned(FormatContext& context, uint64_t value, bool negative) {
  char digits[24];
  char* end = digits + sizeof digits;
  char* p = end;
  if (value <= 0xFFFFFFFFu) {  // 32-bit division is much cheaper on x86
    uint32_t small = static_cast<uint32_t>(value);
    do {
      *--p = static_cast<char>('0' + small % 10);
      small /= 10;
    } while (small != 0);
  } else {
    do {
      *--p = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value != 0);
  }
  if (negative) *--p = '-';
  return Emit(context, p, static_cast<size_t>(end - p));
}

// Integers: value holds the argument's bits, widened; bits is 32 or 64.
size_t FormatInteger(FormatContext& context, const char* allowed, const char* defaultLength,
                     uint64_t bits, bool isSigned, bool is64) {
  // The bare forms (%1, %d, %i, %u) print exactly as the C library would.
  const char bareConversion = context.placeholderLength == 1 ? allowed[0]
                              : context.placeholderLength == 2 ? context.placeholder[1]
                                                               : '\0';
  if (bareConversion == 'u' || bareConversion == 'd' || bareConversion == 'i') {
    context.allowed = allowed;
    context.defaultLength = defaultLength;
    context.conversion = bareConversion;
    if (bareConversion == 'u') return EmitUnsigned(context, is64 ? bits : static_cast<uint32_t>(bits), false);
    const int64_t value = is64 ? static_cast<int64_t>(bits)
                               : static_cast<int64_t>(static_cast<int32_t>(static_cast<uint32_t>(bits)));
    const uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    return EmitUnsigned(context, magnitude, value < 0);
  }
  Finish(context, allowed, defaultLength);
  const SpecParts parts = SplitSpec(context);
  // A narrowing "h"/"hh" is well defined for a 32-bit argument; every other
  // modifier would make the C library read another width than it is given,
  // so it is replaced by the argument's own.
  const char* modifier = context.placeholder + parts.prefixLength;
  const size_t modifierLength = context.placeholderLength - 1 - parts.prefixLength;
  const bool narrowing = !is64 && ((modifierLength == 1 && modifier[0] == 'h') ||
                                   (modifierLength == 2 && modifier[0] == 'h' && modifier[1] == 'h'));
  char spec[kPlaceholderLimit + 4];
  if (parts.conversion == 'c') {
    BuildSpec(context, parts, "", spec);
    return Print(context, spec, static_cast<int>(static_cast<unsigned char>(bits)));
  }
  if (is64) {
    BuildSpec(context, parts, "ll", spec);
    if (isSigned) return Print(context, spec, static_cast<long long>(bits));
    return Print(context, spec, static_cast<unsigned long long>(bits));
  }
  BuildSpec(context, parts, narrowing ? (modifierLength == 1 ? "h" : "hh") : "", spec);
  if (isSigned) return Print(context, spec, static_cast<int>(static_cast<uint32_t>(bits)));
  return Print(context, spec, static_cast<unsigned int>(bits));
}

size_t FormatInt32(FormatContext& context) {
  const int32_t value = *static_cast<const int32_t*>(context.argument);
  return FormatInteger(context, "dciouxX", "", static_cast<uint32_t>(value), true, false);
}
size_t FormatUInt32(FormatContext& context) {
  const uint32_t value = *static_cast<const uint32_t*>(context.argument);
  return FormatInteger(context, "ucdioxX", "", value, false, false);
}
size_t FormatChar(FormatContext& context) {
  const char value = *static_cast<const char*>(context.argument);
  if (context.placeholderLength == 1) {  // bare: the character itself
    Finish(context, "cdiouxX", "");
    return Emit(context, &value, 1);
  }
  return FormatInteger(context, "cdiouxX", "", static_cast<uint32_t>(static_cast<int32_t>(value)), true,
                       false);
}
size_t FormatInt64(FormatContext& context) {
  const int64_t value = *static_cast<const int64_t*>(context.argument);
  return FormatInteger(context, "dciouxX", "ll", static_cast<uint64_t>(value), true, true);
}
size_t FormatUInt64(FormatContext& context) {
  const uint64_t value = *static_cast<const uint64_t*>(context.argument);
  return FormatInteger(context, "ucdioxX", "ll", value, false, true);
}

size_t FormatDouble(FormatContext& context) {
  Finish(context, "gaefGAEF", "");
  const SpecParts parts = SplitSpec(context);
  char spec[kPlaceholderLimit + 4];
  BuildSpec(context, parts, "", spec);
  return Print(context, spec, *static_cast<const double*>(context.argument));
}

size_t FormatCString(FormatContext& context) {
  const char* text = *static_cast<const char* const*>(context.argument);
  if (text == nullptr) text = "(null)";
  return FormatTextArgument(context, text, std::strlen(text));
}
size_t FormatStdString(FormatContext& context) {
  const std::string& text = *static_cast<const std::string*>(context.argument);
  return FormatTextArgument(context, text.data(), text.size());
}
size_t FormatStringView(FormatContext& context) {
  const std::string_view text = *static_cast<const std::string_view*>(context.argument);
  return FormatTextArgument(context, text.data(), text.size());
}

int32_t Int32ToInt(const void* argument) { return *static_cast<const int32_t*>(argument); }
int32_t UInt32ToInt(const void* argument) {
  return static_cast<int32_t>(*static_cast<const uint32_t*>(argument));
}
int32_t CharToInt(const void* argument) { return *static_cast<const char*>(argument); }
int32_t Int64ToInt(const void* argument) {
  return static_cast<int32_t>(static_cast<uint32_t>(*static_cast<const int64_t*>(argument)));
}
int32_t UInt64ToInt(const void* argument) {
  return static_cast<int32_t>(static_cast<uint32_t>(*static_cast<const uint64_t*>(argument)));
}
int32_t NotAnInt(const void*) { return 0; }

// Reads a '*' or digit field of a placeholder; see ParsePlaceholder.
struct Parser {
  const char* cursor;
  FormatContext& context;
  uint32_t& sequential;
  bool failed = false;

  void Append(char c) {
    if (failed) return;
    context.placeholder[context.placeholderLength++] = c;
    if (context.placeholderLength >= kPlaceholderLimit) failed = true;
  }

  // A width or precision: "*" (its argument named by "digits$", else the
  // next sequential one; digits without "$" are dropped) or literal digits.
  // Returns the argument number that supplies the value, 0 for none.
  uint32_t Field() {
    if (*cursor == '*') {
      Append('*');
      ++cursor;
      const char* digits = cursor;
      uint64_t number = 0;
      while (IsDigit(*cursor)) {
        if (number <= 0xFFFFFFFFu) number = number * 10 + static_cast<uint32_t>(*cursor - '0');
        ++cursor;
      }
      if (cursor != digits && *cursor == '$') {
        ++cursor;
        // "*0$" names no argument: make it fail the count check.
        return number == 0 || number > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(number);
      }
      return sequential++;
    }
    while (IsDigit(*cursor)) Append(*cursor++);
    return 0;
  }
};

}  // namespace

size_t FormatTextArgument(FormatContext& context, const char* text, size_t length) noexcept {
  // The bare forms, %1 and %s, are a plain copy.
  if (context.placeholderLength == 1 ||
      (context.placeholderLength == 2 && context.placeholder[1] == 's')) {
    context.allowed = "s";
    context.defaultLength = "";
    context.conversion = 's';
    return Emit(context, text, length);
  }
  Finish(context, "s", "");
  const SpecParts parts = SplitSpec(context);
  if (parts.prefixLength == 1) return Emit(context, text, length);

  // Flags, width and precision of a %s, applied as the C library does; the
  // text itself may hold any byte and need not be NUL-terminated.
  const char* p = context.placeholder + 1;
  const char* const prefixEnd = context.placeholder + parts.prefixLength;
  bool leftAlign = false;
  while (p < prefixEnd && std::strchr("-+ #0", *p) != nullptr) leftAlign |= *p++ == '-';
  uint32_t star = 0;
  int64_t width = 0;
  if (p < prefixEnd && *p == '*') {
    width = context.starValues[star++];
    ++p;
  } else {
    while (p < prefixEnd && IsDigit(*p)) width = width * 10 + (*p++ - '0');
  }
  if (width < 0) {
    leftAlign = true;
    width = -width;
  }
  int64_t precision = -1;
  if (p < prefixEnd && *p == '.') {
    ++p;
    precision = 0;
    if (p < prefixEnd && *p == '*') {
      precision = context.starValues[star];
      ++p;
    } else {
      while (p < prefixEnd && IsDigit(*p)) precision = precision * 10 + (*p++ - '0');
    }
  }
  if (precision >= 0 && static_cast<uint64_t>(precision) < length) length = static_cast<size_t>(precision);
  const size_t pad = static_cast<uint64_t>(width) > length ? static_cast<size_t>(width) - length : 0;

  size_t written = 0;
  auto put = [&](const char* bytes, size_t count, bool spaces) {
    const size_t room = context.remaining - 1 - written;
    const size_t take = count < room ? count : room;
    if (spaces) {
      std::memset(context.output + written, ' ', take);
    } else {
      std::memcpy(context.output + written, bytes, take);
    }
    written += take;
  };
  if (!leftAlign) put(nullptr, pad, true);
  put(text, length, false);
  if (leftAlign) put(nullptr, pad, true);
  if (length + pad >= context.remaining) {
    context.output[context.remaining - 1] = '\0';
    return context.remaining;
  }
  return written;
}

const FormatArgument kFormatInt32 = {FormatInt32, Int32ToInt, true};
const FormatArgument kFormatUInt32 = {FormatUInt32, UInt32ToInt, true};
const FormatArgument kFormatChar = {FormatChar, CharToInt, true};
const FormatArgument kFormatInt64 = {FormatInt64, Int64ToInt, true};
const FormatArgument kFormatUInt64 = {FormatUInt64, UInt64ToInt, true};
const FormatArgument kFormatDouble = {FormatDouble, NotAnInt, false};
const FormatArgument kFormatCString = {FormatCString, NotAnInt, false};
const FormatArgument kFormatString = {FormatStdString, NotAnInt, false};
const FormatArgument kFormatStringView = {FormatStringView, NotAnInt, false};

size_t FormatToBuffer(char* buffer, size_t capacity, const char* pattern,
                      const FormatArgument* const* descriptors, const void* const* arguments,
                      uint32_t count) noexcept {
  if (capacity == 0) return 0;
  char* out = buffer;
  char* const end = buffer + capacity;
  const char* p = pattern;
  uint32_t sequential = 1;

  while (*p != '\0' && out < end) {
    if (*p != '%') {
      const char* run = p;
      p += std::strcspn(p, "%");
      size_t length = static_cast<size_t>(p - run);
      const size_t room = static_cast<size_t>(end - out);
      if (length > room) length = room;
      std::memcpy(out, run, length);
      out += length;
      continue;
    }
    if (p[1] == '%') {
      *out++ = '%';
      p += 2;
      continue;
    }

    FormatContext context;
    context.placeholder[0] = '%';
    context.placeholderLength = 1;
    context.starCount = 0;
    Parser parser{p + 1, context, sequential};
    uint32_t argument = 0;
    bool bare = false;

    // "%N" names argument N when N is within the count: bare unless "$" and
    // a full printf conversion follow. A larger N is read again as a width.
    if (*parser.cursor >= '1' && *parser.cursor <= '9') {
      const char* digits = parser.cursor;
      uint64_t number = 0;
      while (IsDigit(*digits)) {
        if (number <= 0xFFFFFFFFu) number = number * 10 + static_cast<uint32_t>(*digits - '0');
        ++digits;
      }
      if (number <= count) {
        argument = static_cast<uint32_t>(number);
        if (*digits == '$') {
          parser.cursor = digits + 1;
        } else {
          parser.cursor = digits;
          bare = true;
        }
      }
    }

    uint32_t widthArgument = 0;
    uint32_t precisionArgument = 0;
    if (!bare) {
      while (*parser.cursor != '\0' && std::strchr("-+ #0", *parser.cursor) != nullptr) {
        parser.Append(*parser.cursor++);
      }
      widthArgument = parser.Field();
      if (*parser.cursor == '.') {
        parser.Append('.');
        ++parser.cursor;
        if (*parser.cursor == '-') ++parser.cursor;
        precisionArgument = parser.Field();
      }
      const char c = *parser.cursor;
      if (c == 'L' || c == 'j' || c == 't' || c == 'z') {
        parser.Append(c);
        ++parser.cursor;
      } else if (c == 'h' || c == 'l') {
        parser.Append(c);
        ++parser.cursor;
        if (*parser.cursor == c) {
          parser.Append(c);
          ++parser.cursor;
        }
      }
      if (*parser.cursor != '\0') parser.Append(*parser.cursor++);
      if (argument == 0) argument = sequential++;
    }
    if (parser.failed) break;
    p = parser.cursor;
    context.placeholder[context.placeholderLength] = '\0';

    if (argument == 0 || argument > count) break;
    if (widthArgument > count || precisionArgument > count) break;
    int32_t precisionValue = 0;
    if (precisionArgument != 0) {
      const FormatArgument* source = descriptors[precisionArgument - 1];
      if (!source->isInteger) break;
      precisionValue = source->toInt(arguments[precisionArgument - 1]);
    }
    if (widthArgument != 0) {
      const FormatArgument* source = descriptors[widthArgument - 1];
      if (!source->isInteger) break;
      context.starValues[context.starCount++] = source->toInt(arguments[widthArgument - 1]);
    }
    if (precisionArgument != 0) context.starValues[context.starCount++] = precisionValue;

    context.output = out;
    context.written = static_cast<size_t>(out - buffer);
    context.remaining = static_cast<size_t>(end - out);
    context.argument = arguments[argument - 1];
    out += descriptors[argument - 1]->format(context);
  }

  size_t length = static_cast<size_t>(out - buffer);
  if (length > capacity - 1) length = capacity - 1;
  buffer[length] = '\0';
  return length;
}

}  // namespace Zarn
