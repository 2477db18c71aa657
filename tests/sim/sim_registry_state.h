// Registry and event log of the simulated machine.
#pragma once

namespace tolvo::sim {

struct SimRegistryState {};

}  // namespace tolvo::sim
