// Building and destroying BindingProperty trees shaped like real JSON
// documents, against the same shapes built from std::map, std::vector and
// std::string in the same run.
//
// Each corpus is read once into an in-memory shape by the small reader
// below; only building a tree from that shape (the calls a wire-format
// reader makes: Append, Member, the setters) and destroying it is timed.
//
//   build/h-values-i686/bench/values_bench --benchmark_filter=Tree
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "values/binding_property.h"

namespace Zarn {
namespace {

// --- The shape of a document ---

struct Shape {
  enum class Kind : uint8_t { Null, Bool, Signed, Unsigned, Float, String, Array, Object };
  Kind kind = Kind::Null;
  bool boolValue = false;
  int64_t signedValue = 0;
  uint64_t unsignedValue = 0;
  double floatValue = 0;
  std::string text;
  std::vector<Shape> elements;
  std::vector<std::pair<std::string, Shape>> members;  // document order
};

// A strict-enough JSON reader for well-formed corpora; returns false on
// anything it does not understand.
class ShapeReader {
 public:
  explicit ShapeReader(const std::string& text) : at_(text.c_str()) {}

  bool Read(Shape& shape) {
    if (!Value(shape, 0)) return false;
    Skip();
    return *at_ == '\0';
  }

 private:
  void Skip() {
    while (*at_ == ' ' || *at_ == '\t' || *at_ == '\n' || *at_ == '\r') ++at_;
  }

  static void PutUtf8(std::string& out, uint32_t code) {
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }

  bool Hex4(uint32_t& code) {
    code = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = *at_++;
      code <<= 4;
      if (c >= '0' && c <= '9') code |= c - '0';
      else if (c >= 'a' && c <= 'f') code |= c - 'a' + 10;
      else if (c >= 'A' && c <= 'F') code |= c - 'A' + 10;
      else return false;
    }
    return true;
  }

  bool String(std::string& out) {
    if (*at_++ != '"') return false;
    for (;;) {
      const char c = *at_++;
      if (c == '"') return true;
      if (c == '\0') return false;
      if (c != '\\') {
        out += c;
        continue;
      }
      const char escape = *at_++;
      switch (escape) {
        case '"': case '\\': case '/': out += escape; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          uint32_t code;
          if (!Hex4(code)) return false;
          if (code >= 0xD800 && code < 0xDC00 && at_[0] == '\\' && at_[1] == 'u') {
            at_ += 2;
            uint32_t low;
            if (!Hex4(low)) return false;
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
          }
          PutUtf8(out, code);
          break;
        }
        default: return false;
      }
    }
  }

  bool Number(Shape& shape) {
    const char* start = at_;
    const bool negative = *at_ == '-';
    if (negative) ++at_;
    bool isInteger = true;
    while ((*at_ >= '0' && *at_ <= '9') || *at_ == '.' || *at_ == 'e' || *at_ == 'E' || *at_ == '+' ||
           *at_ == '-') {
      if (*at_ == '.' || *at_ == 'e' || *at_ == 'E') isInteger = false;
      ++at_;
    }
    const std::string text(start, at_);
    if (isInteger && text.size() < 19) {
      if (negative) {
        shape.kind = Shape::Kind::Signed;
        shape.signedValue = std::strtoll(text.c_str(), nullptr, 10);
      } else {
        shape.kind = Shape::Kind::Unsigned;
        shape.unsignedValue = std::strtoull(text.c_str(), nullptr, 10);
      }
    } else {
      shape.kind = Shape::Kind::Float;
      shape.floatValue = std::strtod(text.c_str(), nullptr);
    }
    return at_ != start;
  }

  bool Literal(const char* word) {
    const size_t length = std::strlen(word);
    if (std::strncmp(at_, word, length) != 0) return false;
    at_ += length;
    return true;
  }

