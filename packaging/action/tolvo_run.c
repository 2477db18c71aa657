/*
 * TolvoRun.dll, the package's one custom action DLL (Binary table): runs
 * Install.exe, or the package's copy of it, and writes its command line,
 * its error stream and its exit code into Windows Installer's log; and
 * checks SERVER before anything changes (CheckServer).
 *
 * An .exe custom action's error stream reaches no log, so a run that ends
 * with a line there (a run log or trace file that cannot be opened) and a
 * non-zero exit code would leave msiexec's /l*v log with nothing but the
 * action's failure. Here each line of the program's error stream becomes an
 * informational message of the installation, followed by the exit code,
 * and a non-zero exit code fails the action. The program's output, the
 * transcript, goes nowhere, as before: the run log holds it, readable by
 * administrators only; Windows Installer's log is often kept where others
 * can read it.
 *
 * The wait is bounded: a program that has not ended within the time limit
 * is ended, and the action fails with a line saying so, so that a hang
 * never keeps Windows Installer busy. While it waits, the action sends
 * progress; a cancel is honoured once the program has ended, which leaves
 * the machine as a finished run does, ready for the rollback.
 *
 * CustomActionData is "LIMIT|MARK|COMMAND LINE":
 *   900|+{code} date time|"C:\Program Files\Kestrum\Tolvo Port Monitor\Install.exe" -a
 * LIMIT: the time limit in seconds. MARK: empty; "+TOKEN", remember TOKEN
 * before starting the program, and start it only when that succeeded
 * (RunInstall); "?TOKEN", start the program only when the remembered token
 * is TOKEN, and forget it (RollbackUpgrade:
 * the previous version is installed again only when the new Install.exe
 * of this very transaction started); "-", forget the token (the other
 * rollback actions, and ForgetRun, which commits with no command line).
 * The token is kept in a key that none of the package's tables names, so
 * that no rollback of the package's own registry values takes it away.
 */
// windows.h must come before the headers that build on it.
// clang-format off
#include <windows.h>
#include <msi.h>
#include <msiquery.h>
// clang-format on

#include "workflows/server_name_rule.h"

enum {
  kPollIntervalMs = 100,
  kProgressEveryPolls = 10, /* progress and the cancel check once a second */
  kReadChunk = 4096,
  kLineLength = 1024, /* a longer line is logged in pieces */
  kMessageLength = MAX_PATH + 32 + kLineLength,
  kEscapedLength = 4 * kMessageLength, /* "[" becomes "[\[]" */
  kLongestProperty = 512
};

/* Where RunInstall remembers that it started the program. */
static const WCHAR kMarkKey[] = L"SOFTWARE\\Kestrum Corporation\\Tolvo Port Monitor Transaction";
static const WCHAR kMarkValue[] = L"Started";

/* The program's error stream: the pipe's reading end and the line being
 * gathered. */
typedef struct {
  HANDLE pipe;
  char line[kLineLength];
  DWORD length;
} Stream;

typedef struct {
  MSIHANDLE install;
  const WCHAR* program; /* the program's file name, for each log line */
} Log;

/* Appends text to message (capacity characters, terminator included), cut
 * where it would overflow; returns the new length. */
static int Append(WCHAR* message, int length, int capacity, const WCHAR* text) {
  while (*text != L'\0' && length < capacity - 1) {
    message[length++] = *text++;
  }
  message[length] = L'\0';
  return length;
}

