// Log lines: the group table, level names, timestamps and the expansion of
// line patterns. Everything here works in the caller's buffers.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "log/log.h"
#include "platform/clock.h"
#include "platform/thread.h"

namespace Zarn {
namespace {

// A group's three letters and a NUL, packed in one word so that readers of
// the table never race a registration.
uint32_t PackGroupName(const char* name) {
  uint32_t packed = 0;
  for (uint32_t index = 0; index < 3 && name[index] != '\0'; ++index) {
    packed |= uint32_t{static_cast<unsigned char>(name[index])} << (8 * index);
  }
  return packed;
}

struct GroupTable {
  std::atomic<uint32_t> names[kLogGroupCount];
  std::atomic<uint32_t> lastUsed;
  std::mutex registration;  // one registration at a time: a name gets one bit

  GroupTable() {
    static const char* const kFixed[] = {"DBG", "GEN", "XTR", "PRF", "MEM", "DSK", "NET", "TST"};
    for (size_t index = 0; index < kLogGroupCount; ++index) {
      names[index].store(PackGroupName(index < 8 ? kFixed[index] : "???"),
                         std::memory_order_relaxed);
    }
    lastUsed.store(7, std::memory_order_relaxed);
    // Registered at start-up, before anyone can ask.
    names[8].store(PackGroupName("LOC"), std::memory_order_relaxed);
    lastUsed.store(8, std::memory_order_release);
  }
};

GroupTable& Groups() {
  static GroupTable table;
  return table;
}

// Appends text to out, cut to the space left before the NUL at capacity.
size_t AppendCut(char* out, size_t length, size_t capacity, const char* text, size_t textLength) {
  const size_t fit = std::min(textLength, capacity - length);
  std::memcpy(out + length, text, fit);
  return length + fit;
}

size_t ClampPrinted(int printed, size_t size) {
  if (printed < 0) return 0;
  return std::min(static_cast<size_t>(printed), size - 1);
}

// The thread identifier as Windows' "%p" renders it: upper-case hexadecimal,
// zero-padded to the width of a pointer (eight digits in 32-bit builds),
// whatever the local C library's "%p" does.
size_t ThreadIdText(char* out) {
  constexpr size_t kDigits = 2 * sizeof(void*);
  uint64_t value = Platform::CurrentThreadId();
  for (size_t index = kDigits; index > 0; --index) {
    out[index - 1] = "0123456789ABCDEF"[value & 0xF];
    value >>= 4;
  }
  out[kDigits] = '\0';
  return kDigits;
}

// Seconds and milliseconds since the first expansion of #H in the process.
size_t ElapsedText(char* out, size_t size) {
  static const int64_t kBase = Platform::PerformanceCounter();
  const int64_t frequency = Platform::PerformanceFrequency();
  const float seconds = frequency > 0 ? static_cast<float>(Platform::PerformanceCounter() - kBase) /
                                            static_cast<float>(frequency)
                                      : 0.0f;
  const int whole = static_cast<int>(seconds);
  const int milliseconds = static_cast<int>((seconds - static_cast<float>(whole)) * 1000.0f);
  return ClampPrinted(std::snprintf(out, size, "%06d.%03d", whole, milliseconds), size);
}

}  // namespace

uint64_t GroupMaskFor(const char* name) noexcept {
  if (name == nullptr) return 0;
  GroupTable& table = Groups();
  const uint32_t packed = PackGroupName(name);
  std::lock_guard<std::mutex> hold(table.registration);
  const uint32_t last = table.lastUsed.load(std::memory_order_acquire);
  for (uint32_t index = 0; index <= last; ++index) {
    if (table.names[index].load(std::memory_order_relaxed) == packed) return uint64_t{1} << index;
  }
  if (last + 1 >= kLogGroupCount) return 0;
  table.names[last + 1].store(packed, std::memory_order_relaxed);
  table.lastUsed.store(last + 1, std::memory_order_release);
  return uint64_t{1} << (last + 1);
}

size_t GroupNames(char* out, size_t size, uint64_t mask) noexcept {
  if (out == nullptr || size == 0) return 0;
  GroupTable& table = Groups();
  const size_t capacity = size - 1;
  size_t length = 0;
  bool isFirst = true;
  for (uint32_t bit = 0; bit < kLogGroupCount && (mask >> bit) != 0 && length < capacity; ++bit) {
    if (((mask >> bit) & 1) == 0) continue;
    if (!isFirst) length = AppendCut(out, length, capacity, ";", 1);
    const uint32_t packed = table.names[bit].load(std::memory_order_relaxed);
    char name[4] = {static_cast<char>(packed & 0xFF), static_cast<char>((packed >> 8) & 0xFF),
                    static_cast<char>((packed >> 16) & 0xFF), '\0'};
    length = AppendCut(out, length, capacity, name, std::strlen(name));
    isFirst = false;
  }
  out[length] = '\0';
  return length;
}

const char* LevelName(int32_t level) noexcept {
  switch (level) {
    case 0:
      return "  OKAY";
    case 1:
      return "  WARN";
    case 2:
      return " ERROR";
    case 3:
      return "ALWAYS";
    default:
      return "   ???";
  }
}

void LocalTime(LogEntry* out) noexcept {
  if (out == nullptr) return;
  const Platform::LocalTimeFields now = Platform::LocalTime();
  out->year = now.year;
  out->month = now.month;
  out->day = now.day;
  out->hour = now.hour;
  out->minute = now.minute;
  out->second = now.second;
  out->millisecond = now.millisecond;
}

size_t FormatTimestamp(char* out, size_t size, const LogEntry& time) noexcept {
  if (out == nullptr || size == 0) return 0;
  return ClampPrinted(
      std::snprintf(out, size, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", time.year, time.month,
                    time.day, time.hour, time.minute, time.second, time.millisecond),
      size);
}

size_t FormatFileTimestamp(char* out, size_t size, const LogEntry& time) noexcept {
  if (out == nullptr || size == 0) return 0;
  return ClampPrinted(std::snprintf(out, size, "%04d-%02d-%02dT%02d-%02d-%02d", time.year,
                                    time.month, time.day, time.hour, time.minute, time.second),
                      size);
}

size_t FormatLogLine(char* out, size_t size, const char* pattern, const LogEntry& entry) noexcept {
  if (out == nullptr || size == 0) return 0;
  if (size == 1) {
    out[0] = '\0';
    return 0;
  }
  // Room for the final line feed and NUL is kept back. Invariant:
  // length + budget == size - 2.
  size_t budget = size - 2;
  size_t length = 0;
  const char* at = pattern != nullptr ? pattern : "";
  while (*at != '\0' && budget > 1) {
    if (*at != '#') {
      out[length++] = *at++;
      --budget;
      continue;
    }
    const char token = at[1];
    if (token == '\0') break;
    at += 2;
    char scratch[64];
    const char* text = scratch;
    size_t textLength = 0;
    switch (token) {
      case 'D':
        textLength = FormatTimestamp(scratch, sizeof scratch, entry);
        break;
      case 'E':
        text = ExecutableName();
        textLength = std::strlen(text);
        break;
      case 'G':
        // Written in place: GroupNames cuts to the budget itself.
        textLength = GroupNames(out + length, budget + 1, entry.groups);
        length += textLength;
        budget -= textLength;
        continue;
      case 'H':
        textLength = ElapsedText(scratch, sizeof scratch);
        break;
      case 'L':
        text = LevelName(entry.level);
        textLength = std::strlen(text);
        break;
      case 'M':
        text = entry.message != nullptr ? entry.message : "";
        if (const void* end = std::memchr(text, '\0', budget)) {
          textLength = static_cast<size_t>(static_cast<const char*>(end) - text);
        } else {
          textLength = budget;
        }
        break;
      case 'T':
        textLength = ThreadIdText(scratch);
        break;
      default:
        scratch[0] = token;
        textLength = 1;
        break;
    }
    const size_t fit = std::min(textLength, budget);
    std::memcpy(out + length, text, fit);
    length += fit;
    budget -= fit;
  }
  if (budget <= 1 && length >= 2) length -= 2;  // the budget ran out
  if (length == 0 || out[length - 1] != '\n') out[length++] = '\n';
  out[length] = '\0';
  return length;
}

}  // namespace Zarn
