// Type identities: the identity texts as spelled in the table of the
// binding system, their FNV-1a hashes and "#%08X" texts.
#include "binding/static_type.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace Zarn {
namespace {

std::string HexText(const char* identity) {
  char text[16];
  std::snprintf(text, sizeof text, "#%08X", static_cast<unsigned>(Fnv1a(identity)));
  return text;
}

TEST(Fnv1a, KnownValues) {
  EXPECT_EQ(Fnv1a(""), 0x811c9dc5u);
  EXPECT_EQ(Fnv1a("a"), 0xe40c292cu);
  EXPECT_EQ(Fnv1a("foobar"), 0xbf9cf968u);
  EXPECT_EQ(Fnv1a("\xff"), (0x811c9dc5u ^ 0xffu) * 0x01000193u) << "bytes are unsigned";
}

TEST(StaticType, IdentityTextsHashToTheirRecords) {
  struct Case {
    const StaticTypeId* id;
    const char* identity;
  };
  const Case cases[] = {
      {StaticType::HashCode<void>(), "unsigned int __cdecl StaticType::HashCode<void>(void)"},
      {StaticType::HashCode<int32_t>(), "unsigned int __cdecl StaticType::HashCode<int>(void)"},
      {StaticType::HashCode<uint32_t>(), "unsigned int __cdecl StaticType::HashCode<unsigned int>(void)"},
      {StaticType::HashCode<bool>(), "unsigned int __cdecl StaticType::HashCode<bool>(void)"},
      {StaticType::HashCode<std::string>(),
       "unsigned int __cdecl StaticType::HashCode<class std::basic_string<char,struct "
       "std::char_traits<char>,class std::allocator<char> >>(void)"},
      {StaticType::HashCode<std::vector<std::string>>(),
       "unsigned int __cdecl StaticType::HashCode<class std::vector<class std::basic_string<char,struct "
       "std::char_traits<char>,class std::allocator<char> >,class std::allocator<class "
       "std::basic_string<char,struct std::char_traits<char>,class std::allocator<char> > > >>(void)"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.id->hash, Fnv1a(c.identity)) << c.identity;
    EXPECT_EQ(std::string(c.id->text), HexText(c.identity)) << c.identity;
  }
}

TEST(StaticType, RecordsAreCreatedOncePerType) {
  EXPECT_EQ(StaticType::HashCode<int32_t>(), StaticType::HashCode<int32_t>());
  EXPECT_NE(StaticType::HashCode<int32_t>(), StaticType::HashCode<uint32_t>());
  EXPECT_NE(StaticType::HashCode<int32_t>()->hash, StaticType::HashCode<uint32_t>()->hash);
}

}  // namespace
}  // namespace Zarn
