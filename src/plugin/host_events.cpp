// Event names and path patterns of the JSON-API resource events.
#include "plugin/host_events.h"

#include <algorithm>
#include <vector>

namespace Zarn {

std::string JsonApiEventName(std::string_view path) {
  std::vector<std::string_view> entries{"OnJsonApiEvent"};
  size_t start = 0;
  while (start < path.size()) {
    const size_t end = std::min(path.find('/', start), path.size());
    if (end > start) entries.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  // The platform-configuration plugin addresses its resources two levels
  // deeper than any other.
  const size_t limit = entries.size() >= 2 && entries[1] == "arx-platform-config" ? 6 : 4;
  std::string name;
  for (size_t i = 0; i < entries.size() && i < limit; ++i) {
    if (i > 0) name += '_';
    name += entries[i];
  }
  return name;
}

bool MatchPathPattern(std::string_view pattern, std::string_view path) noexcept {
  size_t p = 0;
  size_t s = 0;
  while (p < pattern.size() && s < path.size()) {
    if (pattern[p] != '*') {
      if (pattern[p] != path[s]) return false;
      ++p;
      ++s;
    } else if (path[s] != '/') {
      ++s;
      if (s == path.size()) ++p;  // the run ends with the path
    } else {
      ++p;  // the run ends before the "/", which meets the next pattern character
    }
  }
  return p == pattern.size() && s == path.size();
}

}  // namespace Zarn
