// The API description records, read back by byte offset and compared with
// the registry they were built from: triples of every kind, fields,
// enumerators in name order, types with neither, functions with and without
// arguments, async results, events without a known payload, and rebuilding
// over the arrays of an earlier description.
#include "binding/host_description.h"

#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "binding/description_reader.h"
#include "plugin/memory.h"

namespace Zarn {
namespace {

using namespace DescriptionTest;

static_assert(sizeof(HostFunctionRecord) == kFunctionSize && sizeof(HostArgumentRecord) == kArgumentSize &&
              sizeof(HostTypeRecord) == kTypeSize && sizeof(HostFieldRecord) == kFieldSize &&
              sizeof(HostEnumeratorRecord) == kEnumeratorSize && sizeof(HostEventRecord) == kEventSize &&
              sizeof(HostApiDescriptionBlock) == kBlockSize);

// Identities only these tests register.
const StaticTypeId kColourId{0xC0100001u, "#C0100001", {}};
const StaticTypeId kPointId{0xC0100002u, "#C0100002", {}};
const StaticTypeId kShapeId{0xC0100003u, "#C0100003", {}};
const StaticTypeId kOpaqueId{0xC0100004u, "#C0100004", {}};

TypeRef Ref(BindingTypeKind kind, BindingTypeKind element = BindingTypeKind::None,
            const BindingType* type = nullptr) {
  TypeRef ref;
  ref.kind = kind;
  ref.elementKind = element;
  ref.type = type;
  return ref;
}

BindingArgument Arg(std::string name, std::string description, TypeRef type, bool optional) {
  BindingArgument argument;
  argument.name = std::move(name);
  argument.description = std::move(description);
  argument.type = type;
  argument.optional = optional;
  return argument;
}

// A registry with one of each shape of type, function and event.
struct Fixture {
  BindingRegistry registry;
  const BindingType* point = nullptr;
  const BindingType* colour = nullptr;
  const BindingType* shape = nullptr;

  Fixture() {
    colour = registry.RegisterType("Colour", 4, &kColourId, true)
                 .AddEnumerator("Red", 2, "warm")
                 .AddEnumerator("Blue", 0)
                 .AddEnumerator("green", -1)
                 .SetDescription("A colour.")
                 .AddTag("t1")
                 .AddTag("t2")
                 .type();
    TypeBuilder pointBuilder = registry.RegisterType("Point", 8, &kPointId, false);
    pointBuilder.AddField("x", "", 0, StaticType::HashCode<int>(), Ref(BindingTypeKind::Int32), {}, 0, nullptr, false)
        .AddField("y", "", 4, StaticType::HashCode<int>(), Ref(BindingTypeKind::Int32), {}, 0, nullptr, false);
    point = pointBuilder.type();
    TypeBuilder shapeBuilder = registry.RegisterType("Shape", 64, &kShapeId, false);
    const auto add = [&](const char* name, uint32_t offset, TypeRef type, TypeRef declared = {},
                         bool optional = false) {
      shapeBuilder.AddField(name, std::string("about ") + name, offset, nullptr, type, declared, 0, nullptr, optional);
    };
    add("corners", 0, Ref(BindingTypeKind::Vector, BindingTypeKind::Int32));
    add("origin", 12, Ref(BindingTypeKind::Struct, BindingTypeKind::None, point));
    add("colour", 20, Ref(BindingTypeKind::Enum, BindingTypeKind::None, colour));
    add("points", 24, Ref(BindingTypeKind::Vector, BindingTypeKind::Struct, point));
    add("named", 36, Ref(BindingTypeKind::Map, BindingTypeKind::Int32));
    add("declared", 40, Ref(BindingTypeKind::String), Ref(BindingTypeKind::Object));
    add("maybe", 44, Ref(BindingTypeKind::String), {}, true);
    add("unknown kind", 48, Ref(static_cast<BindingTypeKind>(77), static_cast<BindingTypeKind>(20)));
    add("struct without type", 52, Ref(BindingTypeKind::Struct));
    add("int with a type", 56, Ref(BindingTypeKind::Int32, BindingTypeKind::None, point));
    shape = shapeBuilder.type();
    registry.RegisterType("Opaque", 0, &kOpaqueId, false).SetDescription("Neither fields nor enumerators.");

    BindingFunction* ping = registry.AddFunction("Ping", {}, false);
    ping->threadSafe = true;
    ping->description = "Answers.";
    ping->help = "Ping()";
    ping->tags = {"a", "b"};
    BindingFunction* draw = registry.AddFunction(
        "Draw",
        {Arg("shape", "what to draw", Ref(BindingTypeKind::Struct, BindingTypeKind::None, shape), false),
         Arg("count", "", Ref(BindingTypeKind::UInt32), true)},
        false);
    draw->async = true;
    draw->nameSpace = "gfx";
    draw->returns = Ref(BindingTypeKind::Struct, BindingTypeKind::None, point);
    draw->declaredReturns = Ref(BindingTypeKind::Struct, BindingTypeKind::None, shape);
    BindingFunction* asyncWithoutType = registry.AddFunction("Later", {}, false);
    asyncWithoutType->async = true;
    asyncWithoutType->returns = Ref(BindingTypeKind::Bool);
    registry.AddFunction("Hidden", {}, true);

    registry.RegisterEvent("OnDraw", shape).SetDescription("Drawn.").AddTag("e");
    registry.RegisterEvent("OnNothing", nullptr);
  }

