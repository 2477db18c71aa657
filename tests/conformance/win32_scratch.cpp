// The checks' scratch area on a real Win32 implementation (Windows, or
// Wine): a folder under %TEMP%, keys under "Tolvo Checks", and on request a
// printer and the test monitor, all removed again when the check ends.
// The spooler's DLL is loaded here only when a printer is asked for, so
// that the backend's own checks can see it loaded first by Win32Api.
#include <windows.h>
#include <winspool.h>

#include <fstream>
#include <iterator>
#include <vector>

#include "conformance/check.h"
#include "platform/win32/win32_api.h"

namespace tolvo::checks {
namespace {

template <typename Function>
Function Proc(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

template <typename Function>
Function Entry(const char* module, const char* name) {
  return Proc<Function>(::GetModuleHandleA(module), name);
}

void RemoveTree(const std::string& folder) {
  WIN32_FIND_DATAA entry{};
  HANDLE find = ::FindFirstFileA((folder + "\\*").c_str(), &entry);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::string name = entry.cFileName;
      const std::string path = folder + "\\" + name;
      if (name == "." || name == "..") {
        continue;
      }
      ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        RemoveTree(path);
      } else {
        ::DeleteFileA(path.c_str());
      }
    } while (::FindNextFileA(find, &entry));
    ::FindClose(find);
  }
  ::RemoveDirectoryA(folder.c_str());
}

class Win32Scratch final : public Scratch {
 public:
  explicit Win32Scratch(const std::string& checkName) : name_(checkName) {
    char temp[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, temp);
    folder_ = std::string(temp) + "tolvo-checks";
    ::CreateDirectoryA(folder_.c_str(), nullptr);
    folder_ += "\\" + checkName;
    RemoveTree(folder_);
    ::CreateDirectoryA(folder_.c_str(), nullptr);
    ::GetCurrentDirectoryA(MAX_PATH, temp);
    startDirectory_ = temp;
    using IsWow64Process = BOOL(WINAPI*)(HANDLE, PBOOL);
    BOOL wow64 = FALSE;
    const auto isWow64 = Entry<IsWow64Process>("kernel32.dll", "IsWow64Process");
    wow64_ = isWow64 != nullptr && isWow64(::GetCurrentProcess(), &wow64) && wow64;
    wine_ = ::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
  }

