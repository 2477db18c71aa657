// One port's settings and where they are read from.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/run_context.h"

namespace tolvo {

inline constexpr int kConfigTextSize = 260;
inline constexpr int kServerAddressCount = 10;
inline constexpr int kPortNameLength = 9;

enum class PortConfigSource { ConfigFile, Registry };

// Fields in the order of the port-data record.
struct PortConfiguration {
  char Description[kConfigTextSize];
  char ServerIP[kServerAddressCount][kConfigTextSize];
  std::int32_t ServerPort;
  std::int32_t LoadBalancing;
  std::int32_t RefreshIPList;
  char Queue[kConfigTextSize];
  std::int32_t AuthType;
  char AuthText[kConfigTextSize];
  char ComPort[kConfigTextSize];
  std::int32_t Projects;
  std::int32_t Compression;
  std::int32_t FaxServer;
  std::int32_t LogToFile;
  std::int32_t Encryption;
  std::int32_t DefaultProjectID;
  std::int32_t DisableServerCommunication;
  char CurrentUserNameFormat[kConfigTextSize];
  std::int32_t ProtocolLevel;
  std::int32_t JobOwnerMethod;
  char LogFilePath[kConfigTextSize];
  std::int32_t NetworkTimeout;
  std::int32_t ParserDPI;
  std::int32_t PriceEstimation;
  std::int32_t PopupsForBWPrint;
  char BWPrintTempDir[kConfigTextSize];
  std::int32_t IPLoadBalancing[kServerAddressCount];
  std::int32_t SavePassword;
  std::int32_t NoProjectOption;
  char Note[kConfigTextSize];
  std::int32_t LBNetworkTimeout;
  char RedirectToIP[kConfigTextSize];
  std::int32_t LogFileSizeLimit;
  std::int32_t LogFileCount;
  std::int32_t SSLCertificateVerification;
  char PortName[kPortNameLength + 1];
};

// Whether a reader names the registry values it cannot use, as the
// installation does, or keeps quiet, as a check that reads them again does.
enum class ValueProblems { kReported, kIgnored };

// Reads the keys of one port: from its configuration-file section or from
// its registry subkey, both named by the port number. Whatever is missing
// gives the default.
class PortKeyReader {
 public:
  PortKeyReader(RunContext& context, PortConfigSource source, int portNumber,
                ValueProblems problems = ValueProblems::kReported);

  // A text of at most 259 characters; empty by default. A longer one is
  // cut. From the registry it must be a string value, and an integer a
  // REG_DWORD, a 4-byte REG_BINARY or a text read as the configuration
  // file's is; a value of another type gives the default. That and a cut
  // text are reported, naming the port and the key, unless ignored.
  void ReadText(const char* key, char (&field)[kConfigTextSize]);
  std::int32_t ReadInteger(const char* key, std::int32_t defaultValue);

 private:
  void ReportRegistryValue(const char* key, const char* problem);

  RunContext& context_;
  PortConfigSource source_;
  ValueProblems problems_;
  char section_[16];
};

// "ServerIP" for entry 1, "ServerIP2" ... "ServerIP10" after it.
void IndexedKeyName(const char* base, int entry, char (&name)[32]);

// Whether port `portNumber` is configured (its first server address is not
// empty), reading that one key and nothing else.
bool IsPortConfigured(RunContext& context, PortConfigSource source, int portNumber,
                      ValueProblems problems);

// Fills `config` for port `portNumber` from the chosen source. False when
// the port number is not configured (its first server address is empty).
// A port number whose name does not fit the nine characters of the port
// field leaves `PortName` empty: a cut name would be another port's name.
bool ReadPortConfiguration(RunContext& context, PortConfigSource source, int portNumber,
                           PortConfiguration& config);

// The name of port `portNumber` by the edition's format, cut to fit `name`.
// False when it had to be cut.
bool FormatPortName(const EditionProfile& profile, int portNumber, char* name,
                    std::size_t nameSize);

}  // namespace tolvo
