// Whole runs of Install.exe with hostile input in every place it takes
// input from: over-long arguments and paths, "%" and bytes 0x80 to 0xFF in
// every text, configuration files that are empty, binary or repeat
// themselves, port numbers at the edge of the port-name field, and
// registry values of the wrong type, without terminator, of one byte and
// of 100,000 bytes.
//
// Each case names the exit code and the transcript lines that matter, in
// the order they must appear (each one a whole line), and lines that must
// not appear. Every run must also leave nothing open, keep the run log in
// step with the console and never overrun a buffer (the sanitizers watch).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "portconfig/monitor_channel.h"
#include "portconfig/port_configuration.h"
#include "scenarios/machine_fixture.h"

namespace tolvo::scenario {
namespace {

constexpr const char* kConfigKey32 =
    "SOFTWARE\\Wow6432Node\\Kestrum Corporation\\Tolvo\\PortInstallCfg";
constexpr const char* kEnterpriseConfigKey32 =
    "SOFTWARE\\Wow6432Node\\Kestrum Corporation\\TolvoE\\PortInstallCfg";

// Texts with both a format directive and bytes of the upper half of the
// ANSI code page.
const std::string kPercentHigh = "%s%n%d\x80\xE9\xFF";

struct HostileCase {
  std::string name;
  std::vector<std::string> arguments;
  std::function<void(MachineFixture&)> prepare;
  int exitCode = 0;
  std::vector<std::string> lines;   // whole lines, in this order
  std::vector<std::string> absent;  // text that must not appear at all
  std::function<void(MachineFixture&)> check;
  // A password: no piece of it (8 bytes) in the console, the run log or the
  // trace, but inside `names`, nor its length in the trace; the error stream.
  std::string password = {};
  std::vector<std::string> names = {};
  std::string standardError = {};
};

void ExpectNoPieceOf(const HostileCase& c, std::string text, const char* where) {
  EXPECT_TRUE(c.names.empty() || text.find(c.names[0]) != std::string::npos) << where;
  for (std::size_t at; !c.names.empty() && (at = text.find(c.names[0])) != std::string::npos;) {
    text.erase(at, c.names[0].size());
  }
  const std::size_t piece = std::min<std::size_t>(8, c.password.size());
  for (std::size_t i = 0; i + piece <= c.password.size(); ++i) {
    ASSERT_EQ(text.find(c.password.substr(i, piece)), std::string::npos) << where << ":\n" << text;
  }
}

// The lines that read a password show no size, nor its length (with or without the terminator).
void ExpectNoLengthOf(const std::string& password, const std::string& trace) {
  std::istringstream lines(trace);
  for (std::string line; std::getline(lines, line);) {
    if (line.find("\"AuthText\"") == std::string::npos) {
      continue;
    }
    const std::string call = line.substr(line.find_first_not_of(" 0123456789"));
    EXPECT_FALSE(std::regex_search(call, std::regex("buffer|size|bytes"))) << call;
    for (const std::size_t n : {password.size(), password.size() + 1}) {
      std::ostringstream number;
      number << "\\b(" << n << "|0x" << std::hex << n << ")\\b";
      EXPECT_FALSE(std::regex_search(call, std::regex(number.str()))) << call;
    }
  }
}

std::string Line(const std::string& text) {
  return text + "\n";
}

// A port's line, which shows a mask in place of a password.
std::string PortLine(const std::string& address, int port, const std::string& description,
                     const std::string& queue, int type, const std::string& authText) {
  return "    New - IP:" + address + ":" + std::to_string(port) + ", Desc:" + description +
         ", Queue:" + queue + ", Type:" + std::to_string(type) + " " +
         (authText.empty() ? "" : "********") + "\n";
}

std::vector<BYTE> Bytes(const std::string& text) {
  return std::vector<BYTE>(text.begin(), text.end());
}

void WriteIni(MachineFixture& f, const std::string& content) {
  f.machine.WriteFile(kIniPath, content);
}

// Seeds the registry configuration of ports 1 to `count`, each with one
// server address, in the 32-bit view the installer reads.
void SeedRegistryPorts(MachineFixture& f, const char* root, int count) {
  for (int port = 1; port <= count; ++port) {
    f.machine.registry.SetString(std::string(root) + "\\" + std::to_string(port), "ServerIP",
                                 "10.0.0.1");
  }
}

std::string Port1Key() {
  return std::string(kConfigKey32) + "\\1";
}

// A port of the typical configuration file with `extra` lines added.
std::string Section1(const std::string& extra) {
  return "[1]\r\nServerIP=192.168.10.5\r\n" + extra;
}

std::vector<HostileCase> Cases() {
  std::vector<HostileCase> cases;
  const std::string server300 = "\\\\" + std::string(298, 's');
  const std::string long5000 = std::string(5000, 'x');

  // --- Command line -------------------------------------------------------------
  // A name that is no server, or too long for the monitor's channel, is
  // refused before anything changes, and shown whole.
  const auto refused = [](const std::string& name) {
    return Line("ERROR: '" + name +
                "' Is Not a Server Name (give \\\\NAME, at most 241 characters).");
  };
  const auto nothingChanged = [](MachineFixture& f) {
    EXPECT_EQ(f.machine.CallCount("DeleteMonitorA") + f.machine.CallCount("SetPrinterA") +
                  f.machine.CallCount("CreateProcessA"),
              0);
  };
  cases.push_back({"ServerNameOf5000Characters",
                   {long5000},
                   nullptr,
                   -1,
                   {Line("Installing Tolvo Port Monitor on server " + long5000 + "..."),
                    refused(long5000), Line("Tolvo Port Monitor Not Installed!")},
                   {"  - Detecting Windows Version"},
                   nothingChanged});
  cases.push_back({"ServerNameOf300Characters",
                   {server300},
                   nullptr,
                   -1,
                   {refused(server300), Line("Tolvo Port Monitor Not Installed!")},
                   {},
                   nothingChanged});
  cases.push_back({"UnknownSwitchOf5000CharactersIsTheServerName",
                   {"-" + long5000, "-u"},
                   nullptr,
                   -1,
                   {Line("Uninstalling Tolvo Port Monitor on server -" + long5000 + "..."),
                    refused("-" + long5000), Line(" Port Monitor Not Completely UnInstalled!")},
                   {},
                   nothingChanged});
  // Remembered printers that cannot be put back: each is named, however
  // long its name, one that no longer exists is forgotten, and the run goes
  // on; a printer with a name of 300 characters is put back.
  cases.push_back(
      {"DamagedRememberedPrinters",
       {},
       [](MachineFixture& f) {
         const auto remember = [&f](const std::string& printer, DWORD type, std::string data) {
           f.machine.registry.SetValue(kReleasedPrinters, printer, type, Bytes(data));
         };
         remember("Gone", REG_MULTI_SZ, std::string("LPT1:\0FILE:\0", 13));
         remember("Reception", REG_SZ, "LPT1:");
         remember("Overlong", REG_MULTI_SZ, std::string(40000, 'x') + std::string("\0FILE:\0", 8));
         remember(std::string(300, 'n'), REG_SZ, "LPT1:");
         f.machine.spooler.AddPrinter(std::string(300, 'p'), "FILE:");
         remember(std::string(300, 'p'), REG_MULTI_SZ, std::string("LPT1:\0FILE:\0", 13));
       },
       0,
       {Line("    (Printer 'Gone' No Longer Exists)"),
        Line("    ERROR - Remembered Ports of Printer '" + std::string(300, 'n') + "' Are Damaged"),
        Line("    ERROR - Remembered Ports of Printer 'Overlong' Are Damaged"),
        Line("  - Reconnecting Printer '" + std::string(300, 'p') + "' to Port LPT1:"),
        Line("    ERROR - Remembered Ports of Printer 'Reception' Are Damaged"),
        Line("Tolvo Port Monitor Installed Sucessfully.")},
       {},
       [](MachineFixture& f) {
         EXPECT_EQ(f.machine.registry.ValueNames(kReleasedPrinters).size(), 3u);
         EXPECT_EQ(f.machine.spooler.PrinterPorts(std::string(300, 'p')), "LPT1:");
       }});
  // A remembered-printers key an ordinary user may change is not trusted:
  // the run stops before its first change, its records unused; not with
  // "-e" either, as the printers it releases would wait on FILE: for records
  // the run cannot trust.
  const auto untrustedKey = [](const char* name, std::vector<std::string> arguments,
                               const char* key, const char* account, const char* line) {
    return HostileCase{name,
                       std::move(arguments),
                       [key, account](MachineFixture& f) {
                         f.machine.registry.CreateKey(key);
                         f.machine.registry.FindKey(key)->security =
                             std::string("O:BAD:(A;;KA;;;SY)(A;;KA;;;BA)(A;;KA;;;") + account + ")";
                       },
                       -1,
                       {Line(line)},
                       {"Removing Old"},
                       [](MachineFixture& f) { EXPECT_EQ(f.machine.CallCount("SetPrinterA"), 0); }};
  };
  cases.push_back(untrustedKey("RememberedKeyUsersMayChange", {}, kReleasedPrinters, "BU",
                               "    ERROR - HKLM\\SOFTWARE\\Kestrum Corporation\\Tolvo\\"
                               "ReleasedPrinters can be changed by BUILTIN\\Users, not trusted"));
  cases.push_back(untrustedKey(
      "RememberedKeyUsersMayChangeWithIgnoreErrors", {"-e"}, kAssignedPrinters, "AU",
      "    ERROR - HKLM\\SOFTWARE\\Kestrum Corporation\\Tolvo\\AssignedPrinters can be "
      "changed by NT AUTHORITY\\Authenticated Users, not trusted"));
  // A configuration a lesser account may change would move printers and
  // send their jobs where that account says: refused before the first
  // change, "-e" or not (the file under Wine as Everyone's; the accounts
  // other than Everyone, and the "-r" keys, here).
  cases.push_back({"ConfigurationKeyPowerUsersMayChange",
                   {"-e", "-r"},
                   [](MachineFixture& f) {
                     SeedRegistryPorts(f, kConfigKey32, 2);
                     f.machine.registry.FindKey(std::string(kConfigKey32) + "\\2")->security =
                         "O:BAD:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)(A;CI;KW;;;PU)";
                   },
                   -1,
                   {Line("ERROR: BUILTIN\\Power Users can change 'HKLM\\SOFTWARE\\Kestrum "
                         "Corporation\\Tolvo\\PortInstallCfg\\2'; only administrators may be "
                         "able to change the configuration the installation reads.")},
                   {"Removing Old"},
                   [](MachineFixture& f) { EXPECT_EQ(f.machine.CallCount("DeleteMonitorA"), 0); }});
  // The run log cannot be opened: by design nothing at all is printed.
  cases.push_back({"LogPathOf5000Characters",
                   {"-l" + long5000},
                   nullptr,
                   -1,
                   {},
                   {"Tolvo"},
                   [](MachineFixture& f) {
                     EXPECT_EQ(f.machine.console, "");
                     EXPECT_EQ(f.machine.CallCount("DeleteMonitorA"), 0);
                   }});
  cases.push_back({"LogPathOf1100Characters",
                   {"-lC:\\Windows\\" + std::string(1100 - 11, 'l')},
                   nullptr,
                   -1,
                   {},
                   {"Tolvo"},
                   [](MachineFixture& f) { EXPECT_EQ(f.machine.console, ""); }});
  // The path is kept to its first 1023 characters, which name no file.
  cases.push_back({"IniPathOf5000Characters",
                   {"-i" + long5000},
                   nullptr,
                   -1,
                   {Line("  - Checking Files"), Line("ERROR While Checking 'Tolvo.ini'."),
                    Line("Tolvo Port Monitor Not Installed!")},
                   {"Sucessfully"},
                   nullptr});
  cases.push_back(
      {"IniPathOf1100Characters",
       {"-iC:\\Kit\\" + std::string(1100 - 7, 'i')},
       nullptr,
       -1,
       {Line("ERROR While Checking 'Tolvo.ini'."), Line("Tolvo Port Monitor Not Installed!")},
       {"Sucessfully", "  - Removing Old"},
       nullptr});
  // With "-r" the configuration file is neither needed nor read.
  cases.push_back(
      {"IniPathOf1100CharactersWithRegistryConfiguration",
       {"-iC:\\Kit\\" + std::string(1100 - 7, 'i'), "-r"},
       nullptr,
       0,
       {Line("  (config will be read from registry)"), Line("  - Adding port configuration"),
        Line("  - Event Log Resources WAS installed"),
        Line("Tolvo Port Monitor Installed Sucessfully.")},
       {"ERROR", "    New - "},
       nullptr});
  // A long path keeps "/" inside names, which Windows refuses: no log can
  // be opened, and no file appears anywhere the slashes might lead.
  cases.push_back(
      {"LongLogPathWithSlashes",
       {"-l\\\\?\\C:\\Windows\\a/../../../escape.log"},
       nullptr,
       -1,
       {},
       {"Tolvo"},
       [](MachineFixture& f) {
         const std::filesystem::path root = f.machine.hostRoot();
         for (const std::filesystem::path& folder :
              {root.parent_path(), root, root / "C", root / "C" / "Windows"}) {
           for (const auto& entry : std::filesystem::directory_iterator(folder)) {
             EXPECT_EQ(entry.path().filename().string().find("escape"), std::string::npos)
                 << entry.path();
           }
         }
       }});

  // --- Passwords: never shown, whatever they hold ------------------------------------
  std::string longPassword;
  while (longPassword.size() < 259) {
    longPassword += "Qz~" + std::to_string(longPassword.size());
  }
  const auto readable = [](const std::string& where) {
    return "Warning: the password (AuthText) in " + where +
           " can be read by BUILTIN\\Users: let only SYSTEM and the administrators read it\n";
  };
  const std::string file = readable("\"C:\\Kit\\Tolvo.ini\"");
  const std::string key = readable(
      "the registry key \"HKEY_LOCAL_MACHINE\\SOFTWARE\\Kestrum "
      "Corporation\\Tolvo\\PortInstallCfg\\1\"");
  struct PasswordRow {
    const char* name;
    std::string password;
    bool fromRegistry;
    std::string security;  // the key's; empty: as the machine makes it (users may read)
    std::string standardError;
  };
  const PasswordRow passwords[] = {
      {"ShortPassword", "Qz", false, "", file},
      {"PasswordInsideAPrinterName", "Laser", false, "", file},
      // Shift-JIS: a hiragana, a katakana whose second byte is a backslash.
      {"PasswordWithDoubleByteCharacters", "p\x82\xA0\x83\x5C\xE9w", false, "", file},
      {"PasswordOverSeveralLines", longPassword.substr(0, 259), false, "", file},
      {"ShortPasswordFromTheRegistry", "Qz", true, "", key},
      {"LongPasswordFromAnAdministratorsOnlyKey", longPassword.substr(0, 259), true,
       "O:BAD:P(A;;KA;;;SY)(A;;KA;;;BA)", ""}};
  for (const PasswordRow& row : passwords) {
    const std::string ini =
        Section1("AuthText=" + row.password + "\r\nAssignPrinter=Office Laser\r\n");
    cases.push_back({row.name,
                     row.fromRegistry ? std::vector<std::string>{"-r"} : std::vector<std::string>{},
                     [ini, row](MachineFixture& f) {
                       f.machine.ansiCodePage = 932;
                       WriteIni(f, ini);
                       if (row.fromRegistry) {
                         f.machine.registry.SetString(Port1Key(), "ServerIP", "192.168.10.5");
                         f.machine.registry.SetString(Port1Key(), "AuthText", row.password);
                         f.machine.registry.SetString(Port1Key(), "AssignPrinter", "Office Laser");
                         if (!row.security.empty()) {
                           f.machine.registry.FindKey(Port1Key())->security = row.security;
                         }
                       }
                     },
                     0,
                     {PortLine("192.168.10.5", 9100, "", "", 1, row.password),
                      Line("    Printer 'Office Laser' assigned to port Tolvo001")},
                     {},
                     nullptr,
                     row.password,
                     {"Office Laser"},
                     row.standardError});
  }

  // --- "%" and upper-half bytes in every text ----------------------------------------
  cases.push_back(
      {"PercentAndHighBytesInServerLogAndIniPaths",
       {"\\\\srv" + kPercentHigh, "-lC:\\Windows\\log" + kPercentHigh + ".txt",
        "-iC:\\Kit\\conf" + kPercentHigh + ".ini"},
       [](MachineFixture& f) {
         f.machine.WriteFile("C:\\Kit\\conf" + kPercentHigh + ".ini",
                             Section1("Description=" + kPercentHigh + "\r\nQueue=" + kPercentHigh +
                                      "\r\nAuthText=" + kPercentHigh +
                                      "\r\nAssignPrinter=" + kPercentHigh + "\r\n"));
       },
       0,
       {Line("Installing Tolvo Port Monitor on server \\\\srv" + kPercentHigh + "..."),
        PortLine("192.168.10.5", 9100, kPercentHigh, kPercentHigh, 1, kPercentHigh),
        Line("    ERROR - Printer " + kPercentHigh + " NOT assigned to port Tolvo001"),
        Line("Tolvo Port Monitor Installed Sucessfully.")},
       {},
       [](MachineFixture& f) {
         // The log is where -l named it, holding the transcript.
         EXPECT_EQ(f.machine.ReadFile("C:\\Windows\\log" + kPercentHigh + ".txt"),
                   WithCrlf(WithoutLinesStartingWith(f.machine.console, kConsoleOnlyPrefix)));
         EXPECT_FALSE(f.machine.Exists(kRunLogPath));
       }});
  cases.push_back(
      {"PercentAndHighBytesInEveryConfigurationText",
       {},
       [](MachineFixture& f) {
         std::string section = "[1]\r\n";
         for (const char* key :
              {"Description", "ServerIP", "ServerIP2", "ServerIP10", "Queue", "AuthText", "ComPort",
               "CurrentUserNameFormat", "LogFilePath", "BWPrintTempDir", "Note", "RedirectToIP"}) {
           section += std::string(key) + "=" + kPercentHigh + "\r\n";
         }
         section += "ServerPort=%d\r\nAssignPrinter=Office Laser\r\n";
         WriteIni(f, section);
       },
       0,
       {PortLine(kPercentHigh, 0, kPercentHigh, kPercentHigh, 1, kPercentHigh),
        Line("    Printer 'Office Laser' assigned to port Tolvo001")},
       {},
       [](MachineFixture& f) {
         // Every text reaches the monitor widened byte by byte in the
         // simulated ANSI code page, its format directives untouched.
         const auto record = f.machine.spooler.StoredRecord("Tolvo001");
         ASSERT_TRUE(record.has_value());
         EXPECT_EQ(sim::NarrowFromUtf16(record->data() + 9480, 260).substr(0, 6), "%s%n%d");
       }});

  // --- Configuration files ----------------------------------------------------------
  cases.push_back(
      {"EmptyConfigurationFile",
       {},
       [](MachineFixture& f) { WriteIni(f, ""); },
       0,
       {Line("  - Adding port configuration"), Line("  - Event Log Resources WAS installed"),
        Line("Tolvo Port Monitor Installed Sucessfully.")},
       {"    New - ", "ERROR"},
       [](MachineFixture& f) { EXPECT_EQ(f.machine.spooler.FindPort("Tolvo001"), nullptr); }});
  cases.push_back(
      {"BinaryConfigurationFile",
       {},
       [](MachineFixture& f) {
         std::string binary;
         std::uint32_t state = 12345;
         for (int i = 0; i < 8192; ++i) {
           state = state * 1103515245u + 12345u;
           binary += static_cast<char>(state >> 24);
         }
         WriteIni(f, binary);
       },
       0,
       {Line("  - Adding port configuration"), Line("Tolvo Port Monitor Installed Sucessfully.")},
       {"    New - ", "ERROR"},
       nullptr});
  cases.push_back({"BinaryBytesAroundAConfiguredSection",
                   {},
                   [](MachineFixture& f) {
                     using namespace std::string_literals;
                     WriteIni(f,
                              "\x00\x01\x80\x90 garbage\r\n"
                              "[1]\r\nServerIP=10.1.2.3\r\nDescription=a\x00"
                              "b\r\n\x00\x00\x00\r\n[\x01]\r\n"s);
                   },
                   0,
                   {PortLine("10.1.2.3", 9100, "a", "", 1, ""),
                    Line("Tolvo Port Monitor Installed Sucessfully.")},
                   {"ERROR"},
                   nullptr});
  // Windows reads a file with the UTF-8 mark as ANSI, "[1]" lost to the mark
  // (one in UTF-16 installs: see the Wine cases).
  cases.push_back({"ConfigurationFileWithTheUtf8Mark",
                   {},
                   [](MachineFixture& f) { WriteIni(f, "\xEF\xBB\xBF" + Section1("")); },
                   -1,
                   {Line("ERROR: 'C:\\Kit\\Tolvo.ini' begins with a UTF-8 byte-order mark, which "
                         "Windows does not read: save it without the mark, or as UTF-16")},
                   {"  - Port "},
                   nothingChanged});
  // Wine has no spooler service to stop.
  cases.push_back({"StoppedSpoolerOnAServer",
                   {"\\\\print%s", "-u"},
                   [](MachineFixture& f) { f.machine.StopSpooler(); },
                   -1,
                   {Line("ERROR: The print spooler on \\\\print%s cannot be reached (error 1722): "
                         "check the name, and start it there with 'sc \\\\print%s start spooler'")},
                   {},
                   nothingChanged});
  // The first section of a name and the first key of a name within it win,
  // as Windows reads profile files.
  cases.push_back(
      {"DuplicateSectionsAndKeys",
       {},
       [](MachineFixture& f) {
         WriteIni(f,
                  "[1]\r\nServerIP=10.0.0.1\r\nServerIP=10.0.0.2\r\nQueue=first\r\n"
                  "Queue=second\r\nAssignPrinter=Office Laser\r\n"
                  "[1]\r\nServerIP=10.0.0.9\r\nDescription=duplicate\r\n"
                  "[2]\r\nServerIP=10.0.0.3\r\n[2]\r\nServerIP=10.0.0.4\r\n");
       },
       0,
       {PortLine("10.0.0.1", 9100, "", "first", 1, ""), PortLine("10.0.0.3", 9100, "", "", 1, ""),
        Line("    Printer 'Office Laser' assigned to port Tolvo001")},
       {"duplicate", "10.0.0.9", "10.0.0.4", "second"},
       nullptr});
  // Values of 10,000 characters are cut to 259; the port line holding
  // three of them and the password's mask fits the message buffer.
  cases.push_back(
      {"ConfigurationValuesOf10000Characters",
       {},
       [](MachineFixture& f) {
         WriteIni(f, "[1]\r\nServerIP=" + std::string(10000, 'a') + "\r\nDescription=" +
                         std::string(10000, 'd') + "\r\nQueue=" + std::string(10000, 'q') +
                         "\r\nAuthText=" + std::string(10000, 't') +
                         "\r\nNote=" + std::string(10000, 'n') +
                         "\r\nAssignPrinter=" + std::string(10000, 'p') + "\r\n");
       },
       0,
       {PortLine(std::string(259, 'a'), 9100, std::string(259, 'd'), std::string(259, 'q'), 1,
                 std::string(259, 't')),
        Line("    ERROR - Printer " + std::string(259, 'p') + " NOT assigned to port Tolvo001"),
        Line("Tolvo Port Monitor Installed Sucessfully.")},
       {},
       [](MachineFixture& f) {
         const auto record = f.machine.spooler.StoredRecord("Tolvo001");
         ASSERT_TRUE(record.has_value());
         EXPECT_EQ(sim::NarrowFromUtf16(record->data() + 8956, 260), std::string(259, 'n'));
       }});

  // --- Port numbers at the edge of the port-name field --------------------------------
  // Port n is reached only after ports 1 to n - 1, so these runs create a
  // thousand ports each (from the registry, the quicker source). Port
  // 10000 is read on its own below.
  cases.push_back({"Standard1000PortsFitTheNameField",
                   {"-r"},
                   [](MachineFixture& f) { SeedRegistryPorts(f, kConfigKey32, 1000); },
                   0,
                   {Line("  - Adding port configuration"),
                    Line("    New - IP:10.0.0.1:9100, Desc:, Queue:, Type:1 "),
                    Line("  - Event Log Resources WAS installed"),
                    Line("Tolvo Port Monitor Installed Sucessfully.")},
                   {"ERROR"},
                   [](MachineFixture& f) {
                     EXPECT_NE(f.machine.spooler.FindPort("Tolvo999"), nullptr);
                     ASSERT_NE(f.machine.spooler.FindPort("Tolvo1000"), nullptr);
                     const auto record = f.machine.spooler.StoredRecord("Tolvo1000");
                     ASSERT_TRUE(record.has_value());
                     EXPECT_EQ(sim::NarrowFromUtf16(record->data() + 10012, 10), "Tolvo1000");
                   }});
  // TolvoE999 fills the nine characters; TolvoE1000 cut to fit would be
  // TolvoE100 and overwrite that port's settings, so the walk ends there.
  cases.push_back(
      {"Enterprise1000thPortIsRefused",
       {"-a", "-r"},
       [](MachineFixture& f) { SeedRegistryPorts(f, kEnterpriseConfigKey32, 1000); },
       0,
       {Line("    New - IP:10.0.0.1:9100, Desc:, Queue:, Type:1 "),
        Line("    ERROR - Cannot create port TolvoE1000: the port name is longer than 9 "
             "characters"),
        Line("ERROR While adding port configuration"),
        Line("  - Event Log Resources WAS installed"),
        Line("TolvoE Port Monitor Installed Sucessfully.")},
       {},
       [](MachineFixture& f) {
         EXPECT_NE(f.machine.spooler.FindPort("TolvoE999"), nullptr);
         // Two commands per created port, nothing for the refused one.
         EXPECT_EQ(f.machine.spooler.XcvCommands().size(), 999u * 2u);
       }});

  // --- Registry values -----------------------------------------------------------------
  // A number in a string is what the same text gives in the configuration
  // file; any other value of the wrong type gives the key's default, and a
  // line names port and key.
  cases.push_back(
      {"RegistryValuesOfTheWrongType",
       {"-r"},
       [](MachineFixture& f) {
         f.machine.registry.SetString(Port1Key(), "ServerIP", "10.0.0.9");
         f.machine.registry.SetString(Port1Key(), "ServerPort", "0x5b");
         f.machine.registry.SetString(Port1Key(), "AuthType", "0");
         f.machine.registry.SetValue(Port1Key(), "ProtocolLevel", REG_MULTI_SZ, Bytes("5"));
         f.machine.registry.SetValue(Port1Key(), "Description", REG_BINARY, Bytes("bin"));
         f.machine.registry.SetDword(Port1Key(), "Queue", 0x00515151);
         f.machine.registry.SetValue(std::string(kConfigKey32) + "\\2", "ServerIP", REG_DWORD,
                                     {'1', '.', '2', 0});
       },
       0,
       {Line("    ERROR - Port 1: registry value Description is not a text (REG_SZ), left empty"),
        Line("    ERROR - Port 1: registry value Queue is not a text (REG_SZ), left empty"),
        Line("    ERROR - Port 1: registry value ProtocolLevel is not a number, 4 used"),
        PortLine("10.0.0.9", 91, "", "", 0, ""),
        Line("    ERROR - Port 2: registry value ServerIP is not a text (REG_SZ), left empty")},
       {"1.2"},
       nullptr});
  cases.push_back(
      {"RegistryStringsWithoutTerminator",
       {"-r"},
       [](MachineFixture& f) {
         f.machine.registry.SetValue(Port1Key(), "ServerIP", REG_SZ, Bytes("10.0.0.7"));
         f.machine.registry.SetValue(Port1Key(), "Description", REG_SZ,
                                     Bytes(std::string(259, 'd')));
         // 260 characters: cut to 259, as the configuration file's reader does.
         f.machine.registry.SetValue(Port1Key(), "Queue", REG_SZ, Bytes(std::string(260, 'q')));
         f.machine.registry.SetValue(Port1Key(), "AuthText", REG_EXPAND_SZ, Bytes("%TEMP%"));
       },
       0,
       {Line("    ERROR - Port 1: registry value Queue is longer than 259 characters, cut"),
        PortLine("10.0.0.7", 9100, std::string(259, 'd'), std::string(259, 'q'), 1, "%TEMP%")},
       {"Description is", "AuthText is"},
       nullptr});
  // One byte replaces the lowest byte of the default: 9100 is 0x238C.
  cases.push_back({"RegistryValuesOfOneByte",
                   {"-r"},
                   [](MachineFixture& f) {
                     f.machine.registry.SetValue(Port1Key(), "ServerIP", REG_SZ, {'7'});
                     f.machine.registry.SetValue(Port1Key(), "ServerPort", REG_DWORD, {0x05});
                     f.machine.registry.SetValue(Port1Key(), "AuthType", REG_DWORD, {0xFF});
                     f.machine.registry.SetValue(Port1Key(), "Queue", REG_SZ, {0});
                   },
                   0,
                   {PortLine("7", 0x2305, "", "", 0xFF, "")},
                   {"ERROR"},
                   nullptr});
  cases.push_back(
      {"RegistryValuesOf100000Bytes",
       {"-r"},
       [](MachineFixture& f) {
         f.machine.registry.SetString(Port1Key(), "ServerIP", "10.0.0.8");
         f.machine.registry.SetString(Port1Key(), "Description", std::string(100000, 'd'));
         f.machine.registry.SetValue(Port1Key(), "ServerPort", REG_BINARY,
                                     std::vector<BYTE>(100000, 0x11));
         f.machine.registry.SetString(Port1Key(), "AssignPrinter", std::string(100000, 'p'));
       },
       0,
       {Line("    ERROR - Port 1: registry value Description is longer than 259 characters, cut"),
        Line("    ERROR - Port 1: registry value ServerPort is not a number, 9100 used"),
        PortLine("10.0.0.8", 9100, std::string(259, 'd'), "", 1, ""),
        Line("    ERROR - Port 1: registry value AssignPrinter is longer than 259 characters, cut"),
        Line("    ERROR - Printer " + std::string(259, 'p') + " NOT assigned to port Tolvo001"),
        Line("Tolvo Port Monitor Installed Sucessfully.")},
       {std::string(260, 'd')},
       nullptr});
  cases.push_back({"RegistryTextsWithPercentAndHighBytes",
                   {"-r"},
                   [](MachineFixture& f) {
                     f.machine.registry.SetString(Port1Key(), "ServerIP", kPercentHigh);
                     f.machine.registry.SetString(Port1Key(), "Description", kPercentHigh);
                     f.machine.registry.SetString(Port1Key(), "AssignPrinter", kPercentHigh);
                   },
                   0,
                   {PortLine(kPercentHigh, 9100, kPercentHigh, "", 1, ""),
                    Line("    ERROR - Printer " + kPercentHigh + " NOT assigned to port Tolvo001")},
                   {},
                   nullptr});
  return cases;
}

void PrintTo(const HostileCase& hostile, std::ostream* out) {
  *out << hostile.name;
}

class HostileInput : public MachineFixture, public ::testing::WithParamInterface<HostileCase> {};

// True when every line appears whole (at the start of a line), in order.
::testing::AssertionResult LinesInOrder(const std::string& console,
                                        const std::vector<std::string>& lines) {
  std::size_t from = 0;
  for (const std::string& line : lines) {
    std::size_t at = console.find(line, from);
    while (at != std::string::npos && at != 0 && console[at - 1] != '\n') {
      at = console.find(line, at + 1);
    }
    if (at == std::string::npos) {
      return ::testing::AssertionFailure() << "missing, or out of order: " << line;
    }
    from = at + line.size();
  }
  return ::testing::AssertionSuccess();
}

TEST_P(HostileInput, GivesAClearMessageAndTheRightExitCode) {
  const HostileCase& hostile = GetParam();
  if (hostile.prepare) {
    hostile.prepare(*this);
  }

  MemoryTrace trace;
  const int exitCode = Run(hostile.arguments, &trace);

  EXPECT_EQ(exitCode, hostile.exitCode) << machine.console;
  // The support trace stays bounded, line by line, whatever the input.
  std::istringstream traceLines(trace.text);
  for (std::string line; std::getline(traceLines, line);) {
    EXPECT_LT(line.size(), TraceLine::kSize);
  }
  EXPECT_TRUE(LinesInOrder(machine.console, hostile.lines)) << machine.console;
  for (const std::string& text : hostile.absent) {
    EXPECT_EQ(machine.console.find(text), std::string::npos) << text << "\n" << machine.console;
  }
  EXPECT_TRUE(machine.OpenResources().empty()) << ::testing::PrintToString(machine.OpenResources());
  if (hostile.check) {
    hostile.check(*this);
  }
  if (!hostile.password.empty()) {
    ExpectNoPieceOf(hostile, machine.console, "console");
    ExpectNoPieceOf(hostile, RunLog(), "run log");
    ExpectNoPieceOf(hostile, trace.text, "trace");
    ExpectNoLengthOf(hostile.password, trace.text);
    EXPECT_EQ(machine.standardError, hostile.standardError);
  }
}

// What support needs from the trace: the lock found in place and refused, a
// failure that set no error shown as one, and the profile reads' errors.
TEST_F(MachineFixture, SupportTraceShowsWhatTheCallsAnswered) {
  MemoryTrace trace;
  machine.processes.mutexes["Global\\Kestrum Tolvo Installation"] = {true};
  EXPECT_EQ(Run({"-lC:\\NoSuchFolder\\run.log"}, &trace), -1);
  machine.processes.mutexes.clear();
  EXPECT_EQ(Run({}, &trace), 0);
  for (const char* pattern : {R"(CreateMutexA\(.*\) = 0x\w+ last error 183 ERROR_ALREADY_EXISTS)",
                              R"(WaitForSingleObject\(.*\) = 0x102 WAIT_TIMEOUT)",
                              R"(OpenRunLog\(.*\) = NULL error 3 ERROR_PATH_NOT_FOUND)",
                              R"(\("1", "ComPort".* last error 2 ERROR_FILE_NOT_FOUND)"}) {
    EXPECT_TRUE(std::regex_search(trace.text, std::regex(pattern))) << pattern << "\n"
                                                                    << trace.text;
  }
}

// Port numbers whose name does not fit the nine characters of the port
// field leave the name empty, and no port-data record is built for them.
struct PortNumberCase {
  bool enterprise;
  int portNumber;
  const char* portName;  // "" when it does not fit
};

class HostilePortNumber : public OperationFixture,
                          public ::testing::WithParamInterface<PortNumberCase> {};

TEST_P(HostilePortNumber, NameFitsTheFieldOrIsRefused) {
  const PortNumberCase& row = GetParam();
  if (row.enterprise) {
    UseEnterpriseEdition();
  }
  const std::string section = std::to_string(row.portNumber);
  machine.WriteFile(kIniPath, "[" + section + "]\r\nServerIP=10.0.0.1\r\n");

  PortConfiguration config;
  ASSERT_TRUE(ReadPortConfiguration(context, PortConfigSource::ConfigFile, row.portNumber, config));

  EXPECT_STREQ(config.PortName, row.portName);
  PortDataRecord record;
  EXPECT_EQ(BuildPortDataRecord(machine, config, record), row.portName[0] != '\0');
  EXPECT_TRUE(machine.OpenResources().empty());
}

INSTANTIATE_TEST_SUITE_P(EdgeOfTheNameField, HostilePortNumber,
                         ::testing::Values(PortNumberCase{false, 999, "Tolvo999"},
                                           PortNumberCase{false, 1000, "Tolvo1000"},
                                           PortNumberCase{false, 10000, ""},
                                           PortNumberCase{true, 999, "TolvoE999"},
                                           PortNumberCase{true, 1000, ""},
                                           PortNumberCase{true, 10000, ""}));

INSTANTIATE_TEST_SUITE_P(Table, HostileInput, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<HostileCase>& info) {
                           return info.param.name;
                         });

}  // namespace
}  // namespace tolvo::scenario
