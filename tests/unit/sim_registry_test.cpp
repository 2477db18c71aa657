// The simulated registry's own test-side API: seeding, fault injection and
// the event log's record. How it answers through the seam is checked
// against Windows' behaviour in tests/conformance/registry_check.cpp.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "sim/sim_windows.h"

namespace tolvo::sim {
namespace {

constexpr LSTATUS kSuccess = ERROR_SUCCESS;

class SimRegistryTest : public ::testing::Test {
 protected:
  SimRegistryTest() { machine.version.wow64 = false; }  // one view unless a test says so

  HKEY Open(const char* path, REGSAM access, LSTATUS expected = kSuccess) {
    HKEY key = nullptr;
    EXPECT_EQ(machine.RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, access, &key), expected) << path;
    return key;
  }
  SimWindows machine;
};

TEST_F(SimRegistryTest, DeniedKeyRefusesEveryWriteRight) {
  machine.registry.SetString("SOFTWARE\\A", "S", "v");
  machine.registry.DenyWrite("SOFTWARE\\A");
  Open("SOFTWARE\\A", KEY_QUERY_VALUE | KEY_SET_VALUE, ERROR_ACCESS_DENIED);
  machine.RegCloseKey(Open("SOFTWARE\\A", KEY_READ));
  EXPECT_TRUE(machine.OpenResources().empty());
}

// Test-side paths are physical: the 32-bit view lies under Wow6432Node.
TEST_F(SimRegistryTest, TheTestSideSeesTheViewsWhereRegeditShowsThem) {
  machine.version.wow64 = true;
  machine.registry.SetString("SOFTWARE\\Wow6432Node\\K", "V", "32");
  HKEY key = Open("SOFTWARE\\K", KEY_QUERY_VALUE);
  char data[16] = {};
  DWORD size = sizeof data;
  machine.RegQueryValueExA(key, "V", nullptr, nullptr, reinterpret_cast<LPBYTE>(data), &size);
  machine.RegCloseKey(key);
  EXPECT_STREQ(data, "32");

  machine.RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\New", 0, nullptr, 0, KEY_WRITE, nullptr,
                          &key, nullptr);
  machine.RegCloseKey(key);
  EXPECT_TRUE(machine.registry.KeyExists("SOFTWARE\\Wow6432Node\\New"));
  EXPECT_FALSE(machine.registry.KeyExists("SOFTWARE\\New"));
  EXPECT_TRUE(machine.OpenResources().empty());
}

TEST_F(SimRegistryTest, InjectedFaultIsReturnedAsStatus) {
  machine.FailCall("RegOpenKeyExA", ERROR_ACCESS_DENIED, 2);
  machine.RegCloseKey(Open("SOFTWARE", KEY_READ));
  Open("SOFTWARE", KEY_READ, ERROR_ACCESS_DENIED);
  machine.RegCloseKey(Open("SOFTWARE", KEY_READ));
  EXPECT_EQ(machine.CallCount("RegOpenKeyExA"), 3);
}

TEST_F(SimRegistryTest, LoadRegText) {
  EXPECT_TRUE(machine.registry.LoadRegText(R"(Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\SOFTWARE\Kestrum Corporation\Tolvo\PortInstallCfg\1]
"ServerIP"="10.1.2.3"
"Quote"="a \"b\" c\\d"
"Port"=dword:0000238c
@="default"
"Raw"=hex:01,02,ff
"Exp"=hex(2):25,00

[HKEY_LOCAL_MACHINE\SOFTWARE\Gone]
"X"="y"
[-HKEY_LOCAL_MACHINE\SOFTWARE\Gone]
)"));
  const char* key = "SOFTWARE\\Kestrum Corporation\\Tolvo\\PortInstallCfg\\1";
  EXPECT_EQ(machine.registry.GetString(key, "ServerIP"), "10.1.2.3");
  EXPECT_EQ(machine.registry.GetString(key, "Quote"), "a \"b\" c\\d");
  EXPECT_EQ(machine.registry.GetDword(key, "Port"), 9100u);
  EXPECT_EQ(machine.registry.GetString(key, ""), "default");
  const auto raw = machine.registry.GetValue(key, "Raw");
  ASSERT_TRUE(raw);
  EXPECT_EQ(raw->type, REG_BINARY);
  EXPECT_EQ(raw->data, (std::vector<BYTE>{1, 2, 0xFF}));
  EXPECT_EQ(machine.registry.GetValue(key, "Exp")->type, REG_EXPAND_SZ);
  EXPECT_FALSE(machine.registry.KeyExists("SOFTWARE\\Gone"));

  EXPECT_FALSE(machine.registry.LoadRegText("[HKEY_CURRENT_USER\\X]\n"));
  EXPECT_FALSE(machine.registry.LoadRegText("\"orphan\"=\"value\"\n"));
}

TEST_F(SimRegistryTest, EventSourcesAreCountedAndReleased) {
  HANDLE source = machine.RegisterEventSourceA("\\\\server", "S");
  ASSERT_NE(source, nullptr);
  EXPECT_EQ(machine.OpenCount(HandleKind::EventSource), 1u);
  LPCSTR strings[2] = {"one", "two"};
  EXPECT_TRUE(
      machine.ReportEventA(source, EVENTLOG_ERROR_TYPE, 3, 42, nullptr, 2, 0, strings, nullptr));
  EXPECT_TRUE(machine.DeregisterEventSource(source));
  EXPECT_FALSE(machine.ReportEventA(source, 0, 0, 0, nullptr, 0, 0, nullptr, nullptr));
  EXPECT_EQ(machine.GetLastError(), ERROR_INVALID_HANDLE);
  ASSERT_EQ(machine.registry.events.size(), 1u);
  EXPECT_EQ(machine.registry.events[0].server, "\\\\server");
  EXPECT_EQ(machine.registry.events[0].strings, (std::vector<std::string>{"one", "two"}));
  EXPECT_EQ(machine.registry.eventSourceRegistrations, 1);

  machine.registry.eventServiceRefuses = true;
  EXPECT_EQ(machine.RegisterEventSourceA(nullptr, "S"), nullptr);
  EXPECT_EQ(machine.GetLastError(), machine.registry.eventServiceError);
  EXPECT_TRUE(machine.OpenResources().empty());
}

}  // namespace
}  // namespace tolvo::sim
