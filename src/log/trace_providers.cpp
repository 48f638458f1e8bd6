// Registration, enable state and the one event of the trace providers.
#include "log/trace_providers.h"

#include <cstring>
#include <mutex>

#include "platform/thread.h"

namespace Zarn {

// The records ETW reads, laid out as its own declarations are.
static_assert(sizeof(Platform::EtwGuid) == 16);
static_assert(sizeof(Platform::EtwEventDescriptor) == 16);
static_assert(offsetof(Platform::EtwEventDescriptor, task) == 6);
static_assert(offsetof(Platform::EtwEventDescriptor, keyword) == 8);
static_assert(sizeof(Platform::EtwEventData) == 16);

const Platform::EtwGuid kTraceProviderGuids[kTraceProviderCount] = {
    {0x2F9EFE86, 0x4AF7, 0x4F37, {0xA4, 0x0F, 0x94, 0xB9, 0x09, 0xA1, 0x57, 0xD6}},
    {0xEA08C559, 0x95A8, 0x4AA2, {0xAF, 0xA6, 0x18, 0x73, 0x8E, 0xEC, 0x6D, 0x37}},
    {0x10F6728C, 0xEF92, 0x4BF1, {0x83, 0x97, 0x49, 0xE6, 0x93, 0xA6, 0xEB, 0x74}},
    {0x46DD7F96, 0x60CB, 0x416B, {0x80, 0x85, 0xDA, 0x5C, 0xD8, 0xF4, 0x91, 0xDD}},
};

const Platform::EtwEventDescriptor kThreadNameEvent = {103, 0, 0, 0, 14, 2, 0x1};

namespace {

constexpr TraceEventClass kProvider1Classes[] = {{0x1, 0}};
constexpr TraceEventClass kProvider2Classes[] = {{0x1, 0}};
constexpr TraceEventClass kProvider3Classes[] = {{0x0, 0}};
constexpr TraceEventClass kProvider4Classes[] = {{0x1, 0}, {0x2, 0}};

struct ProviderClasses {
  const TraceEventClass* classes;
  uint32_t count;
};
constexpr ProviderClasses kClasses[kTraceProviderCount] = {
    {kProvider1Classes, 1}, {kProvider2Classes, 1}, {kProvider3Classes, 1}, {kProvider4Classes, 2}};

constexpr size_t kThreadNameProvider = 1;  // provider 2
constexpr uint32_t kThreadNameClass = 0;

bool ClassEnabled(const TraceEventClass& eventClass, uint8_t level, uint64_t matchAny,
                  uint64_t matchAll) {
  if (level != 0 && level < eventClass.level) return false;
  if (eventClass.keyword != 0 &&
      ((eventClass.keyword & matchAny) == 0 || (eventClass.keyword & matchAll) != matchAll)) {
    return false;
  }
  return true;
}

}  // namespace

TraceProviders::TraceProviders(const Platform::EtwFunctions& functions) noexcept
    : functions_(functions) {
  for (size_t index = 0; index < kTraceProviderCount; ++index) {
    contexts_[index].classes = kClasses[index].classes;
    contexts_[index].classCount = kClasses[index].count;
  }
}

TraceProviders::~TraceProviders() { UnregisterAll(); }

uint32_t TraceProviders::RegisterAll() noexcept {
  if (functions_.eventRegister == nullptr) return 0;
  uint32_t firstFailure = 0;
  for (size_t index = 0; index < kTraceProviderCount; ++index) {
    TraceProviderContext& context = contexts_[index];
    if (context.registrationHandle != 0) continue;
    uint64_t handle = 0;
    const uint32_t status =
        functions_.eventRegister(&kTraceProviderGuids[index], ControlCallback, &context, &handle);
    if (status == 0) {
      context.registrationHandle = handle;
    } else if (firstFailure == 0) {
      firstFailure = status;
    }
  }
  return firstFailure;
}

uint32_t TraceProviders::UnregisterAll() noexcept {
  if (functions_.eventUnregister == nullptr) return 0;
  uint32_t firstFailure = 0;
  for (size_t index = kTraceProviderCount; index > 0; --index) {
    TraceProviderContext& context = contexts_[index - 1];
    if (context.registrationHandle == 0) continue;
    const uint32_t status = functions_.eventUnregister(context.registrationHandle);
    context.registrationHandle = 0;
    if (status != 0 && firstFailure == 0) firstFailure = status;
  }
  return firstFailure;
}

uint32_t TraceProviders::WriteThreadName(uint32_t threadId, const char* name) noexcept {
  const TraceProviderContext& context = contexts_[kThreadNameProvider];
  if (functions_.eventWrite == nullptr || !context.IsClassEnabled(kThreadNameClass)) return 0;
  const char* text = name != nullptr ? name : "NULL";
  Platform::EtwEventData payload[2] = {};
  payload[0].pointer = reinterpret_cast<uintptr_t>(&threadId);
  payload[0].size = sizeof threadId;
  payload[1].pointer = reinterpret_cast<uintptr_t>(text);
  payload[1].size = static_cast<uint32_t>(std::strlen(text) + 1);
  return functions_.eventWrite(context.registrationHandle, &kThreadNameEvent, 2, payload);
}

void ZARN_ETW_CALL TraceProviders::ControlCallback(const Platform::EtwGuid*, uint32_t controlCode,
                                                   uint8_t level, uint64_t matchAnyKeyword,
                                                   uint64_t matchAllKeyword, void*, void* context) {
  auto* provider = static_cast<TraceProviderContext*>(context);
  if (provider == nullptr) return;
  if (controlCode == 1) {
    provider->level.store(level, std::memory_order_relaxed);
    provider->matchAnyKeyword.store(matchAnyKeyword, std::memory_order_relaxed);
    provider->matchAllKeyword.store(matchAllKeyword, std::memory_order_relaxed);
    provider->isEnabled.store(true, std::memory_order_relaxed);
    uint32_t bits = 0;
    for (uint32_t index = 0; index < provider->classCount; ++index) {
      if (ClassEnabled(provider->classes[index], level, matchAnyKeyword, matchAllKeyword)) {
        bits |= uint32_t{1} << index;
      }
    }
    provider->enableBits.store(bits, std::memory_order_release);
  } else if (controlCode == 0) {
    provider->isEnabled.store(false, std::memory_order_relaxed);
    provider->level.store(0, std::memory_order_relaxed);
    provider->matchAnyKeyword.store(0, std::memory_order_relaxed);
    provider->matchAllKeyword.store(0, std::memory_order_relaxed);
    provider->enableBits.store(0, std::memory_order_release);
  }
}

namespace {

struct ProcessProviders {
  std::mutex lock;  // one load or unload at a time
  uint32_t loadCount = 0;
  TraceProviders providers{PlatformFunctions()};

  static Platform::EtwFunctions PlatformFunctions() noexcept {
    Platform::EtwFunctions functions{};
    Platform::LoadEtwFunctions(&functions);
    return functions;
  }
};

ProcessProviders& Process() {
  static ProcessProviders process;
  return process;
}

}  // namespace

uint32_t LoadTraceProviders() noexcept {
  ProcessProviders& process = Process();
  std::lock_guard<std::mutex> hold(process.lock);
  ++process.loadCount;
  const uint32_t status = process.providers.RegisterAll();
  process.providers.WriteThreadName(Platform::CurrentThreadId(), "Main thread");
  return status;
}

uint32_t UnloadTraceProviders() noexcept {
  ProcessProviders& process = Process();
  std::lock_guard<std::mutex> hold(process.lock);
  if (process.loadCount == 0) return 0;
  return --process.loadCount == 0 ? process.providers.UnregisterAll() : 0;
}

}  // namespace Zarn
