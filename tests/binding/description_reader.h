// Reads an API description block the way the core does: by byte offsets,
// following the next links, with pointers sizeof(void*) wide (so the same
// reader serves the 64-bit tools build, where the records keep their field
// order). Every array is checked to be contiguous, linked in order, ended by
// a null link and as long as its count; texts must never be null.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace Zarn::DescriptionTest {

constexpr size_t P = sizeof(void*);

// Record sizes and field offsets; in 32-bit builds these are the contract's
// numbers (61, 25, 40, 29, 16, 28, 24).
constexpr size_t kTripleSize = 8 + P;
constexpr size_t kFunctionSize = 10 * P + 21;
constexpr size_t kArgumentSize = 4 * P + 9;
constexpr size_t kTypeSize = 7 * P + 12;
constexpr size_t kFieldSize = 4 * P + 13;
constexpr size_t kEnumeratorSize = 3 * P + 4;
constexpr size_t kEventSize = 6 * P + 4;
constexpr size_t kBlockSize = 3 * P + 12;
static_assert(P != 4 || (kFunctionSize == 61 && kArgumentSize == 25 && kTypeSize == 40 && kFieldSize == 29 &&
                         kEnumeratorSize == 16 && kEventSize == 28 && kBlockSize == 24));

template <typename T>
T Read(const void* base, size_t offset) {
  T value;
  std::memcpy(&value, static_cast<const unsigned char*>(base) + offset, sizeof value);
  return value;
}
inline const void* Pointer(const void* base, size_t offset) { return Read<const void*>(base, offset); }

inline std::string Text(const void* base, size_t offset, const char* what) {
  const char* text = Read<const char*>(base, offset);
  if (text == nullptr) {
    ADD_FAILURE() << what << " is a null text";
    return "<null>";
  }
  return text;
}

struct Triple {
  uint32_t kind = 0;
  uint32_t elementKind = 0;
  std::string typeName;
  bool operator==(const Triple& other) const {
    return kind == other.kind && elementKind == other.elementKind && typeName == other.typeName;
  }
};
inline std::ostream& operator<<(std::ostream& out, const Triple& t) {
  return out << "{" << t.kind << ", " << t.elementKind << ", \"" << t.typeName << "\"}";
}
inline Triple ReadTriple(const void* base, size_t offset) {
  return {Read<uint32_t>(base, offset), Read<uint32_t>(base, offset + 4), Text(base, offset + 8, "typeName")};
}

// Walks an array of count records of recordSize bytes from first; returns
// the records' addresses.
inline std::vector<const unsigned char*> Walk(const void* first, uint32_t count, size_t recordSize,
                                              const char* what) {
  std::vector<const unsigned char*> records;
  if (count == 0) {
    EXPECT_EQ(first, nullptr) << what << ": an empty array has a null pointer";
    return records;
  }
  if (first == nullptr) {
    ADD_FAILURE() << what << ": " << count << " records behind a null pointer";
    return records;
  }
  const auto* record = static_cast<const unsigned char*>(first);
  for (uint32_t i = 0; i < count; ++i) {
    records.push_back(record);
    const void* next = Pointer(record, 0);
    if (i + 1 == count) {
      EXPECT_EQ(next, nullptr) << what << ": the last record links on";
    } else {
      EXPECT_EQ(next, record + recordSize) << what << ": record " << i << " does not link to the next";
    }
    record += recordSize;
  }
  return records;
}

inline std::vector<std::string> ReadTags(const void* base, size_t offset) {
  const auto* tags = static_cast<const unsigned char*>(Pointer(base, offset));
  const uint32_t count = Read<uint32_t>(base, offset + P);
  std::vector<std::string> texts;
  if (count == 0) {
    EXPECT_EQ(tags, nullptr) << "no tags: null pointer";
    return texts;
  }
  if (tags == nullptr) {
    ADD_FAILURE() << count << " tags behind a null pointer";
    return texts;
  }
  for (uint32_t i = 0; i < count; ++i) texts.push_back(Text(tags, i * P, "tag"));
  return texts;
}

struct Argument {
  std::string name, description;
  Triple type;
  uint8_t optional = 0;
};
struct Function {
  uint32_t reserved = 0;
  const void* routeUserData = nullptr;
  std::string name, nameSpace;
  std::vector<Argument> arguments;
  Triple returns;
  std::string description, help;
  uint8_t threadSafe = 0;
  std::string async;
  std::vector<std::string> tags;
};
struct Field {
  std::string name, description;
  uint32_t offset = 0;
  Triple type;
  uint8_t optional = 0;
};
struct Enumerator {
  std::string name, description;
  int32_t value = 0;
};
struct Type {
  std::string name, nameSpace;
  uint32_t size = 0;
  std::string description;
  std::vector<std::string> tags;
  const void* fieldPointer = nullptr;
  const void* enumeratorPointer = nullptr;
  uint32_t memberCount = 0;
  std::vector<Field> fields;
  std::vector<Enumerator> enumerators;
};
struct Event {
  std::string name, nameSpace, payloadTypeName, description;
  std::vector<std::string> tags;
};
struct Description {
  std::vector<Function> functions;
  std::vector<Type> types;
  std::vector<Event> events;
};

