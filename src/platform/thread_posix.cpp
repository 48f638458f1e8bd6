// Thread identity on Linux: the kernel thread id.
#include "platform/thread.h"

#include <sys/syscall.h>
#include <unistd.h>

namespace Zarn::Platform {

uint32_t CurrentThreadId() noexcept {
  thread_local const uint32_t id = static_cast<uint32_t>(syscall(SYS_gettid));
  return id;
}

}  // namespace Zarn::Platform
