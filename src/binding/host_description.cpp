// Building the API description records from the registry's snapshots. A
// first pass counts every array, so each is sized once and the pointers into
// it stay put while the records are written.
#include "binding/host_description.h"

#include <string>

#include "values/host_value.h"

namespace Zarn {
namespace {

constexpr const char* kNoText = "";

uint8_t Flag(bool value) { return value ? 1 : 0; }

// The declared triple when it has a kind, else the native one.
HostTypeTriple Triple(const TypeRef& native, const TypeRef& declared) {
  const TypeRef& ref = declared.kind != BindingTypeKind::None ? declared : native;
  HostTypeTriple triple;
  triple.kind = HostKindCode(static_cast<uint32_t>(ref.kind));
  triple.elementKind = HostKindCode(static_cast<uint32_t>(ref.elementKind));
  triple.typeName = kNoText;
  switch (ref.kind) {
    case BindingTypeKind::Vector:
    case BindingTypeKind::Enum:
    case BindingTypeKind::Struct:
    case BindingTypeKind::Map:
      if (ref.type != nullptr) triple.typeName = ref.type->name.c_str();
      break;
    case BindingTypeKind::None:
    case BindingTypeKind::Bool:
    case BindingTypeKind::Int8:
    case BindingTypeKind::UInt8:
    case BindingTypeKind::Int16:
    case BindingTypeKind::UInt16:
    case BindingTypeKind::Int32:
    case BindingTypeKind::UInt32:
    case BindingTypeKind::Int64:
    case BindingTypeKind::UInt64:
    case BindingTypeKind::Float:
    case BindingTypeKind::Double:
    case BindingTypeKind::String:
    case BindingTypeKind::Object:
    case BindingTypeKind::Blob:
    case BindingTypeKind::Callback:
      break;
  }
  return triple;
}

// Writes one slice of tag pointers; returns its start, null when empty.
const char* const* PutTags(std::vector<const char*>& pool, size_t& used, const std::vector<std::string>& tags) {
  if (tags.empty()) return nullptr;
  const char** first = pool.data() + used;
  for (const std::string& tag : tags) pool[used++] = tag.c_str();
  return first;
}

// Links each record of a slice to the one after it; the last keeps null.
template <typename Record>
void Chain(Record* first, size_t count) {
  for (size_t i = 0; i + 1 < count; ++i) first[i].next = &first[i + 1];
}

// Records are packed and value-initialized to all zero; assign reuses the
// capacity of the previous build.
template <typename Record>
void ResetArray(std::vector<Record>& array, size_t count) {
  array.assign(count, Record{});
}

}  // namespace

HostApiDescriptionBlock HostDescriptionBuilder::BuildHostDescription(const BindingRegistry::FunctionMap& functions,
                                                                    const BindingRegistry::TypeMap& types,
                                                                    const BindingRegistry::EventMap& events) {
  size_t argumentCount = 0;
  size_t fieldCount = 0;
  size_t enumeratorCount = 0;
  size_t tagCount = 0;
  for (const auto& entry : functions) {
    argumentCount += entry.second->arguments.size();
    tagCount += entry.second->tags.size();
  }
  for (const auto& entry : types) {
    const BindingType& type = *entry.second;
    if (!type.fields.empty()) {
      fieldCount += type.fields.size();
    } else {
      enumeratorCount += type.enumerators.size();
    }
    tagCount += type.tags.size();
  }
  for (const auto& entry : events) tagCount += entry.second->tags.size();

  ResetArray(functions_, functions.size());
  ResetArray(arguments_, argumentCount);
  ResetArray(types_, types.size());
  ResetArray(fields_, fieldCount);
  ResetArray(enumerators_, enumeratorCount);
  ResetArray(events_, events.size());
  tags_.assign(tagCount, nullptr);

  size_t tagsUsed = 0;
  size_t argumentsUsed = 0;
  size_t index = 0;
  for (const auto& entry : functions) {
    const BindingFunction& function = *entry.second;
    HostFunctionRecord& record = functions_[index++];
    record.name = function.name.c_str();
    record.nameSpace = function.nameSpace.c_str();
    if (!function.arguments.empty()) {
      HostArgumentRecord* first = arguments_.data() + argumentsUsed;
      for (const BindingArgument& argument : function.arguments) {
        HostArgumentRecord& out = arguments_[argumentsUsed++];
        out.name = argument.name.c_str();
        out.description = argument.description.c_str();
        out.type = Triple(argument.type, argument.declaredType);
        out.optional = Flag(argument.optional);
      }
      Chain(first, function.arguments.size());
      record.arguments = first;
    }
    record.argumentCount = static_cast<uint32_t>(function.arguments.size());
    record.returns = Triple(function.returns, function.declaredReturns);
    record.description = function.description.c_str();
    record.help = function.help.c_str();
    record.threadSafe = Flag(function.threadSafe);
    const TypeRef& result =
        function.declaredReturns.kind != BindingTypeKind::None ? function.declaredReturns : function.returns;
    record.async = function.async && result.type != nullptr ? result.type->name.c_str() : kNoText;
    record.tags = PutTags(tags_, tagsUsed, function.tags);
    record.tagCount = static_cast<uint32_t>(function.tags.size());
  }
  Chain(functions_.data(), functions_.size());

  size_t fieldsUsed = 0;
  size_t enumeratorsUsed = 0;
  index = 0;
  for (const auto& entry : types) {
    const BindingType& type = *entry.second;
    HostTypeRecord& record = types_[index++];
    record.name = type.name.c_str();
    record.nameSpace = type.nameSpace.c_str();
    record.size = type.size;
    record.description = type.description.c_str();
    record.tags = PutTags(tags_, tagsUsed, type.tags);
    record.tagCount = static_cast<uint32_t>(type.tags.size());
    if (!type.fields.empty()) {
      HostFieldRecord* first = fields_.data() + fieldsUsed;
      for (const BindingField& field : type.fields) {
        HostFieldRecord& out = fields_[fieldsUsed++];
        out.name = field.name.c_str();
        out.description = field.description.c_str();
        out.offset = field.offset;
        out.type = Triple(field.type, field.declaredType);
        out.optional = Flag(field.optional);
      }
      Chain(first, type.fields.size());
      record.fields = first;
      record.memberCount = static_cast<uint32_t>(type.fields.size());
    } else if (!type.enumerators.empty()) {
      HostEnumeratorRecord* first = enumerators_.data() + enumeratorsUsed;
      for (const auto& named : type.enumerators) {  // name order
        HostEnumeratorRecord& out = enumerators_[enumeratorsUsed++];
        out.name = named.second.name.c_str();
        out.description = named.second.description.c_str();
        out.value = named.second.value;
      }
      Chain(first, type.enumerators.size());
      record.enumerators = first;
      record.memberCount = static_cast<uint32_t>(type.enumerators.size());
    }
  }
  Chain(types_.data(), types_.size());

  index = 0;
  for (const auto& entry : events) {
    const BindingEvent& event = *entry.second;
    HostEventRecord& record = events_[index++];
    record.name = event.name.c_str();
    record.nameSpace = event.nameSpace.c_str();
    record.payloadTypeName = event.payload != nullptr ? event.payload->name.c_str() : kNoText;
    record.description = event.description.c_str();
    record.tags = PutTags(tags_, tagsUsed, event.tags);
    record.tagCount = static_cast<uint32_t>(event.tags.size());
  }
  Chain(events_.data(), events_.size());

  HostApiDescriptionBlock block{};
  block.functions = functions_.empty() ? nullptr : functions_.data();
  block.functionCount = static_cast<uint32_t>(functions_.size());
  block.types = types_.empty() ? nullptr : types_.data();
  block.typeCount = static_cast<uint32_t>(types_.size());
  block.events = events_.empty() ? nullptr : events_.data();
  block.eventCount = static_cast<uint32_t>(events_.size());
  return block;
}

}  // namespace Zarn
