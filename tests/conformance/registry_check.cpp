// Registry values as the installer reads and writes them: the readers'
// tests prove nothing unless the simulated registry answers as Windows'.
#include <cstring>
#include <string>

#include "conformance/check.h"

namespace tolvo::checks {
namespace {

constexpr LSTATUS kSuccess = ERROR_SUCCESS;
constexpr const char* kEventLogStub =
    "DeregisterEventSource closes the handle, which is then invalid (Microsoft's "
    "DeregisterEventSource page); Wine's event log is a stub that accepts any handle";

class RegistryCheck : public Check {
 protected:
  HKEY Open(const std::string& path, REGSAM access, LSTATUS expected = kSuccess) {
    HKEY key = nullptr;
    EXPECT_EQ(api.RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, access, &key), expected)
        << path;
    return key;
  }
  std::string Read(const std::string& path, REGSAM view) {
    HKEY key = Open(path, KEY_QUERY_VALUE | view);
    char data[16] = {};
    DWORD size = sizeof data;
    api.RegQueryValueExA(key, "V", nullptr, nullptr, reinterpret_cast<LPBYTE>(data), &size);
    api.RegCloseKey(key);
    return data;
  }
};

TEST_F(RegistryCheck, OpenMissingKeyIsFileNotFound) {
  HKEY key = reinterpret_cast<HKEY>(0x1);
  EXPECT_EQ(api.RegOpenKeyExA(HKEY_LOCAL_MACHINE, SoftwareKey("Nope").c_str(), 0, KEY_READ, &key),
            static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(key, nullptr);
}

TEST_F(RegistryCheck, NamesAreCaseInsensitive) {
  SetValue(SoftwareKey("Kestrum"), "Name", REG_SZ, std::string_view("v", 2));
  HKEY key = Open(SoftwareKey("KESTRUM"), KEY_QUERY_VALUE);
  char data[8];
  DWORD size = sizeof data;
  EXPECT_EQ(
      api.RegQueryValueExA(key, "NAME", nullptr, nullptr, reinterpret_cast<LPBYTE>(data), &size),
      kSuccess);
  EXPECT_STREQ(data, "v");
  EXPECT_EQ(api.RegCloseKey(key), kSuccess);
}

// The size query, then the buffer at the reported size, one byte less and
// one more; a missing value and a size without a place for it.
TEST_F(RegistryCheck, QuerySizeTypeAndMoreData) {
  SetValue(SoftwareKey(), "S", REG_SZ, std::string_view("hello", 6));
  HKEY key = Open(SoftwareKey(), KEY_QUERY_VALUE);
  DWORD type = 0;
  DWORD size = 0;
  EXPECT_EQ(api.RegQueryValueExA(key, "S", nullptr, &type, nullptr, &size), kSuccess);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(size, 6u);

  BYTE small[5] = {1, 2, 3, 4, 5};
  size = sizeof small;
  EXPECT_EQ(api.RegQueryValueExA(key, "S", nullptr, nullptr, small, &size),
            static_cast<LSTATUS>(ERROR_MORE_DATA));
  EXPECT_EQ(size, 6u);
  EXPECT_EQ(small[0], 1);  // documented as undefined; Windows and Wine leave it untouched

  for (DWORD room : {6u, 7u}) {
    char exact[7] = {'x', 'x', 'x', 'x', 'x', 'x', 'x'};
    size = room;
    EXPECT_EQ(
        api.RegQueryValueExA(key, "S", nullptr, nullptr, reinterpret_cast<LPBYTE>(exact), &size),
        kSuccess);
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(std::string(exact, 7), std::string("hello\0x", 7));
  }

  EXPECT_EQ(api.RegQueryValueExA(key, "T", nullptr, nullptr, nullptr, &size),
            static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(api.RegQueryValueExA(key, "S", nullptr, nullptr, small, nullptr),
            static_cast<LSTATUS>(ERROR_INVALID_PARAMETER));
  api.RegCloseKey(key);
}

// Values of each type the installer reads, and an empty one.
TEST_F(RegistryCheck, TypesAndSizesComeBackAsStored) {
  const struct {
    const char* name;
    DWORD type;
    std::string_view bytes;
  } values[] = {
      {"Dword", REG_DWORD, std::string_view("\x8c\x23\0\0", 4)},
      {"Binary", REG_BINARY, std::string_view("\x01\x00\xff", 3)},
      {"Expand", REG_EXPAND_SZ, std::string_view("%SystemRoot%", 13)},
      {"Empty", REG_SZ, std::string_view()},
      {"EmptyBinary", REG_BINARY, std::string_view()},
  };
  for (const auto& v : values) {
    SetValue(SoftwareKey(), v.name, v.type, v.bytes);
  }
  HKEY key = Open(SoftwareKey(), KEY_QUERY_VALUE);
  for (const auto& v : values) {
    BYTE data[16];
    std::memset(data, 'z', sizeof data);
    DWORD type = 0;
    DWORD size = sizeof data;
    EXPECT_EQ(api.RegQueryValueExA(key, v.name, nullptr, &type, data, &size), kSuccess);
    EXPECT_EQ(type, v.type) << v.name;
    EXPECT_EQ(size, v.bytes.size()) << v.name;
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data), size), v.bytes) << v.name;
  }
  api.RegCloseKey(key);
}

