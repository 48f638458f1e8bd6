#include "remoting/remoting_registry.h"

#include <cstring>

namespace Zarn {

FunctionBuilder& FunctionBuilder::Argument(ArgumentLocation location, std::string name, std::string description,
                                           TypeRef declaredType) {
  const size_t index = nextIndex_++;
  if (existed_ || binding_ == nullptr || function_ == nullptr) return *this;
  if (binding_->locations.size() <= index) binding_->locations.resize(index + 1, ArgumentLocation::Any);
  binding_->locations[index] = location;
  if (function_->arguments.size() <= index) function_->arguments.resize(index + 1);
  BindingArgument& argument = function_->arguments[index];
  argument.nameHash = Fnv1a(name);
  argument.name = std::move(name);
  argument.description = std::move(description);
  if (declaredType.kind != BindingTypeKind::None) argument.declaredType = declaredType;
  return *this;
}

FunctionBuilder& FunctionBuilder::Optional() {
  if (existed_ || function_ == nullptr || nextIndex_ == 0 || nextIndex_ > function_->arguments.size()) {
    return *this;
  }
  function_->arguments[nextIndex_ - 1].optional = true;
  return *this;
}

RemotingRegistry::RemotingRegistry() { InitializeBuiltins(); }

RemotingRegistry::~RemotingRegistry() {
  std::unique_lock<std::mutex> hold(routeLock_);
  while (!routes_.empty()) {
    auto entry = routes_.begin();
    const BindingFunction* function = entry->first;
    entry->second->handler.reset();
    entry->second.reset();
    routes_.erase(entry);
    hold.unlock();
    RemoveFunction(function);
    hold.lock();
  }
}

const RouteBinding* RemotingRegistry::FindRoute(const BindingFunction* function) const {
  std::lock_guard<std::mutex> hold(routeLock_);
  auto found = routes_.find(function);
  return found == routes_.end() ? nullptr : found->second.get();
}

std::pair<RouteBinding*, bool> RemotingRegistry::CreateRoute(const BindingFunction* function) {
  std::lock_guard<std::mutex> hold(routeLock_);
  auto& slot = routes_[function];
  if (slot != nullptr) return {slot.get(), true};
  slot = std::make_unique<RouteBinding>();
  slot->function = function;
  slot->locations.assign(function->arguments.size(), ArgumentLocation::Any);
  return {slot.get(), false};
}

std::map<const BindingFunction*, const RouteBinding*> RemotingRegistry::RouteSnapshot() const {
  std::lock_guard<std::mutex> hold(routeLock_);
  std::map<const BindingFunction*, const RouteBinding*> snapshot;
  for (const auto& entry : routes_) snapshot.emplace(entry.first, entry.second.get());
  return snapshot;
}

FunctionBuilder RemotingRegistry::FinishRoute(BindingFunction* function, HttpMethod method,
                                              std::string_view pathTemplate, const std::vector<std::string>& tags,
                                              std::unique_ptr<RouteHandler> handler) {
  auto [binding, existed] = CreateRoute(function);
  if (!existed) {
    binding->handler = std::move(handler);
    if (binding->handler != nullptr) binding->handler->Attach(function);
    function->tags = tags;
    std::string path(pathTemplate);
    if (path.size() > 1 && path.back() == '/') path.pop_back();
    binding->path = std::move(path);
    binding->method = method;
    binding->customMethod.clear();
    binding->compiled = CompileTemplate(binding->path.empty() ? std::string_view(function->name)
                                                              : std::string_view(binding->path));
  }
  return FunctionBuilder(function, existed, binding);
}

HostApiDescriptionBlock RemotingRegistry::PublishRoutes() {
  // Routed functions by name.
  std::map<std::string_view, const RouteBinding*> byName;
  for (const auto& entry : RouteSnapshot()) byName.emplace(entry.first->name, entry.second);

  const HostApiDescriptionBlock description = descriptionBuilder_.BuildHostDescription(Functions(), Types(), Events());
  std::unordered_map<std::string_view, const HostFunctionRecord*> functionRecords;
  for (auto* record = static_cast<const HostFunctionRecord*>(description.functions); record != nullptr;
       record = record->next) {
    const char* name = record->name;  // a packed field: copied, never bound to a reference
    functionRecords.emplace(name, record);
  }

  // Sized first, so that the pointers into the arrays stay put.
  size_t locationCount = 0;
  size_t listCount = 0;
  size_t textCount = 0;
  for (const auto& entry : byName) {
    locationCount += entry.second->locations.size();
    listCount += entry.second->textLists.size();
    for (const auto& list : entry.second->textLists) textCount += list.size();
  }
  routeRecords_.assign(byName.size(), HostRouteRecord{});
  locationEntries_.assign(locationCount, HostRouteLocationEntry{});
  textListEntries_.assign(listCount, HostRouteTextListEntry{});
  textPointers_.assign(textCount, nullptr);

  size_t route = 0;
  size_t location = 0;
  size_t list = 0;
  size_t text = 0;
  for (const auto& [name, binding] : byName) {
    HostRouteRecord& record = routeRecords_[route];
    const size_t firstLocation = location;
    for (ArgumentLocation place : binding->locations) {
      const auto code = static_cast<int32_t>(place);
      locationEntries_[location].location = code >= 1 && code <= 5 ? code : 0;
      if (location > firstLocation) locationEntries_[location - 1].next = &locationEntries_[location];
      ++location;
    }
    const size_t firstList = list;
    for (const auto& texts : binding->textLists) {
      HostRouteTextListEntry& entry = textListEntries_[list];
      entry.texts = texts.empty() ? nullptr : &textPointers_[text];
      entry.textCount = static_cast<uint32_t>(texts.size());
      for (const std::string& item : texts) textPointers_[text++] = item.c_str();
      if (list > firstList) textListEntries_[list - 1].next = &entry;
      ++list;
    }

    auto function = functionRecords.find(name);
    if (function != functionRecords.end()) {
      const HostFunctionRecord& source = *function->second;
      record.reserved = source.reserved;
      record.routeUserData = source.routeUserData;
      record.name = source.name;
      record.nameSpace = source.nameSpace;
      record.arguments = source.arguments;
      record.argumentCount = source.argumentCount;
      record.returns = source.returns;
      record.description = source.description;
      record.help = source.help;
      record.threadSafe = source.threadSafe;
      record.async = source.async;
      record.tags = source.tags;
      record.tagCount = source.tagCount;
    }
    record.locations = location > firstLocation ? &locationEntries_[firstLocation] : nullptr;
    record.path = binding->path.c_str();
    const auto method = static_cast<int32_t>(binding->method);
    record.method = method >= 1 && method <= 8 ? method : 0;
    record.flag = binding->flag;
    record.textLists = list > firstList ? &textListEntries_[firstList] : nullptr;
    record.textListCount = static_cast<uint32_t>(list - firstList);
    record.customMethod = binding->customMethod.c_str();
    // The core hands the entry back with every request of this route.
    HostRouteEntry& entry = hostEntries_[std::string(name)];
    entry = HostRouteEntry{this, binding};
    record.routeUserData = &entry;
    record.callback = RouteCallback;
    if (route > 0) routeRecords_[route - 1].next = &record;
    ++route;
  }

  HostApiDescriptionBlock block = description;
  block.functions = routeRecords_.empty() ? nullptr : routeRecords_.data();
  block.functionCount = static_cast<uint32_t>(routeRecords_.size());
  return block;
}

const HostRouteEntry* RemotingRegistry::FindHostEntry(std::string_view functionName) const {
  auto found = hostEntries_.find(std::string(functionName));
  return found == hostEntries_.end() ? nullptr : &found->second;
}

}  // namespace Zarn
