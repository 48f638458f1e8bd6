// Registration, lookups, snapshots and removal.
#include "binding/binding_registry.h"

#include "binding/builtin_types.h"

namespace Zarn {

const char* BindingTypeKindName(uint32_t code) noexcept {
  static const char* const kNames[] = {"",       "bool",   "int8",   "uint8",  "int16", "uint16", "int32",
                                       "uint32", "int64",  "uint64", "float",  "double", "string", "object",
                                       "blob",   "vector", "enum",   "struct", "callback", "map"};
  return code < sizeof kNames / sizeof kNames[0] ? kNames[code] : "";
}

// ---- builders ------------------------------------------------------------------

TypeBuilder& TypeBuilder::AddField(std::string name, std::string description, uint32_t offset,
                                   const StaticTypeId* typeId, TypeRef type, TypeRef declaredType,
                                   uint32_t flags, std::unique_ptr<FieldAccessor> accessor, bool optional) {
  if (existed_) return *this;
  BindingField field;
  field.nameHash = Fnv1a(name);
  field.name = std::move(name);
  field.description = std::move(description);
  field.typeId = typeId;
  field.offset = offset;
  field.type = type;
  field.declaredType = declaredType;
  field.flags = flags;
  field.accessor = std::move(accessor);
  field.owner = type_;
  field.optional = optional;
  type_->fields.push_back(std::move(field));
  lastOffset_ = offset;
  return *this;
}

TypeBuilder& TypeBuilder::AddEnumerator(std::string name, int32_t value, std::string description) {
  if (existed_) return *this;
  BindingEnumerator& enumerator = type_->enumerators[name];
  enumerator.value = value;
  enumerator.name = std::move(name);
  enumerator.description = std::move(description);
  enumerator.owner = type_;
  return *this;
}

TypeBuilder& TypeBuilder::SetDescription(std::string text) {
  if (!existed_) type_->description = std::move(text);
  return *this;
}

TypeBuilder& TypeBuilder::AddTag(std::string tag) {
  if (!existed_ && !tag.empty()) type_->tags.push_back(std::move(tag));
  return *this;
}

EventBuilder& EventBuilder::SetDescription(std::string text) {
  if (!existed_) event_->description = std::move(text);
  return *this;
}

EventBuilder& EventBuilder::AddTag(std::string tag) {
  if (!existed_ && !tag.empty()) event_->tags.push_back(std::move(tag));
  return *this;
}

// ---- registry --------------------------------------------------------------------

BindingRegistry::BindingRegistry() = default;

BindingRegistry::~BindingRegistry() {
  if (initialized_) {
    ClearEvents();
    ClearTypes();
    ClearFunctions();
  }
}

TypeBuilder BindingRegistry::RegisterType(std::string name, uint32_t size, const StaticTypeId* typeId,
                                          bool isEnum) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    auto found = types_.find(name);
    if (found != types_.end()) return TypeBuilder(this, found->second.get(), true);
  }
  auto type = std::make_unique<BindingType>();
  type->size = size;
  type->isEnum = isEnum;
  type->name = name;
  type->typeHash = typeId->hash;
  type->typeId = typeId;
  type->registry = this;
  BindingType* made = type.get();
  std::lock_guard<std::mutex> hold(lock_);
  types_.emplace(made->name, std::move(type));
  if (made->typeHash != StaticType::HashCode<void>()->hash) typesByHash_[made->typeHash] = made;
  return TypeBuilder(this, made, false);
}

EventBuilder BindingRegistry::RegisterEvent(std::string name, const BindingType* payload) {
  std::lock_guard<std::mutex> hold(lock_);
  auto found = events_.find(name);
  if (found != events_.end()) return EventBuilder(found->second.get(), true);
  auto event = std::make_unique<BindingEvent>();
  event->name = name;
  event->payload = payload;
  BindingEvent* made = event.get();
  events_.emplace(made->name, std::move(event));
  return EventBuilder(made, false);
}

BindingFunction* BindingRegistry::AddFunction(std::string name, std::vector<BindingArgument> arguments,
                                              bool unlisted) {
  auto function = std::make_unique<BindingFunction>();
  function->name = name;
  function->arguments = std::move(arguments);
  function->registry = this;
  BindingFunction* made = function.get();
  std::lock_guard<std::mutex> hold(lock_);
  if (unlisted || functions_.count(name) != 0) {
    unlistedFunctions_.push_back(std::move(function));
  } else {
    functions_.emplace(made->name, std::move(function));
    ++functionsVersion_;
  }
  return made;
}

