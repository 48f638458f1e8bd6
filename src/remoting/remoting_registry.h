// The plugin's registry of routes, types and events: a binding registry that
// starts with the built-in types.
#pragma once

#include "binding/binding_registry.h"
#include "binding/host_description.h"

namespace Zarn {

class RemotingRegistry : public BindingRegistry {
 public:
  RemotingRegistry() { InitializeBuiltins(); }

  // Builds the API description of everything registered, from snapshots of
  // the functions, types and events. The block and the records it points to
  // stay valid until the next call or destruction. Throws std::bad_alloc
  // when memory runs out.
  const HostApiDescriptionBlock& PublishDescription() {
    description_ = descriptionBuilder_.BuildHostDescription(Functions(), Types(), Events());
    return description_;
  }

 private:
  HostDescriptionBuilder descriptionBuilder_;
  HostApiDescriptionBlock description_{};
};

}  // namespace Zarn
