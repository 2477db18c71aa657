#include "winenv/event_log.h"

#include <gtest/gtest.h>

#include <string>

#include "sim/sim_windows.h"

namespace tolvo {
namespace {

using sim::SimWindows;

constexpr const char* kSourceKey =
    "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\TolvoPort";
constexpr const char* kMessageFile = "%SystemRoot%\\System32\\TolvoEvent.dll";

std::string Bytes(const sim::SimRegistryValue& value) {
  return std::string(value.data.begin(), value.data.end());
}

void ExpectSourceValues(const SimWindows& machine, DWORD categoryCount) {
  const auto eventFile = machine.registry.GetValue(kSourceKey, "EventMessageFile");
  const auto categoryFile = machine.registry.GetValue(kSourceKey, "CategoryMessageFile");
  ASSERT_TRUE(eventFile && categoryFile);
  EXPECT_EQ(eventFile->type, REG_EXPAND_SZ);
  EXPECT_EQ(Bytes(*eventFile), std::string(kMessageFile) + '\0');
  EXPECT_EQ(categoryFile->type, REG_EXPAND_SZ);
  EXPECT_EQ(Bytes(*categoryFile), std::string(kMessageFile) + '\0');
  EXPECT_EQ(machine.registry.GetDword(kSourceKey, "TypesSupported"), 7u);
  EXPECT_EQ(machine.registry.GetDword(kSourceKey, "CategoryCount"), categoryCount);
}

TEST(RegisterEventLogSource, WritesTheFourValues) {
  SimWindows machine;
  EXPECT_EQ(RegisterEventLogSource(machine, "Application", "TolvoPort", kMessageFile, 10), 1);
  ExpectSourceValues(machine, 10);
  EXPECT_EQ(machine.registry.ValueNames(kSourceKey).size(), 4u);
  EXPECT_TRUE(machine.OpenResources().empty());
}

TEST(RegisterEventLogSource, IsNotRedirectedOnA64BitMachine) {
  SimWindows machine;
  machine.version.wow64 = true;
  EXPECT_EQ(RegisterEventLogSource(machine, "Application", "TolvoPort", kMessageFile, 10), 1);
  ExpectSourceValues(machine, 10);
}

TEST(RegisterEventLogSource, ReRegisteringRewritesTheValues) {
  SimWindows machine;
  machine.registry.SetString(kSourceKey, "EventMessageFile", "old.dll", REG_SZ);
  machine.registry.SetDword(kSourceKey, "TypesSupported", 1);
  machine.registry.SetDword(kSourceKey, "CategoryCount", 3);
  EXPECT_EQ(RegisterEventLogSource(machine, "Application", "TolvoPort", kMessageFile, 10), 1);
  ExpectSourceValues(machine, 10);
  EXPECT_TRUE(machine.OpenResources().empty());
}

TEST(RegisterEventLogSource, FailedCreateReturnsZeroWithNothingToClose) {
  SimWindows machine;
  machine.FailCall("RegCreateKeyExA", ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegisterEventLogSource(machine, "Application", "TolvoPort", kMessageFile, 10), 0);
  EXPECT_FALSE(machine.registry.KeyExists(kSourceKey));
  EXPECT_EQ(machine.CallCount("RegCloseKey"), 0);
}

TEST(RegisterEventLogSource, StopsAtTheFirstFailedWriteAndKeepsEarlierValues) {
  SimWindows machine;
  machine.FailCall("RegSetValueExA", ERROR_ACCESS_DENIED, 3);
  EXPECT_EQ(RegisterEventLogSource(machine, "Application", "TolvoPort", kMessageFile, 10), 0);
  EXPECT_TRUE(machine.registry.GetValue(kSourceKey, "EventMessageFile"));
  EXPECT_EQ(machine.registry.GetDword(kSourceKey, "TypesSupported"), 7u);
  EXPECT_FALSE(machine.registry.GetValue(kSourceKey, "CategoryMessageFile"));
  EXPECT_FALSE(machine.registry.GetValue(kSourceKey, "CategoryCount"));
  EXPECT_EQ(machine.CallCount("RegSetValueExA"), 3);
  EXPECT_TRUE(machine.OpenResources().empty());
}

TEST(RegisterEventLogSource, RefusesAKeyNameThatDoesNotFit) {
  SimWindows machine;
  // 43 characters of prefix and "Application\" leave 204 for the source
  // within 259 characters; one more does not fit.
  const std::string fits(259 - 55, 's');
  const std::string tooLong = fits + "s";
  EXPECT_EQ(RegisterEventLogSource(machine, "Application", fits.c_str(), kMessageFile, 1), 1);
  EXPECT_EQ(RegisterEventLogSource(machine, "Application", tooLong.c_str(), kMessageFile, 1), 0);
  EXPECT_EQ(machine.CallCount("RegCreateKeyExA"), 1);
}

TEST(ReportSuccessToEventLog, WritesOneEventWithTheFixedFields) {
  SimWindows machine;
  EXPECT_EQ(ReportSuccessToEventLog(machine, "Port Monitor Installed Sucessfully"), 1);
  ASSERT_EQ(machine.registry.events.size(), 1u);
  const sim::SimEvent& event = machine.registry.events[0];
  EXPECT_FALSE(event.server.has_value());
  EXPECT_EQ(event.source, "TolvoPort");
  EXPECT_EQ(event.type, EVENTLOG_SUCCESS);
  EXPECT_EQ(event.category, 0);
  EXPECT_EQ(event.eventId, 3221356545u);
  EXPECT_FALSE(event.hasUserSid);
  EXPECT_EQ(event.strings, std::vector<std::string>{"Port Monitor Installed Sucessfully"});
  EXPECT_EQ(event.dataSize, 0u);
  EXPECT_EQ(machine.CallCount("DeregisterEventSource"), 1);
  EXPECT_TRUE(machine.OpenResources().empty());
}

TEST(ReportToEventLog, PassesTheEventType) {
  SimWindows machine;
  EXPECT_EQ(ReportToEventLog(machine, "m", EVENTLOG_WARNING_TYPE), 1);
  ASSERT_EQ(machine.registry.events.size(), 1u);
  EXPECT_EQ(machine.registry.events[0].type, EVENTLOG_WARNING_TYPE);
}

TEST(ReportToEventLog, RefusedSourceReturnsZero) {
  SimWindows machine;
  machine.registry.eventServiceRefuses = true;
  EXPECT_EQ(ReportSuccessToEventLog(machine, "m"), 0);
  EXPECT_TRUE(machine.registry.events.empty());
  EXPECT_EQ(machine.CallCount("ReportEventA"), 0);
  EXPECT_EQ(machine.CallCount("DeregisterEventSource"), 0);
  EXPECT_TRUE(machine.OpenResources().empty());
}

TEST(ReportToEventLog, FailedReportStillDeregisters) {
  SimWindows machine;
  machine.FailCall("ReportEventA", ERROR_INVALID_PARAMETER);
  EXPECT_EQ(ReportSuccessToEventLog(machine, "m"), 0);
  EXPECT_EQ(machine.CallCount("DeregisterEventSource"), 1);
  EXPECT_TRUE(machine.OpenResources().empty());
}

}  // namespace
}  // namespace tolvo
