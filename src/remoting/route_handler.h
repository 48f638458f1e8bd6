// What a route handler receives and returns, and the invoker that calls a
// plugin's member function with arguments converted from generic values.
//
//   RouteResult MyPlugin::GetItem(uint64_t itemId);
//   RouteResult MyPlugin::PutItem(uint64_t itemId, BindingProperty body, const RemotingRequest& request);
//
// Every handler parameter but a trailing RemotingRequest is one argument of
// the route's function, converted by the native conversion rules of its
// type; the request record, when asked for, comes last.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "binding/binding_registry.h"
#include "binding/binding_traits.h"
#include "binding/static_type.h"
#include "http/http_method.h"
#include "values/binding_property.h"
#include "values/native_conversion.h"

namespace Zarn {

// A response body produced piece by piece instead of as a value. The core
// reads it through the response's body read function and destroys it
// through the body release function; what the three read values mean is the
// core's business.
class RouteBodyStream {
 public:
  virtual ~RouteBodyStream() = default;
  virtual uint32_t Read(void* buffer, uint32_t offset, uint32_t size) = 0;
  virtual uint32_t Size() const = 0;
};

// A handler's answer; the dispatcher collects its own errors in one too.
struct RouteResult {
  BindingResult value;     // the body on success, the error on failure
  uint8_t formatFlag = 0;  // passed to the core
  int32_t formatCode = 0;  // passed to the core (a body format code)
  int32_t status = 0;      // HTTP status; 0 when not set
  std::string statusText;
  std::map<std::string, std::string> headers;
  std::unique_ptr<RouteBodyStream> bodyStream;

  bool Succeeded() const noexcept { return value.Succeeded(); }
  std::string_view Error() const noexcept { return value.Error(); }
  // Fails the result with message; a failed result carries no stream.
  void SetError(std::string_view message) {
    value.SetError(message);
    bodyStream.reset();
  }
  template <typename First, typename... Rest>
  void SetError(const char* pattern, const First& first, const Rest&... rest) {
    SetError(std::string_view(Format(pattern, first, rest...)));
  }
};

// The request as a handler that asks for it sees it.
struct RemotingRequest {
  int32_t requestId = 0;
  std::string requestName;  // not filled by the dispatcher
  int32_t requestFlags = 0;  // not filled by the dispatcher
  const BindingRegistry* registry = nullptr;
  int64_t receivedAt = 0;  // 100-ns ticks since 1970-01-01 UTC
  HttpMethod method = HttpMethod::None;
  std::string customMethod;
  std::string path;
  std::vector<BindingProperty> arguments;      // one per function argument
  std::map<std::string, std::string> headers;  // as the core spells the names
  // Not filled by the dispatcher.
  std::map<std::string, std::string> responseHeaders;
  std::string responseText;
  int32_t responseFlags = 1;
};
ZARN_TYPE_SPELLING(RemotingRequest, "struct Zarn::RemotingRequest");

// Calls one member function of a plugin object. Owned by the route's
// binding.
class RouteHandler {
 public:
  virtual ~RouteHandler() = default;
  // Converts values (one per function argument) into the handler's
  // parameters; null with result failed when one does not convert.
  virtual void* PrepareArguments(RouteResult& result, std::vector<BindingProperty>& values,
                                 int32_t requestId) = 0;
  // Calls the handler; its answer replaces result.
  virtual void Invoke(RouteResult& result, RemotingRequest* request, void* arguments, int32_t requestId) = 0;
  virtual void ReleaseArguments(void* arguments) noexcept = 0;
  // The wrapped member function's address, for identification.
  virtual const void* Callable() const noexcept = 0;
  // The identity of the request parameter's type; void's when none.
  virtual const StaticTypeId* RequestTypeId() const = 0;
  // The function whose arguments the values belong to; set once, when the
  // route is created.
  void Attach(const BindingFunction* function) noexcept { function_ = function; }

