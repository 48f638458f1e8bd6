// BindingRegistry: the registered records, enumerations, functions and
// events of one plugin, with their builders and lookups.
//
// Registration goes through builders; registering a name that exists
// already yields an inert builder, so the first registration wins. Lookups
// and snapshots take the registry's lock and may run on any thread while
// other names are registered; descriptors never change once their builder is
// done, so the pointers handed out are read without the lock.
//
//   registry.RegisterType<Point>("Point")
//       .AddField("x", &Point::x)
//       .AddField("y", &Point::y)
//       .SetDescription("A point.");
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "binding/binding_traits.h"
#include "binding/binding_types.h"
#include "binding/static_type.h"

namespace Zarn {

class BindingRegistry;

class TypeBuilder {
 public:
  TypeBuilder(BindingRegistry* registry, BindingType* type, bool existed)
      : registry_(registry), type_(type), existed_(existed) {}

  TypeBuilder& AddField(std::string name, std::string description, uint32_t offset, const StaticTypeId* typeId,
                        TypeRef type, TypeRef declaredType, uint32_t flags,
                        std::unique_ptr<FieldAccessor> accessor, bool optional);
  // The member's offset, identity, type triple and accessor come from the
  // member itself; enum and struct types are looked up now, so they must be
  // registered first.
  template <typename Record, typename Member>
  TypeBuilder& AddField(std::string name, Member Record::*member, std::string description = {},
                        uint32_t flags = 0, TypeRef declaredType = {});
  TypeBuilder& AddEnumerator(std::string name, int32_t value, std::string description = {});
  TypeBuilder& SetDescription(std::string text);
  // An empty tag is ignored; a repeated one is added again.
  TypeBuilder& AddTag(std::string tag);

  BindingType* type() const { return type_; }
  bool existed() const { return existed_; }
  uint32_t lastOffset() const { return lastOffset_; }

 private:
  BindingRegistry* registry_;
  BindingType* type_;
  uint32_t lastOffset_ = 0;
  bool existed_;
};

class EventBuilder {
 public:
  EventBuilder(BindingEvent* event, bool existed) : event_(event), existed_(existed) {}
  EventBuilder& SetDescription(std::string text);
  EventBuilder& AddTag(std::string tag);
  BindingEvent* event() const { return event_; }
  bool existed() const { return existed_; }

 private:
  BindingEvent* event_;
  bool existed_;
};

class BindingRegistry {
 public:
  // Snapshots: the names view the descriptors' own names.
  using FunctionMap = std::unordered_map<std::string_view, const BindingFunction*>;
  using TypeMap = std::unordered_map<std::string_view, const BindingType*>;
  using EventMap = std::unordered_map<std::string_view, const BindingEvent*>;

  BindingRegistry();
  BindingRegistry(const BindingRegistry&) = delete;
  BindingRegistry& operator=(const BindingRegistry&) = delete;
  virtual ~BindingRegistry();

  // Registers a record or enumeration; an existing name gives an inert
  // builder over the first registration.
  TypeBuilder RegisterType(std::string name, uint32_t size, const StaticTypeId* typeId, bool isEnum);
  template <typename T>
  TypeBuilder RegisterType(std::string name) {
    return RegisterType(std::move(name), static_cast<uint32_t>(sizeof(T)), StaticType::HashCode<T>(),
                        std::is_enum_v<T>);
  }
  EventBuilder RegisterEvent(std::string name, const BindingType* payload);
  // Creates a function; unless unlisted it is entered under its name
  // (replacing nothing: a listed name that exists keeps the first) and the
  // functions version grows. The registry owns the function either way.
  BindingFunction* AddFunction(std::string name, std::vector<BindingArgument> arguments, bool unlisted);

  const BindingType* FindType(std::string_view name) const;
  // By identity hash; the type registered last wins among equal hashes.
  const BindingType* FindTypeById(const StaticTypeId* typeId) const;
  const BindingEvent* FindEvent(std::string_view name) const;
  const BindingFunction* FindFunction(std::string_view name) const;

  FunctionMap Functions() const;
  TypeMap Types() const;
  EventMap Events() const;

  void RemoveFunction(const BindingFunction* function);
  void ClearEvents();
  void ClearTypes();
  void ClearFunctions();

  // Registers the built-in types and the event "OnCallback", clearing
  // everything first when it ran before.
  void InitializeBuiltins();
  bool initialized() const { return initialized_; }
  uint32_t functionsVersion() const;

  // Name of the first enumerator (in name order) with that value, or null.
  const char* EnumeratorName(const StaticTypeId* typeId, int32_t value) const;
  static bool HasEnumerator(const BindingType& type, int32_t value);
  static const BindingEnumerator* FindEnumerator(const BindingType& type, std::string_view name);

 private:
  struct Hash {
    size_t operator()(std::string_view text) const noexcept { return Fnv1a(text); }
  };
  // Keyed by a view of the descriptor's own name, which lives as long as
  // the entry, so lookups by any text need no copy.
  template <typename V>
  using NameMap = std::unordered_map<std::string_view, V, Hash>;

  NameMap<std::unique_ptr<BindingFunction>> functions_;
  NameMap<std::unique_ptr<BindingEvent>> events_;
  NameMap<std::unique_ptr<BindingType>> types_;
  std::unordered_map<uint32_t, const BindingType*> typesByHash_;
  std::vector<std::unique_ptr<BindingFunction>> unlistedFunctions_;
  mutable std::mutex lock_;
  uint32_t functionsVersion_ = 0;
  bool initialized_ = false;
};

// The type triple of a native member type, looking up its registered type.
template <typename T>
TypeRef TypeRefFor(const BindingRegistry& registry) {
  using Kind = BindingKindOf<T>;
  TypeRef ref;
  ref.kind = Kind::kKind;
  ref.elementKind = Kind::kElementKind;
  if constexpr (!std::is_void_v<typename Kind::Registered>) {
    ref.type = registry.FindTypeById(StaticType::HashCode<typename Kind::Registered>());
  }
  return ref;
}

template <typename Record, typename Member>
TypeBuilder& TypeBuilder::AddField(std::string name, Member Record::*member, std::string description,
                                   uint32_t flags, TypeRef declaredType) {
  if (existed_) return *this;
  // The member's offset, taken from uninitialized storage of the record.
  alignas(Record) unsigned char storage[sizeof(Record)];
  Record* record = reinterpret_cast<Record*>(storage);
  const auto offset = static_cast<uint32_t>(reinterpret_cast<unsigned char*>(&(record->*member)) - storage);
  return AddField(std::move(name), std::move(description), offset, StaticType::HashCode<Member>(),
                  TypeRefFor<Member>(*registry_), declaredType, flags,
                  std::make_unique<TypedFieldAccessor<Member>>(), false);
}

}  // namespace Zarn
