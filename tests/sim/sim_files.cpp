// Files and folders of the simulated machine, with Windows' answers: last
// errors, attributes, searches with wildcards, files in use.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <system_error>

#include "sim/sim_windows.h"

namespace tolvo::sim {

namespace fs = std::filesystem;

namespace {

constexpr DWORD kErrorFilenameExcedRange = 206;
constexpr DWORD kErrorDirectory = 267;  // "The directory name is invalid."
// CreateDirectoryA leaves room for an 8.3 file name below the new folder.
constexpr std::size_t kMaxDirectoryPath = MAX_PATH - 12;
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                  FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;

std::string Lower(std::string_view text) {
  std::string result(text);
  for (char& c : result) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return result;
}

bool IsLongPath(std::string_view path) {
  return path.rfind("\\\\?\\", 0) == 0;
}

// The ANSI functions refuse a path of MAX_PATH characters or more unless it
// carries the long-path prefix.
bool TooLong(std::string_view raw, const std::string& full, std::size_t limit = MAX_PATH - 1) {
  return !IsLongPath(raw) && full.size() > limit;
}

// Characters Windows refuses in a file or folder name ("/" only reaches
// here inside a long path, where it is not a separator).
bool HasInvalidName(const std::string& full) {
  for (std::size_t i = 2; i < full.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(full[i]);
    if (c < 32 || std::strchr("<>:\"|?*/", c) != nullptr) {
      return true;
    }
  }
  return false;
}

std::string ParentOf(const std::string& full) {
  const auto slash = full.find_last_of('\\');
  if (slash == std::string::npos || slash <= 2) {
    return full.substr(0, 2) + "\\";
  }
  return full.substr(0, slash);
}

bool IsRoot(const std::string& full) {
  return full.size() <= 3;
}

bool IsUnder(const std::string& key, const std::string& folderKey) {
  return key == folderKey ||
         (key.size() > folderKey.size() && key.compare(0, folderKey.size(), folderKey) == 0 &&
          (folderKey.back() == '\\' || key[folderKey.size()] == '\\'));
}

// "*" and "?" as Windows reads them, without regard to case.
bool Glob(std::string_view name, std::string_view pattern) {
  std::size_t n = 0;
  std::size_t p = 0;
  std::size_t starPattern = std::string_view::npos;
  std::size_t starName = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
      ++n;
      ++p;
    } else if (p < pattern.size() && pattern[p] == '*') {
      starPattern = p++;
      starName = n;
    } else if (starPattern != std::string_view::npos) {
      p = starPattern + 1;
      n = ++starName;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') {
    ++p;
  }
  return p == pattern.size();
}

// "*.*" matches every name, with or without a dot, and "NAME.*" matches
// NAME itself, as on Windows.
bool MatchesPattern(std::string_view name, std::string_view pattern) {
  if (pattern == "*" || pattern == "*.*") {
    return true;
  }
  const std::string lowerName = Lower(name);
  const std::string lowerPattern = Lower(pattern);
  if (Glob(lowerName, lowerPattern)) {
    return true;
  }
  const bool endsInDotStar =
      lowerPattern.size() >= 2 && lowerPattern.compare(lowerPattern.size() - 2, 2, ".*") == 0;
  return endsInDotStar && lowerName.find('.') == std::string::npos &&
         Glob(lowerName, std::string_view(lowerPattern).substr(0, lowerPattern.size() - 2));
}

bool HostIsDirectory(const fs::path& host) {
  std::error_code error;
  return fs::is_directory(host, error);
}

bool HostExists(const fs::path& host) {
  std::error_code error;
  return fs::exists(host, error);
}

}  // namespace

// --- State -------------------------------------------------------------------

std::string SimFilesState::Key(std::string_view fullPath) {
  std::string key = Lower(fullPath);
  std::replace(key.begin(), key.end(), '/', '\\');
  while (key.size() > 3 && key.back() == '\\') {
    key.pop_back();
  }
  return key;
}

