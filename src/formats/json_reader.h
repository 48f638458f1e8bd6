// JSON text into a generic value, through RapidJSON's event reader with its
// default (strict) settings.
#pragma once

#include <string>

#include "formats/reader_limits.h"
#include "values/binding_property.h"

namespace Zarn {

// Parses a NUL-terminated UTF-8 text (it ends at its first NUL). Success
// holds the value (an empty or all-white-space text gives an empty value);
// failure holds "Error: <text> at offset <n>." in its "error" member.
BindingResult ParseJson(const char* text);
BindingResult ParseJson(const std::string& text);

// True when the first character that is not a space (0x20) is "{" or "[".
bool LooksLikeJson(const char* text) noexcept;

}  // namespace Zarn