// A string set without its terminator comes back without it (the buffer
// terminated after it when there is room), unless the byte after the given
// size is one: then RegSetValueExA takes it along.
TEST_F(RegistryCheck, StringsComeBackAsStored) {
  SetValue(SoftwareKey(), "S", REG_SZ, std::string_view("abc", 2));
  SetValue(SoftwareKey(), "Terminated", REG_SZ, std::string_view("ab", 2));
  HKEY key = Open(SoftwareKey(), KEY_QUERY_VALUE);
  for (const char* name : {"S", "Terminated"}) {
    BYTE data[8];
    std::memset(data, 'z', sizeof data);
    DWORD size = sizeof data;
    EXPECT_EQ(api.RegQueryValueExA(key, name, nullptr, nullptr, data, &size), kSuccess);
    const bool terminated = name[0] == 'T';
    EXPECT_EQ(size, terminated ? 3u : 2u) << name;
    EXPECT_EQ(data[2], 0) << name;
    EXPECT_EQ(data[3], 'z') << name;
  }
  api.RegCloseKey(key);
}

TEST_F(RegistryCheck, AccessRightsAreChecked) {
  SetValue(SoftwareKey(), "S", REG_SZ, std::string_view("v", 2));
  HKEY key = Open(SoftwareKey(), KEY_SET_VALUE);
  DWORD size = 0;
  EXPECT_EQ(api.RegQueryValueExA(key, "S", nullptr, nullptr, nullptr, &size),
            static_cast<LSTATUS>(ERROR_ACCESS_DENIED));
  api.RegCloseKey(key);
  key = Open(SoftwareKey(), KEY_QUERY_VALUE);
  const BYTE byte = 0;
  EXPECT_EQ(api.RegSetValueExA(key, "S", 0, REG_SZ, &byte, 1),
            static_cast<LSTATUS>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(api.RegDeleteValueA(key, "S"), static_cast<LSTATUS>(ERROR_ACCESS_DENIED));
  api.RegCloseKey(key);
}

TEST_F(RegistryCheck, CreateMakesIntermediateKeysAndReportsDisposition) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  EXPECT_EQ(api.RegCreateKeyExA(HKEY_LOCAL_MACHINE, SystemKey("X\\Y\\Z").c_str(), 0, nullptr, 0,
                                KEY_WRITE, nullptr, &key, &disposition),
            kSuccess);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
  api.RegCloseKey(Open(SystemKey("X\\Y"), KEY_READ));
  const BYTE dword[4] = {7, 0, 0, 0};
  EXPECT_EQ(api.RegSetValueExA(key, "V", 0, REG_DWORD, dword, 4), kSuccess);
  api.RegCloseKey(key);

  EXPECT_EQ(api.RegCreateKeyExA(HKEY_LOCAL_MACHINE, SystemKey("x\\y\\z").c_str(), 0, nullptr, 0,
                                KEY_WRITE, nullptr, &key, &disposition),
            kSuccess);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
  api.RegCloseKey(key);
}

