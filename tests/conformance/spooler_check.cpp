// The spooler as the printer and port steps use it: size queries, record
// layouts, monitors and the monitor's transaction channel.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "conformance/check.h"

namespace tolvo::checks {
namespace {

constexpr DWORD kInvalidLevel = 124;

class SpoolerCheck : public Check {
 protected:
  // A two-call listing, probed at the reported size, one byte less and one
  // more; the buffer of the call at the reported size.
  template <typename Call>
  std::vector<BYTE> Listing(Call call, DWORD& returned) {
    DWORD needed = 0;
    EXPECT_FAILS(ERROR_INSUFFICIENT_BUFFER, call(nullptr, 0, &needed, &returned));
    EXPECT_GT(needed, 0u);
    std::vector<BYTE> buffer(needed + 1);
    DWORD shortNeeded = 0;
    EXPECT_FAILS(ERROR_INSUFFICIENT_BUFFER,
                 call(buffer.data(), needed - 1, &shortNeeded, &returned));
    EXPECT_EQ(shortNeeded, needed);
    DWORD again = 0;
    EXPECT_TRUE(call(buffer.data(), needed + 1, &again, &returned));
    EXPECT_TRUE(call(buffer.data(), needed, &again, &returned));
    buffer.resize(needed);
    return buffer;
  }

  // Records first, every string after them and inside the buffer.
  static bool StringAfterRecords(const std::vector<BYTE>& buffer, std::size_t recordsEnd,
                                 const char* text) {
    const auto* begin = reinterpret_cast<const char*>(buffer.data());
    return text >= begin + recordsEnd && text + std::strlen(text) < begin + buffer.size();
  }

  std::vector<BYTE> Ports(DWORD level, DWORD& returned) {
    return Listing(
        [&](LPBYTE b, DWORD size, LPDWORD needed, LPDWORD count) {
          return api.EnumPortsA(nullptr, level, b, size, needed, count);
        },
        returned);
  }

  HANDLE OpenPrinter(const std::string& name) {
    HANDLE handle = nullptr;
    PRINTER_DEFAULTSA defaults{nullptr, nullptr, PRINTER_ALL_ACCESS};
    EXPECT_TRUE(api.OpenPrinterA(const_cast<LPSTR>(name.c_str()), &handle, &defaults)) << name;
    return handle;
  }

  // The transaction channel's entry points, found as the installer finds them.
  struct Channel {
    HMODULE module = nullptr;
    bool found = false;
  };
  Channel LoadChannel() {
    char path[MAX_PATH];
    const UINT length = api.GetSystemDirectoryA(path, MAX_PATH);
    std::strcpy(path + length, "\\winspool.drv");
    Channel channel;
    channel.module = api.LoadLibraryA(path);
    EXPECT_NE(channel.module, nullptr) << path;
    channel.found = api.HasEntryPoint(channel.module, WinApi::EntryPoint::kOpenPrinterW) &&
                    api.HasEntryPoint(channel.module, WinApi::EntryPoint::kXcvDataW);
    EXPECT_TRUE(channel.found);
    return channel;
  }
  HANDLE OpenChannel(std::u16string text) {
    HANDLE handle = nullptr;
    PRINTER_DEFAULTSW defaults{nullptr, nullptr, SERVER_ACCESS_ADMINISTER};
    api.SetLastError(kStale);
    api.OpenPrinterW(reinterpret_cast<LPWSTR>(text.data()), &handle, &defaults);
    return handle;
  }
  DWORD Command(HANDLE handle, const std::u16string& command, const std::u16string& port) {
    DWORD needed = 0;
    DWORD status = kStale;
    EXPECT_TRUE(api.XcvDataW(handle, reinterpret_cast<LPCWSTR>(command.c_str()),
                             reinterpret_cast<PBYTE>(const_cast<char16_t*>(port.c_str())),
                             static_cast<DWORD>((port.size() + 1) * 2), nullptr, 0, &needed,
                             &status));
    return status;
  }
};

// On a machine without printers: the simulator's, a fresh Wine prefix.
TEST_F(SpoolerCheck, NoPrintersIsSuccessWithNothingNeeded) {
  DWORD needed = 99;
  DWORD returned = 99;
  EXPECT_TRUE(api.EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 4, nullptr, 0, &needed, &returned));
  EXPECT_EQ(needed, 0u);
  EXPECT_EQ(returned, 0u);
}

TEST_F(SpoolerCheck, EnumPrintersLevel4ListsLocalPrinters) {
  const std::string name = scratch.Printer();
  DWORD returned = 0;
  const std::vector<BYTE> buffer = Listing(
      [&](LPBYTE b, DWORD size, LPDWORD needed, LPDWORD count) {
        return api.EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 4, b, size, needed, count);
      },
      returned);
  ASSERT_EQ(returned, 1u);
  PRINTER_INFO_4A record;
  std::memcpy(&record, buffer.data(), sizeof record);
  EXPECT_EQ(record.pPrinterName, name);
  EXPECT_EQ(record.pServerName, nullptr);
  EXPECT_EQ(record.Attributes & PRINTER_ATTRIBUTE_LOCAL, DWORD{PRINTER_ATTRIBUTE_LOCAL});
  EXPECT_TRUE(StringAfterRecords(buffer, sizeof record, record.pPrinterName));
}

