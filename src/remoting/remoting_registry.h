// The plugin's registry of routes, types and events.
#pragma once

#include "binding/host_description.h"

namespace Zarn {

class RemotingRegistry {
 public:
  RemotingRegistry() = default;
  RemotingRegistry(const RemotingRegistry&) = delete;
  RemotingRegistry& operator=(const RemotingRegistry&) = delete;
  virtual ~RemotingRegistry() = default;

  // Builds the API description of everything registered. The block and the
  // records it points to stay valid until the next call or destruction.
  const HostApiDescriptionBlock& PublishDescription() { return description_; }

 private:
  HostApiDescriptionBlock description_{};
};

}  // namespace Zarn
