// Routes: the method, path template and argument places of a REST resource,
// the function names derived from them, templates turned into regular
// expressions, and the matching of a request path against a route.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "http/http_method.h"

namespace Zarn {

struct BindingFunction;
class RouteHandler;

// Where an argument's value may come from. 1 to 5 travel to the core as
// they are.
enum class ArgumentLocation : int32_t {
  Any = 0,
  Query = 1,
  Path = 2,
  Header = 4,
  Body = 5,
};

// The route of one function; created by AddRoute and not changed once the
// routes are published, so requests read it without a lock.
struct RouteBinding {
  RouteBinding();
  RouteBinding(const RouteBinding&) = delete;
  RouteBinding& operator=(const RouteBinding&) = delete;
  ~RouteBinding();

  const BindingFunction* function = nullptr;
  std::unique_ptr<RouteHandler> handler;
  // The template without a trailing "/"; empty: the function's name serves.
  std::string path;
  HttpMethod method = HttpMethod::None;  // None: any method
  std::string customMethod;              // the method's name when method is Custom
  uint8_t flag = 0;                      // passed to the core; always 0 here
  std::vector<std::vector<std::string>> textLists;  // passed to the core; always empty here
  std::vector<ArgumentLocation> locations;          // one per function argument
  // The template compiled once by AddRoute (null for a literal template or
  // before), shared by every request.
  std::shared_ptr<const struct CompiledTemplate> compiled;
};

struct PathPlaceholder {
  enum Kind : int32_t {
    kStray = 0,    // from a "}" outside a placeholder
    kSegment = 1,  // {name}: one path segment
    kRest = 2,     // {+name}: the rest of the path
    kFragment = 3, // {#name}: a fragment
  };
  int32_t kind = kStray;
  std::string name;
};

// A template compiled for matching. The template's regular expression (see
// TemplateToPattern) is made of literal text, "([^/]*)", "(.*)" and
// "#(.*)"; the matcher runs that expression directly as a list of pieces,
// with the same full-match, greedy-first backtracking as an ECMAScript
// engine, so it captures exactly what the expression would. Unlike a
// general regular expression engine it needs no stack per character, so a
// path of any length is safe.
struct CompiledTemplate {
  struct Piece {
    enum Kind : uint8_t {
      kLiteral,  // text, byte for byte
      kSegment,  // ([^/]*)
      kRest,     // (.*): anything but a line end ("\n", "\r")
    };
    Kind kind;
    std::string text;  // literal text
  };
  std::vector<Piece> pieces;
  std::vector<PathPlaceholder> placeholders;  // names of the groups, in order
  size_t groupCount = 0;
};
std::shared_ptr<const CompiledTemplate> CompileTemplate(std::string_view pathTemplate);

// One route as a request sees it.
struct RouteMatcher {
  const BindingFunction* function = nullptr;
  const RouteBinding* binding = nullptr;
  std::string literalPath;  // the template when it holds no "{"; else empty
  std::shared_ptr<const CompiledTemplate> compiled;  // null for a literal template
};

// Builds the matcher of a binding: its path, or the function's name when the
// path is empty, using the binding's compiled template when it has one.
RouteMatcher MakeRouteMatcher(const RouteBinding& binding);

// The per-request state the matching fills.
struct RequestContext {
  HttpMethod method = HttpMethod::None;
  std::string customMethod;
  std::string path;
  const BindingFunction* function = nullptr;
  const RouteBinding* binding = nullptr;
  std::map<std::string, std::string> captures;  // placeholder name -> decoded text
};

// "GET" and "/v1/accounts/{id}" give "GetV1AccountsById": the method's
// name and the template, the separators ! + - . / _ dropped and the next
// character upper-cased, "{" spelled "By", "}" dropped.
std::string MakeFunctionName(HttpMethod method, std::string_view pathTemplate);

struct TemplatePattern {
  std::string pattern;
  std::vector<PathPlaceholder> placeholders;
};
// "/a/{b}" gives "/a/([^/]*)", "{+b}" "(.*)", "{#b}" "#(.*)"; regular
// expression characters outside placeholders are escaped.
TemplatePattern TemplateToPattern(std::string_view pathTemplate);

// "+" becomes a space and "%XY" the byte 0xXY; a "%" without two characters
// after it is dropped.
std::string PercentDecode(std::string_view text);

// Matches context.path against the matchers in order; see the matching
// rules in the source. True when a route was taken; it fills the context's
// function, binding and captures.
bool MatchRoutes(RequestContext& context, const std::vector<RouteMatcher>& matchers, bool ignoreMethod);

}  // namespace Zarn