  bool Value(Shape& shape, int depth) {
    if (depth > 256) return false;
    Skip();
    switch (*at_) {
      case '{': {
        ++at_;
        shape.kind = Shape::Kind::Object;
        Skip();
        if (*at_ == '}') return ++at_, true;
        for (;;) {
          Skip();
          shape.members.emplace_back();
          if (!String(shape.members.back().first)) return false;
          Skip();
          if (*at_++ != ':') return false;
          if (!Value(shape.members.back().second, depth + 1)) return false;
          Skip();
          const char c = *at_++;
          if (c == '}') return true;
          if (c != ',') return false;
        }
      }
      case '[': {
        ++at_;
        shape.kind = Shape::Kind::Array;
        Skip();
        if (*at_ == ']') return ++at_, true;
        for (;;) {
          shape.elements.emplace_back();
          if (!Value(shape.elements.back(), depth + 1)) return false;
          Skip();
          const char c = *at_++;
          if (c == ']') return true;
          if (c != ',') return false;
        }
      }
      case '"':
        shape.kind = Shape::Kind::String;
        return String(shape.text);
      case 't':
        shape.kind = Shape::Kind::Bool;
        shape.boolValue = true;
        return Literal("true");
      case 'f':
        shape.kind = Shape::Kind::Bool;
        return Literal("false");
      case 'n':
        return Literal("null");
      default:
        return Number(shape);
    }
  }

  const char* at_;
};

size_t CountNodes(const Shape& shape) {
  size_t count = 1;
  for (const Shape& element : shape.elements) count += CountNodes(element);
  for (const auto& member : shape.members) count += CountNodes(member.second);
  return count;
}

// --- The two trees ---

void Build(BindingProperty& node, const Shape& shape) {
  switch (shape.kind) {
    case Shape::Kind::Null: break;
    case Shape::Kind::Bool: node.SetBool(shape.boolValue); break;
    case Shape::Kind::Signed: node.SetSigned(shape.signedValue); break;
    case Shape::Kind::Unsigned: node.SetUnsigned(shape.unsignedValue); break;
    case Shape::Kind::Float: node.SetFloat(shape.floatValue); break;
    case Shape::Kind::String: node.SetString(std::string_view(shape.text)); break;
    case Shape::Kind::Array:
      node.MakeCollection();
      for (const Shape& element : shape.elements) Build(node.Append(), element);
      break;
    case Shape::Kind::Object:
      node.MakeStructure();
      for (const auto& [key, value] : shape.members) Build(node.Member(std::string_view(key)), value);
      break;
  }
}

struct StdValue {
  Shape::Kind kind = Shape::Kind::Null;
  bool boolValue = false;
  int64_t signedValue = 0;
  uint64_t unsignedValue = 0;
  double floatValue = 0;
  std::string text;
  std::vector<StdValue> elements;
  std::map<std::string, StdValue> members;
};

void Build(StdValue& node, const Shape& shape) {
  node.kind = shape.kind;
  switch (shape.kind) {
    case Shape::Kind::Null: break;
    case Shape::Kind::Bool: node.boolValue = shape.boolValue; break;
    case Shape::Kind::Signed: node.signedValue = shape.signedValue; break;
    case Shape::Kind::Unsigned: node.unsignedValue = shape.unsignedValue; break;
    case Shape::Kind::Float: node.floatValue = shape.floatValue; break;
    case Shape::Kind::String: node.text = shape.text; break;
    case Shape::Kind::Array:
      for (const Shape& element : shape.elements) {
        node.elements.emplace_back();
        Build(node.elements.back(), element);
      }
      break;
    case Shape::Kind::Object:
      for (const auto& [key, value] : shape.members) Build(node.members[key], value);
      break;
  }
}

// Nodes and text bytes of a tree, and whether its members come in order;
// both trees must agree with the shape before anything is timed.
struct Census {
  size_t nodes = 0;
  size_t textBytes = 0;
  double sum = 0;
  bool isOrdered = true;
  bool operator==(const Census& other) const {
    return nodes == other.nodes && textBytes == other.textBytes && sum == other.sum &&
           isOrdered == other.isOrdered;
  }
};

