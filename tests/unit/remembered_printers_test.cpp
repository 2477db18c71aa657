#include "winenv/remembered_printers.h"

#include <gtest/gtest.h>

#include <string>

#include "sim/sim_windows.h"

namespace tolvo {
namespace {

// A record (and an assignment), the printer now, and what the rule makes of it.
struct RuleCase {
  const char* name;
  PortLists released;
  const char* assignedBefore;  // null: no assignment
  const char* assignedAfter;
  bool exists;
  const char* now;
  PutBack when;
  Verdict verdict;
  const char* onto;
  const char* missing;
};

constexpr PutBack kStays = PutBack::kWhenPortsExist;
constexpr PutBack kGone = PutBack::kMonitorRemoved;

// clang-format off
const RuleCase kRules[] = {
  {"ReleasedGoesBack", {"Tolvo001", "FILE:"}, nullptr, nullptr, true, "FILE:", kStays, Verdict::kPutBack, "Tolvo001", ""},
  {"WaitsForAMissingPort", {"Tolvo002", "FILE:"}, nullptr, nullptr, true, "FILE:", kStays, Verdict::kWait, "", "Tolvo002"},
  {"PartBackThenWaits", {"Tolvo001,Tolvo003", "FILE:"}, nullptr, nullptr, true, "FILE:", kStays, Verdict::kPutBack, "Tolvo001", "Tolvo003"},
  {"PartBackStillCounts", {"Tolvo001,Tolvo003", "FILE:"}, nullptr, nullptr, true, "Tolvo001", kStays, Verdict::kWait, "Tolvo001", "Tolvo003"},
  {"MovedByHandStays", {"Tolvo002", "FILE:"}, nullptr, nullptr, true, "LPT1:", kStays, Verdict::kForget, "", ""},
  {"DeletedIsForgotten", {"Tolvo001", "FILE:"}, nullptr, nullptr, false, "", kStays, Verdict::kForget, "", ""},
  {"AssignedGoesHomeOnRemoval", {"Tolvo001", "FILE:"}, "LPT1:", "Tolvo001", true, "FILE:", kGone, Verdict::kPutBack, "LPT1:", ""},
  {"NothingWaitsOnRemoval", {"Tolvo002", "FILE:"}, nullptr, nullptr, true, "FILE:", kGone, Verdict::kForget, "", ""},
};
// clang-format on

class RecordRule : public ::testing::TestWithParam<RuleCase> {};

TEST_P(RecordRule, DecidesAsTheInstallationTheRemovalAndTheCheckDo) {
  const RuleCase& c = GetParam();
  sim::SimWindows machine;
  PrinterRecord record{c.released, std::nullopt};
  if (c.assignedBefore != nullptr) {
    record.assigned = PortLists{c.assignedBefore, c.assignedAfter};
  }
  // Of the monitor's ports only Tolvo001 exists, and only while the monitor stays.
  const auto exists = [&c](std::string_view port) {
    return port.substr(0, 5) != "Tolvo" || (c.when == kStays && port == "Tolvo001");
  };

  const Decision d = ClassifyRelease(machine, record, PrinterNow{c.exists, c.now}, c.when, exists);

  EXPECT_EQ(d.verdict, c.verdict);
  EXPECT_EQ(d.onto, c.onto);
  EXPECT_EQ(d.missing, c.missing);
}

INSTANTIATE_TEST_SUITE_P(Table, RecordRule, ::testing::ValuesIn(kRules),
                         [](const ::testing::TestParamInfo<RuleCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace tolvo
