// The trace providers against a fake trace controller: registration order,
// enable rules, the "Main thread" event, and the real platform functions.
#include "log/trace_providers.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace Zarn {
namespace {

using Platform::EtwEnableCallback;
using Platform::EtwEventData;
using Platform::EtwEventDescriptor;
using Platform::EtwGuid;

std::string GuidText(const EtwGuid& guid) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(guid.data1), guid.data2, guid.data3, guid.data4[0],
                guid.data4[1], guid.data4[2], guid.data4[3], guid.data4[4], guid.data4[5],
                guid.data4[6], guid.data4[7]);
  return text;
}

// A controller that records what the providers do and can enable them
// through the callbacks they registered.
struct FakeController {
  struct Registration {
    std::string guid;
    EtwEnableCallback callback;
    void* context;
    uint64_t handle;
  };
  struct Written {
    uint64_t handle;
    EtwEventDescriptor descriptor;
    std::vector<std::string> items;
  };
  std::vector<Registration> registrations;
  std::vector<uint64_t> unregistered;
  std::vector<Written> written;
  std::string failRegistrationOf;  // GUID text whose registration fails
  uint64_t nextHandle = 0x1000;

  static FakeController* current;

  static uint32_t ZARN_ETW_CALL Register(const EtwGuid* provider, EtwEnableCallback callback,
                                         void* context, uint64_t* handle) {
    const std::string guid = GuidText(*provider);
    if (guid == current->failRegistrationOf) return 5;  // access denied
    *handle = current->nextHandle++;
    current->registrations.push_back({guid, callback, context, *handle});
    return 0;
  }
  static uint32_t ZARN_ETW_CALL Write(uint64_t handle, const EtwEventDescriptor* descriptor,
                                      uint32_t count, EtwEventData* data) {
    Written event{handle, *descriptor, {}};
    for (uint32_t index = 0; index < count; ++index) {
      const char* bytes =
          reinterpret_cast<const char*>(static_cast<uintptr_t>(data[index].pointer));
      event.items.emplace_back(bytes, data[index].size);
    }
    current->written.push_back(event);
    return 0;
  }
  static uint32_t ZARN_ETW_CALL Unregister(uint64_t handle) {
    current->unregistered.push_back(handle);
    return 0;
  }

  FakeController() { current = this; }
  ~FakeController() { current = nullptr; }
  Platform::EtwFunctions functions() const { return {Register, Write, Unregister}; }

  // Sends a control code to provider index (0-3) as a controller would.
  void Control(size_t index, uint32_t code, uint8_t level, uint64_t any, uint64_t all) {
    const Registration& r = registrations.at(index);
    EtwGuid guid = kTraceProviderGuids[index];
    r.callback(&guid, code, level, any, all, nullptr, r.context);
  }
};
FakeController* FakeController::current = nullptr;

TEST(TraceProviders, RegisterInOrderUnregisterInReverse) {
  FakeController controller;
  {
    TraceProviders providers(controller.functions());
    EXPECT_EQ(providers.RegisterAll(), 0u);
    const char* const kGuids[] = {
        "{2F9EFE86-4AF7-4F37-A40F-94B909A157D6}", "{EA08C559-95A8-4AA2-AFA6-18738EEC6D37}",
        "{10F6728C-EF92-4BF1-8397-49E693A6EB74}", "{46DD7F96-60CB-416B-8085-DA5CD8F491DD}"};
    ASSERT_EQ(controller.registrations.size(), 4u);
    for (size_t index = 0; index < 4; ++index) {
      EXPECT_EQ(controller.registrations[index].guid, kGuids[index]) << "provider " << index + 1;
      EXPECT_EQ(controller.registrations[index].context, &providers.context(index));
      EXPECT_EQ(providers.context(index).registrationHandle,
                controller.registrations[index].handle);
    }
    EXPECT_EQ(providers.RegisterAll(), 0u);
    EXPECT_EQ(controller.registrations.size(), 4u)
        << "registered providers are not registered again";

    EXPECT_EQ(providers.UnregisterAll(), 0u);
    EXPECT_EQ(controller.unregistered, (std::vector<uint64_t>{0x1003, 0x1002, 0x1001, 0x1000}));
    for (size_t index = 0; index < 4; ++index)
      EXPECT_EQ(providers.context(index).registrationHandle, 0u);
    providers.UnregisterAll();
    EXPECT_EQ(controller.unregistered.size(), 4u) << "zero handles are skipped";

    providers.RegisterAll();  // left registered for the destructor
  }
  EXPECT_EQ(controller.unregistered.size(), 8u) << "destruction unregisters what is left";
}