void Count(const Shape& shape, Census& census) {
  ++census.nodes;
  census.textBytes += shape.text.size();
  census.sum += shape.kind == Shape::Kind::Float      ? shape.floatValue
                : shape.kind == Shape::Kind::Signed   ? static_cast<double>(shape.signedValue)
                : shape.kind == Shape::Kind::Unsigned ? static_cast<double>(shape.unsignedValue)
                                                      : 0.0;
  for (const Shape& element : shape.elements) Count(element, census);
  std::map<std::string, const Shape*> unique;  // a later duplicate key wins
  for (const auto& [key, value] : shape.members) unique[key] = &value;
  for (const auto& [key, value] : unique) {
    census.textBytes += key.size();
    Count(*value, census);
  }
}

void Count(const BindingProperty& node, Census& census) {
  ++census.nodes;
  census.textBytes += node.GetString().size();
  census.sum += node.GetFloat(0) + static_cast<double>(node.GetSigned(0)) + static_cast<double>(node.GetUnsigned(0));
  for (size_t i = 0; node.Kind() == PropertyKind::Collection && i < node.Size(); ++i) {
    Count(node.ElementAt(i), census);
  }
  std::string_view previous;
  bool isFirst = true;
  for (const auto& member : node.Members()) {
    if (!isFirst && !(previous < member.Key())) census.isOrdered = false;
    previous = member.Key();
    isFirst = false;
    census.textBytes += member.Key().size();
    Count(member.Value(), census);
  }
}

void Count(const StdValue& node, Census& census) {
  ++census.nodes;
  census.textBytes += node.text.size();
  census.sum += node.kind == Shape::Kind::Float      ? node.floatValue
                : node.kind == Shape::Kind::Signed   ? static_cast<double>(node.signedValue)
                : node.kind == Shape::Kind::Unsigned ? static_cast<double>(node.unsignedValue)
                                                     : 0.0;
  for (const StdValue& element : node.elements) Count(element, census);
  for (const auto& [key, value] : node.members) {
    census.textBytes += key.size();
    Count(value, census);
  }
}

struct Corpus {
  std::string name;
  size_t bytes = 0;
  Shape shape;
  Census census;
};

template <typename Tree>
void BuildAndDestroy(benchmark::State& state, const Corpus* corpus) {
  {
    Tree check;
    Build(check, corpus->shape);
    Census census;
    Count(check, census);
    if (!(census == corpus->census)) {
      state.SkipWithError("the tree does not match the document");
      return;
    }
  }
  for (auto _ : state) {
    Tree tree;
    Build(tree, corpus->shape);
    benchmark::DoNotOptimize(&tree);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * corpus->census.nodes));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * corpus->bytes));
}

bool Load(const char* name, Corpus& corpus) {
  const std::string path = std::string(QMX_CORPORA_DIR) + "/" + name;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  std::string text;
  char buffer[65536];
  for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;) text.append(buffer, got);
  std::fclose(file);
  corpus.name = name;
  corpus.bytes = text.size();
  if (!ShapeReader(text).Read(corpus.shape)) return false;
  Count(corpus.shape, corpus.census);
  return true;
}

}  // namespace
}  // namespace Zarn

int main(int argc, char** argv) {
  static std::vector<Zarn::Corpus> corpora;
  corpora.reserve(3);
  for (const char* name : {"canada.json", "citm_catalog.json", "twitter.json"}) {
    corpora.emplace_back();
    if (!Zarn::Load(name, corpora.back())) {
      std::fprintf(stderr, "cannot read %s/%s\n", QMX_CORPORA_DIR, name);
      return 1;
    }
  }
  for (const Zarn::Corpus& corpus : corpora) {
    benchmark::RegisterBenchmark(("Tree/BindingProperty/" + corpus.name).c_str(),
                                 Zarn::BuildAndDestroy<Zarn::BindingProperty>, &corpus)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("Tree/StdBaseline/" + corpus.name).c_str(),
                                 Zarn::BuildAndDestroy<Zarn::StdValue>, &corpus)
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