void SimFilesState::SetAttributes(std::string_view fullPath, DWORD attributes) {
  this->attributes[Key(fullPath)] = attributes & kKeptAttributes;
}

DWORD SimFilesState::StoredAttributes(std::string_view fullPath, bool isDirectory) const {
  const auto it = attributes.find(Key(fullPath));
  if (it != attributes.end()) {
    return it->second;
  }
  return isDirectory ? 0 : FILE_ATTRIBUTE_ARCHIVE;
}

bool SimFilesState::AnyLockedAt(std::string_view fullPath) const {
  const std::string folder = Key(fullPath);
  return std::any_of(locked.begin(), locked.end(),
                     [&](const std::string& key) { return IsUnder(key, folder); });
}

void SimFilesState::Forget(std::string_view fullPath) {
  const std::string folder = Key(fullPath);
  for (auto it = attributes.begin(); it != attributes.end();) {
    it = IsUnder(it->first, folder) ? attributes.erase(it) : std::next(it);
  }
  for (auto it = locked.begin(); it != locked.end();) {
    it = IsUnder(*it, folder) ? locked.erase(it) : std::next(it);
  }
}

void SimFilesState::CopyAttributes(std::string_view fromFullPath, std::string_view toFullPath) {
  const auto it = attributes.find(Key(fromFullPath));
  if (it == attributes.end()) {
    attributes.erase(Key(toFullPath));
  } else {
    attributes[Key(toFullPath)] = it->second;
  }
}

// --- Files ---------------------------------------------------------------------

