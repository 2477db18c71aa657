// Cost of a whole installation on a big print server, against the simulated
// Windows: which platform calls a run makes, by kind, and how its time grows
// with the number of configured ports (N) and of local printers (P).
//
// The machine is the whole-run fixture's administrator machine, upgraded
// from a previous installation: the old monitor "Tolvo" owns ports
// Tolvo001 ... TolvoN, and printers "Printer 1" ... "Printer P" each print to
// "LPT1:" and one of those old ports, so the printer disconnection has work
// to do for every printer. Tolvo.ini configures ports [1] ... [N]; the first
// min(P, N) sections assign "Printer n" to their port, and the other
// printers go back onto both their ports at the end.
//
// Before any timing, every shape is run once and its calls are checked
// against the calls the work needs; any difference ends the program with a
// non-zero exit status. The same checks run after every timed iteration.
//
//   tolvo_cost_model_bench [--cost_model_out=FILE] [benchmark flags]
//   tolvo_cost_model_bench --call_log    (the calls of a run with one port and one printer)
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "scenarios/machine_fixture.h"

namespace tolvo::bench {
namespace {

constexpr int kPortCounts[] = {1, 10, 100, 1000};
constexpr int kPrinterCounts[] = {0, 100, 1000};

struct Shape {
  int ports;
  int printers;
  bool passwords = false;  // every port has an AuthText of 259 characters
  int assigned() const { return std::min(ports, printers); }
};

std::string PortName(int number) {
  char name[16];
  std::snprintf(name, sizeof name, "Tolvo%03d", number);
  return name;
}

// The fixture's machine, outside a test.
class BenchMachine : public scenario::MachineFixture {
 public:
  explicit BenchMachine(Shape shape) { Seed(shape); }
  void TestBody() override {}

 private:
  static std::string Ini(Shape shape) {
    std::string ini;
    char line[128];
    for (int n = 1; n <= shape.ports; ++n) {
      std::snprintf(line, sizeof line, "[%d]\r\nServerIP=10.%d.%d.%d\r\nDescription=Floor %d\r\n",
                    n, n / 65536, (n / 256) % 256, n % 256, n);
      ini += line;
      if (shape.passwords) {
        ini += "AuthText=" + std::string(259, static_cast<char>('a' + n % 26)) + "\r\n";
      }
      if (n <= shape.assigned()) {
        std::snprintf(line, sizeof line, "AssignPrinter=Printer %d\r\n", n);
        ini += line;
      }
    }
    return ini;
  }

