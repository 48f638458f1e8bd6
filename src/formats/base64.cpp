// Base64 decoding through a 256-entry value table.
#include "formats/base64.h"

#include <array>

namespace Zarn {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// A character's index in the alphabet, 255 for any other character.
constexpr std::array<uint8_t, 256> MakeValues() {
  std::array<uint8_t, 256> values{};
  for (auto& value : values) value = 255;
  for (uint8_t i = 0; i < 64; ++i) values[static_cast<unsigned char>(kAlphabet[i])] = i;
  return values;
}
constexpr std::array<uint8_t, 256> kValues = MakeValues();

void AppendGroup(std::vector<uint8_t>& out, const uint8_t (&v)[4], size_t count) {
  const uint8_t bytes[3] = {
      static_cast<uint8_t>((v[0] << 2) + ((v[1] & 0x30) >> 4)),
      static_cast<uint8_t>(((v[1] & 0x0f) << 4) + ((v[2] & 0x3c) >> 2)),
      static_cast<uint8_t>(((v[2] & 0x03) << 6) + v[3]),
  };
  out.insert(out.end(), bytes, bytes + count);
}

}  // namespace

std::vector<uint8_t> DecodeBase64(std::string_view text) {
  std::vector<uint8_t> out;
  out.reserve(3 * ((text.size() + 3) / 4));
  uint8_t group[4];
  size_t filled = 0;
  for (const char c : text) {
    const uint8_t value = kValues[static_cast<unsigned char>(c)];
    if (value == 255) break;  // "=" or a character outside the alphabet
    group[filled++] = value;
    if (filled == 4) {
      AppendGroup(out, group, 3);
      filled = 0;
    }
  }
  if (filled != 0) {
    for (size_t i = filled; i < 4; ++i) group[i] = 0;
    AppendGroup(out, group, filled - 1);
  }
  return out;
}

}  // namespace Zarn
