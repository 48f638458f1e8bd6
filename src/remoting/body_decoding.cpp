#include "remoting/body_decoding.h"

#include <cstring>
#include <string>

#include "formats/json_reader.h"
#include "formats/msgpack_reader.h"
#include "formats/yaml_reader.h"
#include "remoting/route_handler.h"

namespace Zarn {

namespace {

bool StartsWithIgnoringCase(const char* text, std::string_view literal) noexcept {
  for (size_t i = 0; i < literal.size(); ++i) {
    char c = text[i];
    if (c == '\0') return false;
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != literal[i]) return false;
  }
  return true;
}

// The body up to its first NUL byte, never past length.
std::string_view UpToNul(const uint8_t* body, size_t length) noexcept {
  if (body == nullptr) return {};
  const auto* text = reinterpret_cast<const char*>(body);
  const void* nul = std::memchr(text, '\0', length);
  return std::string_view(text, nul != nullptr ? static_cast<const char*>(nul) - text : length);
}

}  // namespace

BodyFormat BodyFormatOf(const char* contentType) noexcept {
  if (contentType == nullptr) return BodyFormat::Unsupported;
  if (StartsWithIgnoringCase(contentType, "application/x-msgpack")) return BodyFormat::MessagePack;
  if (StartsWithIgnoringCase(contentType, "application/json")) return BodyFormat::Json;
  if (StartsWithIgnoringCase(contentType, "application/vnd.api+json")) return BodyFormat::Json;
  if (StartsWithIgnoringCase(contentType, "application/x-yaml")) return BodyFormat::Yaml;
  return BodyFormat::Unsupported;
}

BindingResult DecodeBody(const char* contentType, const uint8_t* body, size_t length) {
  switch (BodyFormatOf(contentType)) {
    case BodyFormat::Json:
      return ParseJson(std::string(UpToNul(body, length)));
    case BodyFormat::Yaml: {
      const std::string_view text = UpToNul(body, length);
      return ParseYaml(text.data(), text.size());
    }
    case BodyFormat::MessagePack: {
      MessagePackParse parse = ParseMessagePack(body, body != nullptr ? length : 0);
      if (parse.result.Succeeded() && parse.consumed != length) {
        parse.result.SetError("Extra MessgePack data found in body");
      }
      return std::move(parse.result);
    }
    case BodyFormat::Unsupported:
      break;
  }
  BindingResult result;
  result.SetError("Unsupported body content type");
  return result;
}

bool LooksLikeYaml(std::string_view text) noexcept {
  size_t start = 0;
  while (start < text.size() && text[start] == ' ') ++start;
  return text.substr(start, 3) == "---";
}

void ReadArgumentText(RouteResult& result, BindingProperty& target, std::string_view functionName,
                      std::string_view parameterName, std::string_view text, bool sniff) {
  if (sniff) {
    const char* format = nullptr;
    BindingResult parsed;
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    if (LooksLikeMessagePack(bytes, text.size())) {
      format = "MessagePack";
      parsed = std::move(ParseMessagePack(bytes, text.size()).result);
    } else {
      const std::string copy(text);  // the JSON reader wants a terminated text
      if (LooksLikeJson(copy.c_str())) {
        format = "JSON";
        parsed = ParseJson(copy);
      } else if (LooksLikeYaml(text)) {
        format = "YAML";
        parsed = ParseYaml(text.data(), text.size());
      }
    }
    if (format != nullptr) {
      if (!parsed.Succeeded()) {
        result.SetError("Couldn't deserialize %1 value for parameter '%2' of '%3': %4", format, parameterName,
                        functionName, parsed.Error());
      } else {
        target.TakeFrom(parsed);
      }
      return;
    }
  }
  target.SetString(text);
}

}  // namespace Zarn