  ~Win32Scratch() override {
    for (HANDLE held : held_) {
      ::CloseHandle(held);
    }
    if (wow64_) {  // a check may have switched the redirection off
      using Enable = BOOLEAN(WINAPI*)(BOOLEAN);
      if (const auto enable = Entry<Enable>("kernel32.dll", "Wow64EnableWow64FsRedirection")) {
        enable(TRUE);
      }
    }
    ::SetCurrentDirectoryA(startDirectory_.c_str());
    RemoveTree(folder_);
    for (const std::string& file : files_) {
      ::SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL);
      ::DeleteFileA(file.c_str());
    }
    RemoveKeys();
    if (printerAdded_) {
      DeletePrinterByName();
    }
    if (monitorAdded_) {
      api_.DeleteMonitorA(nullptr, nullptr, const_cast<LPSTR>(kMonitor));
    }
    if (spooler_ != nullptr) {
      ::FreeLibrary(spooler_);
    }
  }

  WinApi& api() override { return api_; }
  bool wine() const override { return wine_; }
  bool wow64() const override { return wow64_; }
  const std::string& folder() const override { return folder_; }

  void WriteFile(const std::string& path, std::string_view content) override {
    if (path.compare(0, folder_.size() + 1, folder_ + "\\") != 0) {
      files_.push_back(path);
    }
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(content.data(), static_cast<std::streamsize>(content.size()));
    EXPECT_TRUE(file.good()) << path;
  }

  std::string ReadFile(const std::string& path) override {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  }

  void HoldOpen(const std::string& path) override {
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
    held_.push_back(file);
  }

  bool WritableThoughReadOnly(const std::string& path) override {
    const HANDLE file =
        wine_ ? ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr)
              : INVALID_HANDLE_VALUE;
    return file != INVALID_HANDLE_VALUE && ::CloseHandle(file);
  }

  std::string Printer() override {
    if (printerAdded_) {
      return kPrinter;
    }
    LoadSpooler();
    using AddDriver = BOOL(WINAPI*)(LPSTR, DWORD, LPBYTE);
    using AddPrinter = HANDLE(WINAPI*)(LPSTR, DWORD, LPBYTE);
    char driverName[] = "Wine PostScript Driver";
    char genericName[] = "Generic / Text Only";
    char environment[] = "Windows NT x86";
    char driverFile[] = "wineps.drv";
    char dataFile[] = "generic.ppd";
    DRIVER_INFO_3A driver{};
    driver.cVersion = 3;
    driver.pName = driverName;
    driver.pEnvironment = environment;
    driver.pDriverPath = driverFile;
    driver.pDataFile = dataFile;
    driver.pConfigFile = driverFile;
    if (wine_) {
      Proc<AddDriver>(spooler_, "AddPrinterDriverA")(nullptr, 3, reinterpret_cast<LPBYTE>(&driver));
    }
    char name[] = "Tolvo Check B\xFCro";
    char port[] = "LPT1:";
    char processor[] = "WinPrint";
    char datatype[] = "RAW";
    PRINTER_INFO_2A printer{};
    printer.pPrinterName = name;
    printer.pPortName = port;
    printer.pDriverName = wine_ ? driverName : genericName;
    printer.pPrintProcessor = processor;
    printer.pDatatype = datatype;
    printer.Attributes = PRINTER_ATTRIBUTE_LOCAL;
    HANDLE handle =
        Proc<AddPrinter>(spooler_, "AddPrinterA")(nullptr, 2, reinterpret_cast<LPBYTE>(&printer));
    EXPECT_NE(handle, nullptr) << "AddPrinterA " << ::GetLastError();
    if (handle != nullptr) {
      api_.ClosePrinter(handle);
      printerAdded_ = true;
    }
    return kPrinter;
  }

  std::string Monitor() override {
    if (monitorAdded_) {
      return kMonitor;
    }
    char module[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, module, MAX_PATH);
    std::string source = module;
    source = source.substr(0, source.find_last_of('\\') + 1) + kTestMonitorDll;
    char system[MAX_PATH] = {};
    ::GetSystemDirectoryA(system, MAX_PATH);
    const std::string target = std::string(system) + "\\" + kTestMonitorDll;
    EXPECT_TRUE(::CopyFileA(source.c_str(), target.c_str(), FALSE) ||
                ::GetFileAttributesA(target.c_str()) != INVALID_FILE_ATTRIBUTES)
        << source << " " << ::GetLastError();
    char name[] = "Tolvo Check";
    char dll[sizeof "TOLVOCHK.DLL"] = "TOLVOCHK.DLL";
    MONITOR_INFO_2A info{name, nullptr, dll};
    monitorAdded_ = api_.AddMonitorA(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
    EXPECT_TRUE(monitorAdded_) << "AddMonitorA " << api_.GetLastError();
    return kMonitor;
  }

 private:
  static constexpr const char* kPrinter = "Tolvo Check B\xFCro";
  static constexpr const char* kMonitor = "Tolvo Check";

  void LoadSpooler() {
    if (spooler_ == nullptr) {
      spooler_ = ::LoadLibraryA("winspool.drv");
    }
  }

  void DeletePrinterByName() {
    using Delete = BOOL(WINAPI*)(HANDLE);
    PRINTER_DEFAULTSA defaults{nullptr, nullptr, PRINTER_ALL_ACCESS};
    HANDLE printer = nullptr;
    if (api_.OpenPrinterA(const_cast<LPSTR>(kPrinter), &printer, &defaults)) {
      Proc<Delete>(spooler_, "DeletePrinter")(printer);
      api_.ClosePrinter(printer);
    }
  }

  void RemoveKeys() {
    using DeleteTree = LONG(WINAPI*)(HKEY, LPCSTR);
    const auto deleteTree = Entry<DeleteTree>("advapi32.dll", "RegDeleteTreeA");
    if (deleteTree == nullptr) {
      return;  // before Vista: the keys stay
    }
    for (const char* parent : {"SOFTWARE\\Tolvo Checks", "SYSTEM\\Tolvo Checks"}) {
      for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
        HKEY key = nullptr;
        if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, parent, 0, KEY_ALL_ACCESS | view, &key) ==
            ERROR_SUCCESS) {
          deleteTree(key, name_.c_str());
          ::RegCloseKey(key);
        }
      }
    }
  }

  Win32Api api_;
  std::string name_;
  std::string folder_;
  std::string startDirectory_;
  std::vector<std::string> files_;
  std::vector<HANDLE> held_;
  HMODULE spooler_ = nullptr;
  bool wow64_ = false;
  bool wine_ = false;
  bool printerAdded_ = false;
  bool monitorAdded_ = false;
};

}  // namespace

std::unique_ptr<Scratch> MakeScratch(const std::string& checkName) {
  return std::make_unique<Win32Scratch>(checkName);
}

}  // namespace tolvo::checks
