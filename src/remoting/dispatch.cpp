#include "remoting/dispatch.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/clock.h"
#include "plugin/memory.h"
#include "remoting/body_decoding.h"
#include "values/host_value.h"

namespace Zarn {

namespace {

std::string LowerAscii(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

const char* OrEmpty(const char* text) { return text != nullptr ? text : ""; }

ArgumentLocation LocationOf(const RouteBinding* binding, size_t index) {
  if (binding == nullptr || index >= binding->locations.size()) return ArgumentLocation::Any;
  return binding->locations[index];
}

// Every header the core delivered; a repeated name keeps the later value.
TextMap HostHeaders(const HostRouteRequest& request) {
  TextMap headers;
  if (request.headers == nullptr) return headers;
  for (uint32_t i = 0; i < request.headerCount; ++i) {
    headers[OrEmpty(request.headers[i].name)] = OrEmpty(request.headers[i].value);
  }
  return headers;
}

void ConvertHostArguments(RouteResult& result, std::vector<BindingProperty>& values,
                          const BindingFunction& function, const HostRouteRequest& request, size_t captureCount) {
  if (request.arguments == nullptr) return;
  const size_t count = function.arguments.size();
  for (uint32_t i = 0; i < request.argumentCount && result.Succeeded(); ++i) {
    const HostRouteArgument& entry = request.arguments[i];
    size_t index = count;
    if (entry.name != nullptr) {
      for (size_t a = 0; a < count; ++a) {
        if (function.arguments[a].name == entry.name) {
          index = a;
          break;
        }
      }
    } else {
      index = i + captureCount;
    }
    if (index >= count) {
      if (entry.name != nullptr) {
        result.SetError("Unknown argument '%1' for '%2'.", entry.name, function.name);
      } else {
        result.SetError("Unknown argument '%1' for '%2'.", static_cast<uint64_t>(i + captureCount), function.name);
      }
      break;
    }
    HostResult status{};
    if (!FromHostValue(status, values[index], entry.value, OrEmpty(entry.name))) {
      result.SetError(OrEmpty(status.errorText));
    }
    ReleaseHostValue(status.value);
    Memory::Free(status.errorText);
  }
}

}  // namespace

TextMap ParseQuery(std::string_view query) {
  TextMap map;
  if (query.empty()) return map;
  size_t start = 0;
  while (true) {
    const size_t end = query.find('&', start);
    const std::string_view piece = query.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    const size_t equals = piece.find('=');
    if (equals == std::string_view::npos) {
      map[PercentDecode(piece)] = std::string();
    } else {
      map[PercentDecode(piece.substr(0, equals))] = PercentDecode(piece.substr(equals + 1));
    }
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return map;
}

void BindValueText(RouteResult& result, BindingProperty& target, const BindingFunction& function,
                   const BindingArgument& argument, std::string_view text) {
  const BindingTypeKind kind = argument.type.kind;
  if (!text.empty()) {
    const bool sniff =
        kind == BindingTypeKind::Object || kind == BindingTypeKind::Vector || kind == BindingTypeKind::Struct;
    ReadArgumentText(result, target, function.name, argument.name, text, sniff);
    return;
  }
  switch (kind) {
    case BindingTypeKind::Bool:
      target.SetBool(true);
      break;
    case BindingTypeKind::Object:
    case BindingTypeKind::Struct:
      target.MakeStructure();
      break;
    case BindingTypeKind::Vector:
      target.MakeCollection();
      break;
    default:
      result.SetError("Expected value for argument '%1'.", argument.name);
      break;
  }
}

// Walks the key's segments one at a time, so a key of any length needs no
// stack of its own.
void BindNested(RouteResult& result, BindingProperty& target, const BindingFunction& function, std::string_view key,
                std::string_view text) {
  BindingProperty* node = &target;
  while (true) {
    const size_t dot = key.find('.');
    const std::string_view segment = key.substr(0, dot);
    if (!segment.empty() && segment[0] >= '0' && segment[0] <= '9') {
      const std::string digits(segment);
      errno = 0;
      char* end = nullptr;
      const unsigned long index = std::strtoul(digits.c_str(), &end, 0);
      if (*end != '\0') {
        result.SetError("Index %1 is in an incorrect format", segment);
        return;
      }
      if (errno == ERANGE || index > kMaxArgumentIndex) {
        result.SetError("Index %1 is out of range", segment);
        return;
      }
      node = &node->At(index);
    } else {
      node = &node->Member(segment);
    }
    if (dot == std::string_view::npos) break;
    key.remove_prefix(dot + 1);
  }
  ReadArgumentText(result, *node, function.name, {}, text, false);
}

void BindKey(RouteResult& result, std::vector<BindingProperty>& values,
             const std::map<std::string_view, size_t>& indexes, const BindingFunction& function,
             const RouteBinding* binding, std::string_view key, std::string_view text, ArgumentLocation location) {
  const size_t dot = key.find('.');
  const std::string_view head = key.substr(0, dot);
  auto found = indexes.find(head);
  if (found == indexes.end()) {
    result.SetError("Unknown argument '%1' for '%2'.", head, function.name);
    return;
  }
  const size_t index = found->second;
  const ArgumentLocation allowed = LocationOf(binding, index);
  if (binding != nullptr && allowed != ArgumentLocation::Any && allowed != location) {
    result.SetError("Argument '%1' for '%2' was specified in an invalid location.", head, function.name);
    return;
  }
  if (dot == std::string_view::npos) {
    BindValueText(result, values[index], function, function.arguments[index], text);
  } else {
    BindNested(result, values[index], function, key.substr(dot + 1), text);
  }
}

void BindArguments(RouteResult& result, std::vector<BindingProperty>& values, const BindingFunction& function,
                   const RouteBinding* binding, const TextMap& query, const TextMap& captures,
                   const TextMap& headerArguments) {
  values.resize(function.arguments.size());
  std::map<std::string_view, size_t> indexes;
  for (size_t i = 0; i < function.arguments.size(); ++i) {
    const BindingArgument& argument = function.arguments[i];
    indexes.emplace(argument.name, i);
    if (argument.type.kind == BindingTypeKind::Bool && !argument.optional) values[i].SetBool(false);
  }
  const auto bindAll = [&](const TextMap& source, ArgumentLocation location) {
    for (const auto& [key, text] : source) {
      if (!result.Succeeded()) return;
      BindKey(result, values, indexes, function, binding, key, text, location);
    }
  };
  bindAll(headerArguments, ArgumentLocation::Header);
  bindAll(captures, ArgumentLocation::Path);
  bindAll(query, ArgumentLocation::Query);
}

void HandleRequest(HostRouteResponse& response, const HostRouteRequest& request, RequestContext& context) {
  const BindingFunction& function = *context.function;
  const RouteBinding* binding = context.binding;
  RouteResult result;
  RemotingRequest remoting;
  std::vector<BindingProperty>& values = remoting.arguments;

  TextMap hostHeaders;
  if (request.headers != nullptr && request.headerCount > 0) {
    hostHeaders = HostHeaders(request);
  }
  {
    TextMap headerArguments;
    for (size_t i = 0; i < function.arguments.size() && !hostHeaders.empty(); ++i) {
      const ArgumentLocation location = LocationOf(binding, i);
      if (binding != nullptr && location != ArgumentLocation::Any && location != ArgumentLocation::Header) continue;
      const std::string& name = function.arguments[i].name;
      auto header = hostHeaders.find(LowerAscii(name));
      if (header != hostHeaders.end()) headerArguments[name] = header->second;
    }
    TextMap query;
    const size_t mark = context.path.find('?');
    if (mark != std::string::npos) query = ParseQuery(std::string_view(context.path).substr(mark + 1));
    BindArguments(result, values, function, binding, query, context.captures, headerArguments);
  }

  if (result.Succeeded()) ConvertHostArguments(result, values, function, request, context.captures.size());

  if (request.body != nullptr && binding != nullptr) {
    for (size_t i = 0; i < binding->locations.size() && i < values.size(); ++i) {
      if (binding->locations[i] != ArgumentLocation::Body) continue;
      BindingResult decoded = DecodeBody(request.contentType, request.body, request.bodyLength);
      if (decoded.Succeeded()) {
        values[i].TakeFrom(decoded);
      } else {
        result.SetError(decoded.Error());
      }
      break;
    }
  }

  RouteHandler* handler = binding != nullptr ? binding->handler.get() : nullptr;
  void* pack = nullptr;
  if (handler != nullptr && result.Succeeded()) pack = handler->PrepareArguments(result, values, request.requestId);
  if (handler != nullptr && result.Succeeded()) {
    if (handler->RequestTypeId() != StaticType::HashCode<RemotingRequest>()) {
      handler->Invoke(result, nullptr, pack, request.requestId);
    } else {
      remoting.requestId = request.requestId;
      remoting.registry = function.registry;
      remoting.receivedAt = static_cast<int64_t>(Platform::SystemTimeTicks100ns());
      remoting.method = context.method;
      remoting.customMethod = context.customMethod;
      remoting.path = context.path;
      remoting.headers = std::move(hostHeaders);
      handler->Invoke(result, &remoting, pack, request.requestId);
    }
  }
  WriteResponse(response, result, function.registry);
  if (pack != nullptr) handler->ReleaseArguments(pack);
}

void DispatchRequest(HostRouteResponse& response, const HostRouteRequest& request,
                     const std::vector<RouteMatcher>& matchers) {
  // A record that still holds an earlier answer of ours is released first;
  // anything else the core hands in is only zeroed, never freed.
  if (response.release == ReleaseRouteResponse) {
    ReleaseRouteResponse(&response);
  } else {
    std::memset(&response, 0, sizeof(response));
  }
  response.release = ReleaseRouteResponse;

  RequestContext context;
  context.path = OrEmpty(request.path);
  context.method = HttpMethodFromCode(request.method);
  if (request.method == static_cast<int32_t>(HttpMethod::Custom) && request.methodName != nullptr) {
    context.customMethod = request.methodName;
  }
  if (!MatchRoutes(context, matchers, false)) {
    RouteResult result;
    result.SetError("Invalid function");
    result.status = 404;
    WriteResponse(response, result, nullptr);
    return;
  }
  HandleRequest(response, request, context);
}

void DispatchRoute(HostRouteResponse& response, const HostRouteRequest& request, const RouteBinding& binding) {
  const std::vector<RouteMatcher> matchers{MakeRouteMatcher(binding)};
  DispatchRequest(response, request, matchers);
}

}  // namespace Zarn
