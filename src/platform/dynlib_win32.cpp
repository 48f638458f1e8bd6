// Shared libraries on Windows: LoadLibraryA and GetProcAddress.
#include "platform/dynlib.h"

#include <windows.h>

#include <cstdio>

namespace Zarn::Platform {
namespace {
thread_local char lastError[64] = "";

void RememberError(const char* what) noexcept {
  std::snprintf(lastError, sizeof lastError, "%s failed with error %lu", what,
                static_cast<unsigned long>(GetLastError()));
}
}  // namespace

void* OpenLibrary(const char* path) noexcept {
  HMODULE library = LoadLibraryA(path);
  if (library == nullptr) RememberError("LoadLibraryA");
  return reinterpret_cast<void*>(library);
}

void* LibrarySymbol(void* library, const char* name) noexcept {
  FARPROC symbol = GetProcAddress(static_cast<HMODULE>(library), name);
  if (symbol == nullptr) RememberError("GetProcAddress");
  return reinterpret_cast<void*>(symbol);
}

void CloseLibrary(void* library) noexcept {
  if (library != nullptr) FreeLibrary(static_cast<HMODULE>(library));
}

const char* LastLibraryError() noexcept { return lastError; }

}  // namespace Zarn::Platform
