#include "remoting/route_table.h"

#include <gtest/gtest.h>

#include <random>
#include <regex>

#include "binding/binding_types.h"

namespace Zarn {
namespace {

TEST(FunctionName, FromMethodAndTemplate) {
  const struct {
    HttpMethod method;
    const char* path;
    const char* name;
  } cases[] = {
      {HttpMethod::Get, "/arx-vyk-toxicity/v1/accounts/{accountId}", "GetArxVykToxicityV1AccountsByAccountId"},
      {HttpMethod::Get, "/arx-vyk-toxicity/v1/summoners/{summonerId}", "GetArxVykToxicityV1SummonersBySummonerId"},
      {HttpMethod::Put, "/a_b.c/{x}", "PutABCByX"},
      {HttpMethod::Delete, "/v1/items/", "DeleteV1Items"},
      {HttpMethod::Options, "/x!y+z", "OptionsXYZ"},
      // Only the character after a separator changes case.
      {HttpMethod::Post, "/camelCase/ALL", "PostCamelCaseALL"},
      // No method name: the template alone.
      {HttpMethod::None, "/a/{b}", "AByB"},
      {HttpMethod::Custom, "/a", "A"},
  };
  for (const auto& c : cases) EXPECT_EQ(MakeFunctionName(c.method, c.path), c.name) << c.path;
}

TEST(TemplatePattern, EscapesAndPlaceholders) {
  const struct {
    const char* path;
    const char* pattern;
    std::vector<std::pair<int32_t, std::string>> placeholders;
  } cases[] = {
      {"/arx-vyk-toxicity/v1/accounts/{accountId}", "/arx-vyk-toxicity/v1/accounts/([^/]*)", {{1, "accountId"}}},
      {"/files/{+rest}", "/files/(.*)", {{2, "rest"}}},
      {"/doc{#part}", "/doc#(.*)", {{3, "part"}}},
      {"/a.b/(c)[d]|e^$*?\\/{x}", "/a\\.b/\\(c\\)\\[d\\]\\|e\\^\\$\\*\\?\\\\/([^/]*)", {{1, "x"}}},
      {"/{a}/{b}", "/([^/]*)/([^/]*)", {{1, "a"}, {1, "b"}}},
      // "+" and "#" only count first; later they belong to the name.
      {"/{a+b}", "/([^/]*)", {{1, "a+b"}}},
      // A stray "}" adds a placeholder without a group.
      {"/x}", "/x", {{0, ""}}},
  };
  for (const auto& c : cases) {
    const TemplatePattern pattern = TemplateToPattern(c.path);
    EXPECT_EQ(pattern.pattern, c.pattern) << c.path;
    std::vector<std::pair<int32_t, std::string>> placeholders;
    for (const auto& p : pattern.placeholders) placeholders.emplace_back(p.kind, p.name);
    EXPECT_EQ(placeholders, c.placeholders) << c.path;
  }
}

TEST(PercentDecode, Table) {
  const struct {
    const char* in;
    std::string out;
  } cases[] = {
      {"caf%C3%A9+x", "caf\xC3\xA9 x"},
      {"100%", "100"},
      {"100%4", "1004"},
      {"%41%62", "Ab"},
      {"%zz", std::string(1, static_cast<char>(0xff & ((16 << 4) | 16)))},
      {"%00a", std::string("\0a", 2)},
      {"a+b+", "a b "},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(PercentDecode(c.in), c.out) << c.in;
}

std::unique_ptr<RouteBinding> MakeBinding(const std::string& path, BindingFunction& function,
                                          HttpMethod method = HttpMethod::Get) {
  auto binding = std::make_unique<RouteBinding>();
  binding->function = &function;
  binding->path = path;
  binding->method = method;
  binding->compiled = CompileTemplate(path.empty() ? std::string_view(function.name) : std::string_view(path));
  return binding;
}

TEST(RouteMatching, PathsAgainstTemplates) {
  const struct {
    const char* path_template;
    const char* path;
    bool matches;
    std::map<std::string, std::string> captures;
  } cases[] = {
      {"/a/b", "/a/b", true, {}},
      {"/a/b", "/a/B", false, {}},
      {"/a/b", "/a/b/", false, {}},
      {"/a/{b}", "/a/x", true, {{"b", "x"}}},
      {"/a/{b}", "/a/", true, {{"b", ""}}},
      {"/a/{b}", "/a/x/y", false, {}},
      {"/a/{+b}", "/a/x/y", true, {{"b", "x/y"}}},
      {"/a/{b}", "/a/caf%C3%A9+x", true, {{"b", "caf\xC3\xA9 x"}}},
      {"/a/{b}", "/a/100%", true, {{"b", "100"}}},
      {"/a.b/{x}", "/a.b/1", true, {{"x", "1"}}},
      {"/a.b/{x}", "/aXb/1", false, {}},
      {"/{a}-{b}", "/x-y-z", true, {{"a", "x-y"}, {"b", "z"}}},
      {"/doc{#part}", "/doc#intro", true, {{"part", "intro"}}},
      {"/f/{+rest}", "/f/line\nbreak", false, {}},
      // The whole path is matched, query included.
      {"/a/{b}", "/a/x?y=1", true, {{"b", "x?y=1"}}},
  };
  for (const auto& c : cases) {
    BindingFunction function;
    function.name = "F";
    const auto binding = MakeBinding(c.path_template, function);
    RequestContext context;
    context.method = HttpMethod::Get;
    context.path = c.path;
    EXPECT_EQ(MatchRoutes(context, {MakeRouteMatcher(*binding)}, false), c.matches) << c.path_template << " " << c.path;
    if (c.matches) {
      EXPECT_EQ(context.captures, c.captures) << c.path_template << " " << c.path;
      EXPECT_EQ(context.binding, binding.get());
    }
  }
}

TEST(RouteMatching, MethodRules) {
  BindingFunction function;
  function.name = "F";
  const auto get = MakeBinding("/a", function, HttpMethod::Get);
  const auto any = MakeBinding("/a", function, HttpMethod::None);
  const auto purge = MakeBinding("/a", function, HttpMethod::Custom);
  purge->customMethod = "PURGE";
  const struct {
    const RouteBinding* binding;
    HttpMethod method;
    const char* custom;
    bool ignore;
    bool matches;
  } cases[] = {
      {get.get(), HttpMethod::Get, "", false, true},     {get.get(), HttpMethod::Post, "", false, false},
      {get.get(), HttpMethod::Post, "", true, true},     {any.get(), HttpMethod::Delete, "", false, true},
      {purge.get(), HttpMethod::Custom, "PURGE", false, true},
      {purge.get(), HttpMethod::Custom, "purge", false, false},
      {purge.get(), HttpMethod::Custom, "", false, false},
  };
  for (const auto& c : cases) {
    RequestContext context;
    context.method = c.method;
    context.customMethod = c.custom;
    context.path = "/a";
    EXPECT_EQ(MatchRoutes(context, {MakeRouteMatcher(*c.binding)}, c.ignore), c.matches);
  }
  // A matcher without a binding accepts every method.
  RouteMatcher bare = MakeRouteMatcher(*get);
  bare.binding = nullptr;
  RequestContext context;
  context.method = HttpMethod::Put;
  context.path = "/a";
  EXPECT_TRUE(MatchRoutes(context, {bare}, false));
}

TEST(RouteMatching, ShortestCapturesWinAndLiteralStops) {
  BindingFunction wide;
  wide.name = "Wide";
  BindingFunction narrow;
  narrow.name = "Narrow";
  BindingFunction literal;
  literal.name = "Literal";
  const auto a = MakeBinding("/{x}", wide);
  const auto b = MakeBinding("/a{y}", narrow);
  const auto c = MakeBinding("/ab", literal);
  RequestContext context;
  context.method = HttpMethod::Get;
  context.path = "/ab";
  ASSERT_TRUE(MatchRoutes(context, {MakeRouteMatcher(*a), MakeRouteMatcher(*b)}, false));
  EXPECT_EQ(context.function, &narrow);
  EXPECT_EQ(context.captures, (std::map<std::string, std::string>{{"y", "b"}}));

  RequestContext first;
  first.method = HttpMethod::Get;
  first.path = "/ab";
  ASSERT_TRUE(MatchRoutes(first, {MakeRouteMatcher(*c), MakeRouteMatcher(*b)}, false));
  EXPECT_EQ(first.function, &literal);
}

// The matcher runs the template's pattern directly; it must capture exactly
// what an ECMAScript engine running the pattern text captures.
TEST(RouteMatching, AgreesWithRegularExpressions) {
  const char* templates[] = {"/a/{b}",     "/a/{+b}",   "/{a}/{b}",  "/{a}-{b}", "/{+a}/{b}", "/{+a}/{+b}",
                             "/x{#f}",     "/{a}.{b}",  "/{a}{b}",   "/{+a}x",   "{a}",       "/a.b/{c}"};
  const char alphabet[] = {'/', 'a', 'b', 'x', '-', '.', '#', '%', '4', '1', '\n'};
  std::mt19937 random(12345);
  for (const char* path_template : templates) {
    BindingFunction function;
    function.name = "F";
    const auto binding = MakeBinding(path_template, function);
    const TemplatePattern pattern = TemplateToPattern(path_template);
    const std::regex expression(pattern.pattern, std::regex::ECMAScript | std::regex::optimize);
    for (int round = 0; round < 400; ++round) {
      std::string path;
      const int length = static_cast<int>(random() % 9);
      for (int i = 0; i < length; ++i) path.push_back(alphabet[random() % sizeof(alphabet)]);
      RequestContext context;
      context.method = HttpMethod::Get;
      context.path = path;
      const bool matched = MatchRoutes(context, {MakeRouteMatcher(*binding)}, false);
      std::smatch groups;
      const bool expected = std::regex_match(path, groups, expression);
      ASSERT_EQ(matched, expected) << path_template << " on '" << path << "'";
      if (!expected) continue;
      std::map<std::string, std::string> want;
      for (size_t i = 1; i < groups.size() && i - 1 < pattern.placeholders.size(); ++i) {
        want[pattern.placeholders[i - 1].name] = PercentDecode(groups[i].str());
      }
      EXPECT_EQ(context.captures, want) << path_template << " on '" << path << "'";
    }
  }
}

TEST(RouteMatching, LongPathsNeedNoStack) {
  BindingFunction function;
  function.name = "F";
  const auto binding = MakeBinding("/a/{+rest}/end", function);
  RequestContext context;
  context.method = HttpMethod::Get;
  context.path = "/a/" + std::string(1 << 20, 'x') + "/end";
  ASSERT_TRUE(MatchRoutes(context, {MakeRouteMatcher(*binding)}, false));
  EXPECT_EQ(context.captures["rest"].size(), size_t{1} << 20);
}

}  // namespace
}  // namespace Zarn
