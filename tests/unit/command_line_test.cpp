#include "driver/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tolvo {
namespace {

struct Parsed {
  CommandLineOptions options;
  bool enterprise = false;
};

Parsed Parse(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), "C:\\Kit\\Install.exe");
  static std::vector<std::string> storage;  // keeps the texts the options point into
  storage = arguments;
  std::vector<char*> argv;
  for (std::string& argument : storage) {
    argv.push_back(argument.data());
  }
  argv.push_back(nullptr);
  Parsed parsed;
  RunSettings settings;
  parsed.options = ParseCommandLine(static_cast<int>(storage.size()), argv.data(), settings);
  parsed.enterprise = settings.enterpriseEdition;
  return parsed;
}

std::string Text(const char* text) {
  return text == nullptr ? "<none>" : text;
}

// One row: the arguments and every field they should produce.
struct Row {
  std::vector<std::string> arguments;
  bool usage, enterprise, uninstall, ignore, registry, copy, obsolete;
  std::string log, ini, server;
  std::string trace = "<none>";
};

TEST(ParseCommandLine, Table) {
  const std::vector<Row> rows = {
      {{}, false, false, false, false, false, true, false, "<none>", "<none>", "<none>"},
      {{"-?"}, true, false, false, false, false, true, false, "<none>", "<none>", "<none>"},
      {{"/?"}, true, false, false, false, false, true, false, "<none>", "<none>", "<none>"},
      {{"-a"}, false, true, false, false, false, true, false, "<none>", "<none>", "<none>"},
      {{"-A", "-U"}, false, true, true, false, false, true, false, "<none>", "<none>", "<none>"},
      {{"-e", "-R", "-C"},
       false,
       false,
       false,
       true,
       true,
       false,
       false,
       "<none>",
       "<none>",
       "<none>"},
      {{"-E", "-r", "-c", "-s", "-S"},
       false,
       false,
       false,
       true,
       true,
       false,
       false,
       "<none>",
       "<none>",
       "<none>"},
      {{"-f"}, false, false, false, false, false, true, true, "<none>", "<none>", "<none>"},
      {{"-F"}, false, false, false, false, false, true, true, "<none>", "<none>", "<none>"},
      {{"-lC:\\x.log"},
       false,
       false,
       false,
       false,
       false,
       true,
       false,
       "C:\\x.log",
       "<none>",
       "<none>"},
      {{"-L"}, false, false, false, false, false, true, false, "", "<none>", "<none>"},
      {{"-l", "x.log"}, false, false, false, false, false, true, false, "", "<none>", "x.log"},
      {{"-Iconf\\my.ini"},
       false,
       false,
       false,
       false,
       false,
       true,
       false,
       "<none>",
       "conf\\my.ini",
       "<none>"},
      {{"-ia.ini", "-ib.ini"},
       false,
       false,
       false,
       false,
       false,
       true,
       false,
       "<none>",
       "b.ini",
       "<none>"},
      {{"-lfirst", "-lsecond"},
       false,
       false,
       false,
       false,
       false,
       true,
       false,
       "second",
       "<none>",
       "<none>"},
      {{"-x"}, false, false, false, false, false, true, false, "<none>", "<none>", "-x"},
      {{"/u"}, false, false, false, false, false, true, false, "<none>", "<none>", "/u"},
      {{"-uc"}, false, false, false, false, false, true, false, "<none>", "<none>", "-uc"},
      {{"-?u"}, false, false, false, false, false, true, false, "<none>", "<none>", "-?u"},
      {{"srv1", "\\\\srv2"},
       false,
       false,
       false,
       false,
       false,
       true,
       false,
       "<none>",
       "<none>",
       "\\\\srv2"},
      {{"-u", "-e", "-r", "\\\\print%s"},
       false,
       false,
       true,
       true,
       true,
       true,
       false,
       "<none>",
       "<none>",
       "\\\\print%s"},
      {{"-?", "-u"}, true, false, true, false, false, true, false, "<none>", "<none>", "<none>"},
      {{"-Tt"}, false, false, false, false, false, true, false, "<none>", "<none>", "<none>", "t"},
  };
  for (const Row& row : rows) {
    std::string label;
    for (const std::string& argument : row.arguments) {
      label += "[" + argument + "]";
    }
    SCOPED_TRACE(label);
    const Parsed parsed = Parse(row.arguments);
    const CommandLineOptions& o = parsed.options;
    EXPECT_EQ(o.showUsage, row.usage);
    EXPECT_EQ(parsed.enterprise, row.enterprise);
    EXPECT_EQ(o.uninstall, row.uninstall);
    EXPECT_EQ(o.install.ignoreErrors, row.ignore);
    EXPECT_EQ(o.install.configFromRegistry, row.registry);
    EXPECT_EQ(o.install.copyFiles, row.copy);
    EXPECT_EQ(o.obsoleteClientSwitch, row.obsolete);
    EXPECT_EQ(Text(o.logPathOverride), row.log);
    EXPECT_EQ(Text(o.iniPathOverride), row.ini);
    EXPECT_EQ(Text(o.install.serverName), row.server);
    EXPECT_EQ(Text(o.tracePath), row.trace);
  }
}

TEST(ParseCommandLine, TextsPointIntoTheArgumentVector) {
  char program[] = "Install.exe";
  char log[] = "-lrun.log";
  char server[] = "\\\\srv";
  char* argv[] = {program, log, server, nullptr};
  RunSettings settings;
  const CommandLineOptions options = ParseCommandLine(3, argv, settings);
  EXPECT_EQ(options.logPathOverride, log + 2);
  EXPECT_EQ(options.install.serverName, server);
}

TEST(ParseCommandLine, EmptyVector) {
  RunSettings settings;
  const CommandLineOptions options = ParseCommandLine(0, nullptr, settings);
  EXPECT_TRUE(options.install.copyFiles);
  EXPECT_EQ(options.install.serverName, nullptr);
}

}  // namespace
}  // namespace tolvo
