// Registration of the built-in types, names and texts exactly as clients
// see them.
#include "binding/builtin_types.h"

#include "binding/binding_registry.h"

namespace Zarn {
namespace {

void RegisterHelpTypes(BindingRegistry& registry) {
  using namespace BindingHelpProvider;
  registry.RegisterType<HelpFormat>("BindingHelpFormat")
      .AddEnumerator("Full", Full, "Native help format")
      .AddEnumerator("Epytext", Epytext, "Python epytext format")
      .SetDescription("Help format for binding functions and types.")
      .AddTag("$builtin")
      .AddTag("help");
  registry.RegisterType<FullTypeIdentifier>("BindingFullTypeIdentifier")
      .AddField("type", &FullTypeIdentifier::type)
      .AddField("elementType", &FullTypeIdentifier::elementType)
      .SetDescription("Describes the type of a value.")
      .AddTag("$builtin")
      .AddTag("help");
  registry.RegisterType<FullArgumentHelp>("BindingFullArgumentHelp")
      .AddField("name", &FullArgumentHelp::name)
      .AddField("description", &FullArgumentHelp::description)
      .AddField("type", &FullArgumentHelp::type)
      .AddField("optional", &FullArgumentHelp::optional)
      .SetDescription("Describes a function parameter.")
      .AddTag("$builtin")
      .AddTag("help");
  registry.RegisterType<FullFunctionHelp>("BindingFullFunctionHelp")
      .AddField("name", &FullFunctionHelp::name)
      .AddField("nameSpace", &FullFunctionHelp::nameSpace)
      .AddField("arguments", &FullFunctionHelp::arguments)
      .AddField("returns", &FullFunctionHelp::returns)
      .AddField("description", &FullFunctionHelp::description)
      .AddField("help", &FullFunctionHelp::help)
      .AddField("threadSafe", &FullFunctionHelp::threadSafe)
      .AddField("async", &FullFunctionHelp::async)
      .AddField("tags", &FullFunctionHelp::tags)
      .SetDescription("Describes a function.")
      .AddTag("$builtin")
      .AddTag("help");
  registry.RegisterType<FullEnumValueHelp>("BindingFullEnumValueHelp")
      .AddField("name", &FullEnumValueHelp::name)
      .AddField("description", &FullEnumValueHelp::description)
      .AddField("value", &FullEnumValueHelp::value)
      .SetDescription("Describes an enumerator.")
      .AddTag("$builtin")
      .AddTag("help");
  registry.RegisterType<FullFieldHelp>("BindingFullFieldHelp")
      .AddField("name", &FullFieldHelp::name)
      .AddField("description", &FullFieldHelp::description)
      .AddField("offset", &FullFieldHelp::offset)
      .AddField("type", &FullFieldHelp::type)
      .AddField("optional", &FullFieldHelp::optional)
      .SetDescription("Describes a member of a struct.")
      .AddTag("$builtin")
      .AddTag("help");
  registry.RegisterType<FullTypeHelp>("BindingFullTypeHelp")
      .AddField("name", &FullTypeHelp::name)
      .AddField("nameSpace", &FullTypeHelp::nameSpace)
      .AddField("size", &FullTypeHelp::size)
      .AddField("description", &FullTypeHelp::description)
      .AddField("tags", &FullTypeHelp::tags)
      .AddField("fields", &FullTypeHelp::fields)
      .AddField("values", &FullTypeHelp::values)
      .SetDescription("Describes a struct or enum type.")
      .AddTag("$builtin")
      .AddTag("help");
  registry.RegisterType<FullEventHelp>("BindingFullEventHelp")
      .AddField("name", &FullEventHelp::name)
      .AddField("nameSpace", &FullEventHelp::nameSpace)
      .AddField("type", &FullEventHelp::type)
      .AddField("description", &FullEventHelp::description)
      .AddField("tags", &FullEventHelp::tags)
      .SetDescription("Describes an event.")
      .AddTag("$builtin")
      .AddTag("help");
  registry.RegisterType<FullApiHelp>("BindingFullApiHelp")
      .AddField("functions", &FullApiHelp::functions)
      .AddField("types", &FullApiHelp::types)
      .AddField("events", &FullApiHelp::events)
      .SetDescription("Describes the exposed native API.")
      .AddTag("$builtin")
      .AddTag("help");
}

void RegisterAsyncTypes(BindingRegistry& registry) {
  registry.RegisterType<BindingAsyncState::Type>("BindingAsyncState")
      .AddEnumerator("None", BindingAsyncState::None, "Invalid state")
      .AddEnumerator("Running", BindingAsyncState::Running, "The operation is in flight")
      .AddEnumerator("Cancelling", BindingAsyncState::Cancelling, "A request to cancel the operation has been made")
      .AddEnumerator("Cancelled", BindingAsyncState::Cancelled, "The operation was cancelled")
      .AddEnumerator("Succeeded", BindingAsyncState::Succeeded, "The operation completed successfully")
      .AddEnumerator("Failed", BindingAsyncState::Failed, "The operation encountered an error")
      .SetDescription("Possible states of an asynchronous operation.")
      .AddTag("$builtin")
      .AddTag("async");
  registry.RegisterType<BindingGenericEvent>("BindingGenericEvent")
      .AddField("data", &BindingGenericEvent::data, "Event data")
      .SetDescription("Represents generic data for an event.")
      .AddTag("$builtin");
  registry.RegisterType<BindingCallbackEvent>("BindingCallbackEvent")
      .AddField("id", &BindingCallbackEvent::id, "ID of the callback being invoked")
      .AddField("parameters", &BindingCallbackEvent::parameters, "Callback parameters")
      .SetDescription("Represents the parameters of a call to a provided callback.")
      .AddTag("$builtin");
  registry.RegisterType<BindingGenericAsyncEvent>("BindingGenericAsyncEvent")
      .AddField("asyncToken", &BindingGenericAsyncEvent::asyncToken, "Asynchronous operation token")
      .AddField("data", &BindingGenericAsyncEvent::data, "Event data")
      .SetDescription("Represents generic data for an asynchronous event.")
      .AddTag("$builtin")
      .AddTag("async");
  registry.RegisterType<BindingAsyncFailureEvent>("BindingAsyncFailureEvent")
      .AddField("asyncToken", &BindingAsyncFailureEvent::asyncToken, "Asynchronous operation token")
      .AddField("error", &BindingAsyncFailureEvent::error, "Error message")
      .SetDescription("Represents a failed asynchronous operation.")
      .AddTag("$builtin")
      .AddTag("async");
  registry.RegisterType<BindingAsyncCancelEvent>("BindingAsyncCancelEvent")
      .AddField("asyncToken", &BindingAsyncCancelEvent::asyncToken, "Asynchronous operation token")
      .SetDescription("Represents a cancelled asynchronous operation.")
      .AddTag("$builtin")
      .AddTag("async");
}

}  // namespace

void RegisterBuiltinTypes(BindingRegistry& registry) {
  RegisterHelpTypes(registry);
  RegisterAsyncTypes(registry);
  registry.RegisterEvent("OnCallback", registry.FindTypeById(StaticType::HashCode<BindingCallbackEvent>()))
      .SetDescription("Fired when a callback is invoked.")
      .AddTag("$builtin");
}

}  // namespace Zarn