TEST_F(SpoolerCheck, GetPrinterLevel2WithEveryString) {
  HANDLE handle = OpenPrinter(scratch.Printer());
  DWORD returned = 0;
  std::vector<BYTE> buffer =
      Listing([&](LPBYTE b, DWORD size, LPDWORD needed,
                  LPDWORD) { return api.GetPrinterA(handle, 2, b, size, needed); },
              returned);
  auto* info = reinterpret_cast<PRINTER_INFO_2A*>(buffer.data());
  char comment[] = "c";
  char location[] = "l";
  info->pComment = comment;
  info->pLocation = location;
  EXPECT_TRUE(api.SetPrinterA(handle, 2, buffer.data(), 0));
  buffer = Listing([&](LPBYTE b, DWORD size, LPDWORD needed,
                       LPDWORD) { return api.GetPrinterA(handle, 2, b, size, needed); },
                   returned);
  PRINTER_INFO_2A read;
  std::memcpy(&read, buffer.data(), sizeof read);
  EXPECT_EQ(read.pServerName, nullptr);
  EXPECT_STREQ(read.pPrinterName, scratch.Printer().c_str());
  EXPECT_STREQ(read.pPortName, "LPT1:");
  EXPECT_STREQ(read.pComment, "c");
  EXPECT_STREQ(read.pLocation, "l");
  EXPECT_STREQ(read.pPrintProcessor, "WinPrint");
  EXPECT_EQ(read.Attributes & PRINTER_ATTRIBUTE_LOCAL, DWORD{PRINTER_ATTRIBUTE_LOCAL});
  for (const char* text : {read.pPrinterName, read.pPortName, read.pDriverName, read.pComment,
                           read.pLocation, read.pPrintProcessor, read.pDatatype}) {
    EXPECT_TRUE(StringAfterRecords(buffer, sizeof read, text));
  }
  DWORD needed = 0;
  EXPECT_FAILS(kInvalidLevel, api.GetPrinterA(handle, 99, buffer.data(), 0, &needed));
  EXPECT_TRUE(api.ClosePrinter(handle));
  EXPECT_FAILS(ERROR_INVALID_HANDLE, api.ClosePrinter(handle));
}

