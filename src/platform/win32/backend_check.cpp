// backend_check.exe: exercises the real Win32Api on a Windows machine (or
// under Wine) where the simulated Windows of the unit tests cannot reach:
// the run-log stream, the spooler bound at its first call, the entry points called
// through FARPROCs, DLL loading with WOW64 redirection switched off, and
// process start-up. Prints one line per check; the exit status is the
// number of failed checks.
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/unique_handles.h"
#include "platform/win32/win32_api.h"

namespace {

using tolvo::Win32Api;

// Counts and reports the outcome of each check.
class Checker {
 public:
  void operator()(bool passed, const char* name, DWORD detail = 0) {
    if (passed) {
      std::printf("ok       %s\n", name);
    } else {
      ++failures_;
      std::printf("FAILED   %s (%lu)\n", name, static_cast<unsigned long>(detail));
    }
  }
  int failures() const { return failures_; }

 private:
  int failures_ = 0;
};

std::string TempPath(const char* name) {
  char folder[MAX_PATH] = {};
  ::GetTempPathA(MAX_PATH, folder);
  return std::string(folder) + name;
}

std::string ReadWholeFile(const std::string& path) {
  std::string content;
  if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
    char buffer[256];
    std::size_t read;
    while ((read = std::fread(buffer, 1, sizeof(buffer), file)) > 0) {
      content.append(buffer, read);
    }
    std::fclose(file);
  }
  return content;
}

void CheckRunLog(Checker& check, Win32Api& api) {
  const std::string path = TempPath("tolvo_backend_check.log");
  ::DeleteFileA(path.c_str());

  for (int run = 0; run < 2; ++run) {
    tolvo::RunLogStream log = api.OpenRunLog(path.c_str());
    check(log != nullptr, "run log opens", ::GetLastError());
    if (log == nullptr) {
      return;
    }
    api.WriteRunLog(log, "line one\nline two\n");
    if (run == 0) {
      HANDLE osHandle =
          reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(static_cast<std::FILE*>(log))));
      DWORD flags = 0;
      check(::GetHandleInformation(osHandle, &flags) && (flags & HANDLE_FLAG_INHERIT) == 0,
            "run log is not inherited", flags);
      HANDLE other = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
      check(other != INVALID_HANDLE_VALUE, "run log is shared for reading and writing",
            ::GetLastError());
      if (other != INVALID_HANDLE_VALUE) {
        ::CloseHandle(other);
      }
    }
    api.CloseRunLog(log);
  }
  check(ReadWholeFile(path) == "line one\r\nline two\r\nline one\r\nline two\r\n",
        "run log appends in text mode");
  ::DeleteFileA(path.c_str());

  check(api.OpenRunLog("Z:\\no such folder\\tolvo\\x.log") == nullptr,
        "run log in a missing folder is refused");
}

void CheckSpooler(Checker& check, Win32Api& api, const char* when) {
  std::string name = std::string("spooler size query ") + when;
  DWORD needed = 0;
  DWORD returned = 0;
  const BOOL sized = api.EnumPortsA(nullptr, 1, nullptr, 0, &needed, &returned);
  const DWORD error = api.GetLastError();
  check(!sized && error == ERROR_INSUFFICIENT_BUFFER && needed > 0, name.c_str(), error);

  std::string buffer(needed, '\0');
  name = std::string("spooler port listing ") + when;
  check(api.EnumPortsA(nullptr, 1, reinterpret_cast<LPBYTE>(&buffer[0]), needed, &needed,
                       &returned) &&
            returned > 0,
        name.c_str(), api.GetLastError());

  char monitor[] = "Tolvo Backend Check Missing Monitor";
  name = std::string("spooler error codes pass through ") + when;
  const BOOL deleted = api.DeleteMonitorA(nullptr, nullptr, monitor);
  check(!deleted && api.GetLastError() == ERROR_UNKNOWN_PRINT_MONITOR, name.c_str(),
        api.GetLastError());
}

void CheckEntryPoints(Checker& check, Win32Api& api) {
  HMODULE kernel = api.GetModuleHandleA("kernel32.dll");
  BOOL wow64 = 2;
  check(api.HasEntryPoint(kernel, tolvo::WinApi::EntryPoint::kIsWow64Process) &&
            api.IsWow64Process(api.GetCurrentProcess(), &wow64) &&
            (wow64 == TRUE || wow64 == FALSE),
        "IsWow64Process through its entry point", ::GetLastError());

  WCHAR wide[16] = {};
  const int units = api.HasEntryPoint(kernel, tolvo::WinApi::EntryPoint::kMultiByteToWideChar)
                        ? api.MultiByteToWideChar(CP_ACP, 0, "Tolvo", -1, wide, 16)
                        : 0;
  check(units == 6 && wide[0] == L'T' && wide[4] == L'o' && wide[5] == 0,
        "MultiByteToWideChar through its entry point", units);
}

