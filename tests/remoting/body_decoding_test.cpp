#include "remoting/body_decoding.h"

#include <gtest/gtest.h>

#include "remoting/route_handler.h"
#include "values/value_text.h"

namespace Zarn {
namespace {

TEST(BodyFormat, ByContentType) {
  const struct {
    const char* contentType;
    BodyFormat format;
  } cases[] = {
      {"application/json", BodyFormat::Json},
      {"APPLICATION/JSON", BodyFormat::Json},
      {"application/json; charset=utf-8", BodyFormat::Json},
      {"application/vnd.api+json", BodyFormat::Json},
      {"application/x-yaml", BodyFormat::Yaml},
      {"application/x-msgpack", BodyFormat::MessagePack},
      {"application/x-msgpack-ext", BodyFormat::MessagePack},
      {"application/jso", BodyFormat::Unsupported},
      {"text/plain", BodyFormat::Unsupported},
      {"application/xml", BodyFormat::Unsupported},
      {" application/json", BodyFormat::Unsupported},
      {"", BodyFormat::Unsupported},
      {nullptr, BodyFormat::Unsupported},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(BodyFormatOf(c.contentType), c.format) << (c.contentType ? c.contentType : "(null)");
  }
}

TEST(BodyDecoding, ReadsNoFurtherThanTheLength) {
  // The JSON text goes on past the length; only the first seven bytes count.
  const std::string body = "{\"a\":1}, \"b\":2}";
  const BindingResult json = DecodeBody("application/json", reinterpret_cast<const uint8_t*>(body.data()), 7);
  ASSERT_TRUE(json.Succeeded()) << json.Error();
  EXPECT_EQ(RenderValue(json), "{a:u1}");
  const std::string yaml = "a: 1\nb: 2\n";
  const BindingResult cut = DecodeBody("application/x-yaml", reinterpret_cast<const uint8_t*>(yaml.data()), 4);
  ASSERT_TRUE(cut.Succeeded()) << cut.Error();
  EXPECT_EQ(RenderValue(cut), "{a:u1}");
  // A MessagePack value that ends before the body does fails.
  const uint8_t msgpack[] = {0x01, 0x02};
  EXPECT_EQ(DecodeBody("application/x-msgpack", msgpack, 2).Error(), "Extra MessgePack data found in body");
  EXPECT_EQ(RenderValue(DecodeBody("application/x-msgpack", msgpack, 1)), "s1");
}

TEST(ArgumentText, SniffingOnlyWhenAsked) {
  const struct {
    const char* text;
    bool sniff;
    std::string value;
    std::string error;
  } cases[] = {
      {"{\"a\":1}", true, "{a:u1}", ""},
      {"{\"a\":1}", false, "\"{\"a\":1}\"", ""},
      {"  [1,2]", true, "[u1,u2]", ""},
      {"\t{\"a\":1}", true, "\"\t{\"a\":1}\"", ""},
      // Read as YAML, where a marker that does not start its line is text.
      {" ---\na: 1", true, "",
       "Couldn't deserialize YAML value for parameter 'p' of 'F': YAML parser error: mapping values are not allowed "
       "in this context. At line: 1 col: 1"},
      {"---\na: 1", true, "{a:u1}", ""},
      {"abc", true, "\"abc\"", ""},
      {"42", true, "\"42\"", ""},
      {"{bad", true, "", "Couldn't deserialize JSON value for parameter 'p' of 'F': Error: Missing a name for object "
                         "member. at offset 1."},
      {"---\n[1", true, "", ""},  // checked by prefix below
  };
  for (const auto& c : cases) {
    RouteResult result;
    BindingProperty target;
    ReadArgumentText(result, target, "F", "p", c.text, c.sniff);
    if (std::string(c.text) == "---\n[1") {
      EXPECT_EQ(result.Error().substr(0, 58), "Couldn't deserialize YAML value for parameter 'p' of 'F': ");
      continue;
    }
    EXPECT_EQ(result.Error(), c.error) << c.text;
    if (c.error.empty()) {
      EXPECT_EQ(RenderValue(target), c.value) << c.text;
    }
  }
}

TEST(ArgumentText, LooksLikeYaml) {
  EXPECT_TRUE(LooksLikeYaml("---"));
  EXPECT_TRUE(LooksLikeYaml("   --- a"));
  EXPECT_FALSE(LooksLikeYaml("\t---"));
  EXPECT_FALSE(LooksLikeYaml("--"));
  EXPECT_FALSE(LooksLikeYaml(""));
}

}  // namespace
}  // namespace Zarn
