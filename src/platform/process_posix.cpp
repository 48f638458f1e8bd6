// The executable's path on Linux, from /proc/self/exe.
#include "platform/process.h"

#include <unistd.h>

namespace Zarn::Platform {

size_t ExecutablePath(char* buffer, size_t capacity) noexcept {
  if (capacity == 0) return 0;
  const ssize_t length = readlink("/proc/self/exe", buffer, capacity - 1);
  if (length <= 0) {
    buffer[0] = '\0';
    return 0;
  }
  buffer[length] = '\0';
  return static_cast<size_t>(length);
}

}  // namespace Zarn::Platform
