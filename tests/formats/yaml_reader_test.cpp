// The YAML reader: how events build the tree, plain-scalar typing, tags,
// anchors and aliases (paths, key texts, cycles, duplicates), documents,
// refusals with their marks, the nesting and alias-expansion limits, and
// hostile bytes.
#include "formats/yaml_reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <string_view>

#include "plugin/memory.h"
#include "values/value_text.h"

namespace Zarn {
namespace {

std::string Parsed(std::string_view text) {
  const BindingResult result = ParseYaml(text.data(), text.size());
  return result.Succeeded() ? RenderValue(result) : "error: " + std::string(result.Error());
}

std::string Repeat(std::string_view piece, size_t count) {
  std::string text;
  for (size_t i = 0; i < count; ++i) text += piece;
  return text;
}

struct Case {
  std::string_view text;
  const char* expected;
};

TEST(ParseYaml, BuildsTrees) {
  const Case cases[] = {
      {"", "null"},
      {"# only a comment\n", "null"},
      {"a: 1\nb: [x, 2.5, -3]\n", "{a:u1,b:[\"x\",f2.5,s-3]}"},
      {"- - 1\n  - 2\n- k: v\n- []\n- {}\n", "[[u1,u2],{k:\"v\"},[],{}]"},
      {"{a: [1, {b: ~}], c: }", "{a:[u1,{b:null}],c:null}"},
      {"outer:\n  inner:\n    - deep\n", "{outer:{inner:[\"deep\"]}}"},
      // Keys are never typed; members are ordered byte-wise.
      {"~: a\n1: b\ntrue: c\n!!str 2: d\n", "{1:\"b\",2:\"d\",true:\"c\",~:\"a\"}"},
      // An empty key is a key like any other.
      {"\"\": 1\nb: 2\n", "{:u1,b:u2}"},
      // Duplicate keys: mappings and sequences merge, a scalar replaces.
      {"a: {x: 1}\na: {y: 2}\n", "{a:{x:u1,y:u2}}"},
      {"a: [1]\na: [2]\n", "{a:[u1,u2]}"},
      {"a: {x: 1}\na: 5\n", "{a:u5}"},
      {"a: 1\na: !!bool maybe\n", "{a:null}"},
      // Texts stop at their first NUL, as every string of the value model.
      {"\"ab\\0cd\"", "\"ab\""},
      {"\"\\u00e9\\U0001F600\"", "\"\xc3\xa9\xf0\x9f\x98\x80\""},
  };
  for (const Case& c : cases) EXPECT_EQ(Parsed(c.text), c.expected) << c.text;
}

TEST(ParseYaml, TypesPlainScalars) {
  const Case cases[] = {
      {"[yes, On, n, OFF, YeS, ~, Null, 'true', \"null\", '']",
       "[true,true,false,false,\"YeS\",null,null,\"true\",\"null\",\"\"]"},
      {"[y, Y, NO, False, TRUE, off, nULL, tRUE]", "[true,true,false,false,true,false,\"nULL\",\"tRUE\"]"},
      {"[1.0, 1e3, 0.5, infinity, -.inf, .inf, 0x10, -0x10, 1_000]",
       "[u1,u1000,f0.5,\"infinity\",\"-.inf\",\".inf\",u16,s-16,\"1_000\"]"},
      {"[0, -0, +5, 010, -1.5, 1e-400, 1.5e300, 12abc, '12', 1.]",
       "[u0,u0,u5,u10,f-1.5,u0,f1.5e+300,\"12abc\",\"12\",u1]"},
      // Integers are exact over the whole 64-bit ranges (strtod would round
      // the identifier); integral values past them stay floats.
      {"[505874924095815681, 18446744073709551615, -9223372036854775808, 9223372036854775808]",
       "[u505874924095815681,u18446744073709551615,s-9223372036854775808,u9223372036854775808]"},
      {"[18446744073709551616, -1e19, 1e30, -1e30]", "[f1.84467e+19,f-1e+19,f1e+30,f-1e+30]"},
      // Block scalars are typed as plain ones; a kept line break is text.
      {"a: >-\n  123\nb: |\n  123\n", "{a:u123,b:\"123\n\"}"},
  };
  for (const Case& c : cases) EXPECT_EQ(Parsed(c.text), c.expected) << c.text;

  for (const char* text : {"nan", "NaN", "-nan"}) {
    const BindingResult result = ParseYaml(text, std::strlen(text));
    ASSERT_EQ(result.Kind(), PropertyKind::Float) << text;
    EXPECT_TRUE(std::isnan(result.GetFloat())) << text;
  }
}

TEST(ParseYaml, ConvertsTaggedScalars) {
  const Case cases[] = {
      {"[!!str 1, !!str null, !!str '']", "[\"1\",\"null\",\"\"]"},
      {"[!!int -12, !!int 0x1f, !!int 010, !!int 18446744073709551615, !!int -9223372036854775808]",
       "[s-12,u31,u8,u18446744073709551615,s-9223372036854775808]"},
      {"[!!float 1, !!float -2.5, !!float 1e3]", "[f1,f-2.5,f1000]"},
      {"[!!bool yes, !!bool OFF, !!bool maybe, !!bool 1]", "[true,false,null,null]"},
      {"!!int abc", "error: Value abc for 'yaml' of type uint64_t is in an incorrect format"},
      {"!!int -abc", "error: Value -abc for 'yaml' of type int64_t is in an incorrect format"},
      {"!!int 1.5", "error: Value 1.5 for 'yaml' of type uint64_t is in an incorrect format"},
      {"!!int 18446744073709551616", "error: Value 18446744073709551616 for 'yaml' of type uint64_t is out of range"},
      {"!!int -9223372036854775809", "error: Value -9223372036854775809 for 'yaml' of type int64_t is out of range"},
      {"!!float abc", "error: Value abc for 'yaml' of type double is in an incorrect format"},
      {"!!float 1e400", "error: Value 1e400 for 'yaml' of type double is out of range"},
      {"!!timestamp 2001-12-14", "error: Unsupported YAML tag 'tag:yaml.org,2002:timestamp'."},
      {"a: !local x", "error: Unsupported YAML tag '!local'."},
  };
  for (const Case& c : cases) EXPECT_EQ(Parsed(c.text), c.expected) << c.text;
}

TEST(ParseYaml, ResolvesAliases) {
  const Case cases[] = {
      {"a: &x 1\nb: *x\n", "{a:u1,b:u1}"},
      {"a: &x [1]\nb: *x\n", "{a:[u1],b:[u1]}"},
      // Recorded paths through elements and members, siblings popped first.
      {"- [0, &x {k: [1, 2]}]\n- *x\n", "[[u0,{k:[u1,u2]}],{k:[u1,u2]}]"},
      {"a:\n  b: 1\n  c: &x 2\nd: *x\n", "{a:{b:u1,c:u2},d:u2}"},
      {"a: [{p: 0}, {q: &x 3}]\nb: *x\n", "{a:[{p:u0},{q:u3}],b:u3}"},
      // An alias copies the anchored node as it is when the alias is read.
      {"a: &x {p: 1}\nb: *x\na: {q: 2}\nc: *x\n", "{a:{p:u1,q:u2},b:{p:u1},c:{p:u1,q:u2}}"},
      // An anchor on a key records the key's text.
      {"- {&k key: 1}\n- *k\n", "[{key:u1},\"key\"]"},
      // An alias in a key's place replaces the mapping being built and ends
      // it; the mapping's own end then lands in the enclosing sequence.
      {"[&x 1, {*x : 3}, 4]", "[u1,u1,u3,null,u4]"},
      // A key's anchor replaces the mark of the mapping's own anchor, so an
      // alias of that mapping inside it copies the mapping as built so far.
      {"&m {&k a: 1, b: *m}", "{a:u1,b:{a:u1,b:null}}"},
      // An empty first document keeps its anchor.
      {"--- &e\n--- *e\n", "null"},
  };
  for (const Case& c : cases) EXPECT_EQ(Parsed(c.text), c.expected) << c.text;
}

TEST(ParseYaml, RefusesWithEventMarks) {
  const Case cases[] = {
      {"b: *y", "Undefined alias encountered: \"y\". At line: 1 col: 4"},
      {"a: &x\n  b: *x\n", "Cannot deserialize cyclic aliases. Alias \"x\". At line: 2 col: 6"},
      {"- &x [1, [*x]]", "Cannot deserialize cyclic aliases. Alias \"x\". At line: 1 col: 11"},
      // A key's anchor marks the mapping that holds the key.
      {"&k a: *k", "Cannot deserialize cyclic aliases. Alias \"k\". At line: 1 col: 7"},
      {"a: &x 1\nb: &x 2\n", "Duplicate occurrence of anchor \"x\". At line: 2 col: 4"},
      {"a: &x 1\n&x b: 2\n", "Duplicate occurrence of anchor \"x\". At line: 2 col: 1"},
      {"- &x [1]\n- &x {}\n", "Duplicate occurrence of anchor \"x\". At line: 2 col: 3"},
      {"? [1, 2]\n: x\n", "Unexpected start of sequence. At line: 1 col: 3"},
      {"? {a: 1}\n: x\n", "Unexpected start of mapping. At line: 1 col: 3"},
      {"!!int 1: x", "Invalid mapping key. Only string scalar keys are allowed. At line: 1 col: 1"},
      {"a: 1\n!!null ~: x", "Invalid mapping key. Only string scalar keys are allowed. At line: 2 col: 1"},
      // An alias in a key's place replaces the root mapping and ends it,
      // which leaves the value after it outside the root.
      {"{a: &x 1, *x : 2}", "Unexpected node after the end of the root node. At line: 1 col: 16"},
      {"--- 1\n--- 2\n", "Multi-document YAML is not supported."},
      {"- 1\n---\n- 2\n", "Multi-document YAML is not supported."},
      // The first refusal wins over a later parser error.
      {"- *nothing\n- ]", "Undefined alias encountered: \"nothing\". At line: 1 col: 3"},
  };
  for (const Case& c : cases) EXPECT_EQ(Parsed(c.text), std::string("error: ") + c.expected) << c.text;
  // Documents that leave the root empty do not count as values.
  EXPECT_EQ(Parsed("---\n--- 2\n"), "u2");
  EXPECT_EQ(Parsed("---\n...\n--- [1]\n"), "[u1]");
}

TEST(ParseYaml, ReportsParserErrorsWithZeroBasedMarks) {
  const Case cases[] = {
      {"a: [1, 2", "did not find expected ',' or ']'. At line: 1 col: 0"},
      {"a: b: c", "mapping values are not allowed in this context. At line: 0 col: 4"},
      {"a: 'open", "found unexpected end of stream. At line: 0 col: 8"},
      {"a:\n  - 1\n b: 2", "did not find expected key. At line: 2 col: 1"},
      {"- 1\n- 2\nb: 3", "did not find expected '-' indicator. At line: 2 col: 0"},
      {"[1, 2]]", "did not find expected <document start>. At line: 0 col: 6"},
      {"*", "did not find expected alphabetic or numeric character. At line: 0 col: 1"},
      {"a: \"\\q\"", "found unknown escape character. At line: 0 col: 4"},
      {"\xff", "invalid leading UTF-8 octet. At line: 0 col: 0"},
      {"a: \x01", "control characters are not allowed. At line: 0 col: 0"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Parsed(c.text), std::string("error: YAML parser error: ") + c.expected) << c.text;
  }
}

TEST(ParseYaml, LimitsNesting) {
  const auto flow = [](size_t levels) { return Repeat("[", levels) + Repeat("]", levels); };
  EXPECT_TRUE(ParseYaml(flow(kMaxNestingDepth)).Succeeded());
  EXPECT_EQ(Parsed(flow(kMaxNestingDepth + 1)), "error: Nesting deeper than 512 levels. At line: 1 col: 513");
  EXPECT_EQ(Parsed(Repeat("[", 100000)), "error: Nesting deeper than 512 levels. At line: 1 col: 513");

  // Block mappings: the root mapping is level 1.
  std::string block;
  for (size_t level = 0; level < kMaxNestingDepth; ++level) block += std::string(level, ' ') + "k:\n";
  block += std::string(kMaxNestingDepth, ' ') + "k: 1\n";
  EXPECT_EQ(Parsed(block), "error: Nesting deeper than 512 levels. At line: 513 col: 513");

  // An alias copy counts its own levels where it lands: a 300-level value
  // fits below 211 open sequences inside the root mapping, not below 212.
  const auto aliasAt = [&](size_t open) {
    return "a: &x " + flow(300) + "\nb: " + Repeat("[", open) + "*x" + Repeat("]", open) + "\n";
  };
  EXPECT_TRUE(ParseYaml(aliasAt(211)).Succeeded());
  EXPECT_EQ(Parsed(aliasAt(212)), "error: Nesting deeper than 512 levels. At line: 2 col: 216");
}

TEST(ParseYaml, LimitsAliasExpansion) {
  // Nine nested levels of nine aliases (387 million nodes if expanded).
  std::string bomb = "a: &a [lol, lol, lol, lol, lol, lol, lol, lol, lol]\n";
  for (char name = 'b'; name <= 'i'; ++name) {
    bomb += std::string(1, name) + ": &" + name + " [";
    for (int i = 0; i < 9; ++i) bomb += std::string(i ? ", " : "") + "*" + static_cast<char>(name - 1);
    bomb += "]\n";
  }
  const BindingResult result = ParseYaml(bomb);
  ASSERT_FALSE(result.Succeeded());
  EXPECT_EQ(result.Error().substr(0, 48), "Aliases expand beyond 1000000 nodes. Alias \"f\". ");

  // Each alias of a 999-element sequence copies 1000 nodes: 1000 of them
  // reach the budget exactly; one more node passes it.
  const std::string sequence = "s: &s [" + Repeat("0, ", 998) + "0]\nv: &v 1\n";
  const std::string atBudget = sequence + "t: [" + Repeat("*s, ", 999) + "*s]\n";
  const BindingResult full = ParseYaml(atBudget);
  ASSERT_TRUE(full.Succeeded()) << full.Error();
  EXPECT_EQ(full.FindMember("t").Size(), 1000u);
  EXPECT_EQ(full.FindMember("t").ElementAt(999).Size(), 999u);
  EXPECT_EQ(Parsed(atBudget + "w: *v\n"),
            "error: Aliases expand beyond 1000000 nodes. Alias \"v\". At line: 4 col: 4");
}

TEST(ParseYaml, SurvivesHostileBytes) {
  const std::string document =
      "a: &x {b: [1, 'two', \"th\\u00e9\"], c: |\n    text\n}\nd: *x\ne: !!int 7\n? f\n: [~, -.5]\n";
  const auto check = [](std::string_view text) {
    const BindingResult result = ParseYaml(text.data(), text.size());
    EXPECT_NE(result.Succeeded(), !result.Error().empty()) << text;
  };
  for (size_t length = 0; length <= document.size(); ++length) check(std::string_view(document).substr(0, length));
  for (int byte = 0; byte < 256; ++byte) {
    for (size_t at : {size_t{0}, size_t{3}, size_t{9}, document.size()}) {
      std::string text = document;
      text.insert(at, 1, static_cast<char>(byte));
      check(text);
    }
  }
  EXPECT_TRUE(ParseYaml(nullptr, 0).Succeeded());
  // A NUL byte is not a YAML character.
  EXPECT_EQ(Parsed(std::string_view("a\0b", 3)),
            "error: YAML parser error: control characters are not allowed. At line: 0 col: 0");

  const std::string longText(1 << 20, 'x');
  EXPECT_EQ(ParseYaml("k: " + longText).FindMember("k").Size(), longText.size());
  // Implicit keys are limited to 1024 characters by libyaml; explicit ones are not.
  EXPECT_EQ(ParseYaml("? " + longText + "\n: 1").FindMember(longText).GetUnsigned(), 1u);
}

TEST(ParseYaml, ReleasesEverything) {
  const auto heldBytes = [] {
    const Memory::Counters counters = Memory::ReadCounters();
    return counters.bytesAllocated - counters.bytesFreed;
  };
  const char* const texts[] = {
      "a: &x {b: [1, 2]}\nc: *x\n&k d: e\n",  // anchors, both kinds, and copies
      "a: &x 1\nb: &x 2\n",                   // refused after an anchor
      "a: [1, {b: !!int zz}]",                // refused inside a tree
      "a: [1, 2",                             // parser error
  };
  for (const char* text : texts) {
    ParseYaml(text, std::strlen(text));  // first use may set up shared state
    const uint64_t before = heldBytes();
    { const BindingResult result = ParseYaml(text, std::strlen(text)); }
    EXPECT_EQ(heldBytes(), before) << text;
  }
}

}  // namespace
}  // namespace Zarn
