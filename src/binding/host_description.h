// The API description handed to the core: every listed function, registered
// type and event as packed records, so the core can validate, document and
// route calls without sharing a class with the plugin. The 24-byte block
// points at three arrays of records; inside every array each record starts
// with a pointer to the next one (null in the last).
//
// Texts point into the registry's descriptors and stay valid while those
// live; "" stands for an empty text. The records and the arrays they point to
// (arguments, fields, enumerators, tag pointers) belong to the
// HostDescriptionBuilder that built them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "binding/binding_registry.h"
#include "plugin/abi.h"

namespace Zarn {

#pragma pack(push, 1)
// Owned by the plugin; the plugin object keeps the copy the core reads.
struct HostApiDescriptionBlock {
  const void* functions;  // first function (or route) record; null when none
  uint32_t functionCount;
  const void* types;      // first HostTypeRecord; null when none
  uint32_t typeCount;
  const void* events;     // first HostEventRecord; null when none
  uint32_t eventCount;
};

// A type as the core sees it. Kinds are host kind codes of BindingTypeKind
// codes (0 for unknown codes). Taken from the declared type when its kind is
// not 0, else from the native type.
struct HostTypeTriple {
  uint32_t kind;
  uint32_t elementKind;  // element of a vector, value of a map; else 0
  const char* typeName;  // registered type of a vector, enum, struct or map; else ""
};

struct HostArgumentRecord {
  const HostArgumentRecord* next;  // null in a function's last argument
  const char* name;
  const char* description;
  HostTypeTriple type;
  uint8_t optional;  // 0 or 1
};

struct HostFunctionRecord {
  const HostFunctionRecord* next;  // null in the last function
  uint32_t reserved;               // 0
  const void* routeUserData;       // null here; the remoting layer's route records fill it
  const char* name;
  const char* nameSpace;
  const HostArgumentRecord* arguments;  // declaration order; null when none
  uint32_t argumentCount;
  HostTypeTriple returns;
  const char* description;
  const char* help;
  uint8_t threadSafe;  // 0 or 1
  const char* async;   // name of the result type of an async function; else ""
  const char* const* tags;  // tag order; null when none
  uint32_t tagCount;
};

struct HostFieldRecord {
  const HostFieldRecord* next;  // null in a type's last field
  const char* name;
  const char* description;
  uint32_t offset;  // bytes into the native record
  HostTypeTriple type;
  uint8_t optional;  // 0 or 1
};

struct HostEnumeratorRecord {
  const HostEnumeratorRecord* next;  // null in a type's last enumerator
  const char* name;
  const char* description;
  int32_t value;
};

struct HostTypeRecord {
  const HostTypeRecord* next;  // null in the last type
  const char* name;
  const char* nameSpace;
  uint32_t size;  // native bytes; an enumeration's storage width
  const char* description;
  const char* const* tags;  // tag order; null when none
  uint32_t tagCount;
  const HostFieldRecord* fields;            // registration order; null when the type has none
  const HostEnumeratorRecord* enumerators;  // name order; null when the type has fields or none
  uint32_t memberCount;  // fields when the type has fields, else enumerators
};

struct HostEventRecord {
  const HostEventRecord* next;  // null in the last event
  const char* name;
  const char* nameSpace;
  const char* payloadTypeName;  // "" when the payload type is unknown
  const char* description;
  const char* const* tags;  // tag order; null when none
  uint32_t tagCount;
};
#pragma pack(pop)

ZARN_ASSERT_RECORD(HostApiDescriptionBlock);
ZARN_ASSERT_RECORD(HostTypeTriple);
ZARN_ASSERT_RECORD(HostArgumentRecord);
ZARN_ASSERT_RECORD(HostFunctionRecord);
ZARN_ASSERT_RECORD(HostFieldRecord);
ZARN_ASSERT_RECORD(HostEnumeratorRecord);
ZARN_ASSERT_RECORD(HostTypeRecord);
ZARN_ASSERT_RECORD(HostEventRecord);
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(HostApiDescriptionBlock) == 24);
static_assert(offsetof(HostApiDescriptionBlock, functionCount) == 4);
static_assert(offsetof(HostApiDescriptionBlock, types) == 8);
static_assert(offsetof(HostApiDescriptionBlock, typeCount) == 12);
static_assert(offsetof(HostApiDescriptionBlock, events) == 16);
static_assert(offsetof(HostApiDescriptionBlock, eventCount) == 20);

static_assert(sizeof(HostTypeTriple) == 12);
static_assert(offsetof(HostTypeTriple, elementKind) == 4 && offsetof(HostTypeTriple, typeName) == 8);

