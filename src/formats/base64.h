// Base64 decoding (the standard alphabet of RFC 4648) for blob values.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace Zarn {

// Decodes text, which the caller has checked holds only letters, digits,
// "+", "/" and "=". Decoding stops at the first "=" (or any other character
// outside the alphabet); a group cut short by the end decodes as if padded.
// Never fails.
std::vector<uint8_t> DecodeBase64(std::string_view text);

}  // namespace Zarn
