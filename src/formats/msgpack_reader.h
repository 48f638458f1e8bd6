// MessagePack bytes into a generic value: nil, booleans, every integer and
// float form, strings, raw byte strings, arrays, and maps with string keys.
// Extension types are refused. The reader keeps its open containers on an
// explicit stack and never recurses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "formats/reader_limits.h"
#include "values/binding_property.h"

namespace Zarn {

// What ParseMessagePack hands back: the value (or the failure) and how far
// the reader got.
struct MessagePackParse {
  BindingResult result;
  // Bytes read: the end of the first value, or of the last item read when
  // the input stops early or fails.
  size_t consumed = 0;
};

// Reads the first value of size bytes at data (big-endian, not
// NUL-terminated); the bytes after it are not examined, so a caller that
// needs exactly one value compares consumed with size. Empty input, and
// input that ends between two items, succeed with what was read so far
// (containers keep the items that arrived). Failures set the result's
// "error" member:
//   "Invalid MessagePack data at position %1."                      0xc1, ext and fixext items
//   "Invalid MessagePack data at position %1. Map keys must be strings."
//   "Invalid MessagePack data at position %1. Nesting deeper than 512 levels."
//   "Invalid MessagePack data. <8|16|32|64>-bit integer value at position %1 is truncated."
//   "Invalid MessagePack data. String of size %1 at position %2 is truncated."
//   "Invalid MessagePack data. Raw bytes of size %1 at position %2 are truncated."
// The first three name the position just after the offending byte, the
// others the start of the missing field or payload. A map that names a key
// twice keeps one member; the later value is written over the earlier one
// (a map merges into a structure, an array overwrites elements from index 0
// on). The tree copies everything it keeps: data may go once this returns.
// Only running out of memory throws (std::bad_alloc).
MessagePackParse ParseMessagePack(const uint8_t* data, size_t size);
MessagePackParse ParseMessagePack(std::string_view bytes);

// True when size is not 0 and the first byte opens a map or an array
// (0x80-0x9f, 0xdc-0xdf): how an argument text is recognised as
// MessagePack rather than plain text.
bool LooksLikeMessagePack(const uint8_t* data, size_t size) noexcept;
bool LooksLikeMessagePack(std::string_view bytes) noexcept;

}  // namespace Zarn
