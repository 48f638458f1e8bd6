// Layout of assertion reports.
#include "log/assertion.h"

#include "log/log.h"

namespace Zarn {
namespace {
bool Present(const char* text) { return text != nullptr && *text != '\0'; }
}  // namespace

std::string FormatAssertion(const char* expression, const char* description, const char* file,
                            int32_t line, const char* function) {
  std::string report = "Assertion failed!\n\n";
  if (Present(file)) {
    report += "File: ";
    report += file;
    report += '\n';
  }
  if (line != 0) {
    report += "Line: ";
    report += std::to_string(line);
    report += "\n\n";
  }
  if (Present(function)) {
    report += "Function: ";
    report += function;
    report += "\n\n";
  }
  if (Present(expression)) {
    report += "Expression: ";
    report += expression;
  }
  if (Present(description)) {
    report += "\n\nDescription: ";
    report += description;
  }
  return report;
}

void ReportAssertion(const char* expression, const char* description, const char* file,
                     int32_t line, const char* function) noexcept {
  try {
    const std::string report = FormatAssertion(expression, description, file, line, function);
    LogMessage(LogLevel::Error, kLogGroupDbg, "%s", report.c_str());
  } catch (...) {
    // Out of memory while reporting: diagnostics never fail their caller.
  }
}

}  // namespace Zarn