namespace {

// The error for a path that does not exist: the file is missing when its
// folder exists, otherwise the path is.
DWORD MissingError(const SimWindows& machine, const std::string& full) {
  return machine.IsDirectory(ParentOf(full)) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

}  // namespace

BOOL SimWindows::CopyFileA(LPCSTR existingFile, LPCSTR newFile, BOOL failIfExists) {
  if (auto error = Enter("CopyFileA")) {
    return Fail(*error);
  }
  if (existingFile == nullptr || newFile == nullptr || *existingFile == '\0' || *newFile == '\0') {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  const std::string source = FullPath(existingFile);
  const std::string target = FullPath(newFile);
  if (TooLong(existingFile, source) || TooLong(newFile, target)) {
    return Fail(kErrorFilenameExcedRange);
  }
  const fs::path sourceHost = HostPath(source);
  if (!HostExists(sourceHost)) {
    return Fail(MissingError(*this, source));
  }
  if (HostIsDirectory(sourceHost)) {
    return Fail(ERROR_ACCESS_DENIED);
  }
  if (HasInvalidName(target)) {
    return Fail(ERROR_INVALID_NAME);
  }
  if (!IsDirectory(ParentOf(target))) {
    return Fail(ERROR_PATH_NOT_FOUND);
  }
  const fs::path targetHost = HostPath(target);
  if (HostExists(targetHost)) {
    if (SimFilesState::Key(source) == SimFilesState::Key(target)) {
      return Fail(ERROR_SHARING_VIOLATION);
    }
    if (failIfExists) {
      return Fail(ERROR_FILE_EXISTS);
    }
    if (HostIsDirectory(targetHost) ||
        (fileSystem.StoredAttributes(target, false) & FILE_ATTRIBUTE_READONLY) != 0) {
      return Fail(ERROR_ACCESS_DENIED);
    }
    if (fileSystem.IsLocked(target)) {
      return Fail(ERROR_SHARING_VIOLATION);
    }
  }
  std::error_code error;
  fs::copy_file(sourceHost, targetHost, fs::copy_options::overwrite_existing, error);
  if (error) {
    return Fail(ERROR_ACCESS_DENIED);
  }
  fileSystem.CopyAttributes(source, target);
  return TRUE;
}

BOOL SimWindows::DeleteFileA(LPCSTR fileName) {
  if (auto error = Enter("DeleteFileA")) {
    return Fail(*error);
  }
  if (fileName == nullptr || *fileName == '\0') {
    return Fail(ERROR_PATH_NOT_FOUND);
  }
  const std::string full = FullPath(fileName);
  if (TooLong(fileName, full)) {
    return Fail(kErrorFilenameExcedRange);
  }
  const fs::path host = HostPath(full);
  if (!HostExists(host)) {
    return Fail(MissingError(*this, full));
  }
  if (HostIsDirectory(host) ||
      (fileSystem.StoredAttributes(full, false) & FILE_ATTRIBUTE_READONLY) != 0) {
    return Fail(ERROR_ACCESS_DENIED);
  }
  if (fileSystem.IsLocked(full)) {
    return Fail(ERROR_SHARING_VIOLATION);
  }
  std::error_code error;
  if (!fs::remove(host, error)) {
    return Fail(ERROR_ACCESS_DENIED);
  }
  fileSystem.Forget(full);
  return TRUE;
}

DWORD SimWindows::GetFileAttributesA(LPCSTR fileName) {
  if (auto error = Enter("GetFileAttributesA")) {
    SetLastError(*error);
    return INVALID_FILE_ATTRIBUTES;
  }
  if (fileName == nullptr || *fileName == '\0') {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_FILE_ATTRIBUTES;
  }
  const std::string full = FullPath(fileName);
  if (TooLong(fileName, full)) {
    SetLastError(kErrorFilenameExcedRange);
    return INVALID_FILE_ATTRIBUTES;
  }
  const fs::path host = HostPath(full);
  if (!HostExists(host)) {
    SetLastError(MissingError(*this, full));
    return INVALID_FILE_ATTRIBUTES;
  }
  const bool directory = HostIsDirectory(host);
  const DWORD attributes =
      fileSystem.StoredAttributes(full, directory) | (directory ? FILE_ATTRIBUTE_DIRECTORY : 0);
  return attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
}

UINT SimWindows::GetDriveTypeA(LPCSTR rootPathName) {
  if (auto error = Enter("GetDriveTypeA")) {
    SetLastError(*error);
    return 0;  // DRIVE_UNKNOWN
  }
  const std::string root = FullPath(rootPathName != nullptr ? rootPathName : ".").substr(0, 2);
  return fileSystem.remoteFolders.count(SimFilesState::Key(root)) != 0 ? DRIVE_REMOTE : DRIVE_FIXED;
}

BOOL SimWindows::SetFileAttributesA(LPCSTR fileName, DWORD attributes) {
  if (auto error = Enter("SetFileAttributesA")) {
    return Fail(*error);
  }
  if (fileName == nullptr || *fileName == '\0') {
    return Fail(ERROR_FILE_NOT_FOUND);
  }
  const std::string full = FullPath(fileName);
  if (TooLong(fileName, full)) {
    return Fail(kErrorFilenameExcedRange);
  }
  if (!HostExists(HostPath(full))) {
    return Fail(MissingError(*this, full));
  }
  fileSystem.SetAttributes(full, attributes);
  return TRUE;
}

// --- Folders ---------------------------------------------------------------------

BOOL SimWindows::CreateDirectoryA(LPCSTR pathName, LPSECURITY_ATTRIBUTES /*security*/) {
  if (auto error = Enter("CreateDirectoryA")) {
    return Fail(*error);
  }
  if (pathName == nullptr || *pathName == '\0') {
    return Fail(ERROR_PATH_NOT_FOUND);
  }
  const std::string full = FullPath(pathName);
  if (TooLong(pathName, full, kMaxDirectoryPath)) {
    return Fail(kErrorFilenameExcedRange);
  }
  const fs::path host = HostPath(full);
  if (HostExists(host)) {
    return Fail(ERROR_ALREADY_EXISTS);
  }
  if (IsRoot(full) || !IsDirectory(ParentOf(full))) {
    return Fail(ERROR_PATH_NOT_FOUND);
  }
  if (HasInvalidName(full)) {
    return Fail(ERROR_INVALID_NAME);
  }
  std::error_code error;
  if (!fs::create_directory(host, error)) {
    return Fail(ERROR_ACCESS_DENIED);
  }
  fileSystem.Forget(full);
  return TRUE;
}

BOOL SimWindows::RemoveDirectoryA(LPCSTR pathName) {
  if (auto error = Enter("RemoveDirectoryA")) {
    return Fail(*error);
  }
  if (pathName == nullptr || *pathName == '\0') {
    return Fail(ERROR_PATH_NOT_FOUND);
  }
  const std::string full = FullPath(pathName);
  if (TooLong(pathName, full)) {
    return Fail(kErrorFilenameExcedRange);
  }
  const fs::path host = HostPath(full);
  if (!HostExists(host)) {
    return Fail(MissingError(*this, full));
  }
  if (!HostIsDirectory(host)) {
    return Fail(kErrorDirectory);
  }
  if (IsRoot(full) || (fileSystem.StoredAttributes(full, true) & FILE_ATTRIBUTE_READONLY) != 0) {
    return Fail(ERROR_ACCESS_DENIED);
  }
  // The process's current directory is held open.
  if (IsUnder(SimFilesState::Key(currentDirectory), SimFilesState::Key(full))) {
    return Fail(ERROR_SHARING_VIOLATION);
  }
  std::error_code error;
  if (!fs::is_empty(host, error)) {
    return Fail(ERROR_DIR_NOT_EMPTY);
  }
  if (!fs::remove(host, error)) {
    return Fail(ERROR_ACCESS_DENIED);
  }
  fileSystem.Forget(full);
  return TRUE;
}

// --- Searches ---------------------------------------------------------------------

namespace {

WIN32_FIND_DATAA FindEntry(std::string_view name, DWORD attributes, std::uintmax_t size) {
  WIN32_FIND_DATAA entry;
  std::memset(&entry, 0, sizeof entry);
  entry.dwFileAttributes = attributes;
  entry.nFileSizeHigh = static_cast<DWORD>(size >> 32);
  entry.nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFFu);
  const std::size_t length = std::min(name.size(), sizeof entry.cFileName - 1);
  std::memcpy(entry.cFileName, name.data(), length);
  return entry;
}

}  // namespace

HANDLE SimWindows::FindFirstFileA(LPCSTR fileName, LPWIN32_FIND_DATAA findData) {
  if (auto error = Enter("FindFirstFileA")) {
    SetLastError(*error);
    return INVALID_HANDLE_VALUE;
  }
  auto failSearch = [this](DWORD error) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  };
  if (fileName == nullptr || findData == nullptr || *fileName == '\0') {
    return failSearch(ERROR_PATH_NOT_FOUND);
  }
  const std::string raw = fileName;
  if (raw.back() == '\\' || raw.back() == '/') {
    return failSearch(ERROR_FILE_NOT_FOUND);
  }
  // Split into the folder searched and the pattern of names.
  const auto slash = raw.find_last_of(IsLongPath(raw) ? "\\" : "\\/");
  std::string folderPart;
  std::string pattern;
  if (slash != std::string::npos) {
    folderPart = raw.substr(0, slash + 1);
    pattern = raw.substr(slash + 1);
  } else if (raw.size() >= 2 && raw[1] == ':') {
    folderPart = raw.substr(0, 2);
    pattern = raw.substr(2);
  } else {
    folderPart = ".";
    pattern = raw;
  }
  const std::string folder = FullPath(folderPart);
  if (TooLong(raw, folder + "\\" + pattern)) {
    return failSearch(kErrorFilenameExcedRange);
  }
  const fs::path folderHost = HostPath(folder);
  if (!HostIsDirectory(folderHost)) {
    return failSearch(ERROR_PATH_NOT_FOUND);
  }

