// ToxicityPlugin: the feature, two read-only REST resources that look a
// player up in the remote behaviour service.
#pragma once

#include "plugin/plugin.h"

namespace Zarn {

constexpr char kToxicityShortName[] = "arx-vyk-toxicity";

class ToxicityPlugin : public Plugin {};

}  // namespace Zarn
