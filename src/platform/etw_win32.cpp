// Event Tracing for Windows, looked up at run time so the library still loads
// where Advapi32.dll or its event functions are missing.
#include "platform/etw.h"

#include <windows.h>

namespace Zarn::Platform {

bool LoadEtwFunctions(EtwFunctions* out) noexcept {
  *out = EtwFunctions{};
  HMODULE advapi = LoadLibraryW(L"Advapi32.dll");
  if (advapi == nullptr) return false;
  EtwFunctions found{};
  found.eventRegister = reinterpret_cast<decltype(found.eventRegister)>(
      reinterpret_cast<void*>(GetProcAddress(advapi, "EventRegister")));
  found.eventWrite = reinterpret_cast<decltype(found.eventWrite)>(
      reinterpret_cast<void*>(GetProcAddress(advapi, "EventWrite")));
  found.eventUnregister = reinterpret_cast<decltype(found.eventUnregister)>(
      reinterpret_cast<void*>(GetProcAddress(advapi, "EventUnregister")));
  if (!found.eventRegister || !found.eventWrite || !found.eventUnregister) return false;
  *out = found;
  return true;
}

}  // namespace Zarn::Platform
