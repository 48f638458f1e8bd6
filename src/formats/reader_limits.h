// Limits shared by the wire-format readers.
#pragma once

#include <cstddef>

namespace Zarn {

// Deepest nesting of containers any reader accepts. Deeper input fails with
// an ordinary message, long before any reader or any later walk over its
// tree could exhaust a thread's stack.
constexpr size_t kMaxNestingDepth = 512;

}  // namespace Zarn
