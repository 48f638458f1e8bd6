// One route call through the route callback, against a hand-written floor
// that does the same observable work directly: take the identifier out of
// the path, parse it, call the handler, write the host value, release it.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>

#include "remoting/remoting_registry.h"
#include "values/host_value.h"

namespace Zarn {
namespace {

class BenchPlugin {
 public:
  BenchPlugin() {
    AddRoute("/bench/v1/accounts/{accountId}", this, &BenchPlugin::GetAccount).PathArgument("accountId", "", {});
    block_ = registry_.PublishRoutes();
  }
  RemotingRegistry& registry() { return registry_; }
  const std::vector<std::string>& apiTags() const { return tags_; }
  const HostRouteRecord& route() const { return *static_cast<const HostRouteRecord*>(block_.functions); }

  RouteResult GetAccount(uint64_t accountId) {
    RouteResult result;
    result.value.Member("id").SetUnsigned(accountId);
    result.value.Member("score").SetSigned(3);
    result.value.Member("region").SetString("euw");
    return result;
  }

 private:
  RemotingRegistry registry_;
  std::vector<std::string> tags_{"Plugins", "Plugin bench"};
  HostApiDescriptionBlock block_{};
};

const char kPath[] = "/bench/v1/accounts/123456789";

void RouteCallThroughCallback(benchmark::State& state) {
  BenchPlugin plugin;
  HostRouteRequest request{};
  request.method = 2;
  request.path = kPath;
  request.userData = plugin.route().routeUserData;
  HostRouteResponse response{};
  for (auto _ : state) {
    plugin.route().callback(&response, &request);
    benchmark::DoNotOptimize(response.result.value.kind);
    response.release(&response);
  }
}
BENCHMARK(RouteCallThroughCallback);

void RouteCallFloor(benchmark::State& state) {
  BenchPlugin plugin;
  const BindingRegistry& registry = plugin.registry();
  constexpr std::string_view kPrefix = "/bench/v1/accounts/";
  for (auto _ : state) {
    const std::string_view path(kPath);
    if (path.compare(0, kPrefix.size(), kPrefix) != 0) state.SkipWithError("no match");
    const std::string digits(path.substr(kPrefix.size()));
    const uint64_t id = std::strtoull(digits.c_str(), nullptr, 0);
    RouteResult result = plugin.GetAccount(id);
    HostValue value{};
    ToHostValue(value, result.value, &registry);
    benchmark::DoNotOptimize(value.kind);
    ReleaseHostValue(value);
  }
}
BENCHMARK(RouteCallFloor);

}  // namespace
}  // namespace Zarn

BENCHMARK_MAIN();
