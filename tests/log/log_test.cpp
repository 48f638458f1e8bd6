// The log manager, its targets and filters, line patterns, groups and the
// LogApi table.
#include "log/log.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "log/log_target.h"
#include "platform/debug_output.h"
#include "platform/thread.h"
#include "plugin/memory.h"

namespace Zarn {
namespace {

// Every test starts from a manager in its initial state: the release drops
// whatever manager an earlier test left, the reference builds a new one.
class LogTest : public testing::Test {
 protected:
  void SetUp() override {
    LogAddRef();
    LogRelease();
    LogAddRef();
  }
  void TearDown() override { LogRelease(); }
  // Keeps tests that do not look at the built-in targets off the console.
  static void DetachBuiltIns() {
    for (LogTargetInterface* target : {StdErrTarget(), DebuggerTarget()}) target->Detach(target);
  }
};

// Records the lines it is given, built from its own pattern.
class CaptureTarget : public LogTarget {
 public:
  explicit CaptureTarget(const char* name = "CaptureTarget") : name_(name) {}
  ~CaptureTarget() override { Detach(); }
  const char* GetName() const noexcept override { return name_; }
  bool Write(const LogEntry& entry) noexcept override {
    char line[kLogLineCapacity];
    FormatLogLine(line, sizeof line, GetFormat(entry), entry);
    lines.push_back(line);
    return true;
  }
  std::vector<std::string> lines;

