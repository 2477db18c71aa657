// Fuzz target: registry configuration values of any type and length, read
// as an installation with "-r" reads them.
//
// Input: one byte of flags (lowest bit: Enterprise), then records of
//   subkey   1 byte: the port subkey "1" to "4"
//   name     1 byte: one of the configuration's value names, or, from the
//            number of names on, a name of up to 15 bytes taken from the input
//   type     1 byte: the value's registry type, any number
//   length   2 bytes, little-endian: bytes of data taken from the input
//   repeat   1 byte: the data is repeated this many more times (up to
//            200,000 bytes), so that short inputs make long values
// until the input ends. The values are stored under the edition's
// PortInstallCfg key of one simulated machine that serves every input; the
// key is removed again before the next input.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"

namespace {

constexpr const char* kStandardKey = "SOFTWARE\\Kestrum Corporation\\Tolvo\\PortInstallCfg";
constexpr const char* kEnterpriseKey = "SOFTWARE\\Kestrum Corporation\\TolvoE\\PortInstallCfg";
constexpr std::size_t kLongestValue = 200000;
constexpr std::size_t kLongestRawName = 15;

const char* const kValueNames[] = {
    "Description",
    "ServerIP",
    "ServerIP2",
    "ServerIP3",
    "ServerIP10",
    "IPLoadBalancing",
    "IPLoadBalancing2",
    "IPLoadBalancing10",
    "ServerPort",
    "LoadBalancing",
    "RefreshIPList",
    "Queue",
    "AuthType",
    "AuthText",
    "ComPort",
    "Projects",
    "Compression",
    "FaxServer",
    "LogToFile",
    "Encryption",
    "DefaultProjectID",
    "DisableServerCommunication",
    "ProtocolLevel",
    "JobOwnerMethod",
    "NetworkTimeout",
    "PriceEstimation",
    "PopupsForBWPrint",
    "ParserDPI",
    "SavePassword",
    "NoProjectOption",
    "LBNetworkTimeout",
    "LogFileSizeLimit",
    "LogFileCount",
    "SSLCertificateVerification",
    "CurrentUserNameFormat",
    "LogFilePath",
    "BWPrintTempDir",
    "Note",
    "RedirectToIP",
    "AssignPrinter",
    "AssignPrinter2",
    "AssignPrinter10",
};
constexpr std::size_t kValueNameCount = sizeof kValueNames / sizeof kValueNames[0];

tolvo::fuzz::PasswordSwappingMachine* Machines() {
  return tolvo::fuzz::Twins([](tolvo::fuzz::PasswordSwappingMachine& machine) {
    // A 32-bit system: the configuration key is read where it is stored.
    machine.version.wow64 = false;
    machine.currentDirectory = tolvo::fuzz::kKitFolder;
    machine.MakeDirectory(tolvo::fuzz::kKitFolder);
  });
}

class InputReader {
 public:
  InputReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool empty() const { return position_ >= size_; }
  std::uint8_t Byte() { return empty() ? 0 : data_[position_++]; }
  std::vector<std::uint8_t> Bytes(std::size_t count) {
    count = std::min(count, size_ - std::min(position_, size_));
    std::vector<std::uint8_t> bytes(data_ + position_, data_ + position_ + count);
    position_ += count;
    return bytes;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t position_ = 0;
};

std::string ValueName(InputReader& input) {
  const std::size_t selector = input.Byte();
  if (selector < kValueNameCount) {
    return kValueNames[selector];
  }
  const std::size_t length = (selector - kValueNameCount) % (kLongestRawName + 1);
  const std::vector<std::uint8_t> bytes = input.Bytes(length);
  return std::string(bytes.begin(), bytes.end());
}

void StoreValues(tolvo::sim::SimWindows& machine, const char* root, InputReader& input) {
  while (!input.empty()) {
    const std::string subkey = std::string(root) + "\\" + std::to_string(1 + input.Byte() % 4);
    const std::string name = ValueName(input);
    const DWORD type = input.Byte();
    std::size_t length = input.Byte();
    length |= static_cast<std::size_t>(input.Byte()) << 8;
    const std::size_t repeat = input.Byte();
    const std::vector<std::uint8_t> piece = input.Bytes(length);
    std::vector<BYTE> data;
    for (std::size_t i = 0; i <= repeat && data.size() + piece.size() <= kLongestValue; ++i) {
      data.insert(data.end(), piece.begin(), piece.end());
    }
    machine.registry.SetValue(subkey, name, type, std::move(data));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  tolvo::fuzz::PasswordSwappingMachine* machines = Machines();
  const bool enterprise = (data[0] & 1) != 0;
  const char* root = enterprise ? kEnterpriseKey : kStandardKey;
  for (int i = 0; i < 2; ++i) {
    tolvo::fuzz::StartInput(machines[i]);
    machines[i].registry.DeleteKey(root);
    InputReader input(data + 1, size - 1);
    StoreValues(machines[i], root, input);
  }
  tolvo::fuzz::RunPortSteps(machines[0], machines[1], tolvo::PortConfigSource::Registry,
                            enterprise);
  for (int i = 0; i < 2; ++i) {
    machines[i].registry.DeleteKey(root);
  }
  return 0;
}
