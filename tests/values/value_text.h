// A canonical text of a value tree for test expectations, kinds included:
// null, true, s-1 (signed), u1 (unsigned), f1.5 (float, as %g), "text",
// blob(3) (byte count), enum 2, [a,b] and {key:value} with keys in order.
#pragma once

#include <string>

#include "util/format.h"
#include "values/binding_property.h"

namespace Zarn {

inline std::string RenderValue(const BindingProperty& p) {
  switch (p.Kind()) {
    case PropertyKind::Empty:
      return "null";
    case PropertyKind::Bool:
      return p.GetBool() ? "true" : "false";
    case PropertyKind::Signed:
      return "s" + std::to_string(p.GetSigned());
    case PropertyKind::Unsigned:
      return "u" + std::to_string(p.GetUnsigned());
    case PropertyKind::Float:
      return "f" + Format("%1", p.GetFloat());
    case PropertyKind::String:
      return "\"" + std::string(p.GetString()) + "\"";
    case PropertyKind::Blob:
      return "blob(" + std::to_string(p.GetBlob().size()) + ")";
    case PropertyKind::Enum:
      return "enum " + std::to_string(p.GetEnum().value);
    case PropertyKind::Collection: {
      std::string text = "[";
      for (size_t i = 0; i < p.Size(); ++i) text += (i ? "," : "") + RenderValue(p.ElementAt(i));
      return text + "]";
    }
    case PropertyKind::Structure: {
      std::string text = "{";
      bool first = true;
      for (const auto& member : p.Members()) {
        text += (first ? "" : ",") + std::string(member.Key()) + ":" + RenderValue(member.Value());
        first = false;
      }
      return text + "}";
    }
  }
  return "?";
}

}  // namespace Zarn
