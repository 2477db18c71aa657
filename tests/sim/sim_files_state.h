// File-system details of the simulated machine beyond the host folder.
#pragma once

namespace tolvo::sim {

struct SimFilesState {};

}  // namespace tolvo::sim