static_assert(sizeof(HostArgumentRecord) == 25);
static_assert(offsetof(HostArgumentRecord, name) == 4);
static_assert(offsetof(HostArgumentRecord, description) == 8);
static_assert(offsetof(HostArgumentRecord, type) == 12);
static_assert(offsetof(HostArgumentRecord, optional) == 24);

static_assert(sizeof(HostFunctionRecord) == 61);
static_assert(offsetof(HostFunctionRecord, reserved) == 4);
static_assert(offsetof(HostFunctionRecord, routeUserData) == 8);
static_assert(offsetof(HostFunctionRecord, name) == 12);
static_assert(offsetof(HostFunctionRecord, nameSpace) == 16);
static_assert(offsetof(HostFunctionRecord, arguments) == 20);
static_assert(offsetof(HostFunctionRecord, argumentCount) == 24);
static_assert(offsetof(HostFunctionRecord, returns) == 28);
static_assert(offsetof(HostFunctionRecord, description) == 40);
static_assert(offsetof(HostFunctionRecord, help) == 44);
static_assert(offsetof(HostFunctionRecord, threadSafe) == 48);
static_assert(offsetof(HostFunctionRecord, async) == 49);
static_assert(offsetof(HostFunctionRecord, tags) == 53);
static_assert(offsetof(HostFunctionRecord, tagCount) == 57);

static_assert(sizeof(HostFieldRecord) == 29);
static_assert(offsetof(HostFieldRecord, name) == 4);
static_assert(offsetof(HostFieldRecord, description) == 8);
static_assert(offsetof(HostFieldRecord, offset) == 12);
static_assert(offsetof(HostFieldRecord, type) == 16);
static_assert(offsetof(HostFieldRecord, optional) == 28);

static_assert(sizeof(HostEnumeratorRecord) == 16);
static_assert(offsetof(HostEnumeratorRecord, name) == 4);
static_assert(offsetof(HostEnumeratorRecord, description) == 8);
static_assert(offsetof(HostEnumeratorRecord, value) == 12);

static_assert(sizeof(HostTypeRecord) == 40);
static_assert(offsetof(HostTypeRecord, name) == 4);
static_assert(offsetof(HostTypeRecord, nameSpace) == 8);
static_assert(offsetof(HostTypeRecord, size) == 12);
static_assert(offsetof(HostTypeRecord, description) == 16);
static_assert(offsetof(HostTypeRecord, tags) == 20);
static_assert(offsetof(HostTypeRecord, tagCount) == 24);
static_assert(offsetof(HostTypeRecord, fields) == 28);
static_assert(offsetof(HostTypeRecord, enumerators) == 32);
static_assert(offsetof(HostTypeRecord, memberCount) == 36);

static_assert(sizeof(HostEventRecord) == 28);
static_assert(offsetof(HostEventRecord, name) == 4);
static_assert(offsetof(HostEventRecord, nameSpace) == 8);
static_assert(offsetof(HostEventRecord, payloadTypeName) == 12);
static_assert(offsetof(HostEventRecord, description) == 16);
static_assert(offsetof(HostEventRecord, tags) == 20);
static_assert(offsetof(HostEventRecord, tagCount) == 24);
#endif

// Builds the description records and owns them. Each build reuses the
// arrays of the previous one, which becomes invalid; one build runs at a
// time (the builder takes no lock).
class HostDescriptionBuilder {
 public:
  HostDescriptionBuilder() = default;
  HostDescriptionBuilder(const HostDescriptionBuilder&) = delete;
  HostDescriptionBuilder& operator=(const HostDescriptionBuilder&) = delete;

  // One record per snapshot entry, in the snapshots' iteration order (not
  // fixed; hosts must not rely on it). The block and every record stay valid
  // until the next build or the builder's destruction, and while the
  // snapshots' descriptors live. Running out of memory throws std::bad_alloc;
  // the previous description is invalid then too.
  HostApiDescriptionBlock BuildHostDescription(const BindingRegistry::FunctionMap& functions,
                                               const BindingRegistry::TypeMap& types,
                                               const BindingRegistry::EventMap& events);

 private:
  std::vector<HostFunctionRecord> functions_;
  std::vector<HostArgumentRecord> arguments_;  // every function's arguments, one slice each
  std::vector<HostTypeRecord> types_;
  std::vector<HostFieldRecord> fields_;            // one slice per type
  std::vector<HostEnumeratorRecord> enumerators_;  // one slice per type
  std::vector<HostEventRecord> events_;
  std::vector<const char*> tags_;  // one slice per function, type and event
};

}  // namespace Zarn
