#include "remoting/route_table.h"

#include "binding/binding_types.h"
#include "remoting/route_handler.h"
#include "util/format.h"

namespace Zarn {

RouteBinding::RouteBinding() = default;
RouteBinding::~RouteBinding() = default;

namespace {

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool IsRegexSpecial(char c) {
  static constexpr std::string_view kSpecial = "^$.*+?()[]|\\";
  return kSpecial.find(c) != std::string_view::npos;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 16;
}

// Walks a template once, as the pattern rules say, handing each pattern
// element to sink: literal characters, groups, and the placeholders.
template <typename Sink>
void WalkTemplate(std::string_view pathTemplate, Sink& sink) {
  int state = 0;
  std::string name;
  for (char c : pathTemplate) {
    if (c == '{') {
      state = 1;
    } else if (c == '}') {
      sink.Group(state);
      sink.Placeholder(PathPlaceholder{state, std::move(name)});
      state = 0;
      name.clear();
    } else if (state == 0) {
      sink.Literal(c);
    } else if (state == 1 && name.empty() && c == '+') {
      state = 2;
    } else if (state == 1 && name.empty() && c == '#') {
      state = 3;
    } else {
      name.push_back(c);
    }
  }
}

struct PatternSink {
  TemplatePattern out;
  void Literal(char c) {
    if (IsRegexSpecial(c)) out.pattern.push_back('\\');
    out.pattern.push_back(c);
  }
  void Group(int state) {
    if (state == 1) out.pattern += "([^/]*)";
    if (state == 2) out.pattern += "(.*)";
    if (state == 3) out.pattern += "#(.*)";
  }
  void Placeholder(PathPlaceholder placeholder) { out.placeholders.push_back(std::move(placeholder)); }
};

struct PieceSink {
  CompiledTemplate out;
  void Literal(char c) {
    if (out.pieces.empty() || out.pieces.back().kind != CompiledTemplate::Piece::kLiteral) {
      out.pieces.push_back({CompiledTemplate::Piece::kLiteral, {}});
    }
    out.pieces.back().text.push_back(c);
  }
  void Group(int state) {
    if (state == 1) {
      out.pieces.push_back({CompiledTemplate::Piece::kSegment, {}});
    } else if (state == 2 || state == 3) {
      if (state == 3) Literal('#');
      out.pieces.push_back({CompiledTemplate::Piece::kRest, {}});
    } else {
      return;
    }
    ++out.groupCount;
  }
  void Placeholder(PathPlaceholder placeholder) { out.placeholders.push_back(std::move(placeholder)); }
};

struct Span {
  size_t begin;
  size_t length;
};

// Full match of pieces[index...] against path[position...], trying the
// longest group first and backtracking as an ECMAScript engine does. The
// recursion goes one level per piece, so its depth is bounded by the
// template, never by the path.
bool MatchPieces(const CompiledTemplate& compiled, size_t index, std::string_view path, size_t position,
                 std::vector<Span>& groups, size_t group) {
  if (index == compiled.pieces.size()) return position == path.size();
  const CompiledTemplate::Piece& piece = compiled.pieces[index];
  if (piece.kind == CompiledTemplate::Piece::kLiteral) {
    if (path.compare(position, piece.text.size(), piece.text) != 0) return false;
    return MatchPieces(compiled, index + 1, path, position + piece.text.size(), groups, group);
  }
  // The longest run the group may take from here.
  size_t end = position;
  if (piece.kind == CompiledTemplate::Piece::kSegment) {
    while (end < path.size() && path[end] != '/') ++end;
  } else {
    while (end < path.size() && path[end] != '\n' && path[end] != '\r') ++end;
  }
  // A literal next piece can only start where its first byte is.
  const CompiledTemplate::Piece* next =
      index + 1 < compiled.pieces.size() ? &compiled.pieces[index + 1] : nullptr;
  for (size_t stop = end + 1; stop-- > position;) {
    if (next == nullptr && stop != path.size()) return false;
    if (next != nullptr && next->kind == CompiledTemplate::Piece::kLiteral &&
        (stop >= path.size() || path[stop] != next->text[0])) {
      continue;
    }
    groups[group] = Span{position, stop - position};
    if (MatchPieces(compiled, index + 1, path, stop, groups, group + 1)) return true;
  }
  return false;
}

// Matches one matcher against the whole path; fills captures on success.
bool MatchPath(const RouteMatcher& matcher, std::string_view path, std::map<std::string, std::string>& captures) {
  if (matcher.compiled == nullptr) return path == matcher.literalPath;
  const CompiledTemplate& compiled = *matcher.compiled;
  std::vector<Span> groups(compiled.groupCount);
  if (!MatchPieces(compiled, 0, path, 0, groups, 0)) return false;
  for (size_t i = 0; i < groups.size() && i < compiled.placeholders.size(); ++i) {
    captures[compiled.placeholders[i].name] = PercentDecode(path.substr(groups[i].begin, groups[i].length));
  }
  return true;
}

bool MethodAccepts(const RouteBinding* binding, const RequestContext& context) {
  if (binding == nullptr || binding->method == HttpMethod::None) return true;
  if (binding->method != context.method) return false;
  return binding->customMethod == context.customMethod;
}

}  // namespace

std::string MakeFunctionName(HttpMethod method, std::string_view pathTemplate) {
  std::string_view methodName = HttpMethodName(method);
  std::string head(methodName.substr(0, 1));
  std::string rest(methodName.substr(methodName.empty() ? 0 : 1));
  for (char& c : rest) c = AsciiLower(c);
  const std::string joined = Format("%1%2/%3", head, rest, pathTemplate);

  std::string name;
  name.reserve(joined.size() + 8);
  bool capitalize = true;
  for (char c : joined) {
    switch (c) {
      case '!':
      case '+':
      case '-':
      case '.':
      case '/':
      case '_':
        capitalize = true;
        break;
      case '{':
        name += "By";
        capitalize = true;
        break;
      case '}':
        break;
      default:
        name.push_back(capitalize ? AsciiUpper(c) : c);
        capitalize = false;
        break;
    }
  }
  return name;
}

TemplatePattern TemplateToPattern(std::string_view pathTemplate) {
  PatternSink sink;
  WalkTemplate(pathTemplate, sink);
  return std::move(sink.out);
}

std::shared_ptr<const CompiledTemplate> CompileTemplate(std::string_view pathTemplate) {
  if (pathTemplate.find('{') == std::string_view::npos) return nullptr;
  PieceSink sink;
  WalkTemplate(pathTemplate, sink);
  return std::make_shared<const CompiledTemplate>(std::move(sink.out));
}

std::string PercentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '+') {
      out.push_back(' ');
    } else if (c == '%') {
      if (text.size() - i > 2) {
        const int high = HexDigit(text[i + 1]);
        const int low = HexDigit(text[i + 2]);
        out.push_back(static_cast<char>(((high << 4) | low) & 0xff));
        i += 2;
      }
    } else {
      out.push_back(c);
    }
  }
  return out;
}

