// The checks' scratch area on the simulated Windows: a fresh machine per
// check, as a 32-bit process on 64-bit Windows unless TOLVO_CHECKS_WOW64 is
// "0" (ctest runs the checks both ways). Every check must leave nothing
// open.
#include <cstdlib>
#include <string>

#include "conformance/check.h"
#include "sim/sim_windows.h"

namespace tolvo::checks {
namespace {

class SimScratch final : public Scratch {
 public:
  explicit SimScratch(const std::string& checkName) : folder_("C:\\Temp\\" + checkName) {
    const char* wow64 = std::getenv("TOLVO_CHECKS_WOW64");
    machine_.version.wow64 = wow64 == nullptr || std::string(wow64) != "0";
    machine_.MakeDirectory(folder_);
    for (const char* port : {"LPT1:", "COM1:", "FILE:"}) {
      machine_.spooler.AddPort(port, "Local Port", "Local Port");
    }
  }
  ~SimScratch() override { EXPECT_EQ(machine_.OpenResources(), std::vector<std::string>{}); }

  WinApi& api() override { return machine_; }
  bool wine() const override { return false; }
  bool wow64() const override { return machine_.version.wow64; }
  const std::string& folder() const override { return folder_; }
  void WriteFile(const std::string& path, std::string_view content) override {
    machine_.WriteFile(path, content);
  }
  std::string ReadFile(const std::string& path) override {
    return machine_.ReadFile(path).value_or("");
  }
  void HoldOpen(const std::string& path) override {
    machine_.fileSystem.Lock(machine_.FullPath(path));
  }
  bool WritableThoughReadOnly(const std::string&) override { return false; }
  std::string Printer() override {
    if (machine_.spooler.FindPrinter(kPrinter) == nullptr) {
      machine_.spooler.AddPrinter(kPrinter, "LPT1:");
    }
    return kPrinter;
  }
  std::string Monitor() override {
    if (machine_.spooler.FindMonitor(kMonitor) == nullptr) {
      machine_.spooler.AddMonitor(kMonitor, kTestMonitorDll, "");
    }
    return kMonitor;
  }

 private:
  static constexpr const char* kPrinter = "Tolvo Check B\xFCro";
  static constexpr const char* kMonitor = "Tolvo Check";
  sim::SimWindows machine_;
  std::string folder_;
};

}  // namespace

std::unique_ptr<Scratch> MakeScratch(const std::string& checkName) {
  return std::make_unique<SimScratch>(checkName);
}

}  // namespace tolvo::checks
