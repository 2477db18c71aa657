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

tolvo::fuzz::SecretNotingMachine& Machine() {
  // Destroyed at exit, which removes the machine's temporary folder.
  static tolvo::fuzz::SecretNotingMachine machine;
  static const bool ready = [] {
    machine.version.redirectionDisabled = true;
    machine.currentDirectory = tolvo::fuzz::kKitFolder;
    machine.MakeDirectory(tolvo::fuzz::kKitFolder);
    return true;
  }();
  (void)ready;
  return machine;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  tolvo::fuzz::SecretNotingMachine& machine = Machine();
  tolvo::fuzz::StartInput(machine);
  const bool enterprise = (data[0] & 1) != 0;
  machine.WriteFile(tolvo::fuzz::kIniPath,
                    std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));
  tolvo::fuzz::RunPortSteps(machine, tolvo::PortConfigSource::ConfigFile, enterprise);
  return 0;
}