/* value in decimal, with its sign. */
static void FormatNumber(long value, WCHAR* text) {
  WCHAR digits[16];
  unsigned long magnitude = value < 0 ? 0UL - (unsigned long)value : (unsigned long)value;
  int count = 0;
  do {
    digits[count++] = (WCHAR)(L'0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude > 0);
  if (value < 0) {
    *text++ = L'-';
  }
  while (count > 0) {
    *text++ = digits[--count];
  }
  *text = L'\0';
}

/* text as a formatted text that stands for itself: each bracket and brace
 * escaped ("[\[]"), so that "[ProductCode]" in a file name is logged as
 * written. */
static void EscapeBrackets(const WCHAR* text, WCHAR* escaped, int capacity) {
  int length = 0;
  WCHAR one[5] = {L'[', L'\\', 0, L']', 0};
  escaped[0] = L'\0';
  for (; *text != L'\0'; ++text) {
    if (wcschr(L"[]{}", *text) != NULL) {
      one[2] = *text;
      if (length + 4 >= capacity) {
        return;
      }
      length = Append(escaped, length, capacity, one);
    } else {
      WCHAR plain[2] = {*text, 0};
      length = Append(escaped, length, capacity, plain);
    }
  }
}

/* Writes "PROGRAM LABEL: TEXT" as an informational message: the escaped
 * text alone, in field 0. */
static void LogText(const Log* log, const WCHAR* label, const WCHAR* text) {
  static WCHAR message[kMessageLength];
  static WCHAR escaped[kEscapedLength];
  int length = Append(message, 0, kMessageLength, log->program);
  MSIHANDLE record = MsiCreateRecord(0);
  if (record == 0) {
    return;
  }
  length = Append(message, length, kMessageLength, L" ");
  length = Append(message, length, kMessageLength, label);
  length = Append(message, length, kMessageLength, L": ");
  Append(message, length, kMessageLength, text);
  EscapeBrackets(message, escaped, kEscapedLength);
  MsiRecordSetStringW(record, 0, escaped);
  MsiProcessMessage(log->install, INSTALLMESSAGE_INFO, record);
  MsiCloseHandle(record);
}

/* Tells Windows Installer the action is alive; FALSE when the installation
 * is to be cancelled. */
static BOOL SendProgress(const Log* log) {
  MSIHANDLE record = MsiCreateRecord(2);
  int answer = 0;
  if (record != 0) {
    MsiRecordSetInteger(record, 1, 2); /* an increment of the progress bar */
    MsiRecordSetInteger(record, 2, 0);
    answer = MsiProcessMessage(log->install, INSTALLMESSAGE_PROGRESS, record);
    MsiCloseHandle(record);
  }
  return answer != IDCANCEL;
}

/* The gathered line, in the ANSI code page the program writes, logged and
 * emptied. */
static void FlushLine(const Log* log, Stream* stream) {
  WCHAR text[kLineLength + 1];
  int length = 0;
  if (stream->length > 0 && stream->line[stream->length - 1] == '\r') {
    --stream->length;
  }
  if (stream->length > 0) {
    length = MultiByteToWideChar(CP_ACP, 0, stream->line, (int)stream->length, text, kLineLength);
  }
  text[length] = L'\0';
  LogText(log, L"error", text);
  stream->length = 0;
}

/* Reads what the pipe holds now, without waiting: a program that the
 * installer starts may inherit the pipe and keep it open after the program
 * itself has ended, so the pipe's end is never awaited, only the process. */
static void Drain(const Log* log, Stream* stream) {
  char chunk[kReadChunk];
  DWORD available = 0;
  DWORD read = 0;
  DWORD i;
  while (PeekNamedPipe(stream->pipe, NULL, 0, NULL, &available, NULL) && available > 0 &&
         ReadFile(stream->pipe, chunk, available < sizeof chunk ? available : sizeof chunk, &read,
                  NULL) &&
         read > 0) {
    for (i = 0; i < read; ++i) {
      if (chunk[i] == '\n') {
        FlushLine(log, stream);
      } else {
        stream->line[stream->length++] = chunk[i];
        if (stream->length == kLineLength) {
          FlushLine(log, stream);
        }
      }
    }
  }
}

/* A pipe whose writing end the program inherits. */
static BOOL OpenPipe(HANDLE* readEnd, HANDLE* writeEnd) {
  SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, NULL, TRUE};
  if (!CreatePipe(readEnd, writeEnd, &inheritable, 0)) {
    return FALSE;
  }
  SetHandleInformation(*readEnd, HANDLE_FLAG_INHERIT, 0);
  return TRUE;
}

/* The file name of the quoted program path at the command line's start. */
static void ProgramName(const WCHAR* commandLine, WCHAR* name, int capacity) {
  const WCHAR* start = commandLine;
  const WCHAR stop = *start == L'"' ? L'"' : L' ';
  const WCHAR* end;
  const WCHAR* p;
  if (stop == L'"') {
    ++start;
  }
  end = start;
  while (*end != L'\0' && *end != stop) {
    ++end;
  }
  for (p = start; p < end; ++p) {
    if (*p == L'\\') {
      start = p + 1;
    }
  }
  lstrcpynW(name, start, (int)(end - start) + 1 < capacity ? (int)(end - start) + 1 : capacity);
}

/* An inheritable handle on the NUL device, for the program's input and
 * output. */
static HANDLE OpenNul(DWORD access) {
  SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, NULL, TRUE};
  return CreateFileW(L"NUL", access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                     OPEN_EXISTING, 0, NULL);
}

/* Waits for the started program within limitSeconds, logging its error
 * stream and sending progress; ends it when the limit passes. Returns its
 * exit code, -1 when it was ended or cannot be waited for; *cancelled
 * tells whether a cancel came while it ran. */