const BindingType* BindingRegistry::FindType(std::string_view name) const {
  std::lock_guard<std::mutex> hold(lock_);
  auto found = types_.find(name);
  return found == types_.end() ? nullptr : found->second.get();
}

const BindingType* BindingRegistry::FindTypeById(const StaticTypeId* typeId) const {
  if (typeId == nullptr) return nullptr;
  std::lock_guard<std::mutex> hold(lock_);
  auto found = typesByHash_.find(typeId->hash);
  return found == typesByHash_.end() ? nullptr : found->second;
}

const BindingEvent* BindingRegistry::FindEvent(std::string_view name) const {
  std::lock_guard<std::mutex> hold(lock_);
  auto found = events_.find(name);
  return found == events_.end() ? nullptr : found->second.get();
}

const BindingFunction* BindingRegistry::FindFunction(std::string_view name) const {
  std::lock_guard<std::mutex> hold(lock_);
  auto found = functions_.find(name);
  return found == functions_.end() ? nullptr : found->second.get();
}

BindingRegistry::FunctionMap BindingRegistry::Functions() const {
  std::lock_guard<std::mutex> hold(lock_);
  FunctionMap snapshot;
  for (const auto& entry : functions_) snapshot.emplace(entry.first, entry.second.get());
  return snapshot;
}

BindingRegistry::TypeMap BindingRegistry::Types() const {
  std::lock_guard<std::mutex> hold(lock_);
  TypeMap snapshot;
  for (const auto& entry : types_) snapshot.emplace(entry.first, entry.second.get());
  return snapshot;
}

BindingRegistry::EventMap BindingRegistry::Events() const {
  std::lock_guard<std::mutex> hold(lock_);
  EventMap snapshot;
  for (const auto& entry : events_) snapshot.emplace(entry.first, entry.second.get());
  return snapshot;
}

uint32_t BindingRegistry::functionsVersion() const {
  std::lock_guard<std::mutex> hold(lock_);
  return functionsVersion_;
}

void BindingRegistry::RemoveFunction(const BindingFunction* function) {
  if (function == nullptr) return;
  std::unique_ptr<BindingFunction> removed;
  {
    std::lock_guard<std::mutex> hold(lock_);
    auto found = functions_.find(function->name);
    if (found == functions_.end() || found->second.get() != function) return;
    removed = std::move(found->second);
    functions_.erase(found);
    ++functionsVersion_;
  }
  removed->handler.reset();  // the handler goes before its descriptor
}

void BindingRegistry::ClearEvents() { events_.clear(); }

void BindingRegistry::ClearTypes() {
  for (auto& entry : types_) {
    for (BindingField& field : entry.second->fields) field.accessor.reset();
  }
  typesByHash_.clear();
  types_.clear();
}

void BindingRegistry::ClearFunctions() {
  std::vector<const BindingFunction*> listed;
  {
    std::lock_guard<std::mutex> hold(lock_);
    for (const auto& entry : functions_) listed.push_back(entry.second.get());
  }
  for (const BindingFunction* function : listed) RemoveFunction(function);
  std::lock_guard<std::mutex> hold(lock_);
  unlistedFunctions_.clear();
}

void BindingRegistry::InitializeBuiltins() {
  if (initialized_) {
    ClearEvents();
    ClearTypes();
    ClearFunctions();
  }
  RegisterBuiltinTypes(*this);
  initialized_ = true;
}

const char* BindingRegistry::EnumeratorName(const StaticTypeId* typeId, int32_t value) const {
  const BindingType* type = FindTypeById(typeId);
  if (type == nullptr) return nullptr;
  for (const auto& entry : type->enumerators) {
    if (entry.second.value == value) return entry.second.name.c_str();
  }
  return nullptr;
}

bool BindingRegistry::HasEnumerator(const BindingType& type, int32_t value) {
  for (const auto& entry : type.enumerators) {
    if (entry.second.value == value) return true;
  }
  return false;
}

const BindingEnumerator* BindingRegistry::FindEnumerator(const BindingType& type, std::string_view name) {
  auto found = type.enumerators.find(std::string(name));
  return found == type.enumerators.end() ? nullptr : &found->second;
}

}  // namespace Zarn
