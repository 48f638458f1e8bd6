// Numbered-placeholder formatting: the pattern rules, type safety, limits,
// and agreement with the C library on the forms it delegates.
#include "util/format.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

namespace Zarn {
namespace {

struct Case {
  const char* label;
  std::string actual;
  std::string expected;
};

void ExpectAll(const Case* begin, const Case* end) {
  for (const Case* c = begin; c != end; ++c) EXPECT_EQ(c->actual, c->expected) << c->label;
}

TEST(Format, PatternRules) {
  const Case cases[] = {
      {"double percent", Format("100%%"), "100%"},
      {"plain placeholders in order", Format("Error: %s at offset %u.", "disk full", 17u),
       "Error: disk full at offset 17."},
      {"numbered out of order", Format("%2 %1", "a", "b"), "b a"},
      {"numbered twice", Format("%1-%1", "x"), "x-x"},
      {"numbered ends after digits", Format("%1px", 5), "5px"},
      {"numbered then dot", Format("%1.5", 5), "5.5"},
      {"no arguments stops at placeholder", Format("abc %1 def"), "abc "},
      {"number above count is a width", Format("[%3]", 7, 8), "[  7"},
      {"lone percent at end takes next", Format("x=%", 5), "x=5"},
      {"lone percent at end without argument", Format("x=%"), "x="},
      {"string spec with integer", Format("%1$s", 42), "42"},
      {"integer spec with string", Format("%1$d", "text"), "text"},
      {"star width from argument", Format("%1$*2$d", 42, 5), "   42"},
      {"star width from a string stops", Format("<%1$*2$d>", 42, "x"), "<"},
      {"star width beyond count stops", Format("<%1$*2$d>", 42), "<"},
      {"star zero names no argument", Format("<%1$*0$d>", 42), "<"},
      {"sequential star width", Format("%*d|", 4, 7), "   7|"},
      {"sequential star precision", Format("%.*f", 2, 3.14159), "3.14"},
      {"dash after dot dropped", Format("%.-3d", 5), "005"},
      {"unknown conversion replaced", Format("%1$5q", 3), "    3"},
      {"%n is never passed on", Format("%n", 9), "9"},
      {"hex of an int", Format("%1$5x|%1$X", 255), "   ff|FF"},
      {"argument reused with specs", Format("%1$04d %1$-4d|", 7), "0007 7   |"},
      {"uint64 default", Format("%1", std::numeric_limits<uint64_t>::max()), "18446744073709551615"},
      {"int64 default", Format("%1", std::numeric_limits<int64_t>::min()), "-9223372036854775808"},
      {"int32 minimum", Format("%1", INT_MIN), "-2147483648"},
      {"double default is %g", Format("%1 %2 %3", 0.1, 1e20, 2.5), "0.1 1e+20 2.5"},
      {"char default", Format("%1%2", 'o', 'k'), "ok"},
      {"char as number", Format("%1$d", 'A'), "65"},
      {"char sign-extends", Format("%1$d", static_cast<char>(-1)), "-1"},
      {"int as char", Format("%1$c", 65), "A"},
      {"bool as int", Format("%1", true), "1"},
      {"std::string", Format("<%1>", std::string("abc")), "<abc>"},
      {"string_view", Format("<%1>", std::string_view("abcdef", 3)), "<abc>"},
      {"string with NUL byte", Format("%1", std::string("a\0b", 3)), std::string("a\0b", 3)},
      {"null C string", Format("%1", static_cast<const char*>(nullptr)), "(null)"},
      {"string precision", Format("%.3s", "abcdef"), "abc"},
      {"string right aligned", Format("%6s|", "ab"), "    ab|"},
      {"string left aligned", Format("%-6s|", "ab"), "ab    |"},
      {"string star width", Format("%*s|", 4, "ab"), "  ab|"},
      {"string negative star width aligns left", Format("%*s|", -4, "ab"), "ab  |"},
  };
  ExpectAll(std::begin(cases), std::end(cases));
}

// The length modifier always follows the argument's own type: a pattern can
// not make the C library read 8 bytes for a 4-byte argument or the reverse.
TEST(Format, LengthModifiersFollowTheArgumentType) {
  const Case cases[] = {
      {"%lld with int32", Format("%lld", -5), "-5"},
      {"%ld with int32", Format("%ld", 12), "12"},
      {"%u with uint64 prints it whole", Format("%u", uint64_t{1} << 40), "1099511627776"},
      {"%x with int64", Format("%1$x", int64_t{0x1122334455667788}), "1122334455667788"},
      {"%hhd narrows as C does", Format("%hhd", 300), "44"},
      {"%hd narrows as C does", Format("%hd", 70000), "4464"},
      {"%Lf with double", Format("%.1Lf", 2.31), "2.3"},
      {"%ls with string", Format("%ls", "wide?"), "wide?"},
      {"%llc with int64", Format("%llc", int64_t{66}), "B"},
  };
  ExpectAll(std::begin(cases), std::end(cases));
}

TEST(Format, AgreesWithSnprintfOnDelegatedForms) {
  const char* const intSpecs[] = {"%d", "%5d", "%-5d|", "%05d", "%+d", "% d", "%x", "%#x",
                                  "%X", "%o", "%#o", "%.3d", "%8.3d", "%u", "%i", "%c"};
  const int32_t ints[] = {0, 1, -1, 42, 65, INT_MIN, INT_MAX};
  for (const char* spec : intSpecs) {
    for (int32_t value : ints) {
      char expected[128];
      const int length = std::snprintf(expected, sizeof expected, spec, value);
      EXPECT_EQ(Format(spec, value), std::string(expected, length)) << spec << " " << value;
    }
  }
  const char* const int64Specs[] = {"%lld", "%20lld|", "%llx", "%llu", "%-22lld|", "%+lld"};
  const int64_t int64s[] = {0, -1, INT64_MIN, INT64_MAX, int64_t{1} << 33};
  for (const char* spec : int64Specs) {
    for (int64_t value : int64s) {
      char expected[128];
      std::snprintf(expected, sizeof expected, spec, static_cast<long long>(value));
      EXPECT_EQ(Format(spec, value), expected) << spec << " " << value;
    }
  }
  const char* const doubleSpecs[] = {"%g", "%f", "%.3f", "%e", "%E", "%G", "%10.4g|", "%-10.2e|",
                                     "%+f", "%.17g"};
  const double doubles[] = {0.0, -0.0, 1.0 / 3, 1e300, -2.5e-300, 123456789.125};
  for (const char* spec : doubleSpecs) {
    for (double value : doubles) {
      char expected[512];
      std::snprintf(expected, sizeof expected, spec, value);
      EXPECT_EQ(Format(spec, value), expected) << spec << " " << value;
    }
  }
}

TEST(Format, CutsLongExpansions) {
  const std::string longText(5000, 'a');
  const std::string cut(4095, 'a');
  EXPECT_EQ(Format(longText.c_str()), cut) << "literal text";
  EXPECT_EQ(Format("%1", longText), cut) << "one long string argument";
  EXPECT_EQ(Format("%1$5000d", 1).size(), 4095u) << "wide field";
  EXPECT_EQ(Format("%1%1", std::string(3000, 'b')), std::string(4095, 'b')) << "second copy cut";
}

TEST(Format, PlaceholderLengthLimit) {
  // "%" plus the conversion text may hold 59 characters; the 60th fails.
  const std::string fits = "<%1$" + std::string(57, '-') + "d>";
  const std::string tooLong = "<%1$" + std::string(58, '-') + "d>";
  EXPECT_EQ(Format(fits.c_str(), 7), "<7>");
  EXPECT_EQ(Format(tooLong.c_str(), 7), "<");
  EXPECT_EQ(Format(("<%1$" + std::string(60, '-') + "d>").c_str(), 7), "<");
}

TEST(FormatToBuffer, TruncatesToCapacity) {
  struct BufferCase {
    const char* label;
    size_t capacity;
    std::string expected;
  };
  const BufferCase cases[] = {
      {"room for all", 32, "hello world 123456"},
      {"cut inside literal", 4, "hel"},
      {"cut inside string argument", 9, "hello wo"},
      {"cut inside integer", 15, "hello world 12"},
      {"only the NUL", 1, ""},
  };
  for (const BufferCase& c : cases) {
    char buffer[64];
    std::memset(buffer, 'X', sizeof buffer);
    const size_t length = FormatInto(buffer, c.capacity, "hello %1 %2", "world", 123456);
    EXPECT_EQ(std::string(buffer, length), c.expected) << c.label;
    EXPECT_EQ(buffer[length], '\0') << c.label;
    EXPECT_EQ(buffer[c.capacity], 'X') << c.label << ": wrote past the capacity";
  }
}

}  // namespace
}  // namespace Zarn