// A key's values listed one by one: the name (with its terminator) and the
// data must both fit, at needed - 1 neither is given; past the last value
// there are no more items.
TEST_F(RegistryCheck, EnumValueNeedsRoomForNameAndData) {
  SetValue(SoftwareKey(), "Name", REG_MULTI_SZ, std::string_view("a\0b\0\0", 5));
  HKEY key = Open(SoftwareKey(), KEY_QUERY_VALUE);
  char name[8];
  BYTE data[8];
  for (const DWORD nameRoom : {4u, 5u}) {
    for (const DWORD dataRoom : {4u, 5u, 6u}) {
      DWORD nameSize = nameRoom;
      DWORD size = dataRoom;
      DWORD type = 0;
      const bool fits = nameRoom == 5 && dataRoom >= 5;
      EXPECT_EQ(api.RegEnumValueA(key, 0, name, &nameSize, nullptr, &type, data, &size),
                fits ? kSuccess : static_cast<LSTATUS>(ERROR_MORE_DATA))
          << nameRoom << " " << dataRoom;
      if (fits) {
        EXPECT_EQ(std::string(name, nameSize + 1), std::string("Name", 5));
        EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ));
        EXPECT_EQ(std::string(reinterpret_cast<char*>(data), size), std::string("a\0b\0\0", 5));
      } else if (nameRoom == 5) {
        EXPECT_EQ(size, 5u);  // the size the data needs
      }
    }
  }
  DWORD nameSize = sizeof name;
  EXPECT_EQ(api.RegEnumValueA(key, 0, name, &nameSize, nullptr, nullptr, nullptr, nullptr),
            kSuccess);
  nameSize = sizeof name;
  EXPECT_EQ(api.RegEnumValueA(key, 1, name, &nameSize, nullptr, nullptr, nullptr, nullptr),
            static_cast<LSTATUS>(ERROR_NO_MORE_ITEMS));
  EXPECT_EQ(api.RegCloseKey(key), kSuccess);
}

// A 32-bit process on 64-bit Windows reads and writes SOFTWARE in the
// 32-bit view unless it names the 64-bit one; SYSTEM is one key for both.
// A 32-bit Windows has one view and ignores the flags.
TEST_F(RegistryCheck, SoftwareIsRedirectedForA32BitProcessOnA64BitMachine) {
  SetValue(SoftwareKey(), "V", REG_SZ, std::string_view("64", 3), KEY_WOW64_64KEY);
  SetValue(SoftwareKey(), "V", REG_SZ, std::string_view("32", 3), KEY_WOW64_32KEY);
  SetValue(SystemKey(), "V", REG_SZ, std::string_view("shared", 7), KEY_WOW64_32KEY);
  const char* native = scratch.wow64() ? "64" : "32";
  EXPECT_EQ(Read(SoftwareKey(), 0), "32");
  EXPECT_EQ(Read(SoftwareKey(), KEY_WOW64_32KEY), "32");
  EXPECT_EQ(Read(SoftwareKey(), KEY_WOW64_64KEY), native);
  EXPECT_EQ(Read(SystemKey(), 0), "shared");
  EXPECT_EQ(Read(SystemKey(), KEY_WOW64_64KEY), "shared");
}

TEST_F(RegistryCheck, SubkeyOfAnOpenKeyAndClosingTwice) {
  SetValue(SoftwareKey("A\\B"), "V", REG_DWORD, std::string_view("\1\0\0\0", 4));
  HKEY parent = Open(SoftwareKey("A"), KEY_READ);
  HKEY child = nullptr;
  EXPECT_EQ(api.RegOpenKeyExA(parent, "B", 0, KEY_READ, &child), kSuccess);
  EXPECT_EQ(api.RegCloseKey(child), kSuccess);
  EXPECT_EQ(api.RegCloseKey(child), static_cast<LSTATUS>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(api.RegCloseKey(parent), kSuccess);
  EXPECT_EQ(api.RegCloseKey(HKEY_LOCAL_MACHINE), kSuccess);
}

// The event source's registration is its key under the Application log;
// registering, reporting and deregistering need nothing more.
TEST_F(RegistryCheck, EventSourceRegistersReportsAndDeregistersOnce) {
  HANDLE source = api.RegisterEventSourceA(nullptr, "Tolvo Checks");
  ASSERT_NE(source, nullptr);
  LPCSTR strings[2] = {"one", "two"};
  EXPECT_TRUE(
      api.ReportEventA(source, EVENTLOG_ERROR_TYPE, 3, 42, nullptr, 2, 0, strings, nullptr));
  EXPECT_TRUE(api.DeregisterEventSource(source));
  api.SetLastError(kStale);
  WINE_DEPARTS(api.DeregisterEventSource(source), FALSE, TRUE, kEventLogStub);
  WINE_DEPARTS(api.GetLastError(), DWORD{ERROR_INVALID_HANDLE}, kStale, kEventLogStub);
}

}  // namespace
}  // namespace tolvo::checks
