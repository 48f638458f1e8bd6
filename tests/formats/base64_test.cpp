// Base64 decoding: groups, short groups, padding and where decoding stops.
#include "formats/base64.h"

#include <gtest/gtest.h>

#include <string>

namespace Zarn {
namespace {

std::string Decoded(std::string_view text) {
  const std::vector<uint8_t> bytes = DecodeBase64(text);
  return std::string(bytes.begin(), bytes.end());
}

TEST(DecodeBase64, Cases) {
  struct Case {
    const char* text;
    std::string bytes;
  };
  const Case cases[] = {
      {"QUJD", "ABC"},
      {"QUI=", "AB"},
      {"QUI", "AB"},
      {"QQ==", "A"},
      {"QQ", "A"},
      {"QUJDR", "ABC"},        // one leftover character adds nothing
      {"QQ==QUJD", "A"},       // nothing after the first "=" is decoded
      {"", ""},
      {"=QUJD", ""},
      {"AAAA", std::string(3, '\0')},
      {"////", "\xff\xff\xff"},
      {"+/+/", "\xfb\xff\xbf"},
      {"SGVsbG8sIHdvcmxkIQ", "Hello, world!"},
      {"QU JD", "A"},          // a character outside the alphabet ends the walk
  };
  for (const Case& c : cases) EXPECT_EQ(Decoded(c.text), c.bytes) << c.text;
}

TEST(DecodeBase64, EveryByteValueRoundTrips) {
  // 256 bytes 0..255 encoded by hand below, as any encoder would write them.
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  for (size_t i = 0; i < all.size(); i += 3) {
    const uint32_t b0 = static_cast<unsigned char>(all[i]);
    const uint32_t b1 = i + 1 < all.size() ? static_cast<unsigned char>(all[i + 1]) : 0;
    const uint32_t b2 = i + 2 < all.size() ? static_cast<unsigned char>(all[i + 2]) : 0;
    const uint32_t triple = (b0 << 16) | (b1 << 8) | b2;
    const size_t chars = i + 2 < all.size() ? 4 : i + 1 < all.size() ? 3 : 2;
    for (size_t k = 0; k < 4; ++k) text += k < chars ? kAlphabet[(triple >> (18 - 6 * k)) & 63] : '=';
  }
  EXPECT_EQ(Decoded(text), all);
}

}  // namespace
}  // namespace Zarn
