// The plugin's registry of routes, types and events: a binding registry that
// starts with the built-in types and adds the route table, and the calls
// through which a plugin declares its REST resources.
//
//   AddRoute("/shop/v1/items/{itemId}", this, &ShopPlugin::GetItem)
//       .PathArgument("itemId", "", {});
//   AddRoute(HttpMethod::Put, "/shop/v1/items/{itemId}", this, &ShopPlugin::PutItem)
//       .PathArgument("itemId", "", {})
//       .BodyArgument("item", "The new item.", {});
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "binding/binding_registry.h"
#include "binding/host_description.h"
#include "remoting/host_routes.h"
#include "remoting/route_handler.h"
#include "remoting/route_table.h"

namespace Zarn {

class RemotingRegistry;

// Declares a route's arguments, in the handler's parameter order. On a
// route that existed already every call is inert.
class FunctionBuilder {
 public:
  FunctionBuilder(BindingFunction* function, bool existed, RouteBinding* binding)
      : function_(function), existed_(existed), binding_(binding) {}

  // The next argument, from the path (its placeholder name).
  FunctionBuilder& PathArgument(std::string name, std::string description, TypeRef declaredType) {
    return Argument(ArgumentLocation::Path, std::move(name), std::move(description), declaredType);
  }
  FunctionBuilder& QueryArgument(std::string name, std::string description, TypeRef declaredType) {
    return Argument(ArgumentLocation::Query, std::move(name), std::move(description), declaredType);
  }
  FunctionBuilder& HeaderArgument(std::string name, std::string description, TypeRef declaredType) {
    return Argument(ArgumentLocation::Header, std::move(name), std::move(description), declaredType);
  }
  FunctionBuilder& BodyArgument(std::string name, std::string description, TypeRef declaredType) {
    return Argument(ArgumentLocation::Body, std::move(name), std::move(description), declaredType);
  }
  // From any place: headers, path, query (a later one wins) or the core's
  // argument list.
  FunctionBuilder& AnyArgument(std::string name, std::string description, TypeRef declaredType) {
    return Argument(ArgumentLocation::Any, std::move(name), std::move(description), declaredType);
  }
  FunctionBuilder& Argument(ArgumentLocation location, std::string name, std::string description,
                            TypeRef declaredType);
  // Marks the argument declared last as optional.
  FunctionBuilder& Optional();

  BindingFunction* function() const { return function_; }
  RouteBinding* binding() const { return binding_; }
  bool existed() const { return existed_; }
  size_t nextIndex() const { return nextIndex_; }

 private:
  BindingFunction* function_;
  size_t nextIndex_ = 0;
  bool existed_;
  RouteBinding* binding_;
};

class RemotingRegistry : public BindingRegistry {
 public:
  RemotingRegistry();
  ~RemotingRegistry() override;

  // Registration of one route; see AddRoute below. makeHandler runs only
  // when the route is new.
  template <typename MakeHandler>
  FunctionBuilder RegisterRoute(HttpMethod method, std::string_view pathTemplate,
                                std::vector<BindingArgument> arguments, std::unique_ptr<FunctionHandler> invoker,
                                const std::vector<std::string>& tags, MakeHandler&& makeHandler);

  // The route map, each under the route lock.
  const RouteBinding* FindRoute(const BindingFunction* function) const;
  // The function's binding, and whether it had one already.
  std::pair<RouteBinding*, bool> CreateRoute(const BindingFunction* function);
  std::map<const BindingFunction*, const RouteBinding*> RouteSnapshot() const;

  // Builds the export block: the route records (one per routed function,
  // in function-name order), then the type and event records. Everything it
  // points to stays valid until the next call or destruction; host entries
  // stay for the registry's life. Throws std::bad_alloc when memory runs
  // out.
  HostApiDescriptionBlock PublishRoutes();

  // The host entry published for a function name; null before.
  const HostRouteEntry* FindHostEntry(std::string_view functionName) const;

 private:
  FunctionBuilder FinishRoute(BindingFunction* function, HttpMethod method, std::string_view pathTemplate,
                              const std::vector<std::string>& tags, std::unique_ptr<RouteHandler> handler);

  mutable std::mutex routeLock_;
  std::map<const BindingFunction*, std::unique_ptr<RouteBinding>> routes_;
  std::unordered_map<std::string, HostRouteEntry> hostEntries_;  // nodes stay put

  // The published records.
  HostDescriptionBuilder descriptionBuilder_;
  std::vector<HostRouteRecord> routeRecords_;
  std::vector<HostRouteLocationEntry> locationEntries_;  // one slice per route
  std::vector<HostRouteTextListEntry> textListEntries_;  // one slice per route
  std::vector<const char*> textPointers_;                // one slice per text list
};

template <typename MakeHandler>
FunctionBuilder RemotingRegistry::RegisterRoute(HttpMethod method, std::string_view pathTemplate,
                                                std::vector<BindingArgument> arguments,
                                                std::unique_ptr<FunctionHandler> invoker,
                                                const std::vector<std::string>& tags, MakeHandler&& makeHandler) {
  const std::string name = MakeFunctionName(method, pathTemplate);
  auto* function = const_cast<BindingFunction*>(FindFunction(name));
  if (function == nullptr) {
    function = AddFunction(name, std::move(arguments), false);
    function->returns.kind = BindingTypeKind::Object;
    function->handler = std::move(invoker);
  }
  std::unique_ptr<RouteHandler> handler;
  if (FindRoute(function) == nullptr) handler = makeHandler();
  return FinishRoute(function, method, pathTemplate, tags, std::move(handler));
}

// Registers the route method + pathTemplate served by owner's member
// handler: a function named after both (MakeFunctionName) with one argument
// per handler parameter, typed by the parameter, and an object result. The
// owner supplies registry() (a RemotingRegistry) and apiTags(), which every
// new route's function receives. A method and template that give a name
// registered already change nothing: the first handler, path and arguments
// stay, and the builder is inert.
template <typename Owner, typename Base, typename... Params>
FunctionBuilder AddRoute(HttpMethod method, std::string_view pathTemplate, Owner* owner,
                         RouteResult (Base::*member)(Params...)) {
  static_assert(std::is_base_of_v<Base, Owner>, "the handler must be a member of the owner");
  using Handler = MemberRouteHandler<Base, Params...>;
  RemotingRegistry& registry = owner->registry();
  return registry.RegisterRoute(
      method, pathTemplate, Handler::Arguments(registry),
      std::make_unique<detail::MemberInvoker<Base, decltype(member)>>(owner, member), owner->apiTags(),
      [&] { return std::make_unique<Handler>(owner, member); });
}

// A GET route.
template <typename Owner, typename Base, typename... Params>
FunctionBuilder AddRoute(std::string_view pathTemplate, Owner* owner, RouteResult (Base::*member)(Params...)) {
  return AddRoute(HttpMethod::Get, pathTemplate, owner, member);
}

}  // namespace Zarn
