// ToxicityPlugin: the feature, two read-only REST resources that look a
// player up in the remote behaviour service.
//
//   GET /arx-vyk-toxicity/v1/accounts/{accountId}   -> <base>/api/v1/accounts/<id>
//   GET /arx-vyk-toxicity/v1/summoners/{summonerId} -> <base>/api/v1/summoners/<id>
//
// Each lookup is one HTTPS GET through the core; the service's JSON answer
// is the resource's body, unchanged. Anything else becomes an error result
// carrying the service's status and the transport's message.
#pragma once

#include <cstdint>
#include <string>

#include "plugin/plugin.h"
#include "remoting/route_handler.h"

namespace Zarn {

constexpr char kToxicityShortName[] = "arx-vyk-toxicity";

// The behaviour service's base URL, fixed when the library is built.
extern const char kToxicityBaseUrl[];

// The option every upstream request carries.
constexpr int32_t kToxicityRequestOption = 20;

// A failed result with message as its error text (which may be empty) and
// status as its HTTP status.
RouteResult ErrorResult(int32_t status, std::string_view message);

class ToxicityPlugin : public Plugin {
 public:
  void RegisterApi() override;

  RouteResult GetAccount(uint64_t accountId);
  RouteResult GetSummoner(uint64_t summonerId);

 private:
  RouteResult LookUp(const std::string& url);
};

}  // namespace Zarn
