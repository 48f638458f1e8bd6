// Identity records.
#include "binding/static_type.h"

#include <cstdio>

namespace Zarn::detail {

void InitializeTypeId(StaticTypeId& id, const std::string& identity) {
  id.hash = Fnv1a(identity);
  std::snprintf(id.storage, sizeof id.storage, "#%08X", static_cast<unsigned>(id.hash));
  id.text = id.storage;
}

}  // namespace Zarn::detail
