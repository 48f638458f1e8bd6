// The MessagePack reader: every item form and its kind, error texts and
// positions, input that stops early, repeated keys, the nesting limit,
// counts the input cannot back, and every prefix and every single byte as
// an input. Inputs are parsed from heap copies of their exact size, so the
// sanitizer build catches any read past the end.
#include "formats/msgpack_reader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "plugin/memory.h"
#include "values/value_text.h"

namespace Zarn {
namespace {

using namespace std::string_view_literals;

// The input in a heap block of exactly its size.
std::vector<uint8_t> Exact(std::string_view bytes) { return std::vector<uint8_t>(bytes.begin(), bytes.end()); }

MessagePackParse Parse(std::string_view bytes) {
  const std::vector<uint8_t> input = Exact(bytes);
  return ParseMessagePack(input.data(), input.size());
}

std::string Rendered(const MessagePackParse& parse) {
  return parse.result.Succeeded() ? RenderValue(parse.result) : "error: " + std::string(parse.result.Error());
}

std::string Hex(std::string_view bytes) {
  std::string text;
  for (const char c : bytes) text += Format("%1$02x ", static_cast<uint32_t>(static_cast<unsigned char>(c)));
  return text;
}

uint64_t LiveBytes() {
  const Memory::Counters counters = Memory::ReadCounters();
  return counters.bytesAllocated - counters.bytesFreed;
}

// One value and the bytes it takes; nothing after it is read.
struct ValueCase {
  std::string_view bytes;
  const char* expected;
  size_t consumed;
};

TEST(MessagePackReader, ReadsEveryForm) {
  const ValueCase cases[] = {
      // Integers: the format alone decides signed or unsigned.
      {"\x05"sv, "s5", 1},
      {"\x7f"sv, "s127", 1},
      {"\xcc\x05"sv, "u5", 2},
      {"\xff"sv, "s-1", 1},
      {"\xe0"sv, "s-32", 1},
      {"\xd0\xff"sv, "s-1", 2},
      {"\xd0\x7f"sv, "s127", 2},
      {"\xcd\x01\x02"sv, "u258", 3},
      {"\xce\xff\xff\xff\xff"sv, "u4294967295", 5},
      {"\xcf\xff\xff\xff\xff\xff\xff\xff\xff"sv, "u18446744073709551615", 9},
      {"\xcf\x01\x02\x03\x04\x05\x06\x07\x08"sv, "u72623859790382856", 9},
      {"\xd1\x80\x00"sv, "s-32768", 3},
      {"\xd1\x7f\xff"sv, "s32767", 3},
      {"\xd2\x80\x00\x00\x00"sv, "s-2147483648", 5},
      {"\xd2\xff\xff\xff\xfe"sv, "s-2", 5},
      {"\xd3\x80\x00\x00\x00\x00\x00\x00\x00"sv, "s-9223372036854775808", 9},
      {"\xd3\x00\x00\x00\x01\x00\x00\x00\x00"sv, "s4294967296", 9},
      // Floats.
      {"\xca\x3f\xc0\x00\x00"sv, "f1.5", 5},
      {"\xcb\x3f\xf8\x00\x00\x00\x00\x00\x00"sv, "f1.5", 9},
      {"\xcb\xc0\x59\x00\x00\x00\x00\x00\x00"sv, "f-100", 9},
      // nil and booleans.
      {"\xc0"sv, "null", 1},
      {"\xc2"sv, "false", 1},
      {"\xc3"sv, "true", 1},
      // Strings in every form; the value model cuts a text at its first NUL.
      {"\xa0"sv, "\"\"", 1},
      {"\xa3" "abc"sv, "\"abc\"", 4},
      {"\xd9\x03" "abc"sv, "\"abc\"", 5},
      {"\xda\x00\x03" "abc"sv, "\"abc\"", 6},
      {"\xdb\x00\x00\x00\x03" "abc"sv, "\"abc\"", 8},
      {"\xa3" "a\0b"sv, "\"a\"", 4},
      // Raw bytes.
      {"\xc4\x02\x00\xff"sv, "blob(2)", 4},
      {"\xc5\x00\x00"sv, "blob(0)", 3},
      {"\xc6\x00\x00\x00\x01\x07"sv, "blob(1)", 6},
      // Arrays and maps in every form.
      {"\x90"sv, "[]", 1},
      {"\x80"sv, "{}", 1},
      {"\x92\x01\xc0"sv, "[s1,null]", 3},
      {"\xdc\x00\x02\x01\x02"sv, "[s1,s2]", 5},
      {"\xdd\x00\x00\x00\x01\xc3"sv, "[true]", 6},
      {"\x81\xa1" "a\x01"sv, "{a:s1}", 4},
      {"\xde\x00\x01\xa1" "a\xc2"sv, "{a:false}", 6},
      {"\xdf\x00\x00\x00\x01\xa1" "a\xc2"sv, "{a:false}", 8},
      {"\x81\xd9\x01" "k\x01"sv, "{k:s1}", 5},
      {"\x81\xda\x00\x01" "k\x01"sv, "{k:s1}", 6},
      {"\x81\xdb\x00\x00\x00\x01" "k\x01"sv, "{k:s1}", 8},
      {"\x81\xa0\x01"sv, "{:s1}", 3},
      {"\x81\xa3" "k\0x\x01"sv, "{k:s1}", 6},  // a key ends at its first NUL
      {"\x82\xa1" "b\x01\xa1" "a\x02"sv, "{a:s2,b:s1}", 7},
      // Nesting: inner containers close and the outer one carries on.
      {"\x92\x91\x01\x02"sv, "[[s1],s2]", 4},
      {"\x93\x90\x80\x90"sv, "[[],{},[]]", 4},
      {"\x82\xa1" "a\x91\x90\xa1" "b\x81\xa1" "c\xc0"sv, "{a:[[]],b:{c:null}}", 11},
      {"\x91\x81\xa1" "x\x92\xc3\xa1" "y"sv, "[{x:[true,\"y\"]}]", 8},
      // Only the first value is read.
      {"\x01\x02"sv, "s1", 1},
      {"\x92\x90\x01\x05"sv, "[[],s1]", 3},
      {"\x80\x80"sv, "{}", 1},
      // Input that ends between items succeeds with what arrived.
      {""sv, "null", 0},
      {"\x93\x01\x02"sv, "[s1,s2]", 3},
      {"\x91"sv, "[]", 1},
      {"\xdc\x00\x05\x01"sv, "[s1]", 4},
      {"\x82\xa1" "a\x01\xa1" "b"sv, "{a:s1}", 6},  // a key without its value makes no member
      {"\x92\x92\x01"sv, "[[s1]]", 3},
  };
  for (const ValueCase& c : cases) {
    const MessagePackParse parse = Parse(c.bytes);
    EXPECT_EQ(Rendered(parse), c.expected) << Hex(c.bytes);
    EXPECT_EQ(parse.consumed, c.consumed) << Hex(c.bytes);
  }
}

TEST(MessagePackReader, KeepsExactPayloads) {
  // float 32 is widened, not re-rounded through another precision.
  const MessagePackParse tenth = Parse("\xca\x3d\xcc\xcc\xcd"sv);
  EXPECT_EQ(tenth.result.GetFloat(), static_cast<double>(0.1f));
  const MessagePackParse nan = Parse("\xcb\x7f\xf8\x00\x00\x00\x00\x00\x01"sv);
  EXPECT_NE(nan.result.GetFloat(), nan.result.GetFloat());

  // Blob bytes, strings and keys are copies: the input may go right away.
  std::vector<uint8_t> input = Exact("\x83\xa3" "key\xc4\x03\x00\x80\xff\xa1" "s\xa5" "hello\xa1" "n\xcb\x40\x09\x21\xfb\x54\x44\x2d\x18"sv);
  const MessagePackParse parse = ParseMessagePack(input.data(), input.size());
  std::memset(input.data(), 0xaa, input.size());
  input.clear();
  input.shrink_to_fit();
  ASSERT_TRUE(parse.result.Succeeded()) << parse.result.Error();
  EXPECT_EQ(parse.result.FindMember("key").GetBlob(), (std::vector<uint8_t>{0x00, 0x80, 0xff}));
  EXPECT_EQ(parse.result.FindMember("s").GetString(), "hello");
  EXPECT_EQ(parse.result.FindMember("n").GetFloat(), 3.141592653589793);
}

TEST(MessagePackReader, ReportsErrorsWithTheirPosition) {
  struct Case {
    std::string_view bytes;
    const char* expected;
  };
  const Case cases[] = {
      // Items the reader refuses: the position after their first byte.
      {"\xc1"sv, "Invalid MessagePack data at position 1."},
      {"\xc7\x01\x01\x00"sv, "Invalid MessagePack data at position 1."},
      {"\xc8\x00\x01\x01\x00"sv, "Invalid MessagePack data at position 1."},
      {"\xc9\x00\x00\x00\x01\x01\x00"sv, "Invalid MessagePack data at position 1."},
      {"\xd4\x01\x00"sv, "Invalid MessagePack data at position 1."},
      {"\xd8\x01"sv, "Invalid MessagePack data at position 1."},
      {"\x92\x01\xd5\x01\x00\x00"sv, "Invalid MessagePack data at position 3."},
      {"\x81\xa1" "a\xc1"sv, "Invalid MessagePack data at position 4."},
      // Keys.
      {"\x81\x01\x02"sv, "Invalid MessagePack data at position 2. Map keys must be strings."},
      {"\x81\xc0\x02"sv, "Invalid MessagePack data at position 2. Map keys must be strings."},
      {"\x81\xc1"sv, "Invalid MessagePack data at position 2. Map keys must be strings."},
      {"\x81\xc4\x01" "a\x01"sv, "Invalid MessagePack data at position 2. Map keys must be strings."},
      {"\x81\x90\x01"sv, "Invalid MessagePack data at position 2. Map keys must be strings."},
      {"\x82\xa1" "a\x01\xcc\x01\x02"sv, "Invalid MessagePack data at position 5. Map keys must be strings."},
      {"\x91\x81\xa1" "a\x81\x05"sv, "Invalid MessagePack data at position 6. Map keys must be strings."},
      // Fixed-size fields: the position where the field starts.
      {"\xcd\x01"sv, "Invalid MessagePack data. 16-bit integer value at position 1 is truncated."},
      {"\xcd"sv, "Invalid MessagePack data. 16-bit integer value at position 1 is truncated."},
      {"\xcc"sv, "Invalid MessagePack data. 8-bit integer value at position 1 is truncated."},
      {"\xce\x00\x00\x00"sv, "Invalid MessagePack data. 32-bit integer value at position 1 is truncated."},
      {"\xcf\x00\x00\x00\x00\x00\x00\x00"sv, "Invalid MessagePack data. 64-bit integer value at position 1 is truncated."},
      {"\xd0"sv, "Invalid MessagePack data. 8-bit integer value at position 1 is truncated."},
      {"\xd1\x00"sv, "Invalid MessagePack data. 16-bit integer value at position 1 is truncated."},
      {"\xd2"sv, "Invalid MessagePack data. 32-bit integer value at position 1 is truncated."},
      {"\xd3\x00"sv, "Invalid MessagePack data. 64-bit integer value at position 1 is truncated."},
      {"\xca\x3f\xc0\x00"sv, "Invalid MessagePack data. 32-bit integer value at position 1 is truncated."},
      {"\xcb\x3f"sv, "Invalid MessagePack data. 64-bit integer value at position 1 is truncated."},
      {"\xd9"sv, "Invalid MessagePack data. 8-bit integer value at position 1 is truncated."},
      {"\xda\x00"sv, "Invalid MessagePack data. 16-bit integer value at position 1 is truncated."},
      {"\xdb\x00\x00\x00"sv, "Invalid MessagePack data. 32-bit integer value at position 1 is truncated."},
      {"\xc4"sv, "Invalid MessagePack data. 8-bit integer value at position 1 is truncated."},
      {"\xc5\x00"sv, "Invalid MessagePack data. 16-bit integer value at position 1 is truncated."},
      {"\xc6"sv, "Invalid MessagePack data. 32-bit integer value at position 1 is truncated."},
      {"\xdc\x00"sv, "Invalid MessagePack data. 16-bit integer value at position 1 is truncated."},
      {"\xdd\x00\x00"sv, "Invalid MessagePack data. 32-bit integer value at position 1 is truncated."},
      {"\xde"sv, "Invalid MessagePack data. 16-bit integer value at position 1 is truncated."},
      {"\xdf\x00"sv, "Invalid MessagePack data. 32-bit integer value at position 1 is truncated."},
      {"\x92\x01\xcd\x01"sv, "Invalid MessagePack data. 16-bit integer value at position 3 is truncated."},
      {"\x81\xd9"sv, "Invalid MessagePack data. 8-bit integer value at position 2 is truncated."},
      {"\x81\xdb\x00\x00"sv, "Invalid MessagePack data. 32-bit integer value at position 2 is truncated."},
      // Payloads: the declared size, unsigned, and where the payload starts.
      {"\xa5\x61\x62"sv, "Invalid MessagePack data. String of size 5 at position 1 is truncated."},
      {"\xd9\x05" "a"sv, "Invalid MessagePack data. String of size 5 at position 2 is truncated."},
      {"\xda\x01\x00"sv, "Invalid MessagePack data. String of size 256 at position 3 is truncated."},
      {"\xdb\xff\xff\xff\xff" "abc"sv, "Invalid MessagePack data. String of size 4294967295 at position 5 is truncated."},
      {"\x81\xa5" "a"sv, "Invalid MessagePack data. String of size 5 at position 2 is truncated."},
      {"\x81\xdb\x80\x00\x00\x00"sv, "Invalid MessagePack data. String of size 2147483648 at position 6 is truncated."},
      {"\xc4\x03\x00"sv, "Invalid MessagePack data. Raw bytes of size 3 at position 2 are truncated."},
      {"\xc5\x00\x01"sv, "Invalid MessagePack data. Raw bytes of size 1 at position 3 are truncated."},
      {"\xc6\xff\xff\xff\xff"sv, "Invalid MessagePack data. Raw bytes of size 4294967295 at position 5 are truncated."},
      {"\x91\xc4\x01"sv, "Invalid MessagePack data. Raw bytes of size 1 at position 3 are truncated."},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Rendered(Parse(c.bytes)), std::string("error: ") + c.expected) << Hex(c.bytes);
  }
}

TEST(MessagePackReader, FailureDropsThePartlyBuiltTree) {
  // Deep inside a structure that already has members.
  const MessagePackParse parse = Parse("\x82\xa1" "a\x01\xa1" "b\x92\x01\xc1"sv);
  EXPECT_FALSE(parse.result.Succeeded());
  EXPECT_EQ(RenderValue(parse.result), "{error:\"Invalid MessagePack data at position 9.\"}");
}

TEST(MessagePackReader, RepeatedKeysWriteOverTheEarlierValue) {
  const ValueCase cases[] = {
      {"\x82\xa1" "a\x01\xa1" "a\x02"sv, "{a:s2}", 7},
      {"\x82\xa1" "a\x01\xa1" "a\xc0"sv, "{a:null}", 7},
      {"\x82\xa1" "a\x91\x01\xa1" "a\x05"sv, "{a:s5}", 8},
      {"\x82\xa1" "a\x01\xa1" "a\x91\x02"sv, "{a:[s2]}", 8},
      // A later map merges into the earlier structure.
      {"\x82\xa1" "a\x81\xa1" "x\x01\xa1" "a\x81\xa1" "y\x02"sv, "{a:{x:s1,y:s2}}", 13},
      {"\x82\xa1" "a\x81\xa1" "x\x91\x01\xa1" "a\x81\xa1" "x\x92\x05\x06"sv, "{a:{x:[s5,s6]}}", 16},
      // A later array overwrites from index 0 and keeps the further elements.
      {"\x82\xa1" "a\x93\x01\x02\x03\xa1" "a\x91\x09"sv, "{a:[s9,s2,s3]}", 11},
      {"\x82\xa1" "a\x91\x91\x01\xa1" "a\x91\x92\x07\x08"sv, "{a:[[s7,s8]]}", 12},
      // Keys that agree up to a NUL name the same member.
      {"\x82\xa2" "a\0\x01\xa1" "a\x02"sv, "{a:s2}", 8},
  };
  for (const ValueCase& c : cases) {
    const MessagePackParse parse = Parse(c.bytes);
    EXPECT_EQ(Rendered(parse), c.expected) << Hex(c.bytes);
    EXPECT_EQ(parse.consumed, c.consumed) << Hex(c.bytes);
  }
}

// depth nested containers, each opened by header, the innermost empty.
std::string Nested(size_t depth, std::string_view header, std::string_view innermost) {
  std::string bytes;
  for (size_t level = 1; level < depth; ++level) bytes += header;
  return bytes + std::string(innermost);
}

TEST(MessagePackReader, NestingLimit) {
  const std::string tooDeep = "error: Invalid MessagePack data at position %1. Nesting deeper than 512 levels.";
  EXPECT_TRUE(Parse(Nested(kMaxNestingDepth, "\x91", "\x90")).result.Succeeded());
  EXPECT_EQ(Rendered(Parse(Nested(kMaxNestingDepth + 1, "\x91", "\x90"))), Format(tooDeep.c_str(), 513));
  EXPECT_TRUE(Parse(Nested(kMaxNestingDepth, "\x81\xa1" "k"sv, "\x80")).result.Succeeded());
  EXPECT_EQ(Rendered(Parse(Nested(kMaxNestingDepth + 1, "\x81\xa1" "k"sv, "\x80"))),
            Format(tooDeep.c_str(), 3 * kMaxNestingDepth + 1));
  // The long forms check before reading their count.
  EXPECT_EQ(Rendered(Parse(Nested(kMaxNestingDepth + 1, "\xdc\x00\x01"sv, "\xdf"))),
            Format(tooDeep.c_str(), 3 * kMaxNestingDepth + 1));
  EXPECT_EQ(Rendered(Parse(Nested(kMaxNestingDepth + 1, "\x91", "\xdd\x00\x00\x00\x00"sv))),
            Format(tooDeep.c_str(), 513));

  // Depth counts open containers only: closed siblings leave the stack.
  const std::string branch = Nested(kMaxNestingDepth - 1, "\x91", "\x90");
  EXPECT_TRUE(Parse("\x92" + branch + branch).result.Succeeded());
  const std::string deeperBranch = Nested(kMaxNestingDepth, "\x91", "\x90");
  EXPECT_EQ(Rendered(Parse("\x92" + branch + deeperBranch)), Format(tooDeep.c_str(), 1 + branch.size() + 512));

  // Far deeper than a recursive reader could go.
  EXPECT_EQ(Rendered(Parse(std::string(1000000, '\x91'))), Format(tooDeep.c_str(), 513));

  // A tree at the limit is walked and released without trouble, blobs
  // included (they make the release visit every node).
  const MessagePackParse deep = Parse(Nested(kMaxNestingDepth, "\x92\xc4\x01\x07"sv, "\x91\xc4\x00"sv));
  ASSERT_TRUE(deep.result.Succeeded()) << deep.result.Error();
  BindingResult copy = deep.result;
  const BindingProperty* node = &copy;
  size_t depth = 0;
  for (; node->Kind() == PropertyKind::Collection; node = &node->ElementAt(node->Size() - 1)) ++depth;
  EXPECT_EQ(depth, kMaxNestingDepth);
  EXPECT_EQ(node->Kind(), PropertyKind::Blob);
}

TEST(MessagePackReader, CountsTheInputCannotBackCostNothing) {
  // Huge declared counts with few items: the items read, no more.
  const ValueCase cases[] = {
      {"\xdd\xff\xff\xff\xff\x01\x02"sv, "[s1,s2]", 7},
      {"\xdd\x00\xff\xff\xff\x01"sv, "[s1]", 6},
      {"\xdf\xff\xff\xff\xff\xa1" "a\x01"sv, "{a:s1}", 8},
      // Twice 2^31 pairs must not wrap to 0 items and close the map at once.
      {"\xdf\x80\x00\x00\x00\xa1" "a\x01"sv, "{a:s1}", 8},
      {"\xdf\x80\x00\x00\x01\xa1" "a\x01\xa1" "b\x02"sv, "{a:s1,b:s2}", 11},
      {"\x92\xdd\xff\xff\xff\xff\x01"sv, "[[s1]]", 7},
  };
  for (const ValueCase& c : cases) {
    const uint64_t before = LiveBytes();
    const MessagePackParse parse = Parse(c.bytes);
    const uint64_t held = LiveBytes() - before;
    EXPECT_EQ(Rendered(parse), c.expected) << Hex(c.bytes);
    EXPECT_EQ(parse.consumed, c.consumed) << Hex(c.bytes);
    EXPECT_LT(held, 64u * 1024) << Hex(c.bytes);
  }

  // Counts that the rest of the input could back one level at a time, but
  // not all at once: 400 arrays that each promise 4000 elements, then 4000
  // nils. Storage sized by each count alone would hold about 400 x 4000
  // nodes; the tree holds 4399.
  std::string bytes;
  for (int level = 0; level < 400; ++level) bytes += "\xdd\x00\x00\x0f\xa0"sv;
  bytes += std::string(4000, '\xc0');
  const uint64_t before = LiveBytes();
  uint64_t held;
  {
    const MessagePackParse parse = Parse(bytes);
    held = LiveBytes() - before;
    ASSERT_TRUE(parse.result.Succeeded()) << parse.result.Error();
    EXPECT_EQ(parse.consumed, bytes.size());
    const BindingProperty* innermost = &parse.result;
    for (int level = 1; level < 400; ++level) innermost = &innermost->ElementAt(0);
    EXPECT_EQ(innermost->Size(), 4000u);
  }
  EXPECT_LT(held, 1024u * 1024);
}

TEST(MessagePackReader, EveryPrefixGivesAValueOrAMessage) {
  const std::string_view messages[] = {
      "\x82\xa4" "name\xd9\x05" "hello\xa4" "list\x96\x01\xcc\xff\xd1\x80\x00\xcb\x3f\xf8\x00\x00\x00\x00\x00\x00"
      "\xc4\x02\x01\x02\x81\xa1" "k\xc3"sv,
      "\xdc\x00\x03\xde\x00\x01\xda\x00\x01" "a\xdd\x00\x00\x00\x02\xc0\xc2\xca\x3f\xc0\x00\x00\xdb\x00\x00\x00\x02"
      "xy"sv,
      "\x93\x90\x80\xdf\x00\x00\x00\x02\xa1" "a\xd3\x00\x00\x00\x00\x00\x00\x00\x01\xa1" "b\xc6\x00\x00\x00\x01\x09"sv,
  };
  for (const std::string_view message : messages) {
    for (size_t length = 0; length <= message.size(); ++length) {
      const std::string_view prefix = message.substr(0, length);
      const MessagePackParse parse = Parse(prefix);
      EXPECT_LE(parse.consumed, length) << Hex(prefix);
      if (parse.result.Succeeded()) {
        EXPECT_TRUE(parse.result.Error().empty()) << Hex(prefix);
      } else {
        EXPECT_EQ(parse.result.Error().rfind("Invalid MessagePack data", 0), 0u) << Hex(prefix);
        EXPECT_EQ(parse.result.Size(), 1u) << Hex(prefix);
      }
    }
    const MessagePackParse whole = Parse(message);
    EXPECT_TRUE(whole.result.Succeeded()) << whole.result.Error();
    EXPECT_EQ(whole.consumed, message.size()) << Hex(message);
  }
  EXPECT_EQ(Rendered(Parse(messages[0])),
            "{list:[s1,u255,s-32768,f1.5,blob(2),{k:true}],name:\"hello\"}");
  EXPECT_EQ(Rendered(Parse(messages[1])), "[{a:[null,false]},f1.5,\"xy\"]");
  EXPECT_EQ(Rendered(Parse(messages[2])), "[[],{},{a:s1,b:blob(1)}]");
}

// What a single byte on its own yields, by the byte classes of the format.
std::string SingleByteExpectation(uint32_t byte) {
  const auto truncated = [](int bits) {
    return Format("error: Invalid MessagePack data. %1-bit integer value at position 1 is truncated.", bits);
  };
  if (byte <= 0x7f) return Format("s%1", byte);
  if (byte <= 0x8f) return "{}";
  if (byte <= 0x9f) return "[]";
  if (byte == 0xa0) return "\"\"";
  if (byte <= 0xbf) {
    return Format("error: Invalid MessagePack data. String of size %1 at position 1 is truncated.", byte & 0x1f);
  }
  if (byte >= 0xe0) return Format("s%1", static_cast<int32_t>(byte) - 256);
  switch (byte) {
    case 0xc0: return "null";
    case 0xc2: return "false";
    case 0xc3: return "true";
    case 0xc4: case 0xcc: case 0xd0: case 0xd9: return truncated(8);
    case 0xc5: case 0xcd: case 0xd1: case 0xda: case 0xdc: case 0xde: return truncated(16);
    case 0xc6: case 0xca: case 0xce: case 0xd2: case 0xdb: case 0xdd: case 0xdf: return truncated(32);
    case 0xcb: case 0xcf: case 0xd3: return truncated(64);
    default: return "error: Invalid MessagePack data at position 1.";  // c1, ext, fixext
  }
}

// What a map of one pair whose input stops after the key's first byte yields.
std::string KeyByteExpectation(uint32_t byte) {
  if (byte == 0xa0) return "{}";
  if (byte >= 0xa1 && byte <= 0xbf) {
    return Format("error: Invalid MessagePack data. String of size %1 at position 2 is truncated.", byte & 0x1f);
  }
  const int bits = byte == 0xd9 ? 8 : byte == 0xda ? 16 : byte == 0xdb ? 32 : 0;
  if (bits != 0) return Format("error: Invalid MessagePack data. %1-bit integer value at position 2 is truncated.", bits);
  return "error: Invalid MessagePack data at position 2. Map keys must be strings.";
}

TEST(MessagePackReader, EverySingleByte) {
  for (uint32_t byte = 0; byte <= 0xff; ++byte) {
    const std::string bytes(1, static_cast<char>(byte));
    const MessagePackParse parse = Parse(bytes);
    EXPECT_EQ(Rendered(parse), SingleByteExpectation(byte)) << Hex(bytes);
    if (parse.result.Succeeded()) {
      EXPECT_EQ(parse.consumed, 1u) << Hex(bytes);
    }
    // The same byte as the first element of an array of two: the same
    // outcome one byte further on.
    const std::string element = "\x92" + bytes;
    std::string expected = SingleByteExpectation(byte);
    const size_t at = expected.find("position 1");
    expected = at != std::string::npos ? expected.replace(at, 10, "position 2") : "[" + expected + "]";
    EXPECT_EQ(Rendered(Parse(element)), expected) << Hex(element);
    // As the key of a map.
    const std::string key = "\x81" + bytes;
    EXPECT_EQ(Rendered(Parse(key)), KeyByteExpectation(byte)) << Hex(key);
  }
}

TEST(MessagePackReader, ArbitraryBytesGiveAValueOrAMessage) {
  // A fixed-seed generator; byte values skewed towards the container and
  // length forms, which reach the most code.
  uint32_t state = 0x2545f491u;
  const auto next = [&state] {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  };
  const uint64_t before = LiveBytes();
  for (int round = 0; round < 20000; ++round) {
    std::string bytes(next() % 48, '\0');
    for (char& c : bytes) {
      const uint32_t pick = next();
      c = static_cast<char>((pick & 3) == 0 ? 0x80 + (pick >> 8) % 0x20 : (pick >> 8) & 0xff);
      if ((pick & 0xf0) == 0) c = static_cast<char>(0xd9 + (pick >> 16) % 7);
    }
    const MessagePackParse parse = Parse(bytes);
    EXPECT_LE(parse.consumed, bytes.size());
    if (parse.result.Succeeded() == parse.result.Error().empty()) continue;
    ADD_FAILURE() << "a value and a message at once, or neither: " << Hex(bytes);
    break;
  }
  EXPECT_EQ(LiveBytes(), before) << "parses left memory behind";
}

TEST(MessagePackReader, ReleasesEverything) {
  const std::string_view inputs[] = {
      "\x82\xa1" "a\x92\xc4\x02\x01\x02\xa5" "hello\xa1" "b\x81\xa1" "c\xcb\x3f\xf8\x00\x00\x00\x00\x00\x00"sv,
      "\x82\xa1" "a\x92\xc4\x02\x01\x02\xa5" "hello\xa1" "b\x81\xa1" "c\xc1"sv,  // fails at the end
      "\x91\x91\x91\x91\x91\x91\x91\x91\x91\x91\x91\x91\x91\x91\x91\x91\x91\x91\x91\x91\xc4\x01"sv,
  };
  for (const std::string_view input : inputs) {
    const std::vector<uint8_t> bytes = Exact(input);
    const uint64_t before = LiveBytes();
    { const MessagePackParse parse = ParseMessagePack(bytes.data(), bytes.size()); }
    EXPECT_EQ(LiveBytes(), before) << Hex(input);
  }
}

TEST(LooksLikeMessagePack, OnlyMapsAndArrays) {
  EXPECT_FALSE(LooksLikeMessagePack(nullptr, 0));
  EXPECT_FALSE(LooksLikeMessagePack(""sv));
  for (uint32_t byte = 0; byte <= 0xff; ++byte) {
    const bool opensContainer = (byte >= 0x80 && byte <= 0x9f) || (byte >= 0xdc && byte <= 0xdf);
    const uint8_t first = static_cast<uint8_t>(byte);
    EXPECT_EQ(LooksLikeMessagePack(&first, 1), opensContainer) << byte;
  }
  EXPECT_TRUE(LooksLikeMessagePack("\xde\x00\x00"sv));
  EXPECT_FALSE(LooksLikeMessagePack("\x05\x80"sv));
}

}  // namespace
}  // namespace Zarn
