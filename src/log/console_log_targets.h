// The built-in targets: lines to the standard error stream, the standard
// output stream and the debugger output. The log manager owns one of each;
// at its creation the standard error and debugger targets are attached and
// the standard output target stays detached.
#pragma once

#include "log/log_target.h"

namespace Zarn {

// A target that writes its lines somewhere: Write builds the line with
// FormatLogLine in a stack buffer, then hands it to Output holding the
// target's lock.
class BaseConsoleLogTarget : public LogTarget {
 public:
  const char* GetName() const noexcept override;
  bool Write(const LogEntry& entry) noexcept override;
  virtual void Flush() noexcept = 0;

 protected:
  // Sends one NUL-terminated line to the destination; errors are ignored.
  virtual void Output(const char* line) noexcept = 0;
};

// Level 1, groups "DBG" only, "GEN" muted, pattern "#E(#T): #L| #M".
class StdErrLogTarget final : public BaseConsoleLogTarget {
 public:
  StdErrLogTarget();
  ~StdErrLogTarget() override;
  const char* GetName() const noexcept override;
  void Flush() noexcept override;

 protected:
  void Output(const char* line) noexcept override;
};

// Level 1, groups "GEN" only, "DBG" muted, pattern "#M".
class StdOutLogTarget final : public BaseConsoleLogTarget {
 public:
  StdOutLogTarget();
  ~StdOutLogTarget() override;
  const char* GetName() const noexcept override;
  void Flush() noexcept override;

 protected:
  void Output(const char* line) noexcept override;
};

// Level 1, groups "DBG" only, pattern "#E(#T): #L| #M"; Flush does nothing.
class DebuggerConsoleLogTarget final : public BaseConsoleLogTarget {
 public:
  DebuggerConsoleLogTarget();
  ~DebuggerConsoleLogTarget() override;
  const char* GetName() const noexcept override;
  void Flush() noexcept override;

 protected:
  void Output(const char* line) noexcept override;
};

}  // namespace Zarn