TEST(TraceProviders, FailedRegistrationKeepsAZeroHandle) {
  FakeController controller;
  controller.failRegistrationOf = "{EA08C559-95A8-4AA2-AFA6-18738EEC6D37}";
  TraceProviders providers(controller.functions());
  EXPECT_EQ(providers.RegisterAll(), 5u);
  EXPECT_EQ(controller.registrations.size(), 3u) << "the others are still registered";
  EXPECT_EQ(providers.context(1).registrationHandle, 0u);
  providers.UnregisterAll();
  EXPECT_EQ(controller.unregistered, (std::vector<uint64_t>{0x1002, 0x1001, 0x1000}));
}

TEST(TraceProviders, EnableRules) {
  struct Case {
    const char* label;
    size_t provider;
    uint8_t level;
    uint64_t any, all;
    uint32_t bits;
  };
  const Case cases[] = {
      {"keyword 1 without match-any", 0, 0, 0, 0, 0b0},
      {"keyword 1 in match-any", 0, 0, 0x1, 0, 0b1},
      {"match-any among others", 1, 0, 0xF0F1, 0, 0b1},
      {"match-all bit missing", 0, 0, 0xFF, 0x3, 0b0},
      {"match-all satisfied", 0, 0, 0x1, 0x1, 0b1},
      {"any level is at least level 0", 0, 5, 0x1, 0, 0b1},
      {"keyword 0 is always on", 2, 0, 0, 0, 0b1},
      {"keyword 0 ignores match-all", 2, 4, 0, 0xFF, 0b1},
      {"second class only", 3, 0, 0x2, 0, 0b10},
      {"both classes", 3, 0, 0x3, 0, 0b11},
      {"match-all 2 drops class 1", 3, 0, 0x3, 0x2, 0b10},
  };
  for (const Case& c : cases) {
    FakeController controller;
    TraceProviders providers(controller.functions());
    providers.RegisterAll();
    const TraceProviderContext& context = providers.context(c.provider);
    EXPECT_FALSE(context.isEnabled.load()) << c.label;
    controller.Control(c.provider, 1, c.level, c.any, c.all);
    EXPECT_TRUE(context.isEnabled.load()) << c.label;
    EXPECT_EQ(context.enableBits.load(), c.bits) << c.label;
    EXPECT_EQ(context.level.load(), c.level) << c.label;
    EXPECT_EQ(context.matchAnyKeyword.load(), c.any) << c.label;
    EXPECT_EQ(context.matchAllKeyword.load(), c.all) << c.label;
    for (size_t other = 0; other < kTraceProviderCount; ++other) {
      if (other != c.provider) {
        EXPECT_EQ(providers.context(other).enableBits.load(), 0u) << c.label;
      }
    }

    controller.Control(c.provider, 2, 0, 0, 0);  // neither enable nor disable
    EXPECT_EQ(context.enableBits.load(), c.bits) << c.label << ": other codes change nothing";
    EXPECT_TRUE(context.isEnabled.load()) << c.label;

    controller.Control(c.provider, 0, 0, 0, 0);
    EXPECT_FALSE(context.isEnabled.load()) << c.label;
    EXPECT_EQ(context.enableBits.load(), 0u) << c.label;
    EXPECT_EQ(context.level.load(), 0) << c.label;
    EXPECT_EQ(context.matchAnyKeyword.load(), 0u) << c.label;
  }
}