  HostApiDescriptionBlock Build(HostDescriptionBuilder& builder) {
    return builder.BuildHostDescription(registry.Functions(), registry.Types(), registry.Events());
  }
};

TEST(HostDescription, FunctionRecords) {
  Fixture fixture;
  HostDescriptionBuilder builder;
  const HostApiDescriptionBlock block = fixture.Build(builder);
  const Description description = ReadDescription(&block);
  ASSERT_EQ(description.functions.size(), 3u) << "listed functions only";

  const Function* ping = FindNamed(description.functions, "Ping");
  ASSERT_NE(ping, nullptr);
  EXPECT_EQ(ping->reserved, 0u);
  EXPECT_EQ(ping->routeUserData, nullptr);
  EXPECT_EQ(ping->nameSpace, "");
  EXPECT_TRUE(ping->arguments.empty());
  EXPECT_EQ(ping->returns, (Triple{0, 0, ""}));
  EXPECT_EQ(ping->description, "Answers.");
  EXPECT_EQ(ping->help, "Ping()");
  EXPECT_EQ(ping->threadSafe, 1);
  EXPECT_EQ(ping->async, "") << "not async";
  EXPECT_EQ(ping->tags, (std::vector<std::string>{"a", "b"}));

  const Function* draw = FindNamed(description.functions, "Draw");
  ASSERT_NE(draw, nullptr);
  EXPECT_EQ(draw->nameSpace, "gfx");
  ASSERT_EQ(draw->arguments.size(), 2u);
  EXPECT_EQ(draw->arguments[0].name, "shape");
  EXPECT_EQ(draw->arguments[0].description, "what to draw");
  EXPECT_EQ(draw->arguments[0].type, (Triple{17, 0, "Shape"}));
  EXPECT_EQ(draw->arguments[0].optional, 0);
  EXPECT_EQ(draw->arguments[1].name, "count");
  EXPECT_EQ(draw->arguments[1].type, (Triple{7, 0, ""}));
  EXPECT_EQ(draw->arguments[1].optional, 1);
  EXPECT_EQ(draw->returns, (Triple{17, 0, "Shape"})) << "the declared result replaces the native one";
  EXPECT_EQ(draw->threadSafe, 0);
  EXPECT_EQ(draw->async, "Shape");
  EXPECT_TRUE(draw->tags.empty());

  const Function* later = FindNamed(description.functions, "Later");
  ASSERT_NE(later, nullptr);
  EXPECT_EQ(later->async, "") << "async without a registered result type";
}

TEST(HostDescription, TypeRecords) {
  Fixture fixture;
  HostDescriptionBuilder builder;
  const HostApiDescriptionBlock block = fixture.Build(builder);
  const Description description = ReadDescription(&block);
  ASSERT_EQ(description.types.size(), 4u);

  const Type* colour = FindNamed(description.types, "Colour");
  ASSERT_NE(colour, nullptr);
  EXPECT_EQ(colour->size, 4u);
  EXPECT_EQ(colour->description, "A colour.");
  EXPECT_EQ(colour->tags, (std::vector<std::string>{"t1", "t2"}));
  EXPECT_EQ(colour->fieldPointer, nullptr);
  ASSERT_NE(colour->enumeratorPointer, nullptr);
  ASSERT_EQ(colour->enumerators.size(), 3u);
  const std::pair<const char*, int32_t> inNameOrder[] = {{"Blue", 0}, {"Red", 2}, {"green", -1}};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(colour->enumerators[i].name, inNameOrder[i].first) << i;
    EXPECT_EQ(colour->enumerators[i].value, inNameOrder[i].second) << i;
  }
  EXPECT_EQ(colour->enumerators[1].description, "warm");

  const Type* point = FindNamed(description.types, "Point");
  ASSERT_NE(point, nullptr);
  EXPECT_EQ(point->size, 8u);
  EXPECT_EQ(point->enumeratorPointer, nullptr);
  ASSERT_EQ(point->fields.size(), 2u);
  EXPECT_EQ(point->fields[1].name, "y");
  EXPECT_EQ(point->fields[1].offset, 4u);
  EXPECT_TRUE(point->tags.empty());

  const Type* opaque = FindNamed(description.types, "Opaque");
  ASSERT_NE(opaque, nullptr);
  EXPECT_EQ(opaque->memberCount, 0u);
  EXPECT_EQ(opaque->fieldPointer, nullptr);
  EXPECT_EQ(opaque->enumeratorPointer, nullptr);
  EXPECT_EQ(opaque->description, "Neither fields nor enumerators.");

