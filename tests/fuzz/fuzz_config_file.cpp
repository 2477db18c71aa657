// Fuzz target: the bytes of Tolvo.ini through the port configuration.
//
// The first byte chooses the edition (its lowest bit: Enterprise); the rest
// is the configuration file, written into the kit folder of one simulated
// machine that serves every input. The walk creates the ports through the
// simulated monitor and assigns printers, then each port number is read on
// its own and its port-data record built and checked; all of it traced,
// and the trace checked.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/fuzz_support.h"

namespace {

tolvo::fuzz::PasswordSwappingMachine* Machines() {
  return tolvo::fuzz::Twins([](tolvo::fuzz::PasswordSwappingMachine& machine) {
    machine.version.redirectionDisabled = true;
    machine.currentDirectory = tolvo::fuzz::kKitFolder;
    machine.MakeDirectory(tolvo::fuzz::kKitFolder);
  });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  tolvo::fuzz::PasswordSwappingMachine* machines = Machines();
  for (int i = 0; i < 2; ++i) {
    tolvo::fuzz::StartInput(machines[i]);
    machines[i].WriteFile(tolvo::fuzz::kIniPath,
                          std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));
  }
  const bool enterprise = (data[0] & 1) != 0;
  tolvo::fuzz::RunPortSteps(machines[0], machines[1], tolvo::PortConfigSource::ConfigFile,
                            enterprise);
  return 0;
}
