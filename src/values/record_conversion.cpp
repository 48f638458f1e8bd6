// Entry points of the record conversions.
#include "values/record_conversion.h"

#include "values/native_conversion.h"

namespace Zarn {

void AssignRecord(BindingResult& status, void* record, const BindingProperty& input, std::string_view name,
                  const BindingType* type, const BindingRegistry& registry, void* context) {
  if (input.Kind() == PropertyKind::Empty) {
    status.SetError("A value for '%1' is required.", name);
    return;
  }
  Convert::AssignRecordFields(status, record, input, name, type, registry, context);
}

void StoreRecord(BindingResult& output, const void* record, const BindingType* type,
                 const BindingRegistry& registry) {
  Convert::StoreRecordFields(output, record, type, registry);
}

}  // namespace Zarn
