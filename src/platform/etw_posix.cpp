// Event Tracing for Windows does not exist on POSIX: report it absent, so the
// trace providers do nothing.
#include "platform/etw.h"

namespace Zarn::Platform {

bool LoadEtwFunctions(EtwFunctions* out) noexcept {
  *out = EtwFunctions{};
  return false;
}

}  // namespace Zarn::Platform