 protected:
  const BindingFunction* function_ = nullptr;
};

namespace detail {

template <typename... Params>
struct HandlerParams {
  static constexpr size_t kCount = sizeof...(Params);
  template <size_t I>
  using At = std::tuple_element_t<I, std::tuple<Params...>>;
  static constexpr bool TakesRequest() {
    if constexpr (kCount == 0) {
      return false;
    } else {
      return std::is_same_v<std::decay_t<At<kCount - 1>>, RemotingRequest>;
    }
  }
  static constexpr size_t kValueCount = kCount - (TakesRequest() ? 1 : 0);
  template <size_t... I>
  static std::tuple<std::decay_t<At<I>>...> PackOf(std::index_sequence<I...>);
  using Pack = decltype(PackOf(std::make_index_sequence<kValueCount>()));
};

// The type triples of the value parameters: the function's argument types.
template <typename Pack, size_t... I>
std::vector<BindingArgument> ArgumentsOf(const BindingRegistry& registry, std::index_sequence<I...>) {
  std::vector<BindingArgument> arguments(sizeof...(I));
  ((arguments[I].type = TypeRefFor<std::tuple_element_t<I, Pack>>(registry)), ...);
  return arguments;
}

// The member function as the function's own invoker keeps it.
template <typename Owner, typename Member>
class MemberInvoker final : public FunctionHandler {
 public:
  MemberInvoker(Owner* owner, Member handler) : owner_(owner), member_(handler) {}

 private:
  Owner* owner_;
  Member member_;
};

}  // namespace detail

template <typename Owner, typename... Params>
class MemberRouteHandler final : public RouteHandler {
 public:
  using Member = RouteResult (Owner::*)(Params...);
  using Traits = detail::HandlerParams<Params...>;
  using Pack = typename Traits::Pack;

  MemberRouteHandler(Owner* owner, Member member) : owner_(owner), member_(member) {}

  static std::vector<BindingArgument> Arguments(const BindingRegistry& registry) {
    return detail::ArgumentsOf<Pack>(registry, std::make_index_sequence<Traits::kValueCount>());
  }

  void* PrepareArguments(RouteResult& result, std::vector<BindingProperty>& values, int32_t) override {
    auto pack = std::make_unique<Pack>();
    if (!Convert(result, values, *pack, std::make_index_sequence<Traits::kValueCount>())) return nullptr;
    return pack.release();
  }

  void Invoke(RouteResult& result, RemotingRequest* request, void* arguments, int32_t) override {
    Pack* pack = static_cast<Pack*>(arguments);
    Pack empty;
    if (pack == nullptr) pack = &empty;
    result = Call(*pack, request, std::make_index_sequence<Traits::kValueCount>());
  }

  void ReleaseArguments(void* arguments) noexcept override { delete static_cast<Pack*>(arguments); }

  const void* Callable() const noexcept override { return &member_; }

  const StaticTypeId* RequestTypeId() const override {
    if constexpr (Traits::TakesRequest()) {
      return StaticType::HashCode<RemotingRequest>();
    } else {
      return StaticType::HashCode<void>();
    }
  }

 private:
  template <size_t... I>
  bool Convert(RouteResult& result, std::vector<BindingProperty>& values, Pack& pack,
               std::index_sequence<I...>) {
    BindingResult status;
    (ConvertOne<I>(status, values, pack), ...);
    if (!status.Succeeded()) {
      result.SetError(status.Error());
      return false;
    }
    return true;
  }

  template <size_t I>
  void ConvertOne(BindingResult& status, std::vector<BindingProperty>& values, Pack& pack) {
    if (!status.Succeeded() || function_ == nullptr || I >= values.size()) return;
    using Value = std::tuple_element_t<I, Pack>;
    const BindingArgument* argument = I < function_->arguments.size() ? &function_->arguments[I] : nullptr;
    const std::string_view name = argument != nullptr ? std::string_view(argument->name) : std::string_view();
    const BindingType* type = argument != nullptr ? argument->type.type : nullptr;
    NativeConversion<Value>::Assign(status, std::get<I>(pack), values[I], name, type, *function_->registry,
                                    nullptr);
  }

  template <size_t I>
  using ParamAt = typename Traits::template At<I>;

  template <size_t... I>
  RouteResult Call(Pack& pack, RemotingRequest* request, std::index_sequence<I...>) {
    if constexpr (Traits::TakesRequest()) {
      RemotingRequest none;
      return (owner_->*member_)(Pass<I>(pack)..., request != nullptr ? *request : none);
    } else {
      (void)request;
      return (owner_->*member_)(Pass<I>(pack)...);
    }
  }

  // Lvalue parameters see the pack's value; the others take it over.
  template <size_t I>
  decltype(auto) Pass(Pack& pack) {
    if constexpr (std::is_lvalue_reference_v<ParamAt<I>>) {
      return (std::get<I>(pack));
    } else {
      return std::move(std::get<I>(pack));
    }
  }

  Owner* owner_;
  Member member_;
};

}  // namespace Zarn
