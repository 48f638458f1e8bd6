// Version text and compatibility.
#include "plugin/plugin_version.h"

#include <algorithm>
#include <cstring>

namespace Zarn {
namespace {

// The dotted text in a 33-character buffer, then the suffixes.
size_t DottedText(const PluginApiVersion& version, char (&buffer)[33]) {
  return FormatInto(buffer, sizeof buffer, "%1.%2.%3", version.major, version.minor,
                            version.patch);
}

// Renders without touching the heap: formatting never allocates.
size_t FormatVersion(FormatContext& context) {
  const auto& version = *static_cast<const PluginApiVersion*>(context.argument);
  char text[256];
  char dotted[33];
  size_t length = DottedText(version, dotted);
  std::memcpy(text, dotted, length);
  auto append = [&](char separator, const std::string& suffix) {
    if (suffix.empty() || length + 1 >= sizeof text) return;
    text[length++] = separator;
    const size_t take = std::min(suffix.size(), sizeof text - 1 - length);
    std::memcpy(text + length, suffix.data(), take);
    length += take;
  };
  append('-', version.prerelease);
  append('+', version.build);
  return FormatTextArgument(context, text, length);
}

int32_t NotAnInt(const void*) { return 0; }

}  // namespace

const FormatArgument kFormatVersion = {FormatVersion, NotAnInt, false};

PluginApiVersion PluginVersion() {
  return {kPluginApiMajor, kPluginApiMinor, kPluginApiPatch, {}, {}};
}

bool IsCompatible(const PluginApiVersion& plugin, const PluginApiVersion& core) noexcept {
  if (core.major != plugin.major) return false;
  if (core.minor != plugin.minor) return core.minor > plugin.minor;
  return core.patch >= plugin.patch;
}

std::string VersionText(const PluginApiVersion& version) {
  char dotted[33];
  std::string text(dotted, DottedText(version, dotted));
  if (!version.prerelease.empty()) text += "-" + version.prerelease;
  if (!version.build.empty()) text += "+" + version.build;
  return text;
}

}  // namespace Zarn
