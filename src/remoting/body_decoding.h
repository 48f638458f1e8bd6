// Request bodies and argument texts into generic values: a body by its
// content type, an argument text by its first characters when the argument
// expects a structured value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "values/binding_property.h"

namespace Zarn {

struct RouteResult;

enum class BodyFormat : int32_t {
  Unsupported = 0,
  Json = 1,
  Yaml = 2,
  MessagePack = 3,
};

// By the content type's first characters, ignoring ASCII case:
// "application/x-msgpack" (so also "application/x-msgpack-ext"),
// "application/json", "application/vnd.api+json", "application/x-yaml".
// Parameters after the type do not matter. Null is unsupported.
BodyFormat BodyFormatOf(const char* contentType) noexcept;

// Decodes a body of length bytes. JSON and YAML bodies are read up to their
// first NUL byte, never past length; a MessagePack body must hold exactly
// one value. Failures carry the reader's own message, or "Unsupported body
// content type" / "Extra MessgePack data found in body".
BindingResult DecodeBody(const char* contentType, const uint8_t* body, size_t length);

// True when the text begins, after spaces (0x20 only), with "---".
bool LooksLikeYaml(std::string_view text) noexcept;

// Reads an argument text into target. With sniff set, a text that looks
// like MessagePack, JSON or YAML (tested in that order) is parsed as such; a
// parse failure fails result with "Couldn't deserialize <format> value for
// parameter '<parameter>' of '<function>': <reader's message>". Any other
// text becomes a string.
void ReadArgumentText(RouteResult& result, BindingProperty& target, std::string_view functionName,
                      std::string_view parameterName, std::string_view text, bool sniff);

}  // namespace Zarn