// The machine type in a PE file's header; 0 when it cannot be read.
WORD PeMachine(const std::string& path) {
  const std::string image = ReadWholeFile(path);
  if (image.size() < 0x40) {
    return 0;
  }
  DWORD header = 0;
  std::memcpy(&header, image.data() + 0x3C, sizeof header);
  WORD machine = 0;
  if (header + 6 > image.size()) {
    return 0;
  }
  std::memcpy(&machine, image.data() + header + 4, sizeof machine);
  return machine;
}

// Nothing loads the spooler's DLL (and the user-interface DLLs it brings)
// before a spooler call needs it.
void CheckSpoolerNotLoaded(Checker& check) {
  check(::GetModuleHandleA("winspool.drv") == nullptr,
        "spooler DLL not loaded before the first spooler call");
}

// With redirection off, the first spooler call must still load the spooler,
// and leave redirection off; a DLL named in the system directory must still
// load (from SysWOW64 under WOW64).
void CheckWithoutRedirection(Checker& check, Win32Api& api) {
  HMODULE kernel = api.GetModuleHandleA("kernel32.dll");
  PVOID old = nullptr;
  const bool off =
      api.HasEntryPoint(kernel, tolvo::WinApi::EntryPoint::kWow64DisableWow64FsRedirection) &&
      api.Wow64DisableWow64FsRedirection(&old);
  std::printf("note     WOW64 redirection %s\n", off ? "switched off" : "not switched off");
  CheckSpooler(check, api, "first called with redirection off");
  if (off) {
    char system[MAX_PATH] = {};
    ::GetSystemDirectoryA(system, MAX_PATH);
    const WORD machine = PeMachine(std::string(system) + "\\kernel32.dll");
    check(machine == IMAGE_FILE_MACHINE_AMD64 || machine == IMAGE_FILE_MACHINE_IA64,
          "redirection still off after the spooler was loaded", machine);
  }

  char path[MAX_PATH] = {};
  const UINT length = api.GetSystemDirectoryA(path, MAX_PATH);
  check(length > 0 && length < MAX_PATH, "system directory", ::GetLastError());
  std::strncat(path, "\\winspool.drv", MAX_PATH - std::strlen(path) - 1);
  HMODULE spooler = api.LoadLibraryA(path);
  check(spooler != nullptr, "system DLL loads by full path", ::GetLastError());
  check(spooler == nullptr || api.HasEntryPoint(spooler, tolvo::WinApi::EntryPoint::kXcvDataW),
        "XcvDataW found in the loaded spooler DLL", ::GetLastError());
  if (spooler != nullptr) {
    api.FreeLibrary(spooler);
  }
  CheckSpooler(check, api, "with redirection off");
}

void CheckProcesses(Checker& check, Win32Api& api) {
  char comspec[MAX_PATH] = {};
  const DWORD length = api.GetEnvironmentVariableA("COMSPEC", comspec, MAX_PATH);
  check(length > 0 && length < MAX_PATH, "COMSPEC is read", ::GetLastError());

  char commandLine[MAX_PATH + 32] = {};
  std::snprintf(commandLine, sizeof(commandLine), "\"%s\" /c exit 3", comspec);
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  const BOOL started = api.CreateProcessA(comspec, commandLine, nullptr, nullptr, TRUE, 0, nullptr,
                                          nullptr, &startup, &process);
  check(started, "command interpreter starts", ::GetLastError());
  if (started) {
    DWORD exitCode = 0;
    check(api.WaitForSingleObject(process.hProcess, INFINITE) == WAIT_OBJECT_0 &&
              api.GetExitCodeProcess(process.hProcess, &exitCode) && exitCode == 3,
          "exit status comes back", exitCode);
    api.CloseHandle(process.hThread);
    api.CloseHandle(process.hProcess);
  }
}

void CheckMemoryAndVersion(Checker& check, Win32Api& api) {
  HGLOBAL block = api.GlobalAlloc(GMEM_FIXED, 64);
  check(block != nullptr && api.GlobalFree(block) == nullptr, "global heap block");

  OSVERSIONINFOEXA version = {};
  version.dwOSVersionInfoSize = sizeof(version);
  check(api.GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&version)) &&
            version.dwMajorVersion >= 5,
        "extended version query", version.dwMajorVersion);
}

}  // namespace

int main() {
  Win32Api api;
  Checker check;
  CheckRunLog(check, api);
  CheckSpoolerNotLoaded(check);
  CheckEntryPoints(check, api);
  CheckMemoryAndVersion(check, api);
  CheckWithoutRedirection(check, api);
  CheckProcesses(check, api);
  std::printf("%d failed\n", check.failures());
  return check.failures();
}
