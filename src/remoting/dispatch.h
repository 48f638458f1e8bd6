// One request of a published route: match the path, collect the arguments
// from headers, path, query, the core's argument list and the body, call the
// handler and write its answer into the core's response record.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "remoting/host_routes.h"
#include "remoting/route_handler.h"
#include "remoting/route_table.h"

namespace Zarn {

// Deepest index a nested argument key may name ("items.65535"); a larger
// one is refused as out of range, so a query cannot make the dispatcher
// allocate without bound.
constexpr unsigned long kMaxArgumentIndex = 65535;

using TextMap = std::map<std::string, std::string>;

// The route callback's work for the route binding.
void DispatchRoute(HostRouteResponse& response, const HostRouteRequest& request, const RouteBinding& binding);

// Clears response, matches the request against matchers and answers 404
// "Invalid function" or handles it.
void DispatchRequest(HostRouteResponse& response, const HostRouteRequest& request,
                     const std::vector<RouteMatcher>& matchers);

void HandleRequest(HostRouteResponse& response, const HostRouteRequest& request, RequestContext& context);

// The query text after the first "?": pieces split at "&" (empty ones
// kept), each "name=value" or "name", both percent-decoded; a later name
// replaces an earlier one.
TextMap ParseQuery(std::string_view query);

void BindArguments(RouteResult& result, std::vector<BindingProperty>& values, const BindingFunction& function,
                   const RouteBinding* binding, const TextMap& query, const TextMap& captures,
                   const TextMap& headerArguments);

void BindKey(RouteResult& result, std::vector<BindingProperty>& values,
             const std::map<std::string_view, size_t>& indexes, const BindingFunction& function,
             const RouteBinding* binding, std::string_view key, std::string_view text, ArgumentLocation location);

void BindNested(RouteResult& result, BindingProperty& target, const BindingFunction& function, std::string_view key,
                std::string_view text);

void BindValueText(RouteResult& result, BindingProperty& target, const BindingFunction& function,
                   const BindingArgument& argument, std::string_view text);

}  // namespace Zarn