  void Seed(Shape shape) {
    auto& printers = machine.spooler.printers;
    printers.erase(
        std::remove_if(printers.begin(), printers.end(),
                       [](const sim::SimPrinter& p) { return p.name == scenario::kPrinterName; }),
        printers.end());
    machine.spooler.AddMonitor("Tolvo", "TOLVOVS64.DLL", "Windows x64");
    for (int n = 1; n <= shape.ports; ++n) {
      machine.spooler.AddPort(PortName(n), "Tolvo");
    }
    for (int i = 1; i <= shape.printers; ++i) {
      machine.spooler.AddPrinter("Printer " + std::to_string(i),
                                 "LPT1:," + PortName((i - 1) % shape.ports + 1));
    }
    machine.WriteFile(scenario::kIniPath, Ini(shape));
    // A configuration written long before the run, as on a real server.
    std::filesystem::last_write_time(
        machine.HostPath(scenario::kIniPath),
        std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));
  }
};

// What a run cost: its exit code, its calls by kind, and the problems found.
struct RunCost {
  int exitCode = 0;
  std::map<std::string, long> calls;
  long totalCalls = 0;
  std::vector<std::string> problems;
};

std::map<std::string, long> CountCalls(const sim::SimWindows& machine) {
  std::map<std::string, long> counts;
  for (const std::string& call : machine.calls()) {
    ++counts[call];
  }
  return counts;
}

long CountLines(const std::string& text, const std::string& fragment) {
  long count = 0;
  for (std::size_t at = text.find(fragment); at != std::string::npos;
       at = text.find(fragment, at + fragment.size())) {
    ++count;
  }
  return count;
}

// The calls a run must make for its ports and printers, by kind. Kinds not
// named here must not depend on N or P at all. `baseline` holds the calls
// of the smallest run; empty when that run is the one being made, whose
// registry calls are then not counted.
std::map<std::string, long> RequiredScaledCalls(Shape shape,
                                                const std::map<std::string, long>& baseline) {
  const long n = shape.ports;
  const long p = shape.printers;
  const long a = shape.assigned();
  // Per configured port: the description and ten addresses (texts), ten
  // load-balancing weights, then 8 more texts and 23 integers; the walk ends
  // reading the first eleven texts and ten weights of section N + 1. The
  // assignment reads ten printer keys per created port.
  const long profileStrings = 19 * n + 11 + 10 * n;
  const long profileInts = 33 * n + 10;
  // Per port: its name, description, ten addresses and eight more texts, and
  // the three command names, which the channel converts for each port; plus
  // the channel's open text once. These are calls into kernel32 in the
  // installer's own process, not spooler calls.
  const long conversions = 23 * n + 1;
  // Each printer's list names two ports, each examined with a size query
  // and a read of the spooler's ports.
  // The put-back lists the ports once, for the printers not assigned.
  const long unassigned = p - a;
  const long portEnumerations = 2 * 2 * p + (unassigned > 0 ? 2 : 0);
  std::map<std::string, long> required = {
      {"GetPrivateProfileStringA", profileStrings},
      {"GetPrivateProfileIntA", profileInts},
      {"MultiByteToWideChar", conversions},
      {"XcvDataW", 2 * n},
      {"OpenPrinterW", 1},
      // Released, assigned, and those not assigned put back.
      {"OpenPrinterA", p + a + unassigned},
      {"GetPrinterA", 2 * (p + a + unassigned)},
      {"SetPrinterA", p + a + unassigned},
      {"ClosePrinter", p + a + unassigned + 1},
      {"EnumPrintersA", p > 0 ? 2 : 1},
      {"EnumPortsA", portEnumerations},
      // Printer list, one record per printer read, one port list per listing.
      {"GlobalAlloc", (p > 0 ? 1 : 0) + p + a + unassigned + portEnumerations / 2},
      {"GlobalFree", (p > 0 ? 1 : 0) + p + a + unassigned + portEnumerations / 2},
  };
  if (baseline.empty()) {
    return required;
  }
  // Remembering: per released printer a key opened, a look for an earlier
  // value, the value written; per assigned printer both keys opened, the
  // release read back, a look for an earlier assignment, the value written,
  // and once moved the release forgotten; the put-back lists the rest and
  // forgets each.
  const std::map<std::string, long> remembering = {
      {"RegCreateKeyExA", p + 3 * a},  {"RegCloseKey", p + 3 * a},
      {"RegQueryValueExA", p + 3 * a}, {"RegSetValueExA", p + a},
      {"RegEnumValueA", unassigned},   {"RegDeleteValueA", p},
  };
  for (const auto& [kind, count] : remembering) {
    const auto once = baseline.find(kind);
    required[kind] = (once == baseline.end() ? 0 : once->second) + count;
  }
  return required;
}

void Expect(RunCost& cost, bool condition, const std::string& problem) {
  if (!condition) {
    cost.problems.push_back(problem);
  }
}

// Runs one installation on a prepared machine and checks its calls and its
// result. `baseline` holds the calls of the smallest run (N = 1, P = 0) for
// the kinds whose count must not grow; empty when that run is the baseline.
RunCost InstallAndCheck(BenchMachine& fixture, Shape shape,
                        const std::map<std::string, long>& baseline,
                        benchmark::State* timed = nullptr, TraceSink* trace = nullptr) {
  RunCost cost;
  cost.exitCode = fixture.Run({}, trace);
  if (timed != nullptr) {
    timed->PauseTiming();
  }
  sim::SimWindows& machine = fixture.machine;
  cost.calls = CountCalls(machine);
  cost.totalCalls = static_cast<long>(machine.calls().size());
  const std::string where =
      "N=" + std::to_string(shape.ports) + " P=" + std::to_string(shape.printers) + ": ";

  Expect(cost, cost.exitCode == 0, where + "exit code " + std::to_string(cost.exitCode));
  Expect(cost, machine.OpenResources().empty(), where + "resources left open");

  const std::map<std::string, long> required = RequiredScaledCalls(shape, baseline);
  for (const auto& [kind, count] : required) {
    const long made = cost.calls.count(kind) != 0 ? cost.calls.at(kind) : 0;
    Expect(cost, made == count,
           where + kind + " made " + std::to_string(made) + ", needed " + std::to_string(count));
  }
  for (const auto& [kind, count] : baseline) {
    const long made = cost.calls.count(kind) != 0 ? cost.calls.at(kind) : 0;
    Expect(cost, required.count(kind) != 0 || made == count,
           where + kind + " made " + std::to_string(made) + ", a run of one port makes " +
               std::to_string(count));
  }
  for (const auto& [kind, count] : cost.calls) {
    Expect(cost, required.count(kind) != 0 || baseline.empty() || baseline.count(kind) != 0,
           where + kind + " made " + std::to_string(count) + ", a run of one port makes none");
  }

  // The channel: AddPort then SetPortData for each port, in order, nothing else.
  const std::vector<std::string> commands = machine.spooler.XcvCommands();
  bool pairs = commands.size() == static_cast<std::size_t>(2 * shape.ports);
  for (std::size_t i = 0; pairs && i < commands.size(); ++i) {
    pairs = commands[i] == (i % 2 == 0 ? "AddPort" : "SetPortData");
  }
  Expect(cost, pairs, where + "channel commands are not AddPort/SetPortData per port");

  // The assignment opens each assigned printer once, in section order,
  // after the disconnection has opened every printer once; the put-back
  // opens each printer not assigned once more.
  const std::vector<std::string>& opens = machine.spooler.printerOpens;
  bool assignmentOpens = opens.size() == static_cast<std::size_t>(2 * shape.printers);
  for (int i = 0; assignmentOpens && i < shape.assigned(); ++i) {
    assignmentOpens = opens[shape.printers + i] == "Printer " + std::to_string(i + 1);
  }
  Expect(cost, assignmentOpens, where + "printers opened other than once per assignment");

  // Output: one line per port, per disconnected printer, per assignment.
  Expect(cost, CountLines(machine.console, "    New - IP:") == shape.ports, where + "port lines");
  Expect(cost, CountLines(machine.console, "  - Disconnecting Printer '") == shape.printers,
         where + "disconnection lines");
  Expect(cost, CountLines(machine.console, "' assigned to port Tolvo") == shape.assigned(),
         where + "assignment lines");
  Expect(cost,
         CountLines(machine.console, "  - Reconnecting Printer '") ==
             shape.printers - shape.assigned(),
         where + "put-back lines");

  // The machine afterwards: every port with its record, printers moved or
  // back on both their ports.
  Expect(cost, static_cast<long>(machine.spooler.storedRecords.size()) == shape.ports,
         where + "stored port records");
  for (int i = 1; i <= shape.printers; ++i) {
    char port[16];
    std::snprintf(port, sizeof port, "Tolvo%03d", i);
    const std::string expected =
        i <= shape.assigned() ? port : "LPT1:," + PortName((i - 1) % shape.ports + 1);
    if (machine.spooler.PrinterPorts("Printer " + std::to_string(i)) != expected) {
      cost.problems.push_back(where + "Printer " + std::to_string(i) + " not on " + expected);
      break;
    }
  }
  if (timed != nullptr) {
    timed->ResumeTiming();
  }
  return cost;
}

std::map<std::string, long> BaselineCalls(bool passwords) {
  const Shape shape{1, 0, passwords};
  BenchMachine fixture(shape);
  return InstallAndCheck(fixture, shape, {}).calls;
}

// A run with passwords asks once who may read them: its baseline has them too.
const std::map<std::string, long>& Baseline(bool passwords) {
  static const std::map<std::string, long> plain = BaselineCalls(false);
  static const std::map<std::string, long> withPasswords = BaselineCalls(true);
  return passwords ? withPasswords : plain;
}

// --- The untimed cost model ----------------------------------------------------

struct ModelRow {
  Shape shape;
  RunCost cost;
};

std::string CostModelTable(const std::vector<ModelRow>& rows) {
  std::ostringstream out;
  out << "| N ports | P printers | calls | profile reads | XcvDataW | OpenPrinterA | "
         "EnumPortsA | spooler ports listed | records listed by EnumPortsA | calls per port "
         "(P = 0) |\n";
  out << "|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n";
  long oneportCalls = 0;
  for (const ModelRow& row : rows) {
    const auto count = [&](const char* kind) {
      const auto it = row.cost.calls.find(kind);
      return it == row.cost.calls.end() ? 0L : it->second;
    };
    const long profileReads = count("GetPrivateProfileStringA") + count("GetPrivateProfileIntA");
    // The old monitor's N ports plus "FILE:" and "LPT1:" during the walk.
    const long spoolerPorts = row.shape.ports + 2;
    const long recordsListed = count("EnumPortsA") / 2 * spoolerPorts;
    std::string perPort = "";
    if (row.shape.printers == 0) {
      if (row.shape.ports == 1) {
        oneportCalls = row.cost.totalCalls;
      } else {
        char text[32];
        std::snprintf(
            text, sizeof text, "%.1f",
            static_cast<double>(row.cost.totalCalls - oneportCalls) / (row.shape.ports - 1));
        perPort = text;
      }
    }
    out << "| " << row.shape.ports << " | " << row.shape.printers << " | " << row.cost.totalCalls
        << " | " << profileReads << " | " << count("XcvDataW") << " | " << count("OpenPrinterA")
        << " | " << count("EnumPortsA") << " | " << spoolerPorts << " | " << recordsListed << " | "
        << perPort << " |\n";
  }
  return out.str();
}

// Runs every shape once; returns the problems found.
std::vector<std::string> CheckCostModel(const std::string& tableFile) {
  std::vector<ModelRow> rows;
  std::vector<std::string> problems;
  for (int printers : kPrinterCounts) {
    for (int ports : kPortCounts) {
      const Shape shape{ports, printers};
      BenchMachine fixture(shape);
      RunCost cost = InstallAndCheck(fixture, shape, Baseline(shape.passwords));
      problems.insert(problems.end(), cost.problems.begin(), cost.problems.end());
      rows.push_back({shape, std::move(cost)});
    }
  }
  // Calls per port must not grow with N: equal steps from 10 to 100 to 1000.
  const auto total = [&](int ports) {
    for (const ModelRow& row : rows) {
      if (row.shape.ports == ports && row.shape.printers == 0) {
        return row.cost.totalCalls;
      }
    }
    return 0L;
  };
  const long perPortSmall = (total(100) - total(10)) / 90;
  const long perPortLarge = (total(1000) - total(100)) / 900;
  if (perPortSmall * 90 != total(100) - total(10) || perPortSmall != perPortLarge) {
    problems.push_back("calls per port change with N: " + std::to_string(perPortSmall) + " vs " +
                       std::to_string(perPortLarge));
  }
  const std::string table = CostModelTable(rows);
  std::fputs(table.c_str(), stdout);
  if (!tableFile.empty()) {
    std::ofstream(tableFile) << table;
  }
  return problems;
}

// The calls of one run of the given shape, in order, repeats folded.
void PrintCallLog(Shape shape) {
  BenchMachine fixture(shape);
  fixture.Run();
  const std::vector<std::string>& calls = fixture.machine.calls();
  for (std::size_t i = 0; i < calls.size();) {
    std::size_t j = i;
    while (j < calls.size() && calls[j] == calls[i]) {
      ++j;
    }
    std::printf("%s%s\n", calls[i].c_str(),
                j - i > 1 ? (" x" + std::to_string(j - i)).c_str() : "");
    i = j;
  }
}

// --- The timed runs -------------------------------------------------------------

// Times whole installations of `shape`, each on a machine of its own made
// and dropped outside the timing; traced into `trace` when one is given.
void TimeInstallations(benchmark::State& state, const Shape& shape, TraceSink* trace) {
  const std::map<std::string, long>& baseline = Baseline(shape.passwords);
  for (auto _ : state) {
    state.PauseTiming();
    auto fixture = std::make_unique<BenchMachine>(shape);
    state.ResumeTiming();
    const RunCost cost = InstallAndCheck(*fixture, shape, baseline, &state, trace);
    state.PauseTiming();
    fixture.reset();
    state.ResumeTiming();
    if (!cost.problems.empty()) {
      state.SkipWithError(cost.problems.front().c_str());
      break;
    }
  }
}

void BM_Install(benchmark::State& state) {
  const Shape shape{static_cast<int>(state.range(0)), static_cast<int>(state.range(1))};
  TimeInstallations(state, shape, nullptr);
  state.counters["ports"] = shape.ports;
  state.counters["printers"] = shape.printers;
  state.counters["time_per_port"] = benchmark::Counter(
      shape.ports, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// A support trace that goes nowhere: what tracing costs, less the disk.
class DiscardedTrace final : public TraceSink {
 public:
  void Write(std::string_view line) override { bytes += line.size(); }
  std::uint32_t MillisecondsSinceStart() override { return 0; }
  TraceProcessFacts ProcessFacts() override { return {"Install.exe", "C:\\Kit", "now"}; }
  std::size_t bytes = 0;
};

// 1000 ports, each with a password of 259 characters, traced or not: the
// trace hides passwords by where they appear, at no cost that grows with
// them.
void BM_TracedInstall(benchmark::State& state) {
  const Shape shape{1000, 0, true};
  const bool traced = state.range(0) != 0;
  DiscardedTrace trace;
  TimeInstallations(state, shape, traced ? &trace : nullptr);
  state.counters["ports"] = shape.ports;
  state.counters["traced"] = traced ? 1 : 0;
}

BENCHMARK(BM_TracedInstall)
    ->ArgNames({"traced"})
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(0.5)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);

BENCHMARK(BM_Install)
    ->ArgNames({"ports", "printers"})
    ->ArgsProduct({{1, 10, 100, 1000}, {0, 100, 1000}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(0.5)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);

}  // namespace
}  // namespace tolvo::bench

int main(int argc, char** argv) {
  std::string tableFile;
  std::vector<char*> passed;
  if (argc == 2 && std::strcmp(argv[1], "--call_log") == 0) {
    tolvo::bench::PrintCallLog({1, 1});
    return 0;
  }
  for (int i = 0; i < argc; ++i) {
    constexpr const char* kOption = "--cost_model_out=";
    if (std::strncmp(argv[i], kOption, std::strlen(kOption)) == 0) {
      tableFile = argv[i] + std::strlen(kOption);
    } else {
      passed.push_back(argv[i]);
    }
  }
  const std::vector<std::string> problems = tolvo::bench::CheckCostModel(tableFile);
  for (const std::string& problem : problems) {
    std::fprintf(stderr, "cost model: %s\n", problem.c_str());
  }
  if (!problems.empty()) {
    return 1;
  }
  int passedCount = static_cast<int>(passed.size());
  benchmark::Initialize(&passedCount, passed.data());
  if (benchmark::ReportUnrecognizedArguments(passedCount, passed.data())) {
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