  const Type* shape = FindNamed(description.types, "Shape");
  ASSERT_NE(shape, nullptr);
  struct Row {
    const char* name;
    uint32_t offset;
    Triple type;
    uint8_t optional;
  };
  const Row rows[] = {
      {"corners", 0, {15, 6, ""}, 0},
      {"origin", 12, {17, 0, "Point"}, 0},
      {"colour", 20, {16, 0, "Colour"}, 0},
      {"points", 24, {15, 17, "Point"}, 0},
      {"named", 36, {19, 6, ""}, 0},
      {"declared", 40, {13, 0, ""}, 0},  // the declared type replaces the native one
      {"maybe", 44, {12, 0, ""}, 1},
      {"unknown kind", 48, {0, 0, ""}, 0},  // codes outside 1 to 19 go out as 0
      {"struct without type", 52, {17, 0, ""}, 0},
      {"int with a type", 56, {6, 0, ""}, 0},  // scalars never name a type
  };
  ASSERT_EQ(shape->fields.size(), std::size(rows));
  for (size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE(rows[i].name);
    EXPECT_EQ(shape->fields[i].name, rows[i].name) << "registration order";
    EXPECT_EQ(shape->fields[i].description, std::string("about ") + rows[i].name);
    EXPECT_EQ(shape->fields[i].offset, rows[i].offset);
    EXPECT_EQ(shape->fields[i].type, rows[i].type);
    EXPECT_EQ(shape->fields[i].optional, rows[i].optional);
  }
}

TEST(HostDescription, EventRecords) {
  Fixture fixture;
  HostDescriptionBuilder builder;
  const HostApiDescriptionBlock block = fixture.Build(builder);
  const Description description = ReadDescription(&block);
  ASSERT_EQ(description.events.size(), 2u);
  const Event* draw = FindNamed(description.events, "OnDraw");
  ASSERT_NE(draw, nullptr);
  EXPECT_EQ(draw->payloadTypeName, "Shape");
  EXPECT_EQ(draw->description, "Drawn.");
  EXPECT_EQ(draw->nameSpace, "");
  EXPECT_EQ(draw->tags, (std::vector<std::string>{"e"}));
  const Event* nothing = FindNamed(description.events, "OnNothing");
  ASSERT_NE(nothing, nullptr);
  EXPECT_EQ(nothing->payloadTypeName, "");
  EXPECT_TRUE(nothing->tags.empty());
}

// A new build reuses the arrays: records of the earlier description are
// overwritten, so nothing of them may survive into the new one (a field
// pointer where the new type has enumerators, a link past the new end), and
// an identical rebuild takes no new memory.
TEST(HostDescription, RebuildReplacesTheEarlierDescription) {
  Fixture fixture;
  HostDescriptionBuilder builder;
  const BindingRegistry::FunctionMap functions = fixture.registry.Functions();
  const BindingRegistry::TypeMap types = fixture.registry.Types();
  const BindingRegistry::EventMap events = fixture.registry.Events();
  builder.BuildHostDescription(functions, types, events);

  // Every type of the first build becomes an enumeration of one.
  BindingRegistry other;
  const StaticTypeId* ids[] = {&kColourId, &kPointId, &kShapeId};
  const char* names[] = {"Shape", "Point", "Colour"};
  for (size_t i = 0; i < 3; ++i) other.RegisterType(names[i], 1, ids[i], true).AddEnumerator("Only", 7);
  const HostApiDescriptionBlock second =
      builder.BuildHostDescription(other.Functions(), other.Types(), BindingRegistry::EventMap());
  const Description description = ReadDescription(&second);
  EXPECT_TRUE(description.functions.empty());
  EXPECT_TRUE(description.events.empty());
  ASSERT_EQ(description.types.size(), 3u);
  for (const Type& type : description.types) {
    SCOPED_TRACE(type.name);
    EXPECT_EQ(type.fieldPointer, nullptr);
    EXPECT_EQ(type.size, 1u);
    EXPECT_TRUE(type.tags.empty());
    ASSERT_EQ(type.enumerators.size(), 1u);
    EXPECT_EQ(type.enumerators[0].name, "Only");
    EXPECT_EQ(type.enumerators[0].value, 7);
  }

  builder.BuildHostDescription(functions, types, events);
  const uint64_t allocationsBefore = Memory::ReadCounters().allocations;
  const HostApiDescriptionBlock again = builder.BuildHostDescription(functions, types, events);
  EXPECT_EQ(Memory::ReadCounters().allocations, allocationsBefore) << "the arrays were not reused";
  EXPECT_EQ(ReadDescription(&again).types.size(), 4u);
}

TEST(HostDescription, EmptyRegistryGivesAnAllZeroBlock) {
  BindingRegistry empty;
  HostDescriptionBuilder builder;
  const HostApiDescriptionBlock block = builder.BuildHostDescription(empty.Functions(), empty.Types(), empty.Events());
  const unsigned char zeros[sizeof block] = {};
  EXPECT_EQ(std::memcmp(&block, zeros, sizeof block), 0);
}

}  // namespace
}  // namespace Zarn
