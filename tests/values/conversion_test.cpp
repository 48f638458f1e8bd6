// Conversions between generic values and native values: every rule's
// accepted inputs and exact refusal messages, whole records both ways, and
// round trips of every record type the system registers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "values/value_text.h"
#include <unordered_map>
#include <vector>

#include "binding/binding_registry.h"
#include "binding/builtin_types.h"
#include "plugin/plugin_manager_types.h"
#include "remoting/remoting_registry.h"
#include "values/native_conversion.h"
#include "values/record_conversion.h"

namespace Zarn {
namespace {

enum class Mode : int32_t { Off = 0, On = 1, Auto = 3 };
enum class Wide : int64_t { Big = 5 };

struct Sample {
  int32_t first = 10;
  int8_t second = 20;
  int32_t third = 30;
};
struct Scalars {
  int8_t a = 0;
  uint8_t b = 0;
  float c = 0;
};
struct Flagged {
  int32_t number = 0;
  std::string text;
};
struct WithWide {
  Wide wide = Wide::Big;
};
struct Unregistered {
  int32_t x = 0;
};
struct HoldsUnregistered {
  Unregistered inner;
};
struct Required {
  int32_t need = 0;
};

}  // namespace
ZARN_TYPE_SPELLING(Mode, "enum Zarn::Mode");
ZARN_TYPE_SPELLING(Wide, "enum Zarn::Wide");
ZARN_TYPE_SPELLING(Sample, "struct Zarn::Sample");
ZARN_TYPE_SPELLING(Scalars, "struct Zarn::Scalars");
ZARN_TYPE_SPELLING(Flagged, "struct Zarn::Flagged");
ZARN_TYPE_SPELLING(WithWide, "struct Zarn::WithWide");
ZARN_TYPE_SPELLING(Unregistered, "struct Zarn::Unregistered");
ZARN_TYPE_SPELLING(HoldsUnregistered, "struct Zarn::HoldsUnregistered");
ZARN_TYPE_SPELLING(Required, "struct Zarn::Required");

namespace {

// ---- inputs ---------------------------------------------------------------------
BindingProperty Empty() { return BindingProperty(); }
BindingProperty Signed(int64_t v) {
  BindingProperty p;
  p.SetSigned(v);
  return p;
}
BindingProperty Unsigned(uint64_t v) {
  BindingProperty p;
  p.SetUnsigned(v);
  return p;
}
BindingProperty Float(double v) {
  BindingProperty p;
  p.SetFloat(v);
  return p;
}
BindingProperty Bool(bool v) {
  BindingProperty p;
  p.SetBool(v);
  return p;
}
BindingProperty Text(std::string_view v) {
  BindingProperty p;
  p.SetString(v);
  return p;
}
BindingProperty Blob(std::string_view bytes) {
  BindingProperty p;
  p.SetBlob(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  return p;
}
BindingProperty Structure() {
  BindingProperty p;
  p.MakeStructure();
  return p;
}
BindingProperty Collection() {
  BindingProperty p;
  p.MakeCollection();
  return p;
}


class Conversions : public testing::Test {
 protected:
  Conversions() {
    registry.RegisterType<Mode>("Mode").AddEnumerator("Off", 0).AddEnumerator("On", 1).AddEnumerator("Auto", 3);
    registry.RegisterType<Wide>("Wide").AddEnumerator("Big", 5);
    registry.RegisterType<Sample>("Sample")
        .AddField("first", &Sample::first)
        .AddField("second", &Sample::second)
        .AddField("third", &Sample::third);
    registry.RegisterType<Scalars>("Scalars").AddField("a", &Scalars::a).AddField("b", &Scalars::b).AddField("c", &Scalars::c);
    registry.RegisterType<Flagged>("Flagged")
        .AddField("number", &Flagged::number, "", kFieldOmitDefault)
        .AddField("text", &Flagged::text, "", kFieldOmitDefault);
    registry.RegisterType<WithWide>("WithWide").AddField("wide", &WithWide::wide);
    registry.RegisterType<HoldsUnregistered>("HoldsUnregistered").AddField("inner", &HoldsUnregistered::inner);
    registry.RegisterType<Required>("Required").AddField("need", &Required::need, "", kFieldRequired);
  }

  // Converts input into a T named 'x' and renders the outcome: the value,
  // or "error: " and the message.
  template <typename T>
  std::string Into(const BindingProperty& input, const char* typeName = nullptr) {
    BindingResult status;
    T value{};
    const BindingType* type = typeName != nullptr ? registry.FindType(typeName) : nullptr;
    NativeConversion<T>::Assign(status, value, input, "x", type, registry, nullptr);
    if (!status.Succeeded()) return "error: " + std::string(status.Error());
    BindingResult back;
    NativeConversion<T>::Store(back, value, type, registry);
    return RenderValue(back);
  }

  RemotingRegistry registry;
};

TEST_F(Conversions, SignedTargets) {
  struct Case {
    std::string actual;
    const char* expected;
  };
  const Case cases[] = {
      {Into<int8_t>(Signed(127)), "s127"},
      {Into<int8_t>(Signed(128)), "error: Value 128 for 'x' of type int8 is out of range"},
      {Into<int8_t>(Signed(-129)), "error: Value -129 for 'x' of type int8 is out of range"},
      {Into<int16_t>(Unsigned(40000)), "error: Value 40000 for 'x' of type int16 is out of range"},
      {Into<int64_t>(Unsigned(UINT64_MAX)), "error: Value 18446744073709551615 for 'x' of type int64 is out of range"},
      {Into<int32_t>(Text("0x10")), "s16"},
      {Into<int32_t>(Text("010")), "s8"},
      {Into<int32_t>(Text(" 7")), "s7"},
      {Into<int32_t>(Text("-7")), "s-7"},
      {Into<int32_t>(Text("7 ")), "error: Value 7  for 'x' of type int32 is in an incorrect format"},
      {Into<int32_t>(Text("abc")), "error: Value abc for 'x' of type int32 is in an incorrect format"},
      {Into<int32_t>(Text("")), "s0"},
      {Into<int32_t>(Text("2147483648")), "error: Value 2147483648 for 'x' of type int32 is out of range"},
      {Into<int64_t>(Text("9223372036854775808")),
       "error: Value 9223372036854775808 for 'x' of type int64 is out of range"},
      {Into<int32_t>(Float(3.9)), "s3"},
      {Into<int32_t>(Float(-3.9)), "s-3"},
      {Into<int8_t>(Float(127.5)), "error: Value 127.5 for 'x' of type int8 is out of range"},
      {Into<int64_t>(Float(9.3e18)), "error: Value 9.3e+18 for 'x' of type int64 is out of range"},
      {Into<int32_t>(Float(std::nan(""))), "error: Value nan for 'x' of type int32 is out of range"},
      {Into<int32_t>(Bool(true)),
       "error: Couldn't assign value to 'x' of type int32 because the input is of an invalid type bool."},
      {Into<int32_t>(Structure()),
       "error: Couldn't assign value to 'x' of type int32 because the input is of an invalid type structure."},
      {Into<int32_t>(Empty()), "error: A value for 'x' is required."},
  };
  for (const Case& c : cases) EXPECT_EQ(c.actual, c.expected);
}

TEST_F(Conversions, UnsignedTargets) {
  struct Case {
    std::string actual;
    const char* expected;
  };
  const Case cases[] = {
      {Into<uint8_t>(Text("-1")), "error: Value -1 for 'x' of type uint8 is out of range"},
      {Into<uint64_t>(Text(" -1")), "error: Value  -1 for 'x' of type uint64 is out of range"},
      {Into<uint64_t>(Signed(-1)), "error: Value -1 for 'x' of type uint64 is out of range"},
      {Into<uint8_t>(Unsigned(300)), "error: Value 300 for 'x' of type uint8 is out of range"},
      {Into<uint64_t>(Unsigned(UINT64_MAX)), "u18446744073709551615"},
      {Into<uint64_t>(Text("18446744073709551615")), "u18446744073709551615"},
      {Into<uint64_t>(Text("18446744073709551616")),
       "error: Value 18446744073709551616 for 'x' of type uint64 is out of range"},
      {Into<uint64_t>(Text("0x2A")), "u42"},
      {Into<uint64_t>(Text("052")), "u42"},
      {Into<uint32_t>(Text("42x")), "error: Value 42x for 'x' of type uint32 is in an incorrect format"},
      {Into<uint32_t>(Float(-0.5)), "error: Value -0.5 for 'x' of type uint32 is out of range"},
      {Into<uint32_t>(Float(7.9)), "u7"},
      {Into<uint64_t>(Float(1.8446744073709552e19)),
       "error: Value 1.84467e+19 for 'x' of type uint64 is out of range"},
      {Into<uint16_t>(Blob("ab")),
       "error: Couldn't assign value to 'x' of type uint16 because the input is of an invalid type blob."},
  };
  for (const Case& c : cases) EXPECT_EQ(c.actual, c.expected);
}

TEST_F(Conversions, FloatingTargets) {
  struct Case {
    std::string actual;
    const char* expected;
  };
  const Case cases[] = {
      {Into<double>(Text("1e3")), "f1000"},
      {Into<double>(Text("abc")), "error: Value abc for 'x' of type double is in an incorrect format"},
      {Into<double>(Text("1e999")), "error: Value 1e999 for 'x' of type double is out of range"},
      {Into<float>(Float(1e300)), "error: Value 1e+300 for 'x' of type float is out of range"},
      {Into<float>(Text("1e39")), "error: Value 1e39 for 'x' of type float is out of range"},
      {Into<float>(Float(0.5)), "f0.5"},
      {Into<double>(Signed(INT64_MIN)), "f-9.22337e+18"},
      {Into<float>(Unsigned(UINT64_MAX)), "f1.84467e+19"},
      {Into<double>(Collection()),
       "error: Couldn't assign value to 'x' of type double because the input is of an invalid type collection."},
  };
  for (const Case& c : cases) EXPECT_EQ(c.actual, c.expected);
}

TEST_F(Conversions, BoolStringBlobObjectTargets) {
  struct Case {
    std::string actual;
    const char* expected;
  };
  BindingProperty enumInput;
  enumInput.SetEnum(3, StaticType::HashCode<Mode>());
  BindingProperty unnamedEnum;
  unnamedEnum.SetEnum(9, StaticType::HashCode<Mode>());
  BindingProperty tree = Structure();
  tree.Member("k").SetSigned(1);
  const Case cases[] = {
      {Into<bool>(Text("true")), "true"},
      {Into<bool>(Text("0")), "false"},
      {Into<bool>(Text("TRUE")),
       "error: Value TRUE for 'x' of type bool is in an incorrect format. Options are \"true\", \"false\", \"1\", "
       "\"0\"."},
      {Into<bool>(Signed(1)),
       "error: Couldn't assign value to 'x' of type bool because the input is of an invalid type signed."},
      {Into<bool>(Empty()), "error: A value for 'x' is required."},
      {Into<std::string>(Text("abc")), "\"abc\""},
      {Into<std::string>(enumInput), "\"Auto\""},
      {Into<std::string>(unnamedEnum), "error: 9 is not a valid enumeration value for 'x'."},
      {Into<std::string>(Signed(5)), "error: Couldn't assign value to 'x' because the input is not a string."},
      {Into<std::string>(Structure()), "error: Couldn't assign value to 'x' because the input is not a string."},
      {Into<std::vector<uint8_t>>(Text("aGk=")), "blob(2)"},
      {Into<std::vector<uint8_t>>(Text("")), "blob(0)"},
      {Into<std::vector<uint8_t>>(Text("a-b=")),
       "error: Couldn't assign string value to 'x' of type blob because the input has invalid base64 characters."},
      {Into<std::vector<uint8_t>>(Blob("xyz")), "blob(3)"},
      {Into<std::vector<uint8_t>>(Signed(1)),
       "error: Couldn't assign value to 'x' of type blob because the input is not a blob."},
      {Into<BindingProperty>(tree), "{k:s1}"},
      {Into<BindingProperty>(Empty()), "null"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.actual, c.expected);

  BindingResult status;
  std::vector<uint8_t> bytes;
  NativeConversion<std::vector<uint8_t>>::Assign(status, bytes, Text("aGk="), "x", nullptr, registry, nullptr);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "hi");
}

TEST_F(Conversions, EnumTargets) {
  struct Case {
    std::string actual;
    const char* expected;
  };
  BindingProperty otherEnum;
  otherEnum.SetEnum(1, StaticType::HashCode<Wide>());
  const Case cases[] = {
      {Into<Mode>(Text("Auto"), "Mode"), "enum 3"},
      {Into<Mode>(Text("3"), "Mode"), "enum 3"},
      {Into<Mode>(Text("7"), "Mode"), "error: 7 is not a valid Mode enumeration value for 'x'."},
      {Into<Mode>(Text("auto"), "Mode"), "error: auto is not a valid Mode enumeration value for 'x'."},
      {Into<Mode>(Signed(1), "Mode"), "enum 1"},
      {Into<Mode>(Unsigned(2), "Mode"), "error: 2 is not a valid Mode enumeration value for 'x'."},
      {Into<Mode>(otherEnum, "Mode"), "enum 1"},
      {Into<Mode>(Bool(true), "Mode"),
       "error: Couldn't assign value to 'x' of enum type because the input is of an invalid type bool."},
      {Into<Mode>(Empty(), "Mode"), "error: A value for 'x' is required."},
  };
  for (const Case& c : cases) EXPECT_EQ(c.actual, c.expected);
}

TEST_F(Conversions, VectorsAndMaps) {
  BindingProperty list = Collection();
  list.At(0).SetSigned(1);
  list.At(2).SetSigned(3);  // element 1 stays empty
  BindingProperty members = Structure();
  members.Member("a").SetSigned(1);
  members.Member("b");  // empty
  struct Case {
    std::string actual;
    const char* expected;
  };
  const Case cases[] = {
      {Into<std::vector<int32_t>>(list), "[s1,s0,s3]"},
      {Into<std::vector<int32_t>>(Empty()),
       "error: Couldn't assign value to 'x' of type vector because the input not a collection."},
      {Into<std::vector<bool>>(Empty()), "error: A value for 'x' is required."},
      {Into<std::vector<int8_t>>(list), "[s1,s0,s3]"},
      {Into<std::unordered_map<std::string, int32_t>>(members), "{a:s1}"},
      {Into<std::unordered_map<std::string, int32_t>>(list),
       "error: Couldn't assign value to 'x' of type map because the input not a structure."},
      {Into<std::vector<std::string>>(list), "error: Couldn't assign value to 'x' because the input is not a string."},
      {Into<std::vector<int32_t>>(Collection()), "[]"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.actual, c.expected);
}

TEST_F(Conversions, RecordsInto) {
  Sample sample;
  BindingProperty input = Structure();
  input.Member("first").SetSigned(1);
  input.Member("second").SetSigned(999);  // out of range for int8
  input.Member("third").SetSigned(3);
  input.Member("unknown").SetString("ignored");
  BindingResult status;
  AssignRecord(status, sample, input, "sample", registry);
  EXPECT_EQ(status.Error(), "Value 999 for 'second' of type int8 is out of range");
  EXPECT_EQ(sample.first, 1) << "converted before the refusal";
  EXPECT_EQ(sample.second, 0) << "a refused scalar is written with 0";
  EXPECT_EQ(sample.third, 30) << "untouched after the refusal";

  Sample partial;
  BindingProperty onlyThird = Structure();
  onlyThird.Member("third").SetString("0x7");
  BindingResult ok;
  AssignRecord(ok, partial, onlyThird, "sample", registry);
  EXPECT_TRUE(ok.Succeeded());
  EXPECT_EQ(partial.first, 10) << "absent members keep their value";
  EXPECT_EQ(partial.third, 7);

  struct Case {
    const char* label;
    BindingProperty input;
    const BindingType* type;
    const char* expected;
  };
  Case cases[] = {
      {"empty input", Empty(), registry.FindType("Sample"), "A value for 'rec' is required."},
      {"not a structure", Signed(1), registry.FindType("Sample"),
       "Couldn't assign value to 'rec' of type Sample because the input not a structure."},
      {"unregistered", Structure(), nullptr,
       "Couldn't assign value to 'rec' because the input is an unregistered structure or not a structure at all."},
      {"required field", Structure(), registry.FindType("Required"),
       "Couldn't assign value to 'rec' of type Required because the input structure doesn't have required field "
       "'need'."},
  };
  for (Case& c : cases) {
    BindingResult result;
    Required native;
    AssignRecord(result, &native, c.input, "rec", c.type, registry);
    EXPECT_EQ(result.Error(), c.expected) << c.label;
  }

  BindingProperty resource = Structure();
  resource.Member("uri").SetString("/a");
  resource.Member("eventType").SetString("Update");
  resource.Member("data").Member("n").SetSigned(4);
  RegisterPluginManagerTypes(registry);
  Client::PluginResourceEvent event;
  BindingResult converted;
  AssignRecord(converted, event, resource, "<result>", registry);
  EXPECT_TRUE(converted.Succeeded()) << converted.Error();
  EXPECT_EQ(event.uri, "/a");
  EXPECT_EQ(event.eventType, Client::Update);
  EXPECT_EQ(RenderValue(event.data), "{n:s4}");
}

TEST_F(Conversions, RecordsFrom) {
  Scalars scalars{-1, 255, 0.5f};
  BindingProperty out;
  ASSERT_TRUE(ConvertToProperty(registry, out, scalars));
  EXPECT_EQ(RenderValue(out), "{a:s-1,b:u255,c:f0.5}");

  WithWide wide{static_cast<Wide>((int64_t{1} << 32) + 5)};
  ASSERT_TRUE(ConvertToProperty(registry, out, wide));
  EXPECT_EQ(RenderValue(out), "{wide:enum 5}");
  EXPECT_EQ(out.FindMember("wide").GetEnum().type, StaticType::HashCode<Wide>());

  Flagged flagged;
  ASSERT_TRUE(ConvertToProperty(registry, out, flagged));
  EXPECT_EQ(RenderValue(out), "{}") << "default members with the omit flag are left out";
  flagged.number = 2;
  flagged.text = std::string("a\0b", 3);
  ASSERT_TRUE(ConvertToProperty(registry, out, flagged));
  EXPECT_EQ(RenderValue(out), "{number:s2,text:\"a\"}") << "text up to its NUL";

  BindingProperty untouched = Signed(77);
  Unregistered unregistered;
  EXPECT_FALSE(ConvertToProperty(registry, untouched, unregistered));
  EXPECT_EQ(RenderValue(untouched), "s77");

  HoldsUnregistered holds;
  BindingResult result;
  StoreRecord(result, &holds, registry.FindType("HoldsUnregistered"), registry);
  EXPECT_EQ(result.Error(), "Couldn't convert native value because it's an unregistered structure.");
  EXPECT_FALSE(ConvertToProperty(registry, untouched, holds));

  BindingResult list;
  NativeConversion<std::vector<int32_t>>::Store(list, {}, nullptr, registry);
  EXPECT_EQ(list.Kind(), PropertyKind::Collection) << "an empty vector is an empty collection";
  EXPECT_EQ(list.Size(), 0u);
}

// Every registered record type: native -> generic -> native -> generic gives
// the same tree, so no member is lost or altered on the way.
TEST_F(Conversions, RoundTripsOfEveryRegisteredRecord) {
  using namespace BindingHelpProvider;
  using namespace Client;
  using namespace Client::AppModule;
  RegisterPluginManagerTypes(registry);
  BindingProperty data = Structure();
  data.Member("list").At(1).SetFloat(2.5);
  data.Member("flag").SetBool(true);

  auto check = [&](const auto& native, const char* label, const char* mustContain) {
    using T = std::decay_t<decltype(native)>;
    BindingProperty first;
    ASSERT_TRUE(ConvertToProperty(registry, first, native)) << label;
    T copy{};
    BindingResult status;
    AssignRecord(status, copy, first, "<result>", registry);
    ASSERT_TRUE(status.Succeeded()) << label << ": " << status.Error();
    BindingProperty second;
    ASSERT_TRUE(ConvertToProperty(registry, second, copy)) << label;
    EXPECT_EQ(RenderValue(second), RenderValue(first)) << label;
    EXPECT_NE(RenderValue(first).find(mustContain), std::string::npos) << label << ": " << RenderValue(first);
  };

  FullTypeIdentifier id{"vector", "int32"};
  FullArgumentHelp argument{"arg", "an argument", id, true};
  FullFieldHelp field{"f", "a field", 12, id, true};
  FullEnumValueHelp value{"V", "a value", -4};
  FullFunctionHelp function{"Fn", "ns", {argument, argument}, id, "d", "h", true, "R", {"t1", "t2"}};
  FullTypeHelp type{"T", "ns", 40, "d", {"x"}, {field}, {value}};
  FullEventHelp event{"E", "ns", id, "d", {"y"}};
  FullApiHelp api{{function}, {type}, {event}};
  check(id, "FullTypeIdentifier", "elementType:\"int32\"");
  check(argument, "FullArgumentHelp", "optional:true");
  check(field, "FullFieldHelp", "offset:u12");
  check(value, "FullEnumValueHelp", "value:s-4");
  check(function, "FullFunctionHelp", "tags:[\"t1\",\"t2\"]");
  check(type, "FullTypeHelp", "values:[{description:\"a value\",name:\"V\",value:s-4}]");
  check(event, "FullEventHelp", "nameSpace:\"ns\"");
  check(api, "FullApiHelp", "functions:[{arguments:[{");

  check(BindingGenericEvent{data}, "BindingGenericEvent", "flag:true");
  check(BindingCallbackEvent{7, {data, data}}, "BindingCallbackEvent", "id:u7");
  check(BindingGenericAsyncEvent{9, data}, "BindingGenericAsyncEvent", "asyncToken:u9");
  check(BindingAsyncFailureEvent{3, "boom"}, "BindingAsyncFailureEvent", "error:\"boom\"");
  check(BindingAsyncCancelEvent{4}, "BindingAsyncCancelEvent", "asyncToken:u4");

  check(PluginManagerResource{PluginsInitialized}, "PluginManagerResource", "state:enum 1");
  check(PluginResourceEvent{"/x", Delete, data}, "PluginResourceEvent", "eventType:enum 2");
  check(PluginLcdsEvent{"c", "s", "t", data}, "PluginLcdsEvent", "subtopic:\"s\"");
  check(PluginLcdsResponse{"t", data}, "PluginLcdsResponse", "body:{");
  check(PluginServiceProxyResponse{"u", "svc", "m", "p", "200", "e"}, "PluginServiceProxyResponse",
        "serviceName:\"svc\"");
}

}  // namespace
}  // namespace Zarn