RouteMatcher MakeRouteMatcher(const RouteBinding& binding) {
  RouteMatcher matcher;
  matcher.function = binding.function;
  matcher.binding = &binding;
  const std::string& pathTemplate =
      binding.path.empty() && binding.function != nullptr ? binding.function->name : binding.path;
  if (pathTemplate.find('{') == std::string::npos) {
    matcher.literalPath = pathTemplate;
  } else {
    matcher.compiled = binding.compiled != nullptr ? binding.compiled : CompileTemplate(pathTemplate);
  }
  return matcher;
}

bool MatchRoutes(RequestContext& context, const std::vector<RouteMatcher>& matchers, bool ignoreMethod) {
  bool taken = false;
  size_t takenLength = 0;
  for (const RouteMatcher& matcher : matchers) {
    std::map<std::string, std::string> captures;
    if (!MatchPath(matcher, context.path, captures)) continue;
    if (!ignoreMethod && !MethodAccepts(matcher.binding, context)) continue;
    size_t length = 0;
    for (const auto& capture : captures) length += capture.second.size();
    if (taken && length >= takenLength) continue;
    taken = true;
    takenLength = length;
    context.function = matcher.function;
    context.binding = matcher.binding;
    context.captures = std::move(captures);
    if (context.captures.empty()) break;
  }
  return taken;
}

}  // namespace Zarn