static int AwaitProgram(const Log* log, HANDLE process, Stream* errors, DWORD limitSeconds,
                        BOOL* cancelled) {
  const DWORD polls = limitSeconds * (1000 / kPollIntervalMs);
  DWORD waited = WAIT_TIMEOUT;
  DWORD exitCode = (DWORD)-1;
  DWORD poll;
  WCHAR number[16];
  for (poll = 0; waited == WAIT_TIMEOUT && poll < polls; ++poll) {
    waited = WaitForSingleObject(process, kPollIntervalMs);
    Drain(log, errors);
    if (waited == WAIT_TIMEOUT && poll % kProgressEveryPolls == 0 && !*cancelled &&
        !SendProgress(log)) {
      *cancelled = TRUE;
      LogText(log, L"cancel", L"the installation is cancelled once the program has ended");
    }
  }
  if (waited == WAIT_TIMEOUT) {
    FormatNumber((long)limitSeconds, number);
    LogText(log, L"has not ended within the time limit, and is ended; seconds", number);
    TerminateProcess(process, (UINT)-1);
    WaitForSingleObject(process, INFINITE);
    return -1;
  }
  if (waited != WAIT_OBJECT_0 || !GetExitCodeProcess(process, &exitCode)) {
    return -1;
  }
  return (int)exitCode;
}

/* Starts the command line with its error stream on a pipe and logs what
 * the pipe carries until the program ends; returns its exit code, or -1
 * with a logged reason when it cannot be started or did not end in time. */
static int RunCommand(const Log* log, WCHAR* commandLine, DWORD limitSeconds, BOOL* cancelled) {
  Stream errors = {NULL, {0}, 0};
  HANDLE errorWriteEnd = NULL;
  const HANDLE input = OpenNul(GENERIC_READ);
  const HANDLE output = OpenNul(GENERIC_WRITE);
  STARTUPINFOW startup;
  PROCESS_INFORMATION process;
  WCHAR error[16];
  int exitCode = -1;
  BOOL started = FALSE;

  ZeroMemory(&startup, sizeof startup);
  ZeroMemory(&process, sizeof process);
  if (input != INVALID_HANDLE_VALUE && output != INVALID_HANDLE_VALUE &&
      OpenPipe(&errors.pipe, &errorWriteEnd)) {
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = output;
    startup.hStdError = errorWriteEnd;
    started = CreateProcessW(NULL, commandLine, NULL, NULL, TRUE, CREATE_NO_WINDOW, NULL, NULL,
                             &startup, &process);
  }
  if (!started) {
    FormatNumber((long)GetLastError(), error);
    LogText(log, L"cannot be started, error", error);
  }
  /* Only the program holds the pipe's writing end from here on. */
  if (errorWriteEnd != NULL) {
    CloseHandle(errorWriteEnd);
  }
  if (input != INVALID_HANDLE_VALUE) {
    CloseHandle(input);
  }
  if (output != INVALID_HANDLE_VALUE) {
    CloseHandle(output);
  }
  if (started) {
    CloseHandle(process.hThread);
    exitCode = AwaitProgram(log, process.hProcess, &errors, limitSeconds, cancelled);
    CloseHandle(process.hProcess);
  }
  if (errors.length > 0) {
    FlushLine(log, &errors);
  }
  if (errors.pipe != NULL) {
    CloseHandle(errors.pipe);
  }
  return exitCode;
}

/* What the mark lets the action do. */
typedef enum { kMarkRun, kMarkSkip, kMarkFail } MarkVerdict;

/* "+TOKEN": remembers TOKEN, and fails when it cannot: the program is then
 * not started, since its rollback would find no token and undo nothing.
 * "?TOKEN": runs only when TOKEN is the remembered one. "?" and "-" forget
 * it. Runs for any other mark, and when the token cannot be read (running
 * the program is what the action did before). */
static MarkVerdict PassMark(const Log* log, const WCHAR* mark) {
  WCHAR remembered[kLongestProperty];
  WCHAR error[16];
  DWORD size = sizeof remembered - sizeof(WCHAR);
  HKEY key = NULL;
  LONG result;
  BOOL pass = TRUE;
  if (mark[0] == L'+') {
    result =
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, kMarkKey, 0, NULL, 0, KEY_SET_VALUE, NULL, &key, NULL);
    if (result == ERROR_SUCCESS) {
      result = RegSetValueExW(key, kMarkValue, 0, REG_SZ, (const BYTE*)(mark + 1),
                              (DWORD)(lstrlenW(mark + 1) + 1) * sizeof(WCHAR));
      RegCloseKey(key);
    }
    if (result != ERROR_SUCCESS) {
      FormatNumber(result, error);
      LogText(log, L"not started: its start cannot be remembered for the rollback, error", error);
      return kMarkFail;
    }
    return kMarkRun;
  }
  if (mark[0] == L'?') {
    result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kMarkKey, 0, KEY_QUERY_VALUE, &key);
    pass = result != ERROR_FILE_NOT_FOUND;
    if (result == ERROR_SUCCESS) {
      pass =
          RegQueryValueExW(key, kMarkValue, NULL, NULL, (BYTE*)remembered, &size) == ERROR_SUCCESS;
      remembered[size / sizeof(WCHAR)] = L'\0';
      pass = pass && lstrcmpW(remembered, mark + 1) == 0;
      RegCloseKey(key);
    }
  }
  if (mark[0] == L'?' || mark[0] == L'-') {
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kMarkKey);
  }
  if (!pass) {
    LogText(log, L"not started", L"the new installation did not start in this transaction");
  }
  return pass ? kMarkRun : kMarkSkip;
}

