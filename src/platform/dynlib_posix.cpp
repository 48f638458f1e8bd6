// Shared libraries on POSIX: dlopen and dlsym.
#include "platform/dynlib.h"

#include <dlfcn.h>

namespace Zarn::Platform {
namespace {
thread_local const char* lastError = "";
}

void* OpenLibrary(const char* path) noexcept {
  void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) lastError = dlerror();
  return library;
}

void* LibrarySymbol(void* library, const char* name) noexcept {
  void* symbol = dlsym(library, name);
  if (symbol == nullptr) lastError = dlerror();
  return symbol;
}

void CloseLibrary(void* library) noexcept {
  if (library != nullptr) dlclose(library);
}

const char* LastLibraryError() noexcept { return lastError ? lastError : "unknown error"; }

}  // namespace Zarn::Platform
