// Type identities: the identity texts as spelled in the table of the
// binding system, their FNV-1a hashes and "#%08X" texts.
#include "binding/static_type.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "binding/binding_traits.h"
#include "binding/builtin_types.h"
#include "plugin/plugin_manager_types.h"

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

// The identity texts of the system's registered types, as the table spells
// them: "unsigned int __cdecl StaticType::HashCode<" + spelling + ">(void)".
TEST(StaticType, RegisteredTypesHaveTheirTableIdentities) {
  using namespace BindingHelpProvider;
  using namespace Client;
  using namespace Client::AppModule;
  struct Case {
    const StaticTypeId* id;
    const char* spelling;
  };
  const Case cases[] = {
      {StaticType::HashCode<BindingProperty>(), "class Zarn::BindingProperty"},
      {StaticType::HashCode<std::vector<BindingProperty>>(),
       "class std::vector<class Zarn::BindingProperty,class std::allocator<class Zarn::BindingProperty> >"},
      {StaticType::HashCode<BindingAsyncState::Type>(), "enum Zarn::BindingAsyncState::Type"},
      {StaticType::HashCode<BindingGenericEvent>(), "struct Zarn::BindingGenericEvent"},
      {StaticType::HashCode<BindingCallbackEvent>(), "struct Zarn::BindingCallbackEvent"},
      {StaticType::HashCode<BindingGenericAsyncEvent>(), "struct Zarn::BindingGenericAsyncEvent"},
      {StaticType::HashCode<BindingAsyncFailureEvent>(), "struct Zarn::BindingAsyncFailureEvent"},
      {StaticType::HashCode<BindingAsyncCancelEvent>(), "struct Zarn::BindingAsyncCancelEvent"},
      {StaticType::HashCode<HelpFormat>(), "enum Zarn::BindingHelpProvider::HelpFormat"},
      {StaticType::HashCode<FullTypeIdentifier>(), "struct Zarn::BindingHelpProvider::FullTypeIdentifier"},
      {StaticType::HashCode<FullArgumentHelp>(), "struct Zarn::BindingHelpProvider::FullArgumentHelp"},
      {StaticType::HashCode<FullFunctionHelp>(), "struct Zarn::BindingHelpProvider::FullFunctionHelp"},
      {StaticType::HashCode<FullEnumValueHelp>(), "struct Zarn::BindingHelpProvider::FullEnumValueHelp"},
      {StaticType::HashCode<FullFieldHelp>(), "struct Zarn::BindingHelpProvider::FullFieldHelp"},
      {StaticType::HashCode<FullTypeHelp>(), "struct Zarn::BindingHelpProvider::FullTypeHelp"},
      {StaticType::HashCode<FullEventHelp>(), "struct Zarn::BindingHelpProvider::FullEventHelp"},
      {StaticType::HashCode<FullApiHelp>(), "struct Zarn::BindingHelpProvider::FullApiHelp"},
      {StaticType::HashCode<std::vector<FullArgumentHelp>>(),
       "class std::vector<struct Zarn::BindingHelpProvider::FullArgumentHelp,class std::allocator<struct "
       "Zarn::BindingHelpProvider::FullArgumentHelp> >"},
      {StaticType::HashCode<std::vector<FullEnumValueHelp>>(),
       "class std::vector<struct Zarn::BindingHelpProvider::FullEnumValueHelp,class std::allocator<struct "
       "Zarn::BindingHelpProvider::FullEnumValueHelp> >"},
      {StaticType::HashCode<std::vector<FullEventHelp>>(),
       "class std::vector<struct Zarn::BindingHelpProvider::FullEventHelp,class std::allocator<struct "
       "Zarn::BindingHelpProvider::FullEventHelp> >"},
      {StaticType::HashCode<std::vector<FullFieldHelp>>(),
       "class std::vector<struct Zarn::BindingHelpProvider::FullFieldHelp,class std::allocator<struct "
       "Zarn::BindingHelpProvider::FullFieldHelp> >"},
      {StaticType::HashCode<std::vector<FullFunctionHelp>>(),
       "class std::vector<struct Zarn::BindingHelpProvider::FullFunctionHelp,class std::allocator<struct "
       "Zarn::BindingHelpProvider::FullFunctionHelp> >"},
      {StaticType::HashCode<std::vector<FullTypeHelp>>(),
       "class std::vector<struct Zarn::BindingHelpProvider::FullTypeHelp,class std::allocator<struct "
       "Zarn::BindingHelpProvider::FullTypeHelp> >"},
      {StaticType::HashCode<PluginManagerState>(), "enum Zarn::Client::PluginManagerState"},
      {StaticType::HashCode<PluginManagerResource>(), "struct Zarn::Client::PluginManagerResource"},
      {StaticType::HashCode<PluginResourceEventType>(), "enum Zarn::Client::PluginResourceEventType"},
      {StaticType::HashCode<PluginResourceEvent>(), "struct Zarn::Client::PluginResourceEvent"},
      {StaticType::HashCode<PluginLcdsEvent>(), "struct Zarn::Client::AppModule::PluginLcdsEvent"},
      {StaticType::HashCode<PluginLcdsResponse>(), "struct Zarn::Client::AppModule::PluginLcdsResponse"},
      {StaticType::HashCode<PluginServiceProxyResponse>(),
       "struct Zarn::Client::AppModule::PluginServiceProxyResponse"},
      {StaticType::HashCode<Resource>(), "struct Zarn::Resource"},
  };
  for (const Case& c : cases) {
    const std::string identity =
        std::string("unsigned int __cdecl StaticType::HashCode<") + c.spelling + ">(void)";
    EXPECT_EQ(c.id->hash, Fnv1a(identity)) << identity;
    EXPECT_EQ(std::string(c.id->text), HexText(identity.c_str())) << identity;
  }
}

TEST(StaticType, NamedRecordsKeepTheHashWithReadableTexts) {
  struct Case {
    const StaticTypeId* named;
    const StaticTypeId* ordinary;
    const char* text;
  };
  const Case cases[] = {
      {StaticType::Name<BindingProperty>(), StaticType::HashCode<BindingProperty>(),
       "const char *__cdecl StaticType::Name<class Zarn::BindingProperty>(void)"},
      {StaticType::Name<Resource>(), StaticType::HashCode<Resource>(),
       "const char *__cdecl StaticType::Name<struct Zarn::Resource>(void)"},
  };
  for (const Case& c : cases) {
    EXPECT_STREQ(c.named->text, c.text);
    EXPECT_EQ(c.named->hash, c.ordinary->hash) << c.text;
    EXPECT_NE(c.named, c.ordinary);
  }
}

TEST(StaticType, RecordsAreCreatedOncePerType) {
  EXPECT_EQ(StaticType::HashCode<int32_t>(), StaticType::HashCode<int32_t>());
  EXPECT_NE(StaticType::HashCode<int32_t>(), StaticType::HashCode<uint32_t>());
  EXPECT_NE(StaticType::HashCode<int32_t>()->hash, StaticType::HashCode<uint32_t>()->hash);
}

}  // namespace
}  // namespace Zarn