TEST_F(SpoolerCheck, SetPrinterLevel2TakesAPortList) {
  HANDLE handle = OpenPrinter(scratch.Printer());
  DWORD needed = 0;
  api.GetPrinterA(handle, 2, nullptr, 0, &needed);
  std::vector<BYTE> buffer(needed);
  ASSERT_TRUE(api.GetPrinterA(handle, 2, buffer.data(), needed, &needed));
  auto* info = reinterpret_cast<PRINTER_INFO_2A*>(buffer.data());
  const struct {
    const char* ports;
    bool accepted;
  } cases[] = {
      {"FILE:", true},
      {"lpt1:", true},
      {"LPT1:,COM1:", true},
  };
  for (const auto& c : cases) {
    std::string ports = c.ports;
    info->pPortName = ports.data();
    EXPECT_EQ(api.SetPrinterA(handle, 2, buffer.data(), 0) != FALSE, c.accepted) << c.ports;
    std::vector<BYTE> read(4096);
    ASSERT_TRUE(api.GetPrinterA(handle, 2, read.data(), 4096, &needed));
    EXPECT_STREQ(reinterpret_cast<PRINTER_INFO_2A*>(read.data())->pPortName, c.ports);
  }
  std::string unknown = "Nowhere";
  info->pPortName = unknown.data();
  EXPECT_FAILS_BUT_ON_WINE(ERROR_UNKNOWN_PORT, api.SetPrinterA(handle, 2, buffer.data(), 0),
                           "a printer's ports must be installed ones, else ERROR_UNKNOWN_PORT "
                           "([MS-RPRN] 3.1.4.6.4 for port names given to the spooler); Wine's "
                           "spooler takes any name");
  EXPECT_TRUE(api.ClosePrinter(handle));
}

TEST_F(SpoolerCheck, OpenUnknownPrinter) {
  HANDLE handle = nullptr;
  EXPECT_FAILS(ERROR_INVALID_PRINTER_NAME,
               api.OpenPrinterA(const_cast<LPSTR>("Tolvo Ghost"), &handle, nullptr));
}

// A printer's name matches without regard to case, letters beyond ASCII
// included: the installation opens "B\xDCRO" for "B\xFCro".
TEST_F(SpoolerCheck, PrinterNamesMatchWithoutCase) {
  ASSERT_EQ(scratch.Printer(), "Tolvo Check B\xFCro");
  EXPECT_TRUE(api.ClosePrinter(OpenPrinter("TOLVO CHECK B\xDCRO")));
  HANDLE handle = nullptr;
  EXPECT_FAILS(ERROR_INVALID_PRINTER_NAME,
               api.OpenPrinterA(const_cast<LPSTR>("Tolvo Check Buro"), &handle, nullptr));
}

TEST_F(SpoolerCheck, EnumPortsBothLevels) {
  DWORD returned = 0;
  const std::vector<BYTE> buffer = Ports(2, returned);
  std::vector<PORT_INFO_2A> ports(returned);
  std::memcpy(ports.data(), buffer.data(), returned * sizeof(PORT_INFO_2A));
  bool lpt1 = false;
  for (const PORT_INFO_2A& port : ports) {
    if (std::strcmp(port.pPortName, "LPT1:") == 0) {
      lpt1 = true;
      EXPECT_NE(port.pMonitorName, nullptr);  // "Local Port"; Wine's is "Local Monitor"
      EXPECT_TRUE(StringAfterRecords(buffer, returned * sizeof(PORT_INFO_2A), port.pDescription));
    }
  }
  EXPECT_TRUE(lpt1);

  const std::vector<BYTE> names = Ports(1, returned);
  PORT_INFO_1A first;
  std::memcpy(&first, names.data(), sizeof first);
  EXPECT_STREQ(first.pName, ports[0].pPortName);
  DWORD needed = 0;
  EXPECT_FAILS(kInvalidLevel, api.EnumPortsA(nullptr, 3, nullptr, 0, &needed, &returned));
}

