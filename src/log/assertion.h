// Assertion reports: a multi-line text naming a failed condition, logged as
// one ERROR message. Reporting stops nothing; the caller decides what next.
#pragma once

#include <cstdint>
#include <string>

namespace Zarn {

// Builds the report. Every text may be null or empty; line 0 means unknown.
std::string FormatAssertion(const char* expression, const char* description, const char* file,
                            int32_t line, const char* function);

// Logs FormatAssertion's report at ERROR in group DBG. Never fails.
void ReportAssertion(const char* expression, const char* description, const char* file,
                     int32_t line, const char* function) noexcept;

}  // namespace Zarn
