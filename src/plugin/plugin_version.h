// Plugin-API versions: the plugin's own, the core's, their compatibility and
// their text form.
#pragma once

#include <cstdint>
#include <string>

#include "util/format.h"

namespace Zarn {

struct PluginApiVersion {
  uint32_t major = 0;
  uint32_t minor = 0;
  uint32_t patch = 0;
  std::string prerelease;  // text after "-"; empty here
  std::string build;       // text after "+"; empty here
};

// The plugin-API version this plugin speaks.
constexpr uint32_t kPluginApiMajor = 18;
constexpr uint32_t kPluginApiMinor = 0;
constexpr uint32_t kPluginApiPatch = 0;
PluginApiVersion PluginVersion();

// True when a core of version core can load a plugin of version plugin: same
// major, and a greater minor or an equal minor with a patch at least as high.
bool IsCompatible(const PluginApiVersion& plugin, const PluginApiVersion& core) noexcept;

// "major.minor.patch", then "-prerelease" and "+build" when not empty.
std::string VersionText(const PluginApiVersion& version);

// Format descriptor: a version argument renders as VersionText.
extern const FormatArgument kFormatVersion;
constexpr const FormatArgument* FormatArgumentFor(const PluginApiVersion*) { return &kFormatVersion; }

}  // namespace Zarn