  SimFilesState::Search search;
  if (!IsRoot(folder)) {
    // NTFS lists a folder's own two entries first, except at a drive root.
    for (const char* dots : {".", ".."}) {
      if (MatchesPattern(dots, pattern)) {
        search.entries.push_back(FindEntry(dots, FILE_ATTRIBUTE_DIRECTORY, 0));
      }
    }
  }
  for (const std::string& name : ListDirectory(folder)) {
    if (!MatchesPattern(name, pattern)) {
      continue;
    }
    const std::string entryPath = folder + (IsRoot(folder) ? "" : "\\") + name;
    const fs::path host = folderHost / name;
    const bool directory = HostIsDirectory(host);
    std::error_code error;
    const std::uintmax_t size = directory ? 0 : fs::file_size(host, error);
    DWORD attributes = fileSystem.StoredAttributes(entryPath, directory) |
                       (directory ? FILE_ATTRIBUTE_DIRECTORY : 0);
    search.entries.push_back(
        FindEntry(name, attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes, error ? 0 : size));
  }
  if (search.entries.empty()) {
    return failSearch(ERROR_FILE_NOT_FOUND);
  }
  *findData = search.entries[0];
  search.next = 1;
  HANDLE handle = NewHandle(HandleKind::Find);
  fileSystem.searches[reinterpret_cast<std::uintptr_t>(handle)] = std::move(search);
  return handle;
}

