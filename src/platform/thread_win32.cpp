// Thread identity on Windows.
#include "platform/thread.h"

#include <windows.h>

namespace Zarn::Platform {

uint32_t CurrentThreadId() noexcept { return GetCurrentThreadId(); }

}  // namespace Zarn::Platform