 private:
  const char* name_;
};

LogTargetSettings Settings(int32_t level, uint64_t enabled, uint64_t muted, const char* pattern) {
  LogTargetSettings settings;
  settings.level = level;
  settings.enabledGroups = enabled;
  settings.mutedGroups = muted;
  settings.pattern = pattern;
  return settings;
}

class DebuggerCapture {
 public:
  DebuggerCapture() {
    Platform::SetDebuggerSink(
        [](const char* chunk, void* user) { static_cast<DebuggerCapture*>(user)->text += chunk; },
        this);
  }
  ~DebuggerCapture() { Platform::SetDebuggerSink(nullptr, nullptr); }
  std::string text;
};

// The thread identifier as "%p" shows it on Windows: upper-case hexadecimal,
// as wide as a pointer.
std::string ThreadIdText() {
  char text[32];
  std::snprintf(text, sizeof text, "%0*llX", static_cast<int>(2 * sizeof(void*)),
                static_cast<unsigned long long>(Platform::CurrentThreadId()));
  return text;
}

// True when text has shape: "9" stands for a decimal digit, "X" for an
// upper-case hexadecimal digit, anything else for itself.
bool HasShape(const std::string& text, const std::string& shape) {
  if (text.size() != shape.size()) return false;
  for (size_t index = 0; index < text.size(); ++index) {
    const char c = text[index];
    const bool isDigit = c >= '0' && c <= '9';
    switch (shape[index]) {
      case '9':
        if (!isDigit) return false;
        break;
      case 'X':
        if (!isDigit && !(c >= 'A' && c <= 'F')) return false;
        break;
      default:
        if (c != shape[index]) return false;
    }
  }
  return true;
}

LogEntry FixedEntry(int32_t level, uint64_t groups, const char* message) {
  LogEntry entry{};
  entry.year = 2026;
  entry.month = 1;
  entry.day = 2;
  entry.hour = 3;
  entry.minute = 4;
  entry.second = 5;
  entry.millisecond = 6;
  entry.level = level;
  entry.groups = groups;
  entry.message = message;
  return entry;
}

std::string Line(const char* pattern, const LogEntry& entry, size_t size = kLogLineCapacity) {
  std::vector<char> out(size + 8, '\x7F');
  const size_t length = FormatLogLine(out.data(), size, pattern, entry);
  for (size_t index = size; index < out.size(); ++index) {
    EXPECT_EQ(out[index], '\x7F') << "wrote past the buffer at " << index;
  }
  if (size == 0) return "";
  EXPECT_EQ(std::strlen(out.data()), length);
  return std::string(out.data(), length);
}

TEST_F(LogTest, BuiltInTargetsFilterByLevelAndGroup) {
  struct Case {
    const char* label;
    LogLevel level;
    uint64_t groups;
    bool onStdErr;
    bool onDebugger;
  };
  const Case cases[] = {
      {"WARN in DBG reaches both", LogLevel::Warn, kLogGroupDbg, true, true},
      {"OKAY is below the manager's minimum", LogLevel::Okay, kLogGroupDbg, false, false},
      {"XTR is muted by the manager", LogLevel::Error, kLogGroupXtr, false, false},
      {"XTR beside DBG is still muted", LogLevel::Error, kLogGroupDbg | kLogGroupXtr, false, false},
      {"GEN alone reaches no target", LogLevel::Error, kLogGroupGen, false, false},
      {"GEN beside DBG: stderr mutes GEN", LogLevel::Error, kLogGroupDbg | kLogGroupGen, false,
       true},
      {"TST is enabled nowhere", LogLevel::Always, kLogGroupTst, false, false},
      {"no groups reach every attached target", LogLevel::Error, 0, true, true},
  };
  for (const Case& c : cases) {
    DebuggerCapture debugger;
    testing::internal::CaptureStderr();
    LogMessage(c.level, c.groups, "probe %d", 7);
    const std::string stderrText = testing::internal::GetCapturedStderr();
    EXPECT_EQ(stderrText.find("| probe 7\n") != std::string::npos, c.onStdErr)
        << c.label << ": " << stderrText;
    EXPECT_EQ(debugger.text.find("| probe 7\n") != std::string::npos, c.onDebugger)
        << c.label << ": " << debugger.text;
  }
}

TEST_F(LogTest, StandardOutputShowsBareGenMessagesOnceAttached) {
  testing::internal::CaptureStdout();
  LogMessage(LogLevel::Error, kLogGroupGen, "before");
  LogTargetInterface* stdOut = StdOutTarget();
  EXPECT_EQ(stdOut->IsAttached(stdOut), 0) << "detached when the manager is created";
  stdOut->Attach(stdOut);
  LogMessage(LogLevel::Error, kLogGroupGen, "boom");
  LogMessage(LogLevel::Error, kLogGroupDbg | kLogGroupGen, "DBG is muted there");
  stdOut->Detach(stdOut);
  std::fflush(stdout);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "boom\n");
}

TEST_F(LogTest, StandardErrorLineLayout) {
  testing::internal::CaptureStderr();
  LogMessage(LogLevel::Error, kLogGroupDbg, "boom");
  LogMessage(LogLevel::Error, kLogGroupDbg, "ends with a line feed\n");
  const std::string text = testing::internal::GetCapturedStderr();
  const std::string head = std::string(ExecutableName()) + "(" + ThreadIdText() + "):  ERROR| ";
  EXPECT_EQ(text, head + "boom\n" + head + "ends with a line feed\n");
  EXPECT_EQ(ThreadIdText().size(), 2 * sizeof(void*));
}

TEST_F(LogTest, ExecutableNameIsTheFileNameOnly) {
  const std::string name = ExecutableName();
  EXPECT_EQ(name.rfind("log_tests", 0), 0u) << name;
  EXPECT_EQ(name.find_first_of("/\\"), std::string::npos) << name;
}

TEST_F(LogTest, ManagerFilters) {
  DetachBuiltIns();
  CaptureTarget target;
  target.Configure(Settings(0, 0, 0, "#M"));
  struct Step {
    const char* label;
    void (*change)();
    LogLevel level;
    uint64_t groups;
    bool written;
  };
  const Step steps[] = {
      {"default minimum is WARN", [] {}, LogLevel::Okay, 0, false},
      {"minimum lowered to OKAY", [] { SetMinimumLevel(0); }, LogLevel::Okay, 0, true},
      {"default muted XTR", [] {}, LogLevel::Okay, kLogGroupXtr, false},
      {"muted groups cleared", [] { SetMutedGroups(0); }, LogLevel::Okay, kLogGroupXtr, true},
      {"muted NET", [] { SetMutedGroups(kLogGroupNet); }, LogLevel::Okay,
       kLogGroupNet | kLogGroupDbg, false},
      {"paused drops everything", [] { PauseLogging(); }, LogLevel::Always, 0, false},
      {"resumed", [] { ResumeLogging(); }, LogLevel::Always, 0, true},
      {"minimum ALWAYS", [] { SetMinimumLevel(3); }, LogLevel::Error, 0, false},
  };
  for (const Step& step : steps) {
    step.change();
    target.lines.clear();
    LogMessage(step.level, step.groups, "x");
    EXPECT_EQ(target.lines.size(), step.written ? 1u : 0u) << step.label;
  }
  EXPECT_EQ(GetMinimumLevel(), 3);
  EXPECT_EQ(GetMutedGroups(), kLogGroupNet);
}

TEST_F(LogTest, TargetFilters) {
  DetachBuiltIns();
  SetMinimumLevel(0);
  SetMutedGroups(0);
  struct Case {
    const char* label;
    int32_t targetLevel;
    uint64_t enabled, muted;
    int32_t level;
    uint64_t groups;
    bool written;
  };
  const Case cases[] = {
      {"level below the target's", 2, 0, 0, 1, 0, false},
      {"level equal to the target's", 2, 0, 0, 2, 0, true},
      {"no restriction", 0, 0, 0, 0, kLogGroupPrf, true},
      {"enabled group matches", 0, kLogGroupNet, 0, 0, kLogGroupNet | kLogGroupMem, true},
      {"enabled group missing", 0, kLogGroupNet, 0, 0, kLogGroupMem, false},
      {"muted group", 0, 0, kLogGroupMem, 0, kLogGroupMem | kLogGroupNet, false},
      {"no groups pass enabled and muted", 0, kLogGroupNet, kLogGroupMem, 0, 0, true},
      {"no groups still meet the level", 3, kLogGroupNet, 0, 2, 0, false},
      {"enabled loses the muted bits", 0, kLogGroupNet | kLogGroupMem, kLogGroupMem, 0,
       kLogGroupMem, false},
      {"level outside 0-3", 0, 0, 0, 9, 0, true},
  };
  for (const Case& c : cases) {
    CaptureTarget target;
    target.Configure(Settings(c.targetLevel, c.enabled, c.muted, "#M"));
    LogMessage(static_cast<LogLevel>(c.level), c.groups, "x");
    EXPECT_EQ(target.lines.size(), c.written ? 1u : 0u) << c.label;
  }
}

TEST_F(LogTest, ConfigureAttachDetach) {
  DetachBuiltIns();
  CaptureTarget target;
  LogTargetInterface* self = target.Interface();
  EXPECT_FALSE(target.IsAttached());
  EXPECT_EQ(FindTarget("CaptureTarget"), nullptr);

  target.Configure(Settings(1, kLogGroupDbg | kLogGroupGen, kLogGroupGen, "[#L]"));
  EXPECT_TRUE(target.IsAttached()) << "Configure attaches a detached target";
  EXPECT_EQ(self->GetLevel(self), 1);
  EXPECT_EQ(self->GetEnabledGroups(self), kLogGroupDbg) << "enabled loses the muted bits";
  EXPECT_EQ(self->GetMutedGroups(self), kLogGroupGen);
  EXPECT_STREQ(self->GetFormat(self, nullptr), "[#L]");
  EXPECT_EQ(FindTarget("CaptureTarget"), self);

  target.Configure(Settings(2, 0, 0, "#M"));
  LogMessage(LogLevel::Error, kLogGroupDbg, "once");
  EXPECT_EQ(target.lines, std::vector<std::string>{"once\n"})
      << "reconfiguring does not list twice";

  self->SetGroups(self, kLogGroupNet | kLogGroupMem, kLogGroupMem);
  EXPECT_EQ(self->GetEnabledGroups(self), kLogGroupNet);
  self->Detach(self);
  EXPECT_EQ(self->IsAttached(self), 0);
  EXPECT_EQ(FindTarget("CaptureTarget"), nullptr);
  self->Attach(self);
  self->Attach(self);
  target.lines.clear();
  LogMessage(LogLevel::Error, 0, "single");
  EXPECT_EQ(target.lines.size(), 1u) << "a second Attach does not list again";
}

TEST_F(LogTest, TargetInterfaceAndNames) {
  struct Case {
    LogTargetInterface* target;
    const char* name;
    bool attached;
    uint64_t enabled, muted;
    const char* pattern;
  };
  const Case cases[] = {
      {StdErrTarget(), "StdErrLogTarget", true, kLogGroupDbg, kLogGroupGen, "#E(#T): #L| #M"},
      {StdOutTarget(), "StdOutLogTarget", false, kLogGroupGen, kLogGroupDbg, "#M"},
      {DebuggerTarget(), "DebuggerConsoleLogTarget", true, kLogGroupDbg, 0, "#E(#T): #L| #M"},
  };
  for (const Case& c : cases) {
    LogTargetInterface* t = c.target;
    ASSERT_NE(t, nullptr) << c.name;
    EXPECT_EQ(t->Version(t), 1) << c.name;
    EXPECT_STREQ(t->GetName(t), c.name);
    EXPECT_EQ(t->IsAttached(t), c.attached ? 1 : 0) << c.name;
    EXPECT_EQ(t->GetLevel(t), 1) << c.name;
    EXPECT_EQ(t->GetEnabledGroups(t), c.enabled) << c.name;
    EXPECT_EQ(t->GetMutedGroups(t), c.muted) << c.name;
    EXPECT_STREQ(t->GetFormat(t, nullptr), c.pattern) << c.name;
    EXPECT_EQ(FindTarget(c.name), c.attached ? t : nullptr) << c.name;
  }
  const char* const notFound[] = {"stderrlogtarget", "StdErrLogTarge", "StdErrLogTargetX", "",
                                  nullptr};
  for (const char* name : notFound) EXPECT_EQ(FindTarget(name), nullptr) << (name ? name : "null");

  CaptureTarget plain;
  EXPECT_STREQ(plain.LogTarget::GetName(), "LogTarget");
  EXPECT_STREQ(plain.GetFormat(LogEntry{}), "#D| #L| #G| #M");
  EXPECT_EQ(plain.GetLevel(), 1);
}

TEST_F(LogTest, RegisterTargetListsAsOftenAsAsked) {
  DetachBuiltIns();
  CaptureTarget target;
  target.SetLevel(0);
  LogTargetInterface* self = target.Interface();
  RegisterTarget(self);
  RegisterTarget(self);
  EXPECT_FALSE(target.IsAttached()) << "RegisterTarget leaves the flag alone";
  LogMessage(LogLevel::Error, 0, "twice");
  EXPECT_EQ(target.lines.size(), 2u);
  UnregisterTarget(self);
  target.lines.clear();
  LogMessage(LogLevel::Error, 0, "gone");
  EXPECT_TRUE(target.lines.empty()) << "UnregisterTarget removes every occurrence";

  // A registered target that is destroyed must not stay listed.
  {
    CaptureTarget doomed("Doomed");
    RegisterTarget(doomed.Interface());
  }
  EXPECT_EQ(FindTarget("Doomed"), nullptr);
  LogMessage(LogLevel::Error, 0, "after the registered target died");
}

TEST_F(LogTest, TargetThatDetachesWhileWriting) {
  struct SelfDetaching : CaptureTarget {
    bool Write(const LogEntry& entry) noexcept override {
      CaptureTarget::Write(entry);
      Detach();
      return true;
    }
  };
  DetachBuiltIns();
  SelfDetaching first;
  CaptureTarget second("Second");
  first.Configure(Settings(0, 0, 0, "#M"));
  second.Configure(Settings(0, 0, 0, "#M"));
  LogMessage(LogLevel::Error, 0, "one");
  LogMessage(LogLevel::Error, 0, "two");
  EXPECT_EQ(first.lines, std::vector<std::string>{"one\n"});
  EXPECT_EQ(second.lines.back(), "two\n");
}

TEST(LogManagerLife, LastReleaseDetachesEveryTargetLastAttachedFirst) {
  static std::vector<std::string> order;
  struct Recording : CaptureTarget {
    explicit Recording(const char* name) : CaptureTarget(name) {}
    void Detach() noexcept override {
      if (IsAttached()) order.push_back(GetName());
      CaptureTarget::Detach();
    }
  };
  order.clear();
  LogAddRef();
  LogRelease();  // no manager left from earlier tests
  Recording a("A"), b("B"), registered("Registered");
  LogAddRef();
  LogAddRef();
  SetMinimumLevel(0);
  a.Configure(Settings(0, 0, 0, "#M"));
  b.Configure(Settings(0, 0, 0, "#M"));
  RegisterTarget(registered.Interface());
  LogRelease();
  EXPECT_TRUE(a.IsAttached()) << "one reference remains";
  LogRelease();
  EXPECT_FALSE(a.IsAttached());
  EXPECT_FALSE(b.IsAttached());
  EXPECT_EQ(order, (std::vector<std::string>{"B", "A"}));
  LogRelease();  // without a reference: nothing happens

  // A message afterwards builds a new manager in its initial state.
  LogAddRef();
  EXPECT_EQ(GetMinimumLevel(), 1);
  EXPECT_EQ(GetMutedGroups(), kLogGroupXtr);
  const size_t linesBefore = a.lines.size();
  LogMessage(LogLevel::Always, kLogGroupTst, "to the new manager");
  EXPECT_EQ(a.lines.size(), linesBefore) << "the old manager's targets are not listed";
  LogRelease();
}

TEST(FormatLogLine, Tokens) {
  const LogEntry entry = FixedEntry(2, kLogGroupDbg | kLogGroupGen, "boom");
  const std::string thread = ThreadIdText();
  const std::string executable = ExecutableName();
  struct Case {
    const char* label;
    const char* pattern;
    std::string expected;
  };
  const Case cases[] = {
      {"base pattern", "#D| #L| #G| #M", "2026-01-02T03:04:05.006|  ERROR| DBG;GEN| boom\n"},
      {"console pattern", "#E(#T): #L| #M", executable + "(" + thread + "):  ERROR| boom\n"},
      {"two # then M", "##M", "#M\n"},
      {"empty pattern", "", "\n"},
      {"null pattern", nullptr, "\n"},
      {"unknown token stands for itself", "#Q#%", "Q%\n"},
      {"trailing # ends the walk", "ab#", "ab\n"},
      {"pattern with its own line feed", "#M\n", "boom\n"},
      {"literal text only", "plain", "plain\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(Line(c.pattern, entry), c.expected) << c.label;

  EXPECT_EQ(Line("#M", FixedEntry(0, 0, "ends\n")), "ends\n") << "exactly one line feed";
  EXPECT_EQ(Line("#M", FixedEntry(0, 0, "")), "\n") << "empty message";
  EXPECT_EQ(Line("#M", FixedEntry(0, 0, nullptr)), "\n") << "null message";
  EXPECT_EQ(Line("[#G]", FixedEntry(0, 0, "x")), "[]\n") << "no groups";
  EXPECT_EQ(Line("#L", FixedEntry(7, 0, "x")), "   ???\n") << "level outside 0-3";
  EXPECT_EQ(Line("#L", FixedEntry(-1, 0, "x")), "   ???\n") << "negative level";
  const std::string elapsed = Line("#H|#H", entry);
  EXPECT_TRUE(HasShape(elapsed, "999999.999|999999.999\n")) << elapsed;
}

TEST(FormatLogLine, CutsToTheBuffer) {
  const std::string longText(5000, 'm');
  struct Case {
    const char* label;
    size_t size;
    const char* pattern;
    const char* message;
    std::string expected;
  };
  const Case cases[] = {
      // size 8: budget 6 takes "abcdef", runs out, drops two, adds the line feed.
      {"message cut", 8, "#M", "abcdefghij", "abcd\n"},
      // A literal character needs a budget above 1: five fit, two go.
      {"literal cut", 8, "0123456789", "", "012\n"},
      {"fits with room", 8, "#M", "abc", "abc\n"},
      {"budget of one", 3, "#M", "abc", "\n"},
      {"budget of none", 2, "#M", "abc", "\n"},
      {"groups cut in place", 7, "#G", "", "DBG\n"},
      {"size one", 1, "#M", "abc", ""},
      {"size zero", 0, "#M", "abc", ""},
      {"4096 buffer", kLogLineCapacity, "#M", longText.c_str(), std::string(4092, 'm') + "\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Line(c.pattern, FixedEntry(0, kLogGroupDbg | kLogGroupGen, c.message), c.size),
              c.expected)
        << c.label;
  }
}

TEST(FormatLogLine, Timestamps) {
  const LogEntry entry = FixedEntry(0, 0, "");
  char out[64];
  EXPECT_EQ(FormatTimestamp(out, sizeof out, entry), 23u);
  EXPECT_STREQ(out, "2026-01-02T03:04:05.006");
  EXPECT_EQ(FormatFileTimestamp(out, sizeof out, entry), 19u);
  EXPECT_STREQ(out, "2026-01-02T03-04-05");
  EXPECT_EQ(FormatTimestamp(out, 5, entry), 4u);
  EXPECT_STREQ(out, "2026");
  LogEntry now{};
  LocalTime(&now);
  EXPECT_GE(now.year, 2024);
  EXPECT_GE(now.month, 1);
  EXPECT_LE(now.month, 12);
}

TEST(LevelName, Texts) {
  const char* const names[] = {"  OKAY", "  WARN", " ERROR", "ALWAYS"};
  for (int32_t level = 0; level < 4; ++level) EXPECT_STREQ(LevelName(level), names[level]);
  EXPECT_STREQ(LevelName(4), "   ???");
}

// One test, in this order: the names of unregistered entries are checked
// before anything is registered, and the table is filled last.
TEST(LogGroups, NamesAndRegistration) {
  struct NamesCase {
    const char* label;
    uint64_t mask;
    size_t size;
    const char* expected;
  };
  const NamesCase names[] = {
      {"empty mask", 0, 32, ""},
      {"DBG and GEN", 3, 32, "DBG;GEN"},
      {"LOC registered at start-up", 0x100, 32, "LOC"},
      {"bit 9 before any registration", uint64_t{1} << 9, 32, "???"},
      {"every fixed group", 0xFF, 64, "DBG;GEN;XTR;PRF;MEM;DSK;NET;TST"},
      {"bit 63", uint64_t{1} << 63, 32, "???"},
      {"cut after the separator", 3, 5, "DBG;"},
      {"cut inside a name", 3, 6, "DBG;G"},
      {"no room", 3, 1, ""},
  };
  for (const NamesCase& c : names) {
    char out[80];
    std::memset(out, 'x', sizeof out);
    const size_t length = GroupNames(out, c.size, c.mask);
    EXPECT_STREQ(out, c.expected) << c.label;
    EXPECT_EQ(length, std::strlen(c.expected)) << c.label;
  }

  struct MaskCase {
    const char* name;
    uint64_t mask;
  };
  const MaskCase known[] = {
      {"DBG", kLogGroupDbg}, {"NETWORK", kLogGroupNet}, {"TSTX", kLogGroupTst},
      {"LOC", kLogGroupLoc}, {"XTR", kLogGroupXtr},     {nullptr, 0},
  };
  for (const MaskCase& c : known)
    EXPECT_EQ(GroupMaskFor(c.name), c.mask) << (c.name ? c.name : "null");

  // A new name from eight threads at once still gets one bit.
  std::atomic<uint64_t> seen[8];
  std::vector<std::thread> threads;
  for (auto& slot : seen) {
    threads.emplace_back([&slot] { slot = GroupMaskFor("NEW"); });
  }
  for (std::thread& thread : threads) thread.join();
  const uint64_t newMask = GroupMaskFor("NEW");
  EXPECT_EQ(newMask, uint64_t{1} << 9);
  for (auto& slot : seen) EXPECT_EQ(slot.load(), newMask);
  EXPECT_EQ(GroupMaskFor("NE"), uint64_t{1} << 10) << "two letters are a name of their own";
  uint64_t viaTable = 0;
  EXPECT_EQ(GetLogApi()->GroupMaskFor(&viaTable, "NEWER"), newMask);
  EXPECT_EQ(viaTable, newMask);
  char out[32];
  GroupNames(out, sizeof out, newMask | (uint64_t{1} << 10));
  EXPECT_STREQ(out, "NEW;NE");

  // Fill the table: bits 11 to 63, then no more.
  uint64_t last = 0;
  for (int index = 11; index < 64; ++index) {
    const std::string name = "G" + std::to_string(index);
    last = GroupMaskFor(name.c_str());
    ASSERT_EQ(last, uint64_t{1} << index) << name;
  }
  EXPECT_EQ(last, uint64_t{1} << 63);
  EXPECT_EQ(GroupMaskFor("FUL"), 0u) << "a full table stores no new name";
  EXPECT_EQ(GroupMaskFor("FUL"), 0u);
  EXPECT_EQ(GroupMaskFor("G63"), uint64_t{1} << 63) << "names already stored still resolve";
}

TEST_F(LogTest, LogApiTable) {
  const LogApi* api = GetLogApi();
  ASSERT_NE(api, nullptr);
  static_assert(sizeof(LogApi) == 26 * sizeof(void*));
  const void* slots[26];
  std::memcpy(slots, api, sizeof slots);
  for (size_t index = 0; index < 26; ++index) EXPECT_NE(slots[index], nullptr) << "slot " << index;

  EXPECT_EQ(api->Version(), 1);
  api->Reserved9();
  api->Reserved10();
  api->SetMinimumLevel(0);
  EXPECT_EQ(api->GetMinimumLevel(), 0);
  api->SetMutedGroups(kLogGroupNet);
  EXPECT_EQ(api->GetMutedGroups(), kLogGroupNet);
  EXPECT_EQ(api->StdOutTarget(), StdOutTarget());
  EXPECT_EQ(api->StdErrTarget(), StdErrTarget());
  EXPECT_EQ(api->DebuggerTarget(), DebuggerTarget());
  EXPECT_EQ(api->FindTarget("DebuggerConsoleLogTarget"), DebuggerTarget());
  EXPECT_STREQ(api->LevelName(3), "ALWAYS");
  EXPECT_STREQ(api->ExecutableName(), ExecutableName());

  DetachBuiltIns();
  CaptureTarget target;
  struct Through {
    static void Log(const LogApi* table, int32_t level, uint64_t groups, const char* format, ...) {
      va_list arguments;
      va_start(arguments, format);
      table->LogMessageV(level, groups, format, arguments);
      va_end(arguments);
    }
  };
  target.Configure(Settings(0, 0, 0, "#L #M"));
  Through::Log(api, 0, kLogGroupDbg, "%s=%d", "answer", 42);
  Through::Log(api, 0, kLogGroupNet, "muted");
  api->Pause();
  Through::Log(api, 3, 0, "paused");
  api->Resume();
  api->RegisterTarget(target.Interface());
  Through::Log(api, 1, 0, "twice");
  api->UnregisterTarget(target.Interface());
  Through::Log(api, 1, 0, "unlisted");
  EXPECT_EQ(target.lines,
            (std::vector<std::string>{"  OKAY answer=42\n", "  WARN twice\n", "  WARN twice\n"}));

  const LogEntry entry = FixedEntry(1, kLogGroupLoc, "m");
  char out[64];
  EXPECT_EQ(api->FormatLogLine(out, sizeof out, "#L|#G|#M", &entry), 13u);
  EXPECT_STREQ(out, "  WARN|LOC|m\n");
  EXPECT_EQ(api->GroupNames(out, sizeof out, 5), 7u);
  EXPECT_STREQ(out, "DBG;XTR");
  EXPECT_EQ(api->FormatFileTimestamp(out, sizeof out, &entry), 19u);
  EXPECT_STREQ(out, "2026-01-02T03-04-05");
  EXPECT_EQ(api->FormatTimestamp(out, sizeof out, &entry), 23u);
  LogEntry now{};
  api->LocalTime(&now);
  EXPECT_GE(now.year, 2024);
}

// The message is not built for a rejected message: "%n" stores the count of
// characters written only when the text is formatted.
TEST_F(LogTest, RejectedMessagesAreNotFormatted) {
  DetachBuiltIns();
  CaptureTarget target;
  target.Configure(Settings(0, 0, 0, "#M"));
  struct Case {
    const char* label;
    LogLevel level;
    uint64_t groups;
    bool paused;
    bool formatted;
  };
  const Case cases[] = {
      {"accepted", LogLevel::Error, 0, false, true},
      {"below the minimum level", LogLevel::Okay, 0, false, false},
      {"muted group", LogLevel::Error, kLogGroupXtr, false, false},
      {"paused", LogLevel::Always, 0, true, false},
  };
  for (const Case& c : cases) {
    if (c.paused) PauseLogging();
    int written = -1;
    LogMessage(c.level, c.groups, "abc%n", &written);
    ResumeLogging();
    EXPECT_EQ(written, c.formatted ? 3 : -1) << c.label;
  }
}

TEST_F(LogTest, LoggingAllocatesNothingOnceTheManagerExists) {
  // A target that builds its line with every token and drops it.
  struct Discarding : LogTarget {
    ~Discarding() override { Detach(); }
    bool Write(const LogEntry& entry) noexcept override {
      char line[kLogLineCapacity];
      written += FormatLogLine(line, sizeof line, GetFormat(entry), entry) > 0;
      return true;
    }
    int written = 0;
  };
  Discarding target;
  target.Configure(Settings(0, 0, 0, "#D #E #G #H #L #T #M"));
  StdErrTarget()->Detach(StdErrTarget());
  SetMinimumLevel(0);
  const std::string longText(6000, 'x');
  LogMessage(LogLevel::Error, 0, "warm-up");
  const uint64_t before = Memory::ReadCounters().allocations;
  for (int index = 0; index < 1000; ++index) {
    LogMessage(LogLevel::Error, kLogGroupDbg | kLogGroupLoc, "message %d of %s: %s", index, "many",
               index % 100 == 0 ? longText.c_str() : "short");
    LogMessage(LogLevel::Okay, kLogGroupXtr, "rejected %d", index);
  }
  EXPECT_EQ(Memory::ReadCounters().allocations, before);
  EXPECT_EQ(target.written, 1001);
}

// Lines of concurrent messages never interleave: the target writes each line
// in two halves with a yield between, so only the manager's lock keeps the
// halves together.
TEST_F(LogTest, ConcurrentLinesNeverInterleave) {
  struct Halves : LogTarget {
    ~Halves() override { Detach(); }
    bool Write(const LogEntry& entry) noexcept override {
      char line[kLogLineCapacity];
      const size_t length = FormatLogLine(line, sizeof line, GetFormat(entry), entry);
      text.append(line, length / 2);
      std::this_thread::yield();
      text.append(line + length / 2);
      return true;
    }
    std::string text;
  };
  Halves target;
  target.Configure(Settings(0, 0, 0, "<#T #M>"));
  StdErrTarget()->Detach(StdErrTarget());
  DebuggerTarget()->Detach(DebuggerTarget());
  constexpr int kThreads = 8;
  constexpr int kMessages = 300;
  std::vector<std::thread> threads;
  for (int thread = 0; thread < kThreads; ++thread) {
    threads.emplace_back([thread] {
      for (int index = 0; index < kMessages; ++index) {
        LogMessage(LogLevel::Error, kLogGroupDbg, "t%d m%04d padding-padding-padding", thread,
                   index);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();

  const std::string whole =
      "<" + std::string(2 * sizeof(void*), 'X') + " t9 m9999 padding-padding-padding>";
  const size_t threadAt = whole.find(" t") + 2;
  const size_t indexAt = whole.find(" m") + 2;
  int next[kThreads] = {};
  size_t lines = 0;
  size_t start = 0;
  while (start < target.text.size()) {
    const size_t end = target.text.find('\n', start);
    ASSERT_NE(end, std::string::npos);
    const std::string line = target.text.substr(start, end - start);
    ASSERT_TRUE(HasShape(line, whole)) << "broken line: " << line;
    const int thread = line[threadAt] - '0';
    ASSERT_LT(thread, kThreads) << line;
    EXPECT_EQ(std::stoi(line.substr(indexAt, 4)), next[thread]++) << "order within thread " << thread;
    ++lines;
    start = end + 1;
  }
  EXPECT_EQ(lines, size_t{kThreads} * kMessages);
}

}  // namespace
}  // namespace Zarn
