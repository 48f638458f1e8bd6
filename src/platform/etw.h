// Event Tracing for Windows, loaded at run time from Advapi32.dll.
// One portable declaration here; etw_win32.cpp calls the real Windows
// functions and etw_posix.cpp is our own stand-in for Linux.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Zarn::Platform {

#if defined(_WIN32)
#define ZARN_ETW_CALL __stdcall
#else
#define ZARN_ETW_CALL
#endif

struct EtwGuid {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  uint8_t data4[8];
};

// EVENT_DESCRIPTOR.
struct EtwEventDescriptor {
  uint16_t id;
  uint8_t version;
  uint8_t channel;
  uint8_t level;
  uint8_t opcode;
  uint16_t task;
  uint64_t keyword;
};

// EVENT_DATA_DESCRIPTOR.
struct EtwEventData {
  uint64_t pointer;  // address of the item, widened to 64 bits
  uint32_t size;     // bytes
  uint32_t reserved;
};

// ENABLECALLBACK: controlCode 1 enables, 0 disables.
using EtwEnableCallback = void(ZARN_ETW_CALL*)(const EtwGuid* sourceId, uint32_t controlCode,
                                               uint8_t level, uint64_t matchAnyKeyword,
                                               uint64_t matchAllKeyword, void* filterData,
                                               void* context);

// The three functions the trace providers use. All null when absent.
struct EtwFunctions {
  uint32_t(ZARN_ETW_CALL* eventRegister)(const EtwGuid* provider, EtwEnableCallback callback,
                                         void* context, uint64_t* handle);
  uint32_t(ZARN_ETW_CALL* eventWrite)(uint64_t handle, const EtwEventDescriptor* descriptor,
                                      uint32_t count, EtwEventData* data);
  uint32_t(ZARN_ETW_CALL* eventUnregister)(uint64_t handle);
};

// Loads "Advapi32.dll" (LoadLibraryW) and looks up EventRegister, EventWrite
// and EventUnregister. Returns false and leaves *out all null when tracing is
// not available; on POSIX it is never available.
bool LoadEtwFunctions(EtwFunctions* out) noexcept;

}  // namespace Zarn::Platform
