#include "portconfig/port_configuration.h"

#include <cstring>

#include "core/output.h"
#include "core/text.h"
#include "winenv/registry.h"

namespace tolvo {

namespace {

using TextField = char (PortConfiguration::*)[kConfigTextSize];
using IntegerField = std::int32_t PortConfiguration::*;

// One key after the server addresses: either a text or an integer field.
struct PortKey {
  const char* name;
  TextField text;
  IntegerField integer;
  std::int32_t defaultValue;
};

constexpr PortKey Text(const char* name, TextField field) {
  return {name, field, nullptr, 0};
}
constexpr PortKey Integer(const char* name, IntegerField field, std::int32_t defaultValue) {
  return {name, nullptr, field, defaultValue};
}

// The keys read once a port is known to be configured, in reading order.
// The monitor expects these defaults for keys a site leaves out.
const PortKey kRemainingKeys[] = {
    Integer("ServerPort", &PortConfiguration::ServerPort, 9100),
    Integer("LoadBalancing", &PortConfiguration::LoadBalancing, 1),
    Integer("RefreshIPList", &PortConfiguration::RefreshIPList, 1),
    Text("Queue", &PortConfiguration::Queue),
    Integer("AuthType", &PortConfiguration::AuthType, 1),
    Text("AuthText", &PortConfiguration::AuthText),
    Text("ComPort", &PortConfiguration::ComPort),
    Integer("Projects", &PortConfiguration::Projects, 0),
    Integer("Compression", &PortConfiguration::Compression, 0),
    Integer("FaxServer", &PortConfiguration::FaxServer, 0),
    Integer("LogToFile", &PortConfiguration::LogToFile, 0),
    Integer("Encryption", &PortConfiguration::Encryption, 0),
    Integer("DefaultProjectID", &PortConfiguration::DefaultProjectID, 0),
    Integer("DisableServerCommunication", &PortConfiguration::DisableServerCommunication, 0),
    Integer("ProtocolLevel", &PortConfiguration::ProtocolLevel, 4),
    Integer("JobOwnerMethod", &PortConfiguration::JobOwnerMethod, 0),
    Integer("NetworkTimeout", &PortConfiguration::NetworkTimeout, 60),
    Integer("PriceEstimation", &PortConfiguration::PriceEstimation, 0),
    Integer("PopupsForBWPrint", &PortConfiguration::PopupsForBWPrint, 0),
    Integer("ParserDPI", &PortConfiguration::ParserDPI, 72),
    Integer("SavePassword", &PortConfiguration::SavePassword, 0),
    Integer("NoProjectOption", &PortConfiguration::NoProjectOption, 1),
    Integer("LBNetworkTimeout", &PortConfiguration::LBNetworkTimeout, 60),
    Integer("LogFileSizeLimit", &PortConfiguration::LogFileSizeLimit, 20),
    Integer("LogFileCount", &PortConfiguration::LogFileCount, 3),
    Integer("SSLCertificateVerification", &PortConfiguration::SSLCertificateVerification, 0),
    Text("CurrentUserNameFormat", &PortConfiguration::CurrentUserNameFormat),
    Text("LogFilePath", &PortConfiguration::LogFilePath),
    Text("BWPrintTempDir", &PortConfiguration::BWPrintTempDir),
    Text("Note", &PortConfiguration::Note),
    Text("RedirectToIP", &PortConfiguration::RedirectToIP),
};

}  // namespace

PortKeyReader::PortKeyReader(RunContext& context, PortConfigSource source, int portNumber,
                             ValueProblems problems)
    : context_(context), source_(source), problems_(problems) {
  FormatBounded(section_, sizeof section_, "%d", portNumber);
}

void PortKeyReader::ReadText(const char* key, char (&field)[kConfigTextSize]) {
  field[0] = '\0';
  if (source_ == PortConfigSource::Registry) {
    char problem[64] = {};
    switch (ReadRegistryText(context_.api, section_, key, field, kConfigTextSize,
                             context_.profile.configRegistryKey)) {
      case RegistryRead::Cut:
        // Cut as the configuration file's reader cuts it, but not silently.
        FormatBounded(problem, sizeof problem, "is longer than %d characters, cut",
                      kConfigTextSize - 1);
        ReportRegistryValue(key, problem);
        break;
      case RegistryRead::Unusable:
        ReportRegistryValue(key, "is not a text (REG_SZ), left empty");
        break;
      case RegistryRead::Missing:
      case RegistryRead::Failed:
      case RegistryRead::Read:
        break;
    }
  } else {
    context_.api.GetPrivateProfileStringA(section_, key, "", field, kConfigTextSize,
                                          context_.settings.iniPath);
  }
  field[kConfigTextSize - 1] = '\0';
}

std::int32_t PortKeyReader::ReadInteger(const char* key, std::int32_t defaultValue) {
  if (source_ == PortConfigSource::Registry) {
    RegistryRead read = RegistryRead::Missing;
    const DWORD value =
        ReadRegistryDword(context_.api, section_, key, static_cast<DWORD>(defaultValue),
                          context_.profile.configRegistryKey, &read);
    if (read == RegistryRead::Unusable) {
      char problem[64] = {};
      FormatBounded(problem, sizeof problem, "is not a number, %d used",
                    static_cast<int>(defaultValue));
      ReportRegistryValue(key, problem);
    }
    return static_cast<std::int32_t>(value);
  }
  return static_cast<std::int32_t>(
      context_.api.GetPrivateProfileIntA(section_, key, defaultValue, context_.settings.iniPath));
}

void PortKeyReader::ReportRegistryValue(const char* key, const char* problem) {
  if (problems_ == ValueProblems::kIgnored) {
    return;
  }
  context_.output.PrintFormatted("    ERROR - Port %s: registry value %s %s\n", section_, key,
                                 problem);
}

void IndexedKeyName(const char* base, int entry, char (&name)[32]) {
  if (entry == 1) {
    CopyBounded(name, sizeof name, base);
  } else {
    FormatBounded(name, sizeof name, "%s%d", base, entry);
  }
}

bool FormatPortName(const EditionProfile& profile, int portNumber, char* name,
                    std::size_t nameSize) {
  return FormatBounded(name, nameSize, profile.portNameFormat, portNumber);
}

bool IsPortConfigured(RunContext& context, PortConfigSource source, int portNumber,
                      ValueProblems problems) {
  PortKeyReader reader(context, source, portNumber, problems);
  char firstAddress[kConfigTextSize];
  reader.ReadText("ServerIP", firstAddress);
  return firstAddress[0] != '\0';
}

bool ReadPortConfiguration(RunContext& context, PortConfigSource source, int portNumber,
                           PortConfiguration& config) {
  std::memset(&config, 0, sizeof config);
  PortKeyReader reader(context, source, portNumber);

  reader.ReadText("Description", config.Description);
  for (int entry = 1; entry <= kServerAddressCount; ++entry) {
    char key[32];
    IndexedKeyName("ServerIP", entry, key);
    reader.ReadText(key, config.ServerIP[entry - 1]);
    IndexedKeyName("IPLoadBalancing", entry, key);
    config.IPLoadBalancing[entry - 1] = reader.ReadInteger(key, 0);
  }
  if (config.ServerIP[0][0] == '\0') {
    return false;
  }

  for (const PortKey& key : kRemainingKeys) {
    if (key.text != nullptr) {
      reader.ReadText(key.name, config.*key.text);
    } else {
      config.*key.integer = reader.ReadInteger(key.name, key.defaultValue);
    }
  }

  // An Enterprise port cut off from its server must not encrypt or refresh
  // its address list.
  if (context.settings.enterpriseEdition && config.DisableServerCommunication != 0) {
    config.Encryption = 0;
    config.RefreshIPList = 0;
  }

  if (!FormatPortName(context.profile, portNumber, config.PortName, sizeof config.PortName)) {
    config.PortName[0] = '\0';
  }
  return true;
}

}  // namespace tolvo
