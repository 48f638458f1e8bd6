// Assertion report layouts and their logging.
#include "log/assertion.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/debug_output.h"

namespace Zarn {
namespace {

TEST(FormatAssertion, Layouts) {
  struct Case {
    const char* label;
    const char *expression, *description, *file;
    int32_t line;
    const char* function;
    const char* expected;
  };
  const Case cases[] = {
      {"only an expression", "x > 0", nullptr, nullptr, 0, nullptr,
       "Assertion failed!\n\nExpression: x > 0"},
      {"everything", "x > 0", "must be positive", "a.cpp", 42, "F",
       "Assertion failed!\n\nFile: a.cpp\nLine: 42\n\nFunction: F\n\nExpression: x > 0\n\n"
       "Description: must be positive"},
      {"empty texts add nothing", "e", "", "", 0, "", "Assertion failed!\n\nExpression: e"},
      {"negative line", nullptr, nullptr, nullptr, -3, nullptr, "Assertion failed!\n\nLine: -3\n\n"},
      {"description without expression", nullptr, "d", nullptr, 0, nullptr,
       "Assertion failed!\n\n\n\nDescription: d"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FormatAssertion(c.expression, c.description, c.file, c.line, c.function), c.expected)
        << c.label;
  }
}

TEST(ReportAssertion, LogsOneErrorMessage) {
  std::string captured;
  Platform::SetDebuggerSink(
      [](const char* text, void* user) { *static_cast<std::string*>(user) += text; }, &captured);
  ReportAssertion("ALE-EECF0606", "", "", 0, "");
  Platform::SetDebuggerSink(nullptr, nullptr);
  EXPECT_NE(captured.find(" ERROR| Assertion failed!\n\nExpression: ALE-EECF0606\n"),
            std::string::npos)
      << captured;
}

}  // namespace
}  // namespace Zarn