/* The whole value of a property, on the process heap; NULL when it cannot
 * be read. */
static WCHAR* ReadProperty(MSIHANDLE install, const WCHAR* name) {
  WCHAR empty[1] = L"";
  DWORD size = 0;
  WCHAR* value;
  if (MsiGetPropertyW(install, name, empty, &size) != ERROR_MORE_DATA) {
    return NULL;
  }
  value = HeapAlloc(GetProcessHeap(), 0, (size + 1) * sizeof(WCHAR));
  ++size;
  if (value != NULL && MsiGetPropertyW(install, name, value, &size) != ERROR_SUCCESS) {
    HeapFree(GetProcessHeap(), 0, value);
    value = NULL;
  }
  return value;
}

/* The deferred (and rollback) action: CustomActionData is
 * "LIMIT|MARK|COMMAND LINE". */
__declspec(dllexport) UINT WINAPI RunLogged(MSIHANDLE install) {
  WCHAR program[MAX_PATH];
  WCHAR ended[16];
  WCHAR* data;
  WCHAR* mark;
  WCHAR* commandLine;
  DWORD limitSeconds = 0;
  BOOL cancelled = FALSE;
  Log log;
  MarkVerdict verdict;
  int exitCode;

  log.install = install;
  log.program = L"TolvoRun.dll";
  data = ReadProperty(install, L"CustomActionData");
  mark = data == NULL ? NULL : wcschr(data, L'|');
  commandLine = mark == NULL ? NULL : wcschr(mark + 1, L'|');
  if (commandLine == NULL) {
    LogText(&log, L"CustomActionData", L"not LIMIT|MARK|COMMAND LINE");
    if (data != NULL) {
      HeapFree(GetProcessHeap(), 0, data);
    }
    return ERROR_INSTALL_FAILURE;
  }
  for (WCHAR* digit = data; digit < mark && *digit >= L'0' && *digit <= L'9'; ++digit) {
    limitSeconds = limitSeconds < 86400 ? limitSeconds * 10 + (DWORD)(*digit - L'0') : 86400;
  }
  *commandLine++ = L'\0'; /* the mark's end */
  if (*commandLine == L'\0') {
    PassMark(&log, mark + 1);
    HeapFree(GetProcessHeap(), 0, data);
    return ERROR_SUCCESS;
  }
  ProgramName(commandLine, program, MAX_PATH);
  log.program = program;
  LogText(&log, L"command line", commandLine);
  verdict = PassMark(&log, mark + 1);
  if (verdict != kMarkRun) {
    HeapFree(GetProcessHeap(), 0, data);
    return verdict == kMarkSkip ? ERROR_SUCCESS : ERROR_INSTALL_FAILURE;
  }
  exitCode = RunCommand(&log, commandLine, limitSeconds > 0 ? limitSeconds : 1, &cancelled);
  HeapFree(GetProcessHeap(), 0, data);
  FormatNumber(exitCode, ended);
  LogText(&log, L"exit code", ended);
  if (cancelled) {
    return ERROR_INSTALL_USEREXIT;
  }
  return exitCode == 0 ? ERROR_SUCCESS : ERROR_INSTALL_FAILURE;
}

/* The immediate action before the refusals: ServerNamed is "1" when SERVER
 * is a server name that Install.exe takes for the chosen edition, and empty
 * otherwise, whatever it held before. */
__declspec(dllexport) UINT WINAPI CheckServer(MSIHANDLE install) {
  char server[kLongestProperty];
  char enterprise[4];
  DWORD size = sizeof server;
  DWORD enterpriseSize = sizeof enterprise;
  const char* monitor = "Tolvo";
  if (MsiGetPropertyA(install, "ENTERPRISE", enterprise, &enterpriseSize) == ERROR_SUCCESS &&
      lstrcmpA(enterprise, "1") == 0) {
    monitor = "TolvoE";
  }
  const BOOL named = MsiGetPropertyA(install, "SERVER", server, &size) == ERROR_SUCCESS &&
                     TolvoIsServerName(server, TolvoLongestServerName(monitor));
  return MsiSetPropertyA(install, "ServerNamed", named ? "1" : "");
}