// A route record is a function record followed by the route's fields.
constexpr size_t kRouteRecordSize = kFunctionSize + 5 * P + 9;
static_assert(P != 4 || kRouteRecordSize == 90);

// functionRecordSize: kFunctionSize for a bare description, kRouteRecordSize
// for the block a plugin publishes, whose functions are its routes.
inline Description ReadDescription(const void* block, size_t functionRecordSize = kFunctionSize) {
  Description out;
  for (const unsigned char* f :
       Walk(Pointer(block, 0), Read<uint32_t>(block, P), functionRecordSize, "functions")) {
    Function function;
    function.reserved = Read<uint32_t>(f, P);
    function.routeUserData = Pointer(f, P + 4);
    function.name = Text(f, 2 * P + 4, "function name");
    function.nameSpace = Text(f, 3 * P + 4, "function nameSpace");
    for (const unsigned char* a :
         Walk(Pointer(f, 4 * P + 4), Read<uint32_t>(f, 5 * P + 4), kArgumentSize, "arguments")) {
      Argument argument;
      argument.name = Text(a, P, "argument name");
      argument.description = Text(a, 2 * P, "argument description");
      argument.type = ReadTriple(a, 3 * P);
      argument.optional = Read<uint8_t>(a, 4 * P + 8);
      function.arguments.push_back(argument);
    }
    function.returns = ReadTriple(f, 5 * P + 8);
    function.description = Text(f, 6 * P + 16, "function description");
    function.help = Text(f, 7 * P + 16, "function help");
    function.threadSafe = Read<uint8_t>(f, 8 * P + 16);
    function.async = Text(f, 8 * P + 17, "function async");
    function.tags = ReadTags(f, 9 * P + 17);
    out.functions.push_back(function);
  }
  for (const unsigned char* t : Walk(Pointer(block, P + 4), Read<uint32_t>(block, 2 * P + 4), kTypeSize, "types")) {
    Type type;
    type.name = Text(t, P, "type name");
    type.nameSpace = Text(t, 2 * P, "type nameSpace");
    type.size = Read<uint32_t>(t, 3 * P);
    type.description = Text(t, 3 * P + 4, "type description");
    type.tags = ReadTags(t, 4 * P + 4);
    type.fieldPointer = Pointer(t, 5 * P + 8);
    type.enumeratorPointer = Pointer(t, 6 * P + 8);
    type.memberCount = Read<uint32_t>(t, 7 * P + 8);
    if (type.fieldPointer != nullptr) {
      for (const unsigned char* f : Walk(type.fieldPointer, type.memberCount, kFieldSize, "fields")) {
        Field field;
        field.name = Text(f, P, "field name");
        field.description = Text(f, 2 * P, "field description");
        field.offset = Read<uint32_t>(f, 3 * P);
        field.type = ReadTriple(f, 3 * P + 4);
        field.optional = Read<uint8_t>(f, 4 * P + 12);
        type.fields.push_back(field);
      }
    } else if (type.enumeratorPointer != nullptr) {
      for (const unsigned char* e : Walk(type.enumeratorPointer, type.memberCount, kEnumeratorSize, "enumerators")) {
        Enumerator enumerator;
        enumerator.name = Text(e, P, "enumerator name");
        enumerator.description = Text(e, 2 * P, "enumerator description");
        enumerator.value = Read<int32_t>(e, 3 * P);
        type.enumerators.push_back(enumerator);
      }
    }
    out.types.push_back(type);
  }
  for (const unsigned char* e :
       Walk(Pointer(block, 2 * P + 8), Read<uint32_t>(block, 3 * P + 8), kEventSize, "events")) {
    Event event;
    event.name = Text(e, P, "event name");
    event.nameSpace = Text(e, 2 * P, "event nameSpace");
    event.payloadTypeName = Text(e, 3 * P, "event payload type");
    event.description = Text(e, 4 * P, "event description");
    event.tags = ReadTags(e, 5 * P);
    out.events.push_back(event);
  }
  return out;
}

template <typename Item>
const Item* FindNamed(const std::vector<Item>& items, const std::string& name) {
  for (const Item& item : items) {
    if (item.name == name) return &item;
  }
  return nullptr;
}

}  // namespace Zarn::DescriptionTest
