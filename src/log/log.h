// The plugin's diagnostic log. A message carries a level and a 64-bit mask of
// groups; one process-wide log manager filters it and hands it, as a
// LogEntry, to every attached log target (log_target.h), which filters it
// again and writes one line built from its own line pattern.
//
// The facility is offered twice: as the C++ functions below, and as the
// LogApi table of plain functions for code that does not share our class
// layouts. Logging never fails its caller: over-long messages and lines are
// cut, output errors are ignored, and once the manager exists a message
// allocates nothing on the heap.
//
//   LogMessage(LogLevel::Error, kLogGroupDbg, "cannot open '%s'", path);
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

namespace Zarn {

struct LogTargetInterface;

// Message levels, in increasing severity. Levels cross the function tables
// as signed 32-bit values; values outside 0-3 are accepted and named "   ???".
enum class LogLevel : int32_t { Okay = 0, Warn = 1, Error = 2, Always = 3 };

// Bit i of a group mask stands for entry i of the process-wide group table.
// Entries 0-7 are fixed; "LOC" is registered at start-up and takes entry 8.
constexpr uint64_t kLogGroupDbg = uint64_t{1} << 0;
constexpr uint64_t kLogGroupGen = uint64_t{1} << 1;
constexpr uint64_t kLogGroupXtr = uint64_t{1} << 2;
constexpr uint64_t kLogGroupPrf = uint64_t{1} << 3;
constexpr uint64_t kLogGroupMem = uint64_t{1} << 4;
constexpr uint64_t kLogGroupDsk = uint64_t{1} << 5;
constexpr uint64_t kLogGroupNet = uint64_t{1} << 6;
constexpr uint64_t kLogGroupTst = uint64_t{1} << 7;
constexpr uint64_t kLogGroupLoc = uint64_t{1} << 8;
constexpr size_t kLogGroupCount = 64;

// Buffer sizes of one message and one line, NUL included.
constexpr size_t kLogMessageCapacity = 4096;
constexpr size_t kLogLineCapacity = 4096;

// One message as the targets see it, built once per message and passed by
// pointer. message is borrowed: valid only during the Write call.
struct LogEntry {
  int32_t year;
  int32_t month;  // 1-12
  int32_t day;
  int32_t hour;
  int32_t minute;
  int32_t second;
  int32_t millisecond;
  int32_t level;        // LogLevel
  uint64_t groups;      // group mask
  const char* message;  // NUL-terminated
};

// Logs one message: format is a C-library printf format with its
// arguments. The message is dropped, before it is formatted, when logging is
// paused, when level is below the manager's minimum level or when groups
// share a bit with the manager's muted groups. Creates the manager if there
// is none. The text is cut to 4095 characters.
void LogMessage(LogLevel level, uint64_t groups, const char* format, ...) noexcept
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;
void LogMessageV(LogLevel level, uint64_t groups, const char* format, va_list arguments) noexcept;

// The process-wide reference count on the manager. The first reference
// creates the manager if there is none; the release that brings the count
// to 0 destroys it, detaching every target (last attached first). A release
// without a reference does nothing.
void LogAddRef() noexcept;
void LogRelease() noexcept;

// The manager's filters (initially: minimum level 1 = WARN, muted groups 4 =
// "XTR", not paused). Each creates the manager if there is none.
void SetMinimumLevel(int32_t level) noexcept;
int32_t GetMinimumLevel() noexcept;
void SetMutedGroups(uint64_t mask) noexcept;
uint64_t GetMutedGroups() noexcept;
void PauseLogging() noexcept;  // every message is dropped until ResumeLogging
void ResumeLogging() noexcept;

// The manager's list of target interfaces. RegisterTarget appends without
// looking at the target's attached flag or for duplicates (a target listed
// twice writes each line twice); UnregisterTarget removes every occurrence
// and leaves the flag alone. The interface must stay valid while listed.
void RegisterTarget(LogTargetInterface* target) noexcept;
void UnregisterTarget(LogTargetInterface* target) noexcept;
// The first listed interface whose GetName equals name byte for byte, or null.
LogTargetInterface* FindTarget(const char* name) noexcept;

// The built-in targets, owned by the manager: valid until it is destroyed.
// Null only if the manager cannot be created (out of memory).
LogTargetInterface* StdOutTarget() noexcept;
LogTargetInterface* StdErrTarget() noexcept;
LogTargetInterface* DebuggerTarget() noexcept;

// The mask of the group whose three letters begin name, registering them in
// the next free entry if they are new; 0 once all 64 entries are used or for
// a null name. A name shorter than three letters is a group of its own.
uint64_t GroupMaskFor(const char* name) noexcept;

// Writes the names of the groups in mask, from bit 0 up, joined by ";" and
// cut to size - 1 characters, NUL-terminated. Returns the characters
// written; an empty mask (or size 0) gives 0. Unregistered entries show "???".
size_t GroupNames(char* out, size_t size, uint64_t mask) noexcept;

// Builds one line of entry through pattern into out: "#" and the next
// character form a token (#D time, #E executable, #G groups, #H seconds since
// the first #H, #L level, #M message, #T thread identifier; any other
// character stands for itself, so "##" is "#"). The line always ends with one
// line feed and a NUL; it is cut to fit size. Returns its length. size 0
// writes nothing; a null pattern is empty.
size_t FormatLogLine(char* out, size_t size, const char* pattern, const LogEntry& entry) noexcept;

// "  OKAY", "  WARN", " ERROR", "ALWAYS" for levels 0-3; "   ???" otherwise.
// Static texts.
const char* LevelName(int32_t level) noexcept;

// The executable's file name (the text after the last path separator),
// read when the manager is created; the manager's buffer, valid while it
// lives. Creates the manager if there is none.
const char* ExecutableName() noexcept;

// Fills the seven time fields of out from the current local time.
void LocalTime(LogEntry* out) noexcept;

// "%04d-%02d-%02dT%02d:%02d:%02d.%03d" of the seven time fields, and the
// file-name form "%04d-%02d-%02dT%02d-%02d-%02d" of the first six; cut to
// size - 1 characters. Return the characters written.
size_t FormatTimestamp(char* out, size_t size, const LogEntry& time) noexcept;
size_t FormatFileTimestamp(char* out, size_t size, const LogEntry& time) noexcept;

// The facility as a table of plain functions, in this fixed order. Slots 0,
// 9 and 10 have no effect (0 returns 1). Pointers and results mean what the
// C++ functions above say.
struct LogApi {
  int32_t (*Version)();                                         // 0
  void (*AddRef)();                                             // 1
  void (*Release)();                                            // 2
  void (*SetMinimumLevel)(int32_t level);                       // 3
  int32_t (*GetMinimumLevel)();                                 // 4
  void (*SetMutedGroups)(uint64_t mask);                        // 5
  uint64_t (*GetMutedGroups)();                                 // 6
  void (*Pause)();                                              // 7
  void (*Resume)();                                             // 8
  void (*Reserved9)();                                          // 9
  void (*Reserved10)();                                         // 10
  void (*RegisterTarget)(LogTargetInterface* target);           // 11
  void (*UnregisterTarget)(LogTargetInterface* target);         // 12
  LogTargetInterface* (*FindTarget)(const char* name);          // 13
  LogTargetInterface* (*StdOutTarget)();                        // 14
  LogTargetInterface* (*StdErrTarget)();                        // 15
  LogTargetInterface* (*DebuggerTarget)();                      // 16
  uint64_t (*GroupMaskFor)(uint64_t* out, const char* name);    // 17; out may be null
  size_t (*GroupNames)(char* out, size_t size, uint64_t mask);  // 18
  size_t (*FormatLogLine)(char* out, size_t size, const char* pattern,
                          const LogEntry* entry);                               // 19
  const char* (*LevelName)(int32_t level);                                      // 20
  const char* (*ExecutableName)();                                              // 21
  void (*LocalTime)(LogEntry* out);                                             // 22
  size_t (*FormatTimestamp)(char* out, size_t size, const LogEntry* time);      // 23
  size_t (*FormatFileTimestamp)(char* out, size_t size, const LogEntry* time);  // 24
  void (*LogMessageV)(int32_t level, uint64_t groups, const char* format,
                      va_list arguments);  // 25
};

// The one LogApi table; static, never null.
const LogApi* GetLogApi() noexcept;

}  // namespace Zarn
