// Print spooler of the simulated machine.
#pragma once

namespace tolvo::sim {

struct SimSpoolerState {};

}  // namespace tolvo::sim
