// The simulated registry must behave as Windows' does, or the readers'
// tests prove nothing.
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

TEST_F(SimRegistryTest, OpenMissingKeyIsFileNotFoundAndCountsNothing) {
  HKEY key = reinterpret_cast<HKEY>(0x1);
  EXPECT_EQ(machine.RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Nope", 0, KEY_READ, &key),
            static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(key, nullptr);
  EXPECT_TRUE(machine.OpenResources().empty());
}

TEST_F(SimRegistryTest, NamesAreCaseInsensitive) {
  machine.registry.SetString("SOFTWARE\\Kestrum", "Name", "v");
  HKEY key = Open("software\\KESTRUM", KEY_QUERY_VALUE);
  char data[8];
  DWORD size = sizeof data;
  EXPECT_EQ(machine.RegQueryValueExA(key, "NAME", nullptr, nullptr, reinterpret_cast<LPBYTE>(data),
                                     &size),
            kSuccess);
  EXPECT_STREQ(data, "v");
  EXPECT_EQ(machine.RegCloseKey(key), kSuccess);
  EXPECT_TRUE(machine.OpenResources().empty());
}

TEST_F(SimRegistryTest, QuerySizeTypeAndMoreData) {
  machine.registry.SetString("SOFTWARE\\A", "S", "hello");
  HKEY key = Open("SOFTWARE\\A", KEY_QUERY_VALUE);
  DWORD type = 0;
  DWORD size = 0;
  EXPECT_EQ(machine.RegQueryValueExA(key, "S", nullptr, &type, nullptr, &size), kSuccess);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(size, 6u);

  BYTE small[4] = {1, 2, 3, 4};
  size = sizeof small;
  EXPECT_EQ(machine.RegQueryValueExA(key, "S", nullptr, nullptr, small, &size),
            static_cast<LSTATUS>(ERROR_MORE_DATA));
  EXPECT_EQ(size, 6u);
  EXPECT_EQ(small[0], 0xAB);  // content undefined; the simulation scribbles

  char exact[6];
  size = sizeof exact;
  EXPECT_EQ(
      machine.RegQueryValueExA(key, "S", nullptr, nullptr, reinterpret_cast<LPBYTE>(exact), &size),
      kSuccess);
  EXPECT_EQ(std::string(exact, 6), std::string("hello\0", 6));

  EXPECT_EQ(machine.RegQueryValueExA(key, "T", nullptr, nullptr, nullptr, &size),
            static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(machine.RegQueryValueExA(key, "S", nullptr, nullptr, small, nullptr),
            static_cast<LSTATUS>(ERROR_INVALID_PARAMETER));
  machine.RegCloseKey(key);
}

TEST_F(SimRegistryTest, StringsComeBackAsStored) {
  machine.registry.SetValue("SOFTWARE\\A", "S", REG_SZ, {'a', 'b'});
  HKEY key = Open("SOFTWARE\\A", KEY_QUERY_VALUE);
  BYTE data[8];
  std::memset(data, 'z', sizeof data);
  DWORD size = sizeof data;
  EXPECT_EQ(machine.RegQueryValueExA(key, "S", nullptr, nullptr, data, &size), kSuccess);
  EXPECT_EQ(size, 2u);
  EXPECT_EQ(data[2], 'z');
  machine.RegCloseKey(key);
}

TEST_F(SimRegistryTest, AccessRightsAreChecked) {
  machine.registry.SetString("SOFTWARE\\A", "S", "v");
  HKEY key = Open("SOFTWARE\\A", KEY_SET_VALUE);
  DWORD size = 0;
  EXPECT_EQ(machine.RegQueryValueExA(key, "S", nullptr, nullptr, nullptr, &size),
            static_cast<LSTATUS>(ERROR_ACCESS_DENIED));
  machine.RegCloseKey(key);
  key = Open("SOFTWARE\\A", KEY_QUERY_VALUE);
  const BYTE byte = 0;
  EXPECT_EQ(machine.RegSetValueExA(key, "S", 0, REG_SZ, &byte, 1),
            static_cast<LSTATUS>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(machine.RegDeleteValueA(key, "S"), static_cast<LSTATUS>(ERROR_ACCESS_DENIED));
  machine.RegCloseKey(key);

  machine.registry.DenyWrite("SOFTWARE\\A");
  Open("SOFTWARE\\A", KEY_QUERY_VALUE | KEY_SET_VALUE, ERROR_ACCESS_DENIED);
  machine.RegCloseKey(Open("SOFTWARE\\A", KEY_READ));
  EXPECT_TRUE(machine.OpenResources().empty());
}

TEST_F(SimRegistryTest, CreateMakesIntermediateKeysAndReportsDisposition) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  EXPECT_EQ(machine.RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\X\\Y\\Z", 0, nullptr, 0, KEY_WRITE,
                                    nullptr, &key, &disposition),
            kSuccess);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  EXPECT_TRUE(machine.registry.KeyExists("HKEY_LOCAL_MACHINE\\SYSTEM\\X\\Y"));
  const BYTE dword[4] = {7, 0, 0, 0};
  EXPECT_EQ(machine.RegSetValueExA(key, "V", 0, REG_DWORD, dword, 4), kSuccess);
  machine.RegCloseKey(key);
  EXPECT_EQ(machine.registry.GetDword("SYSTEM\\X\\Y\\Z", "V"), 7u);

  EXPECT_EQ(machine.RegCreateKeyExA(HKEY_LOCAL_MACHINE, "system\\x\\y\\z", 0, nullptr, 0, KEY_WRITE,
                                    nullptr, &key, &disposition),
            kSuccess);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  machine.RegCloseKey(key);
  EXPECT_TRUE(machine.OpenResources().empty());
}

TEST_F(SimRegistryTest, SoftwareIsRedirectedForA32BitProcessOnA64BitMachine) {
  machine.version.wow64 = true;
  machine.registry.SetString("SOFTWARE\\Wow6432Node\\K", "V", "32");
  machine.registry.SetString("SOFTWARE\\K", "V", "64");
  machine.registry.SetString("SYSTEM\\K", "V", "shared");
  auto read = [&](const char* path, REGSAM view) {
    HKEY key = Open(path, KEY_QUERY_VALUE | view);
    char data[16] = {};
    DWORD size = sizeof data;
    machine.RegQueryValueExA(key, "V", nullptr, nullptr, reinterpret_cast<LPBYTE>(data), &size);
    machine.RegCloseKey(key);
    return std::string(data);
  };
  EXPECT_EQ(read("SOFTWARE\\K", 0), "32");
  EXPECT_EQ(read("SOFTWARE\\K", KEY_WOW64_32KEY), "32");
  EXPECT_EQ(read("SOFTWARE\\K", KEY_WOW64_64KEY), "64");
  EXPECT_EQ(read("SYSTEM\\K", 0), "shared");

  HKEY key = nullptr;
  machine.RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\New", 0, nullptr, 0, KEY_WRITE, nullptr,
                          &key, nullptr);
  machine.RegCloseKey(key);
  EXPECT_TRUE(machine.registry.KeyExists("SOFTWARE\\Wow6432Node\\New"));
  EXPECT_FALSE(machine.registry.KeyExists("SOFTWARE\\New"));

  machine.version.wow64 = false;
  EXPECT_EQ(read("SOFTWARE\\K", 0), "64");
  EXPECT_TRUE(machine.OpenResources().empty());
}

TEST_F(SimRegistryTest, SubkeyOfAnOpenKeyAndClosingTwice) {
  machine.registry.SetDword("SOFTWARE\\A\\B", "V", 1);
  machine.version.wow64 = false;
  HKEY parent = Open("SOFTWARE\\A", KEY_READ);
  HKEY child = nullptr;
  EXPECT_EQ(machine.RegOpenKeyExA(parent, "B", 0, KEY_READ, &child), kSuccess);
  EXPECT_EQ(machine.OpenCount(HandleKind::RegKey), 2u);
  EXPECT_EQ(machine.RegCloseKey(child), kSuccess);
  EXPECT_EQ(machine.RegCloseKey(child), static_cast<LSTATUS>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(machine.RegCloseKey(parent), kSuccess);
  EXPECT_EQ(machine.RegCloseKey(HKEY_LOCAL_MACHINE), kSuccess);
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
  EXPECT_FALSE(machine.DeregisterEventSource(source));
  EXPECT_EQ(machine.GetLastError(), ERROR_INVALID_HANDLE);
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
