// The PE headers of the DLLs the installation copies, read with every
// bound checked.
#include "winenv/windows_image.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/sim_image.h"

namespace tolvo {
namespace {

constexpr const char* kEntry = "InitializePrintMonitor2";

std::string Patched(std::string image, std::size_t at, char byte) {
  image[at] = byte;
  return image;
}

TEST(WindowsImage, HeadersAreReadWithinTheirBounds) {
  const std::string monitor = sim::WindowsDllImage(kImageMachineAmd64, {"Other", kEntry}, "x");
  const struct {
    const char* name;
    std::string image;
    bool dll;
    WORD machine;
    bool exports;
  } cases[] = {
      {"64-bit monitor", monitor, true, kImageMachineAmd64, true},
      {"32-bit monitor", sim::WindowsDllImage(kImageMachineI386, {kEntry}, "x"), true,
       kImageMachineI386, true},
      {"no entry point", sim::WindowsDllImage(kImageMachineAmd64, {"Other"}, "x"), true,
       kImageMachineAmd64, false},
      {"not an image", "kit:TOLVOVS64.DLL", false, 0, false},
      {"cut in the file header", monitor.substr(0, 0x50), false, 0, false},
      {"cut before the exports' names", monitor.substr(0, 0x220), true, kImageMachineAmd64, false},
      {"a program, not a DLL", Patched(monitor, 0x57, 0), false, kImageMachineAmd64, true},
      {"32-bit header for a 64-bit machine", Patched(monitor, 0x59, 1), false, kImageMachineAmd64,
       false},
      {"names outside the file", Patched(monitor, 0x222, 0x7F), true, kImageMachineAmd64, false},
  };
  for (const auto& c : cases) {
    const ImageFacts facts =
        InspectImage(std::vector<BYTE>(c.image.begin(), c.image.end()), kEntry);
    EXPECT_EQ(facts.dll, c.dll) << c.name;
    EXPECT_EQ(facts.machine, c.machine) << c.name;
    EXPECT_EQ(facts.exports, c.exports) << c.name;
  }
}

}  // namespace
}  // namespace tolvo
