#include "toxicity/toxicity_plugin.h"

#include "http/http_client.h"
#include "remoting/remoting_registry.h"
#include "util/format.h"

#ifndef QMX_TOXICITY_BASE_URL
#error "the build defines QMX_TOXICITY_BASE_URL"
#endif

namespace Zarn {

const char kToxicityBaseUrl[] = QMX_TOXICITY_BASE_URL;

RouteResult ErrorResult(int32_t status, std::string_view message) {
  RouteResult result;
  result.SetError(message);
  result.status = status;
  return result;
}

void ToxicityPlugin::RegisterApi() {
  AddRoute("/arx-vyk-toxicity/v1/accounts/{accountId}", this, &ToxicityPlugin::GetAccount)
      .PathArgument("accountId", "", TypeRef{});
  AddRoute("/arx-vyk-toxicity/v1/summoners/{summonerId}", this, &ToxicityPlugin::GetSummoner)
      .PathArgument("summonerId", "", TypeRef{});
}

RouteResult ToxicityPlugin::GetAccount(uint64_t accountId) {
  return LookUp(Format("%1/api/v1/accounts/%2", kToxicityBaseUrl, accountId));
}

RouteResult ToxicityPlugin::GetSummoner(uint64_t summonerId) {
  return LookUp(Format("%1/api/v1/summoners/%2", kToxicityBaseUrl, summonerId));
}

RouteResult ToxicityPlugin::LookUp(const std::string& url) {
  HttpResponse response = Get(url, kToxicityRequestOption);
  if (response.status >= 200 && response.status <= 299 && response.decodeFailed == 0) {
    RouteResult result;
    result.value.TakeFrom(response.body);
    return result;
  }
  return ErrorResult(response.status, response.message);
}

}  // namespace Zarn
