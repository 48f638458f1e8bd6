// The JSON reader: how events build the tree, number classification, error
// texts and offsets, duplicate members and the nesting limit.
#include "formats/json_reader.h"

#include <gtest/gtest.h>

#include <string>

#include "values/value_text.h"

namespace Zarn {
namespace {


std::string Parsed(const std::string& text) {
  const BindingResult result = ParseJson(text);
  return result.Succeeded() ? RenderValue(result) : "error: " + std::string(result.Error());
}

TEST(ParseJson, Values) {
  struct Case {
    const char* text;
    const char* expected;
  };
  const Case cases[] = {
      {"", "null"},
      {" \t\r\n ", "null"},
      {"null", "null"},
      {"[1, -1, 4294967296, -4294967296, 1.5, 1e2]", "[u1,s-1,u4294967296,s-4294967296,f1.5,f100]"},
      {"-2147483648", "s-2147483648"},
      {"4294967295", "u4294967295"},
      {"-0", "s0"},
      {"0", "u0"},
      {"18446744073709551615", "u18446744073709551615"},
      {"18446744073709551616", "f1.84467e+19"},
      {"-9223372036854775809", "f-9.22337e+18"},
      {"{\"a\":1,\"a\":2}", "{a:u2}"},
      {"{\"a\":{\"x\":1},\"a\":{\"y\":2}}", "{a:{x:u1,y:u2}}"},
      {"{\"a\":[1],\"a\":[2]}", "{a:[u1,u2]}"},
      {"{\"a\":1,\"a\":[2]}", "{a:[u2]}"},
      {"[[1],[2,3]]", "[[u1],[u2,u3]]"},
      {"\"ab\\u0000cd\"", "\"ab\""},
      {"{\"k\\u0000ey\":true}", "{k:true}"},
      {"\"\\u00e9\\ud83d\\ude00\\n\"", "\"\xc3\xa9\xf0\x9f\x98\x80\n\""},
      {"{\"b\":false,\"a\":null}", "{a:null,b:false}"},
  };
  for (const Case& c : cases) EXPECT_EQ(Parsed(c.text), c.expected) << c.text;
}

TEST(ParseJson, Errors) {
  struct Case {
    const char* text;
    const char* expected;
  };
  const Case cases[] = {
      {"0123", "Error: The document root must not follow by other values. at offset 1."},
      {"{} x", "Error: The document root must not follow by other values. at offset 3."},
      {"0e400", "Error: Number too big to be stored in double. at offset 0."},
      {"[1,]", "Error: Invalid value. at offset 3."},
      {"// c\n1", "Error: Invalid value. at offset 0."},
      {"{'a':1}", "Error: Missing a name for object member. at offset 1."},
      {"NaN", "Error: Invalid value. at offset 0."},
      {"Infinity", "Error: Invalid value. at offset 0."},
      {"\xEF\xBB\xBF{}", "Error: Invalid value. at offset 0."},
      {"{\"a\" 1}", "Error: Missing a colon after a name of object member. at offset 5."},
      {"{\"a\":1 \"b\"}", "Error: Missing a comma or '}' after an object member. at offset 7."},
      {"[1 2]", "Error: Missing a comma or ']' after an array element. at offset 3."},
      {"\"\\u12G4\"", "Error: Incorrect hex digit after \\u escape in string. at offset 1."},
      {"\"\\ud800x\"", "Error: The surrogate pair in string is invalid. at offset 1."},
      {"\"a\x01\"", "Error: Invalid escape character in string. at offset 2."},
      {"\"abc", "Error: Missing a closing quotation mark in string. at offset 4."},
      {"1.", "Error: Miss fraction part in number. at offset 2."},
      {"1e", "Error: Miss exponent in number. at offset 2."},
  };
  for (const Case& c : cases) EXPECT_EQ(Parsed(c.text), std::string("error: ") + c.expected) << c.text;
}

TEST(ParseJson, NestingLimit) {
  const std::string atLimit = std::string(kMaxNestingDepth, '[') + std::string(kMaxNestingDepth, ']');
  EXPECT_TRUE(ParseJson(atLimit).Succeeded());
  const std::string past = std::string(kMaxNestingDepth + 1, '[') + std::string(kMaxNestingDepth + 1, ']');
  EXPECT_EQ(Parsed(past), "error: Error: Nesting deeper than 512 levels at offset 513.");
  // Far deeper than any stack would allow if the reader descended freely.
  const std::string huge = std::string(1000000, '{');
  EXPECT_FALSE(ParseJson(huge).Succeeded());
  const std::string mixed = std::string(300, '[') + "{\"a\":" + std::string(300, '[');
  EXPECT_EQ(Parsed(mixed).rfind("error: Error: Nesting deeper than 512 levels", 0), 0u);
}

TEST(ParseJson, TextEndsAtItsFirstNul) {
  EXPECT_EQ(Parsed(std::string("[1]\0garbage", 11)), "[u1]");
}

TEST(LooksLikeJson, FirstNonSpaceCharacter) {
  struct Case {
    const char* text;
    bool expected;
  };
  const Case cases[] = {{"   {", true}, {"[1]", true}, {"\t{", false}, {"\n{", false}, {"42", false},
                        {"\"s\"", false}, {"", false}};
  for (const Case& c : cases) EXPECT_EQ(LooksLikeJson(c.text), c.expected) << c.text;
}

}  // namespace
}  // namespace Zarn