BOOL SimWindows::FindNextFileA(HANDLE find, LPWIN32_FIND_DATAA findData) {
  if (auto error = Enter("FindNextFileA")) {
    return Fail(*error);
  }
  const auto it = fileSystem.searches.find(reinterpret_cast<std::uintptr_t>(find));
  if (!IsHandle(find, HandleKind::Find) || it == fileSystem.searches.end()) {
    return Fail(ERROR_INVALID_HANDLE);
  }
  if (findData == nullptr) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  SimFilesState::Search& search = it->second;
  if (search.next >= search.entries.size()) {
    return Fail(ERROR_NO_MORE_FILES);
  }
  *findData = search.entries[search.next++];
  return TRUE;
}

HANDLE SimWindows::CreateFileA(LPCSTR fileName, DWORD access, DWORD /*shareMode*/,
                               LPSECURITY_ATTRIBUTES /*security*/, DWORD disposition,
                               DWORD /*flags*/, HANDLE /*templateFile*/) {
  if (auto error = Enter("CreateFileA")) {
    SetLastError(*error);
    return INVALID_HANDLE_VALUE;
  }
  if (access != GENERIC_READ || disposition != OPEN_EXISTING || fileName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);  // beyond the model: reading an existing file
    return INVALID_HANDLE_VALUE;
  }
  const std::string full = FullPath(fileName);
  const fs::path host = HostPath(full);
  if (!HostExists(host) || HostIsDirectory(host)) {
    SetLastError(HostExists(host) ? ERROR_ACCESS_DENIED : MissingError(*this, full));
    return INVALID_HANDLE_VALUE;
  }
  HANDLE file = NewHandle(HandleKind::File);
  fileSystem.openFiles[reinterpret_cast<std::uintptr_t>(file)].content = *ReadFile(full);
  return file;
}

BOOL SimWindows::ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead,
                          LPOVERLAPPED /*overlapped*/) {
  if (auto error = Enter("ReadFile")) {
    return Fail(*error);
  }
  const auto open = fileSystem.openFiles.find(reinterpret_cast<std::uintptr_t>(file));
  if (open == fileSystem.openFiles.end() || bytesRead == nullptr) {
    return Fail(open == fileSystem.openFiles.end() ? ERROR_INVALID_HANDLE
                                                   : ERROR_INVALID_PARAMETER);
  }
  SimFilesState::OpenFile& opened = open->second;
  const std::size_t count =
      std::min<std::size_t>(bytesToRead, opened.content.size() - opened.position);
  std::memcpy(buffer, opened.content.data() + opened.position, count);
  opened.position += count;
  *bytesRead = static_cast<DWORD>(count);
  return TRUE;
}

BOOL SimWindows::FindClose(HANDLE find) {
  if (auto error = Enter("FindClose")) {
    return Fail(*error);
  }
  if (!ReleaseHandle(find, HandleKind::Find)) {
    return Fail(ERROR_INVALID_HANDLE);
  }
  fileSystem.searches.erase(reinterpret_cast<std::uintptr_t>(find));
  return TRUE;
}

}  // namespace tolvo::sim
