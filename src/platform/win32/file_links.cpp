#include "platform/win32/file_links.h"

#include <winternl.h>

#include <cstring>

#include "platform/path_form.h"

namespace tolvo {

namespace {

constexpr DWORD kPathSize = 1024;
constexpr ULONG kShared = FILE_SHARE_READ | FILE_SHARE_WRITE;

// The native calls, the same on every supported Windows: the folder is
// held by a handle and the file opened relative to it, and each is asked
// its own name. ntdll is in every process; it is looked up, not imported.
struct NtCalls {
  decltype(&::NtCreateFile) createFile = nullptr;
  decltype(&::NtQueryInformationFile) queryInformationFile = nullptr;
  decltype(&::RtlNtStatusToDosError) statusToError = nullptr;
  // The object manager's own comparison of names: unit by unit, case
  // folded with the system's upper-case table, nothing ignored.
  BOOLEAN(NTAPI* equalString)(const UNICODE_STRING*, const UNICODE_STRING*, BOOLEAN) = nullptr;
};

template <typename Function>
Function NtEntry(HMODULE ntdll, const char* name, Function) {
  const FARPROC entry = ntdll != nullptr ? ::GetProcAddress(ntdll, name) : nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(entry));
}

bool FindNtCalls(NtCalls& calls) {
  const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
  calls.createFile = NtEntry(ntdll, "NtCreateFile", calls.createFile);
  calls.queryInformationFile = NtEntry(ntdll, "NtQueryInformationFile", calls.queryInformationFile);
  calls.statusToError = NtEntry(ntdll, "RtlNtStatusToDosError", calls.statusToError);
  calls.equalString = NtEntry(ntdll, "RtlEqualUnicodeString", calls.equalString);
  return calls.createFile != nullptr && calls.queryInformationFile != nullptr &&
         calls.statusToError != nullptr && calls.equalString != nullptr;
}

// Where a full path leads: the name the file system reports for a handle
// of it, relative to its volume ("\Windows\x.log"), and that volume's root
// ("C:\"); or, on a share, the name with the server and share
// ("\server\share\x.log") and relative to the share ("\x.log").
struct Place {
  char root[4] = {};
  char name[kPathSize] = {};
  const char* nameInShare = nullptr;
};

bool CopyName(char (&target)[kPathSize], const char* first, std::size_t firstLength,
              const char* rest) {
  const std::size_t restLength = std::strlen(rest);
  if (firstLength + restLength >= kPathSize) {
    return false;
  }
  std::memmove(target, first, firstLength);
  std::memmove(target + firstLength, rest, restLength + 1);
  return true;
}

// "\server\share\rest", read from its first backslash.
bool PlaceOnShare(const char* body, Place& place) {
  const char* serverEnd = std::strchr(body + 1, '\\');
  const char* shareEnd = serverEnd != nullptr ? std::strchr(serverEnd + 1, '\\') : nullptr;
  if (shareEnd == nullptr || serverEnd == body + 1 || shareEnd == serverEnd + 1 ||
      !CopyName(place.name, body, 0, body)) {
    return false;
  }
  place.nameInShare = place.name + (shareEnd - body);
  return true;
}

// A drive letter that names a share ("net use Z: \\server\share") leads
// to "\Device\LanmanRedirector\;Z:0...0\server\share".
bool PlaceOnRedirectedDrive(const char* full, Place& place) {
  const char drive[3] = {full[0], ':', '\0'};
  char target[kPathSize] = {};
  if (::QueryDosDeviceA(drive, target, kPathSize) == 0) {
    return false;
  }
  const char* redirected = std::strstr(target, "\\;");
  const char* share = redirected != nullptr ? std::strchr(redirected + 2, '\\') : nullptr;
  if (share == nullptr || !CopyName(place.name, share, std::strlen(share), full + 2)) {
    return false;
  }
  place.nameInShare = full + 2;
  return true;
}

bool PlaceOf(const char* full, Place& place) {
  const PathForm form = FormOfPath(full);
  if (form.kind == PathForm::Kind::kShare) {
    return PlaceOnShare(full + form.at, place);
  }
  const char* drive = full + form.at;
  if (form.kind != PathForm::Kind::kDrive || drive[2] != '\\') {
    return false;  // a device, or a volume named by its GUID
  }
  std::memcpy(place.root, drive, 3);
  if (::GetDriveTypeA(place.root) == DRIVE_REMOTE) {
    return PlaceOnRedirectedDrive(drive, place);
  }
  return CopyName(place.name, drive + 2, 0, drive + 2);
}

// The same name, case aside, a folder's trailing backslash aside: compared
// as the file system compares names, not linguistically (CompareStringW
// takes "ae" and its ligature, or names that differ by a character it
// ignores, for one name).
bool SameName(const NtCalls& nt, const WCHAR* opened, int openedLength, const char* named) {
  WCHAR wide[kPathSize];
  int length = ::MultiByteToWideChar(CP_ACP, 0, named, -1, wide, kPathSize) - 1;
  while (length > 0 && wide[length - 1] == L'\\') {
    --length;
  }
  while (openedLength > 0 && opened[openedLength - 1] == L'\\') {
    --openedLength;
  }
  if (length < 0) {
    return false;
  }
  const USHORT namedBytes = static_cast<USHORT>(length * sizeof(WCHAR));
  const USHORT openedBytes = static_cast<USHORT>(openedLength * sizeof(WCHAR));
  const UNICODE_STRING left{namedBytes, namedBytes, wide};
  const UNICODE_STRING right{openedBytes, openedBytes, const_cast<WCHAR*>(opened)};
  return nt.equalString(&left, &right, TRUE) != FALSE;
}

// The handle lies where `full` names: on its volume (a local one's serial
// number), under its name.
bool LiesAt(const NtCalls& nt, const BY_HANDLE_FILE_INFORMATION& information, const WCHAR* opened,
            int openedLength, const char* full) {
  Place place;
  if (!PlaceOf(full, place)) {
    return false;
  }
  DWORD serial = 0;
  if (place.nameInShare == nullptr &&
      (!::GetVolumeInformationA(place.root, nullptr, 0, &serial, nullptr, nullptr, nullptr, 0) ||
       serial != information.dwVolumeSerialNumber)) {
    return false;
  }
  return SameName(nt, opened, openedLength, place.name) ||
         (place.nameInShare != nullptr && SameName(nt, opened, openedLength, place.nameInShare));
}

// A folder, or a file with one name, that is no link and lies where `full`
// (or its long form: the path may name a folder "PROGRA~1") names.
bool IsNamed(const NtCalls& nt, HANDLE handle, const char* full, bool folder) {
  BY_HANDLE_FILE_INFORMATION information{};
  if (!::GetFileInformationByHandle(handle, &information) ||
      (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
      ((information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) != folder ||
      (!folder && information.nNumberOfLinks > 1)) {
    return false;
  }
  IO_STATUS_BLOCK status{};
  union {
    ULONG length;  // FILE_NAME_INFORMATION: the length in bytes, then the name
    WCHAR units[kPathSize + 2];
  } opened{};
  if (nt.queryInformationFile(handle, &status, &opened, sizeof opened, FileNameInformation) != 0) {
    return false;
  }
  const WCHAR* name = opened.units + 2;
  const int length = static_cast<int>(opened.length / sizeof(WCHAR));
  if (LiesAt(nt, information, name, length, full)) {
    return true;
  }
  char longer[kPathSize];
  const DWORD longLength = ::GetLongPathNameA(full, longer, kPathSize);
  return longLength > 0 && longLength < kPathSize && LiesAt(nt, information, name, length, longer);
}

// Opens `name` in the folder `folder` holds, never by the path again.
HANDLE OpenInFolder(const NtCalls& nt, HANDLE folder, const char* name,
                    PSECURITY_DESCRIPTOR security) {
  WCHAR wide[kPathSize];
  const int length = ::MultiByteToWideChar(CP_ACP, 0, name, -1, wide, kPathSize) - 1;
  if (length <= 0) {
    ::SetLastError(length == 0 ? ERROR_INVALID_NAME : ::GetLastError());
    return INVALID_HANDLE_VALUE;
  }
  UNICODE_STRING unicodeName{static_cast<USHORT>(length * sizeof(WCHAR)),
                             static_cast<USHORT>(length * sizeof(WCHAR)), wide};
  OBJECT_ATTRIBUTES attributes{sizeof attributes,    folder,   &unicodeName,
                               OBJ_CASE_INSENSITIVE, security, nullptr};
  IO_STATUS_BLOCK status{};
  HANDLE file = INVALID_HANDLE_VALUE;
  const NTSTATUS result = nt.createFile(
      &file, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE, &attributes, &status, nullptr,
      FILE_ATTRIBUTE_NORMAL, kShared, FILE_OPEN_IF,
      FILE_NON_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT, nullptr, 0);
  if (result < 0) {
    ::SetLastError(nt.statusToError(result));
    return INVALID_HANDLE_VALUE;
  }
  return file;
}

// A ':' anywhere but after a drive letter names a stream of a file
// ("run.log:x", "run.log::$DATA"): the stream would be made in whatever
// file holds that name, under that file's security.
bool NamesAStream(const char* full) {
  const PathForm form = FormOfPath(full);
  const char* rest = form.kind == PathForm::Kind::kDrive ? full + form.at + 2 : full;
  return std::strchr(rest, ':') != nullptr;
}

}  // namespace

HANDLE OpenForAppending(const char* path, PSECURITY_DESCRIPTOR security) {
  NtCalls nt;
  char full[kPathSize];
  const DWORD length = ::GetFullPathNameA(path, kPathSize, full, nullptr);
  if (length == 0 || !FindNtCalls(nt)) {
    return INVALID_HANDLE_VALUE;
  }
  char* name = std::strrchr(full, '\\');
  if (length >= kPathSize || name == nullptr || NamesAStream(full)) {
    ::SetLastError(length >= kPathSize ? ERROR_FILENAME_EXCED_RANGE : ERROR_INVALID_NAME);
    return INVALID_HANDLE_VALUE;
  }
  // The folder, with its backslash, held without sharing deletion while
  // the file is opened in it: neither it nor a folder above it can be
  // renamed or replaced meanwhile.
  char folderPath[kPathSize];
  std::memcpy(folderPath, full, name + 1 - full);
  folderPath[name + 1 - full] = '\0';
  const HANDLE folder = ::CreateFileA(
      folderPath, FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE, kShared, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (folder == INVALID_HANDLE_VALUE) {
    // A missing last folder is as missing as any other on the path.
    if (::GetLastError() == ERROR_FILE_NOT_FOUND) {
      ::SetLastError(ERROR_PATH_NOT_FOUND);
    }
    return INVALID_HANDLE_VALUE;
  }
  HANDLE file = INVALID_HANDLE_VALUE;
  if (IsNamed(nt, folder, folderPath, true)) {
    file = OpenInFolder(nt, folder, name + 1, security);
    if (file != INVALID_HANDLE_VALUE && !IsNamed(nt, file, full, false)) {
      ::CloseHandle(file);
      file = INVALID_HANDLE_VALUE;
      ::SetLastError(ERROR_CANT_ACCESS_FILE);
    }
  } else {
    ::SetLastError(ERROR_CANT_ACCESS_FILE);
  }
  const DWORD error = ::GetLastError();
  ::CloseHandle(folder);
  ::SetLastError(error);
  return file;
}

}  // namespace tolvo
