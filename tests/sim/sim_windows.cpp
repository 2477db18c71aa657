#include "sim/sim_windows.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <system_error>

namespace tolvo::sim {

namespace fs = std::filesystem;

namespace {

std::string Lower(std::string_view text) {
  std::string result(text);
  for (char& c : result) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return result;
}

std::string BaseName(std::string_view path) {
  const auto slash = path.find_last_of("\\/");
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

constexpr const char* kKernel32 = "kernel32.dll";
constexpr const char* kSpooler = "winspool.drv";

struct Export {
  const char* module;
  const char* function;
};

Export ExportOf(WinApi::EntryPoint entry) {
  const bool spooler =
      entry == WinApi::EntryPoint::kOpenPrinterW || entry == WinApi::EntryPoint::kXcvDataW;
  return {spooler ? kSpooler : kKernel32, WinApi::EntryPointName(entry)};
}

std::string ModuleName(std::string_view requested) {
  std::string name = Lower(BaseName(requested));
  if (name.find('.') == std::string::npos) {
    name += ".dll";
  }
  return name;
}

bool IsKnownModule(const std::string& name) {
  return name == kKernel32 || name == kSpooler;
}

// The buffer msvcrt (and Wine's) gives a stream, _INTERNAL_BUFSIZ: a full
// buffer reaches the file when the next byte is written, or at fclose.
constexpr std::size_t kRuntimeBufferSize = 4096;

// Module handles from GetModuleHandleA: fixed values, never counted.
constexpr std::uintptr_t kResidentModuleBase = 0x7F000000;

}  // namespace

const char* HandleKindName(HandleKind kind) {
  switch (kind) {
    case HandleKind::RegKey:
      return "registry key";
    case HandleKind::EventSource:
      return "event source";
    case HandleKind::Printer:
      return "printer";
    case HandleKind::Find:
      return "search";
    case HandleKind::Module:
      return "module";
    case HandleKind::Global:
      return "global memory";
    case HandleKind::Local:
      return "local memory";
    case HandleKind::Process:
      return "process";
    case HandleKind::Thread:
      return "thread";
    case HandleKind::RunLog:
      return "run log";
    case HandleKind::Mutex:
      return "mutex";
    case HandleKind::Token:
      return "token";
    case HandleKind::File:
      return "file";
  }
  return "?";
}

SimWindows::SimWindows() {
  std::string pattern = (fs::temp_directory_path() / "simwin-XXXXXX").string();
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) {
    std::abort();
  }
  root_ = buffer.data();
  MakeDirectory(windowsDirectory);
  fs::create_directories(NativeHostPath(systemDirectory));
  MakeDirectory(wow64SystemDirectory);
  MakeDirectory(currentDirectory);
}

SimWindows::~SimWindows() {
  for (auto& [handle, size] : allocations_) {
    std::free(reinterpret_cast<void*>(handle));
  }
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

// --- Fault injection ---------------------------------------------------------

void SimWindows::FailCall(const std::string& function, DWORD error, int occurrence) {
  faults_.push_back({function, occurrence, error});
}

void SimWindows::ClearCallLog() {
  calls_.clear();
  callConsoleSizes_.clear();
  callCounts_.clear();
  loadLibraryArguments.clear();
}

int SimWindows::CallCount(const std::string& function) const {
  const auto it = callCounts_.find(function);
  return it == callCounts_.end() ? 0 : it->second;
}

std::optional<DWORD> SimWindows::Enter(const char* function) {
  killed_ = killed_ || (killAtCall_ != 0 && calls_.size() + 1 >= killAtCall_);
  if (killed_) {
    return ERROR_INVALID_FUNCTION;  // seen by no one: the process is gone
  }
  calls_.emplace_back(function);
  callConsoleSizes_.push_back(console.size());
  const int count = ++callCounts_[function];
  for (const Fault& fault : faults_) {
    if (fault.function == function && (fault.occurrence == 0 || fault.occurrence == count)) {
      return fault.error;
    }
  }
  return std::nullopt;
}

// --- A killed run ---------------------------------------------------------------

void SimWindows::EndProcess() {
  for (auto& [handle, size] : allocations_) {
    std::free(reinterpret_cast<void*>(handle));
  }
  allocations_.clear();
  localBlocks_.clear();
  localTexts_.clear();
  handles_.clear();
  modules_.clear();
  runLogs_.clear();
  registry.openKeys.clear();
  registry.openSources.clear();
  spooler.openTargets.clear();
  fileSystem.searches.clear();
  fileSystem.openFiles.clear();
  processes.handles.clear();
  processes.mutexHandles.clear();
  for (auto it = processes.mutexes.begin(); it != processes.mutexes.end();) {
    it = it->second.heldElsewhere ? std::next(it) : processes.mutexes.erase(it);
  }
  version.redirectionDisabled = false;
  killAtCall_ = 0;
  killed_ = false;
}

std::string SimWindows::StateText(std::string_view skippedFile) const {
  std::ostringstream out;
  for (const SimMonitor& m : spooler.monitors) {
    out << "monitor " << m.name << '|' << m.environment << '|' << m.dllName << '\n';
  }
  for (const SimPort& p : spooler.ports) {
    out << "port " << p.name << '|' << p.monitor << '|' << p.description << '\n';
  }
  for (const auto& [port, data] : spooler.storedRecords) {
    out << "port data " << port << ' ' << std::hash<std::string>{}({data.begin(), data.end()})
        << '\n';
  }
  for (const SimPrinter& p : spooler.printers) {
    out << "printer " << p.name << '|' << p.ports << '\n';
  }
  std::function<void(const SimRegistryKey&, const std::string&)> key = [&](const auto& k,
                                                                           const auto& path) {
    out << "key " << path << '\n';
    for (const auto& [name, value] : k.values) {
      out << "value " << path << '[' << name << "] " << value.type << ':';
      for (const BYTE b : value.data) {
        out << ' ' << int{b};
      }
      out << '\n';
    }
    for (const auto& [name, subkey] : k.subkeys) {
      key(*subkey, path + '\\' + subkey->name);
    }
  };
  key(*registry.machine, "HKLM");
  std::multiset<std::string> lines;  // in an order of their own, unlike directory listings
  const fs::path skipped = HostPath(skippedFile);
  for (const auto& entry : fs::recursive_directory_iterator(root_)) {
    std::ostringstream content;
    if (entry.is_regular_file() && entry.path() != skipped) {
      content << std::ifstream(entry.path(), std::ios::binary).rdbuf();
    }
    if (entry.path() != skipped) {
      lines.insert("file " + entry.path().lexically_relative(root_).string() + " = " +
                   content.str());
    }
  }
  for (const auto& [id, process] : processes.table) {
    if (process.running) {
      lines.insert("running " + process.program);
    }
  }
  for (const auto& [name, mutex] : processes.mutexes) {
    lines.insert("mutex " + name);
  }
  for (const auto& [path, attributes] : fileSystem.attributes) {
    lines.insert("attributes " + path + ' ' + std::to_string(attributes));
  }
  for (const std::string& line : lines) {
    out << line << '\n';
  }
  return out.str();
}

// --- Handle accounting ---------------------------------------------------------

HANDLE SimWindows::NewHandle(HandleKind kind) {
  const std::uintptr_t value = nextHandle_;
  nextHandle_ += 4;
  handles_[value] = kind;
  return reinterpret_cast<HANDLE>(value);
}

bool SimWindows::ReleaseHandle(HANDLE handle, HandleKind kind) {
  const auto it = handles_.find(reinterpret_cast<std::uintptr_t>(handle));
  if (it == handles_.end() || it->second != kind) {
    return false;
  }
  handles_.erase(it);
  return true;
}

bool SimWindows::IsHandle(HANDLE handle, HandleKind kind) const {
  const auto it = handles_.find(reinterpret_cast<std::uintptr_t>(handle));
  return it != handles_.end() && it->second == kind;
}

std::vector<std::string> SimWindows::OpenResources() const {
  std::vector<std::string> open;
  for (const auto& [value, kind] : handles_) {
    std::ostringstream line;
    line << HandleKindName(kind) << " 0x" << std::hex << value;
    if (kind == HandleKind::Module) {
      const auto module = modules_.find(value);
      if (module != modules_.end()) {
        line << " (" << module->second.name << ")";
      }
    }
    open.push_back(line.str());
  }
  return open;
}

std::size_t SimWindows::OpenCount(HandleKind kind) const {
  return static_cast<std::size_t>(std::count_if(
      handles_.begin(), handles_.end(), [&](const auto& entry) { return entry.second == kind; }));
}

// --- Paths ---------------------------------------------------------------------

std::string SimWindows::FullPath(std::string_view path) const {
  return ApplyRedirection(NormalizedPath(path));
}

std::string SimWindows::NormalizedPath(std::string_view path) const {
  std::string text(path);
  bool longPath = false;
  if (text.rfind("\\\\?\\", 0) == 0) {
    text.erase(0, 4);
    longPath = true;
  }
  if (!longPath) {
    std::replace(text.begin(), text.end(), '/', '\\');
  }
  std::string base;
  if (text.size() >= 2 && std::isalpha(static_cast<unsigned char>(text[0])) && text[1] == ':') {
    base = text.substr(0, 2);
    text.erase(0, 2);
    if (text.empty() || text[0] != '\\') {
      // Drive-relative: only the current directory's drive is modelled.
      text = currentDirectory.substr(2) + "\\" + text;
    }
  } else if (!text.empty() && text[0] == '\\') {
    base = currentDirectory.substr(0, 2);
  } else {
    base = currentDirectory.substr(0, 2);
    text = currentDirectory.substr(2) + "\\" + text;
  }
  base[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(base[0])));
  std::vector<std::string> parts;
  std::string part;
  std::istringstream stream(text);
  while (std::getline(stream, part, '\\')) {
    if (part.empty() || part == ".") {
      continue;
    }
    if (part == "..") {
      if (!parts.empty()) {
        parts.pop_back();
      }
      continue;
    }
    parts.push_back(part);
  }
  std::string full = base;
  for (const std::string& p : parts) {
    full += "\\" + p;
  }
  if (parts.empty()) {
    full += "\\";
  }
  return full;
}

std::string SimWindows::ApplyRedirection(std::string fullPath) const {
  if (!version.wow64 || version.redirectionDisabled) {
    return fullPath;
  }
  const std::string lowerPath = Lower(fullPath);
  const std::string lowerSystem = Lower(systemDirectory);
  if (lowerPath == lowerSystem || lowerPath.rfind(lowerSystem + "\\", 0) == 0) {
    return wow64SystemDirectory + fullPath.substr(systemDirectory.size());
  }
  return fullPath;
}

fs::path SimWindows::HostPath(std::string_view path) const {
  return HostPathOf(FullPath(path));
}

fs::path SimWindows::NativeHostPath(std::string_view path) const {
  return HostPathOf(NormalizedPath(path));
}

fs::path SimWindows::HostPathOf(const std::string& full) const {
  fs::path host = root_ / std::string(1, full[0]);
  std::istringstream stream(full.substr(2));
  std::string part;
  while (std::getline(stream, part, '\\')) {
    if (part.empty()) {
      continue;
    }
    // A long path keeps "/" inside its names. On the host it would separate
    // folders (or start an absolute path) and reach outside the machine's
    // folder; such a name is invalid on Windows, so any stand-in will do.
    std::replace(part.begin(), part.end(), '/', '\\');
    fs::path next = host / part;
    std::error_code error;
    if (!fs::exists(next, error) && fs::is_directory(host, error)) {
      const std::string wanted = Lower(part);
      for (const auto& entry : fs::directory_iterator(host, error)) {
        if (Lower(entry.path().filename().string()) == wanted) {
          next = entry.path();
          break;
        }
      }
    }
    host = next;
  }
  return host;
}

void SimWindows::WriteFile(std::string_view path, std::string_view content) {
  const fs::path host = HostPath(path);
  fs::create_directories(host.parent_path());
  std::ofstream out(host, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

std::optional<std::string> SimWindows::ReadFile(std::string_view path) const {
  std::ifstream in(HostPath(path), std::ios::binary);
  if (!in) {
    return std::nullopt;
  }
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

bool SimWindows::Exists(std::string_view path) const {
  std::error_code error;
  return fs::exists(HostPath(path), error);
}

bool SimWindows::IsDirectory(std::string_view path) const {
  std::error_code error;
  return fs::is_directory(HostPath(path), error);
}

void SimWindows::MakeDirectory(std::string_view path) {
  fs::create_directories(HostPath(path));
}

std::vector<std::string> SimWindows::ListDirectory(std::string_view path) const {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(HostPath(path), error)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end(),
            [](const std::string& a, const std::string& b) { return Lower(a) < Lower(b); });
  return names;
}

// --- Console and run log ---------------------------------------------------------

// The real backend flushes standard output after every write.
void SimWindows::WriteStdout(std::string_view text) {
  if (!killed_) {
    console.append(text);
  }
}

RunLogStream SimWindows::OpenRunLog(LPCSTR path, LPSECURITY_ATTRIBUTES security) {
  if (auto error = Enter("OpenRunLog")) {
    lastError_ = *error;
    return nullptr;
  }
  if (path == nullptr || *path == '\0') {
    lastError_ = ERROR_PATH_NOT_FOUND;
    return nullptr;
  }
  // As CreateFileA, which the C runtime opens the file with: a path of
  // MAX_PATH characters or more needs the long-path prefix, and names
  // must not hold characters Windows refuses ("/" stays in a long path).
  const std::string full = FullPath(path);
  const bool longPath = std::string_view(path).rfind("\\\\?\\", 0) == 0;
  if (!longPath && full.size() >= MAX_PATH) {
    lastError_ = ERROR_PATH_NOT_FOUND;
    return nullptr;
  }
  for (std::size_t i = 2; i < full.size(); ++i) {
    const auto c = static_cast<unsigned char>(full[i]);
    if (c < 32 || std::strchr("<>:\"|?*/", c) != nullptr) {
      lastError_ = ERROR_INVALID_NAME;
      return nullptr;
    }
  }
  // A name that a link leads elsewhere from, at any part of the path.
  const std::string key = SimFilesState::Key(full);
  for (const std::string& link : fileSystem.links) {
    if (key == link || key.rfind(link + "\\", 0) == 0) {
      lastError_ = ERROR_CANT_ACCESS_FILE;
      return nullptr;
    }
  }
  const fs::path host = HostPath(path);
  std::error_code error;
  if (!fs::is_directory(host.parent_path(), error) || fs::is_directory(host, error)) {
    lastError_ = fs::is_directory(host, error) ? ERROR_ACCESS_DENIED : ERROR_PATH_NOT_FOUND;
    return nullptr;
  }
  const bool created = !fs::exists(host, error);
  std::string descriptor = security != nullptr ? LocalText(security->lpSecurityDescriptor) : "";
  if (!RemoteLogAccess(full, created, descriptor)) {
    lastError_ = ERROR_ACCESS_DENIED;
    return nullptr;
  }
  std::ofstream touch(host, std::ios::binary | std::ios::app);
  if (!touch) {
    lastError_ = ERROR_ACCESS_DENIED;
    return nullptr;
  }
  if (created) {
    fileSystem.security[key] = descriptor;
  }
  HANDLE stream = NewHandle(HandleKind::RunLog);
  runLogs_[reinterpret_cast<std::uintptr_t>(stream)] = {host.string(), {}};
  return stream;
}

bool SimWindows::RemoteLogAccess(const std::string& full, bool created, std::string& descriptor) {
  const std::string key = SimFilesState::Key(full);
  const auto remote = fileSystem.remoteFolders.find(key.substr(0, key.rfind('\\')));
  if (remote == fileSystem.remoteFolders.end()) {
    return true;
  }
  const std::string account = runAccount == "S-1-5-18" ? remote->second : runAccount;
  if (created && descriptor.empty()) {
    descriptor = fileSystem.security[remote->first];
    const std::size_t creator = descriptor.find(";CO)");
    if (creator != std::string::npos) {
      descriptor.replace(creator + 1, 2, account);
    }
  }
  return created || fileSystem.security[key].find(";" + account + ")") != std::string::npos;
}

void SimWindows::WriteRunLog(RunLogStream stream, std::string_view text) {
  const auto it = runLogs_.find(reinterpret_cast<std::uintptr_t>(stream));
  if (it == runLogs_.end() || killed_) {
    return;
  }
  std::string& buffered = it->second.buffered;
  buffered.append(text);
  while (buffered.size() > kRuntimeBufferSize) {
    FlushRunLog(it->second.hostPath, buffered.substr(0, kRuntimeBufferSize));
    buffered.erase(0, kRuntimeBufferSize);
  }
}

// Text mode: each "\n" reaches the file as CRLF, translated as it is written.
void SimWindows::FlushRunLog(const std::string& hostPath, std::string_view text) {
  std::string converted;
  for (char c : text) {
    if (c == '\n') {
      converted += '\r';
    }
    converted += c;
  }
  std::ofstream out(hostPath, std::ios::binary | std::ios::app);
  out.write(converted.data(), static_cast<std::streamsize>(converted.size()));
}

void SimWindows::CloseRunLog(RunLogStream stream) {
  if (!killed_ && ReleaseHandle(stream, HandleKind::RunLog)) {
    const RunLogFile& log = runLogs_[reinterpret_cast<std::uintptr_t>(stream)];
    FlushRunLog(log.hostPath, log.buffered);
    runLogs_.erase(reinterpret_cast<std::uintptr_t>(stream));
  }
}

bool SimWindows::RunLogOpen() const {
  return !runLogs_.empty();
}

// --- Directories ------------------------------------------------------------------

namespace {

// Windows' pattern for the directory queries: the length without the
// terminator when it fits, else the size needed with it, buffer untouched.
DWORD CopyOut(const std::string& text, LPSTR buffer, DWORD size) {
  if (buffer == nullptr || size <= text.size()) {
    return static_cast<DWORD>(text.size() + 1);
  }
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return static_cast<DWORD>(text.size());
}

}  // namespace

UINT SimWindows::GetSystemDirectoryA(LPSTR buffer, UINT size) {
  if (auto error = Enter("GetSystemDirectoryA")) {
    lastError_ = *error;
    return 0;
  }
  return CopyOut(systemDirectory, buffer, size);
}

UINT SimWindows::GetWindowsDirectoryA(LPSTR buffer, UINT size) {
  if (auto error = Enter("GetWindowsDirectoryA")) {
    lastError_ = *error;
    return 0;
  }
  return CopyOut(windowsDirectory, buffer, size);
}

DWORD SimWindows::GetCurrentDirectoryA(DWORD size, LPSTR buffer) {
  if (auto error = Enter("GetCurrentDirectoryA")) {
    lastError_ = *error;
    return 0;
  }
  return CopyOut(currentDirectory, buffer, size);
}

BOOL SimWindows::SetCurrentDirectoryA(LPCSTR pathName) {
  if (auto error = Enter("SetCurrentDirectoryA")) {
    return Fail(*error);
  }
  if (pathName == nullptr || *pathName == '\0') {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  if (!IsDirectory(pathName)) {
    return Fail(Exists(pathName) ? ERROR_INVALID_NAME : ERROR_FILE_NOT_FOUND);
  }
  std::string full = FullPath(pathName);
  if (full.size() > 3 && full.back() == '\\') {
    full.pop_back();
  }
  currentDirectory = full;
  return TRUE;
}

// --- Modules ----------------------------------------------------------------------

void SimWindows::SetModuleMissing(const std::string& module) {
  missingModules_.insert(ModuleName(module));
}

void SimWindows::SetExportMissing(const std::string& module, const std::string& function) {
  missingExports_.insert(ModuleName(module) + "!" + function);
}

const SimWindows::LoadedModule* SimWindows::FindModule(HMODULE module) const {
  const auto it = modules_.find(reinterpret_cast<std::uintptr_t>(module));
  return it == modules_.end() ? nullptr : &it->second;
}

HMODULE SimWindows::GetModuleHandleA(LPCSTR moduleName) {
  if (auto error = Enter("GetModuleHandleA")) {
    lastError_ = *error;
    return nullptr;
  }
  if (moduleName == nullptr) {
    return nullptr;
  }
  const std::string name = ModuleName(moduleName);
  if (name != "kernel32.dll" || missingModules_.count(name) != 0) {
    lastError_ = ERROR_MOD_NOT_FOUND;
    return nullptr;
  }
  auto* handle = reinterpret_cast<HMODULE>(kResidentModuleBase);
  modules_.try_emplace(kResidentModuleBase, LoadedModule{name, 1});
  return handle;
}

HMODULE SimWindows::LoadLibraryA(LPCSTR fileName) {
  loadLibraryArguments.emplace_back(fileName == nullptr ? "" : fileName);
  if (auto error = Enter("LoadLibraryA")) {
    lastError_ = *error;
    return nullptr;
  }
  if (fileName == nullptr) {
    lastError_ = ERROR_INVALID_PARAMETER;
    return nullptr;
  }
  const std::string name = ModuleName(fileName);
  if (!IsKnownModule(name) || missingModules_.count(name) != 0) {
    lastError_ = ERROR_MOD_NOT_FOUND;
    return nullptr;
  }
  auto* handle = static_cast<HMODULE>(NewHandle(HandleKind::Module));
  modules_[reinterpret_cast<std::uintptr_t>(handle)] = LoadedModule{name, 1};
  return handle;
}

BOOL SimWindows::FreeLibrary(HMODULE module) {
  if (auto error = Enter("FreeLibrary")) {
    return Fail(*error);
  }
  if (!ReleaseHandle(module, HandleKind::Module)) {
    return Fail(ERROR_INVALID_HANDLE);
  }
  modules_.erase(reinterpret_cast<std::uintptr_t>(module));
  return TRUE;
}

bool SimWindows::Exports(const std::string& module, const char* function) const {
  const bool isKernel = module == "kernel32.dll";
  return missingExports_.count(module + "!" + function) == 0 &&
         !(isKernel && std::strcmp(function, "IsWow64Process") == 0 &&
           !version.isWow64ProcessPresent) &&
         !(isKernel && std::strcmp(function, "Wow64DisableWow64FsRedirection") == 0 &&
           !version.redirectionPresent) &&
         !(isKernel && std::strcmp(function, "IsWow64Process2") == 0 && version.nativeMachine == 0);
}

bool SimWindows::HasEntryPoint(HMODULE module, EntryPoint entry) {
  const LoadedModule* loaded = FindModule(module);
  const Export& wanted = ExportOf(entry);
  if (auto error = Enter("GetProcAddress")) {
    lastError_ = *error;
    return false;
  }
  if (loaded == nullptr || loaded->name != wanted.module ||
      !Exports(wanted.module, wanted.function)) {
    lastError_ = loaded == nullptr ? ERROR_INVALID_HANDLE : ERROR_PROC_NOT_FOUND;
    return false;
  }
  return true;
}

std::optional<DWORD> SimWindows::EnterEntryPoint(EntryPoint entry) {
  const Export& called = ExportOf(entry);
  if (auto error = Enter(called.function)) {
    return error;
  }
  if (!Exports(called.module, called.function)) {
    return ERROR_PROC_NOT_FOUND;
  }
  return std::nullopt;
}

BOOL SimWindows::SetDllDirectoryA(LPCSTR pathName) {
  if (auto error = EnterEntryPoint(EntryPoint::kSetDllDirectoryA)) {
    return Fail(*error);
  }
  dllDirectory = pathName == nullptr ? std::nullopt : std::optional<std::string>(pathName);
  return TRUE;
}

BOOL SimWindows::SetDefaultDllDirectories(DWORD /*directoryFlags*/) {
  if (auto error = EnterEntryPoint(EntryPoint::kSetDefaultDllDirectories)) {
    return Fail(*error);
  }
  return TRUE;
}

// --- Text ----------------------------------------------------------------------------

unsigned LowerIn1252(unsigned c) {
  if (c == 0x8A || c == 0x8C || c == 0x8E) {
    return c + 0x10;
  }
  const bool letter = (c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7);
  return c == 0x9F ? 0xFF : letter ? c + 0x20 : c;
}

namespace {

// The next character of `text` with its case folded, and `text` moved past
// it; a lead byte without its trail byte ends the text, as in _mbsicmp.
unsigned NextFolded(const unsigned char*& text, UINT codePage) {
  const unsigned c = *text;
  if (c == 0) {
    return 0;
  }
  ++text;
  if (codePage != 932) {
    return LowerIn1252(c);
  }
  if ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) {  // a lead byte
    return *text == 0 ? 0 : (c << 8) | *text++;
  }
  return c >= 'A' && c <= 'Z' ? c + 0x20 : c;
}

}  // namespace

int SimWindows::CompareTextIgnoreCase(LPCSTR left, LPCSTR right) {
  auto* l = reinterpret_cast<const unsigned char*>(left);
  auto* r = reinterpret_cast<const unsigned char*>(right);
  for (;;) {
    const unsigned a = NextFolded(l, ansiCodePage);
    const unsigned b = NextFolded(r, ansiCodePage);
    if (a != b) {
      return a < b ? -1 : 1;
    }
    if (a == 0) {
      return 0;
    }
  }
}

DWORD SimWindows::FormatMessageA(DWORD /*flags*/, LPCVOID /*source*/, DWORD messageId,
                                 DWORD /*languageId*/, LPSTR buffer, DWORD size,
                                 va_list* /*arguments*/) {
  if (auto error = Enter("FormatMessageA")) {
    return Fail(*error);
  }
  const std::string text = messageId == ERROR_ACCESS_DENIED
                               ? "Access is denied.\r\n"
                               : "The system cannot find the path specified.\r\n";
  if (size <= text.size()) {
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return static_cast<DWORD>(text.size());
}

// --- Memory -------------------------------------------------------------------------

HGLOBAL SimWindows::GlobalAlloc(UINT flags, SIZE_T bytes) {
  if (auto error = Enter("GlobalAlloc")) {
    lastError_ = *error;
    return nullptr;
  }
  void* block = std::malloc(bytes == 0 ? 1 : bytes);
  if (block == nullptr) {
    lastError_ = ERROR_NOT_ENOUGH_MEMORY;
    return nullptr;
  }
  // Uninitialised unless asked, as GMEM_FIXED memory is: callers must clear it.
  std::memset(block, (flags & GMEM_ZEROINIT) != 0 ? 0 : 0xCD, bytes == 0 ? 1 : bytes);
  const auto value = reinterpret_cast<std::uintptr_t>(block);
  allocations_[value] = bytes;
  handles_[value] = HandleKind::Global;
  return block;
}

HGLOBAL SimWindows::GlobalFree(HGLOBAL memory) {
  if (auto error = Enter("GlobalFree")) {
    lastError_ = *error;
    return memory;
  }
  const auto value = reinterpret_cast<std::uintptr_t>(memory);
  if (allocations_.erase(value) == 0) {
    lastError_ = ERROR_INVALID_HANDLE;
    return memory;
  }
  handles_.erase(value);
  std::free(memory);
  return nullptr;
}

}  // namespace tolvo::sim