TEST(TraceProviders, ThreadNameEventOnlyWhenEnabled) {
  FakeController controller;
  TraceProviders providers(controller.functions());
  providers.RegisterAll();
  EXPECT_EQ(providers.WriteThreadName(0x1234, "Main thread"), 0u);
  EXPECT_TRUE(controller.written.empty()) << "no controller has enabled provider 2";

  controller.Control(0, 1, 0, 0x1, 0);  // provider 1 is not the one
  providers.WriteThreadName(0x1234, "Main thread");
  EXPECT_TRUE(controller.written.empty());

  controller.Control(1, 1, 0, 0x1, 0);
  providers.WriteThreadName(0x89ABCDEF, "Main thread");
  providers.WriteThreadName(7, nullptr);
  ASSERT_EQ(controller.written.size(), 2u);
  const FakeController::Written& event = controller.written[0];
  EXPECT_EQ(event.handle, providers.context(1).registrationHandle);
  EXPECT_EQ(event.descriptor.id, 103);
  EXPECT_EQ(event.descriptor.version, 0);
  EXPECT_EQ(event.descriptor.channel, 0);
  EXPECT_EQ(event.descriptor.level, 0);
  EXPECT_EQ(event.descriptor.opcode, 14);
  EXPECT_EQ(event.descriptor.task, 2);
  EXPECT_EQ(event.descriptor.keyword, 0x1u);
  EXPECT_EQ(event.items, (std::vector<std::string>{std::string("\xEF\xCD\xAB\x89", 4),
                                                   std::string("Main thread\0", 12)}));
  EXPECT_EQ(controller.written[1].items[1], std::string("NULL\0", 5)) << "a missing name";

  controller.Control(1, 0, 0, 0, 0);
  providers.WriteThreadName(1, "Main thread");
  EXPECT_EQ(controller.written.size(), 2u) << "disabled again";
}

TEST(TraceProviders, AbsentFunctionsDoNothing) {
  TraceProviders providers(Platform::EtwFunctions{});
  EXPECT_EQ(providers.RegisterAll(), 0u);
  EXPECT_EQ(providers.WriteThreadName(1, "Main thread"), 0u);
  for (size_t index = 0; index < 4; ++index)
    EXPECT_EQ(providers.context(index).registrationHandle, 0u);
  EXPECT_EQ(providers.UnregisterAll(), 0u);
}

// With the platform's own functions: on Windows Advapi32 registers every
// provider and unregisters it without error; elsewhere tracing is absent
// and nothing is registered.
TEST(TraceProviders, PlatformFunctions) {
  Platform::EtwFunctions functions{};
  const bool isAvailable = Platform::LoadEtwFunctions(&functions);
  TraceProviders providers(functions);
  EXPECT_EQ(providers.RegisterAll(), 0u);
  for (size_t index = 0; index < 4; ++index) {
    EXPECT_EQ(providers.context(index).registrationHandle != 0, isAvailable)
        << "provider " << index + 1;
  }
  EXPECT_EQ(providers.WriteThreadName(1, "Main thread"), 0u);
  EXPECT_EQ(providers.UnregisterAll(), 0u);
  for (size_t index = 0; index < 4; ++index)
    EXPECT_EQ(providers.context(index).registrationHandle, 0u);
  // The process-wide providers go through a load and an unload cleanly.
  EXPECT_EQ(LoadTraceProviders(), 0u);
  EXPECT_EQ(LoadTraceProviders(), 0u) << "a second load registers nothing again";
  EXPECT_EQ(UnloadTraceProviders(), 0u);
  EXPECT_EQ(UnloadTraceProviders(), 0u) << "the last unload unregisters";
  EXPECT_EQ(UnloadTraceProviders(), 0u) << "one unload too many changes nothing";
}

}  // namespace
}  // namespace Zarn
