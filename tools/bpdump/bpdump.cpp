// bpdump: shows what a body becomes. Reads a file (or standard input) as
// JSON, MessagePack or YAML through the plugin's own readers and prints the
// resulting value tree as JSON.
//
//   bpdump [--from json|msgpack|yaml] [--typed] [file]
//
// Without --from the input is recognised as the argument-text reader does
// (MessagePack, JSON or YAML by its first bytes), else read as JSON. With
// --typed every node prints as {"<kind>": <value>}. A reader's failure goes
// to standard error with exit code 1.
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "formats/json_reader.h"
#include "formats/msgpack_reader.h"
#include "formats/yaml_reader.h"
#include "remoting/body_decoding.h"
#include "values/binding_property.h"

namespace Zarn {
namespace {

void AppendEscaped(std::string& out, std::string_view text) {
  out.push_back('"');
  for (unsigned char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\u%04x", c);
          out += escape;
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
  }
  out.push_back('"');
}

void AppendBase64(std::string& out, const uint8_t* bytes, size_t size) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  out.push_back('"');
  for (size_t i = 0; i < size; i += 3) {
    const uint32_t chunk = (uint32_t{bytes[i]} << 16) | (i + 1 < size ? uint32_t{bytes[i + 1]} << 8 : 0) |
                           (i + 2 < size ? uint32_t{bytes[i + 2]} : 0);
    out.push_back(kAlphabet[(chunk >> 18) & 63]);
    out.push_back(kAlphabet[(chunk >> 12) & 63]);
    out.push_back(i + 1 < size ? kAlphabet[(chunk >> 6) & 63] : '=');
    out.push_back(i + 2 < size ? kAlphabet[chunk & 63] : '=');
  }
  out.push_back('"');
}

// The shortest form that reads back as the same double.
void AppendFloat(std::string& out, double value) {
  if (std::isnan(value)) {
    out += "\"NaN\"";
    return;
  }
  if (std::isinf(value)) {
    out += value > 0 ? "\"Infinity\"" : "\"-Infinity\"";
    return;
  }
  char text[40];
  for (int precision = 15; precision <= 17; ++precision) {
    std::snprintf(text, sizeof text, "%.*g", precision, value);
    if (std::strtod(text, nullptr) == value) break;
  }
  out += text;
  // Keep it a JSON number that reads as a float.
  if (std::strpbrk(text, ".eE") == nullptr) out += ".0";
}

// Trees from the readers are at most a few hundred levels deep, so the
// walk may recurse.
void Render(std::string& out, const BindingProperty& node, bool typed) {
  if (typed) {
    out += "{\"";
    out += PropertyKindName(node.Kind());
    out += "\":";
  }
  char number[32];
  switch (node.Kind()) {
    case PropertyKind::Empty:
      out += "null";
      break;
    case PropertyKind::Bool:
      out += node.GetBool() ? "true" : "false";
      break;
    case PropertyKind::Signed:
      std::snprintf(number, sizeof number, "%" PRId64, node.GetSigned());
      out += number;
      break;
    case PropertyKind::Unsigned:
      std::snprintf(number, sizeof number, "%" PRIu64, node.GetUnsigned());
      out += number;
      break;
    case PropertyKind::Float:
      AppendFloat(out, node.GetFloat());
      break;
    case PropertyKind::String:
      AppendEscaped(out, node.GetString());
      break;
    case PropertyKind::Blob: {
      const auto blob = node.GetBlob();
      AppendBase64(out, blob.data(), blob.size());
      break;
    }
    case PropertyKind::Enum:
      std::snprintf(number, sizeof number, "%" PRId64, static_cast<int64_t>(node.GetEnum().value));
      out += number;
      break;
    case PropertyKind::Collection:
      out.push_back('[');
      for (size_t i = 0; i < node.Size(); ++i) {
        if (i > 0) out.push_back(',');
        Render(out, node.ElementAt(i), typed);
      }
      out.push_back(']');
      break;
    case PropertyKind::Structure: {
      out.push_back('{');
      bool first = true;
      for (const auto& member : node.Members()) {
        if (!first) out.push_back(',');
        first = false;
        AppendEscaped(out, member.Key());
        out.push_back(':');
        Render(out, member.Value(), typed);
      }
      out.push_back('}');
      break;
    }
  }
  if (typed) out.push_back('}');
}

int Usage() {
  std::fputs("usage: bpdump [--from json|msgpack|yaml] [--typed] [file]\n", stderr);
  return 2;
}

}  // namespace
}  // namespace Zarn

int main(int argc, char** argv) {
  using namespace Zarn;
  std::string from;
  bool typed = false;
  const char* path = nullptr;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument(argv[i]);
    if (argument == "--typed") {
      typed = true;
    } else if (argument == "--from" && i + 1 < argc) {
      from = argv[++i];
      if (from != "json" && from != "msgpack" && from != "yaml") return Usage();
    } else if (argument == "-h" || argument == "--help" || (path != nullptr) ||
               (argument.size() > 1 && argument[0] == '-')) {
      return Usage();
    } else {
      path = argv[i];
    }
  }

  FILE* input = path != nullptr && std::strcmp(path, "-") != 0 ? std::fopen(path, "rb") : stdin;
  if (input == nullptr) {
    std::fprintf(stderr, "bpdump: cannot open %s: %s\n", path, std::strerror(errno));
    return 1;
  }
  std::string bytes;
  char buffer[65536];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, input)) > 0) bytes.append(buffer, got);
  if (input != stdin) std::fclose(input);

  const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
  if (from.empty()) {
    if (LooksLikeMessagePack(data, bytes.size())) {
      from = "msgpack";
    } else if (LooksLikeYaml(bytes) && !LooksLikeJson(bytes.c_str())) {
      from = "yaml";
    } else {
      from = "json";
    }
  }
  BindingResult result;
  if (from == "msgpack") {
    result = std::move(ParseMessagePack(data, bytes.size()).result);
  } else if (from == "yaml") {
    result = ParseYaml(bytes.data(), bytes.size());
  } else {
    result = ParseJson(bytes);
  }
  if (!result.Succeeded()) {
    std::fprintf(stderr, "%.*s\n", static_cast<int>(result.Error().size()), result.Error().data());
    return 1;
  }
  std::string out;
  out.reserve(bytes.size() * 2);
  Render(out, result, typed);
  out.push_back('\n');
  std::fwrite(out.data(), 1, out.size(), stdout);
  return 0;
}
