// The executable's path on Windows, from GetModuleFileNameA.
#include "platform/process.h"

#include <windows.h>

namespace Zarn::Platform {

size_t ExecutablePath(char* buffer, size_t capacity) noexcept {
  if (capacity == 0) return 0;
  const DWORD length = GetModuleFileNameA(nullptr, buffer, static_cast<DWORD>(capacity));
  if (length == 0) {
    buffer[0] = '\0';
    return 0;
  }
  // On truncation Windows XP and later NUL-terminate; older ones did not.
  const size_t end = length < capacity ? length : capacity - 1;
  buffer[end] = '\0';
  return end;
}

}  // namespace Zarn::Platform
