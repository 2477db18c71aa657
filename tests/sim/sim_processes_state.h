// Environment and processes of the simulated machine.
#pragma once

namespace tolvo::sim {

struct SimProcessesState {};

}  // namespace tolvo::sim
