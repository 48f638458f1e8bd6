// Whole registered records to and from generic values.
//
//   BindingResult status;
//   Client::PluginResourceEvent event;
//   AssignRecord(status, event, payload, "<result>", registry);
//   if (!status.Succeeded()) ... status.Error() ...
#pragma once

#include <string_view>

#include "binding/binding_registry.h"
#include "values/binding_property.h"

namespace Zarn {

// Converts input into the native record at record, described by type. An
// empty input fails with "A value for '%1' is required."; members converted
// before a refusal keep their new values, later ones their old.
void AssignRecord(BindingResult& status, void* record, const BindingProperty& input, std::string_view name,
                  const BindingType* type, const BindingRegistry& registry, void* context = nullptr);
template <typename T>
void AssignRecord(BindingResult& status, T& record, const BindingProperty& input, std::string_view name,
                  const BindingRegistry& registry, void* context = nullptr) {
  AssignRecord(status, &record, input, name, registry.FindTypeById(StaticType::HashCode<T>()), registry, context);
}

// Converts the native record at record into output (a structure), or fails
// output with the innermost message.
void StoreRecord(BindingResult& output, const void* record, const BindingType* type,
                 const BindingRegistry& registry);

// Converts a registered native record into output. Returns false, leaving
// output untouched, when T is not registered or the conversion failed.
template <typename T>
bool ConvertToProperty(const BindingRegistry& registry, BindingProperty& output, const T& value) {
  const BindingType* type = registry.FindTypeById(StaticType::HashCode<T>());
  if (type == nullptr) return false;
  BindingResult result;
  StoreRecord(result, &value, type, registry);
  if (!result.Succeeded()) return false;
  output.TakeFrom(result);
  return true;
}

}  // namespace Zarn