TEST_F(SpoolerCheck, AddAndDeleteMonitor) {
  const std::string monitor = scratch.Monitor();
  char environment[] = "Windows x64";
  char dll[] = "TOLVOCHK.DLL";
  MONITOR_INFO_2A info{const_cast<LPSTR>(monitor.c_str()), nullptr, dll};
  EXPECT_FAILS(kInvalidLevel, api.AddMonitorA(nullptr, 1, reinterpret_cast<LPBYTE>(&info)));
  EXPECT_FAILS(ERROR_PRINT_MONITOR_ALREADY_INSTALLED,
               api.AddMonitorA(nullptr, 2, reinterpret_cast<LPBYTE>(&info)));
  DWORD returned = 0;
  const std::vector<BYTE> listed =
      Listing([&](LPBYTE b, DWORD size, LPDWORD needed,
                  LPDWORD count) { return api.EnumMonitorsA(nullptr, 2, b, size, needed, count); },
              returned);
  const auto* monitors = reinterpret_cast<const MONITOR_INFO_2A*>(listed.data());
  EXPECT_EQ(std::count_if(monitors, monitors + returned,
                          [&](const MONITOR_INFO_2A& m) {
                            return monitor == m.pName && m.pDLLName == std::string(dll);
                          }),
            1);
  MONITOR_INFO_2A noDll{const_cast<LPSTR>(monitor.c_str()), environment, nullptr};
  EXPECT_FAILS(ERROR_INVALID_PARAMETER,
               api.AddMonitorA(nullptr, 2, reinterpret_cast<LPBYTE>(&noDll)));

  char unknown[] = "Tolvo Check Unknown";
  EXPECT_FAILS(ERROR_UNKNOWN_PRINT_MONITOR, api.DeleteMonitorA(nullptr, nullptr, unknown));
  EXPECT_TRUE(api.DeleteMonitorA(nullptr, nullptr, const_cast<LPSTR>(monitor.c_str())));
  EXPECT_FAILS(ERROR_UNKNOWN_PRINT_MONITOR,
               api.DeleteMonitorA(nullptr, nullptr, const_cast<LPSTR>(monitor.c_str())));
}

TEST_F(SpoolerCheck, TransactionChannelOfTheTestMonitor) {
  const std::string monitor = scratch.Monitor();
  const Channel channel = LoadChannel();
  EXPECT_EQ(OpenChannel(u",XcvMonitor Tolvo Check Nobody"), nullptr);
  EXPECT_EQ(api.GetLastError(), static_cast<DWORD>(ERROR_UNKNOWN_PORT));
  HANDLE handle = OpenChannel(u",XcvMonitor Tolvo Check");
  ASSERT_NE(handle, nullptr) << api.GetLastError();
  EXPECT_EQ(Command(handle, u"AddPort", u"TolvoCheck1"), DWORD{ERROR_SUCCESS});
  EXPECT_EQ(Command(handle, u"AddPort", u"TolvoCheck1"), DWORD{ERROR_ALREADY_EXISTS});
  EXPECT_EQ(Command(handle, u"Frobnicate", u"TolvoCheck1"), DWORD{ERROR_INVALID_PARAMETER});
  EXPECT_TRUE(api.ClosePrinter(handle));

  HANDLE byPort = OpenChannel(u",XcvPort TolvoCheck1");
  ASSERT_NE(byPort, nullptr) << api.GetLastError();
  EXPECT_TRUE(api.ClosePrinter(byPort));

  DWORD returned = 0;
  const std::vector<BYTE> buffer = Ports(2, returned);
  std::vector<PORT_INFO_2A> ports(returned);
  std::memcpy(ports.data(), buffer.data(), returned * sizeof(PORT_INFO_2A));
  int found = 0;
  for (const PORT_INFO_2A& port : ports) {
    if (std::strcmp(port.pPortName, "TolvoCheck1") == 0) {
      ++found;
      EXPECT_STREQ(port.pMonitorName, "Tolvo Check");
    }
  }
  EXPECT_EQ(found, 1);
  api.FreeLibrary(channel.module);
}

}  // namespace
}  // namespace tolvo::checks
