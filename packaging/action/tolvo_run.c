/*
 * TolvoRun.dll, the package's one custom action DLL (Binary table): runs
 * Install.exe, or the package's copy of it, and writes its command line,
 * its error stream and its exit code into Windows Installer's log.
 *
 * An .exe custom action's error stream reaches no log, so a run that ends
 * with a line there (a run log or trace file that cannot be opened) and a
 * non-zero exit code would leave msiexec's /l*v log with nothing but the
 * action's failure. Here each line of the program's error stream becomes an
 * informational message of the installation, followed by the exit code,
 * and a non-zero exit code fails the action. The program's output, the
 * transcript, goes nowhere, as before: the run log holds it, readable by
 * administrators only, since a port's line shows its password; Windows
 * Installer's log is often kept where others can read it.
 *
 * CustomActionData is the whole command line, program path quoted:
 *   "C:\Program Files\Kestrum\Tolvo Port Monitor\Install.exe" -a "-lC:\x.log"
 */
// windows.h must come before the headers that build on it.
// clang-format off
#include <windows.h>
#include <msi.h>
#include <msiquery.h>
// clang-format on

enum {
  kPollIntervalMs = 100,
  kReadChunk = 4096,
  kLineLength = 1024 /* a longer line is logged in pieces */
};

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

/* Writes "PROGRAM LABEL: TEXT" as an informational message. The record's
 * template is "[1]", so brackets in the text are not formatted. */
static void LogText(const Log* log, const WCHAR* label, const WCHAR* text) {
  WCHAR message[MAX_PATH + 32 + kLineLength];
  const int capacity = (int)(sizeof message / sizeof message[0]);
  int length = Append(message, 0, capacity, log->program);
  MSIHANDLE record = MsiCreateRecord(1);
  if (record == 0) {
    return;
  }
  length = Append(message, length, capacity, L" ");
  length = Append(message, length, capacity, label);
  length = Append(message, length, capacity, L": ");
  Append(message, length, capacity, text);
  MsiRecordSetStringW(record, 0, L"[1]");
  MsiRecordSetStringW(record, 1, message);
  MsiProcessMessage(log->install, INSTALLMESSAGE_INFO, record);
  MsiCloseHandle(record);
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
 * installer starts (the desktop client) inherits the pipe and keeps it open
 * after Install.exe has ended, so the pipe's end is never awaited. */
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

/* Starts the command line with its error stream on a pipe and logs what
 * the pipe carries until the program ends; returns its exit code, or -1
 * with a logged reason when it cannot be started or waited for. */
static int RunCommand(const Log* log, WCHAR* commandLine) {
  Stream errors = {NULL, {0}, 0};
  HANDLE errorWriteEnd = NULL;
  const HANDLE input = OpenNul(GENERIC_READ);
  const HANDLE output = OpenNul(GENERIC_WRITE);
  STARTUPINFOW startup;
  PROCESS_INFORMATION process;
  WCHAR error[16];
  DWORD exitCode = (DWORD)-1;
  DWORD waited = WAIT_TIMEOUT;
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
    do {
      waited = WaitForSingleObject(process.hProcess, kPollIntervalMs);
      Drain(log, &errors);
    } while (waited == WAIT_TIMEOUT);
    if (waited != WAIT_OBJECT_0 || !GetExitCodeProcess(process.hProcess, &exitCode)) {
      exitCode = (DWORD)-1;
    }
    CloseHandle(process.hProcess);
  }
  if (errors.length > 0) {
    FlushLine(log, &errors);
  }
  if (errors.pipe != NULL) {
    CloseHandle(errors.pipe);
  }
  return started ? (int)exitCode : -1;
}

/* The deferred (and rollback) action: CustomActionData is the command line. */
__declspec(dllexport) UINT WINAPI RunLogged(MSIHANDLE install) {
  WCHAR empty[1] = L"";
  WCHAR program[MAX_PATH];
  WCHAR ended[16];
  DWORD size = 0;
  WCHAR* commandLine;
  Log log;
  int exitCode;

  log.install = install;
  log.program = L"TolvoRun.dll";
  if (MsiGetPropertyW(install, L"CustomActionData", empty, &size) != ERROR_MORE_DATA) {
    LogText(&log, L"CustomActionData", L"no command line");
    return ERROR_INSTALL_FAILURE;
  }
  commandLine = HeapAlloc(GetProcessHeap(), 0, (size + 1) * sizeof(WCHAR));
  if (commandLine == NULL) {
    return ERROR_INSTALL_FAILURE;
  }
  ++size;
  if (MsiGetPropertyW(install, L"CustomActionData", commandLine, &size) != ERROR_SUCCESS) {
    HeapFree(GetProcessHeap(), 0, commandLine);
    return ERROR_INSTALL_FAILURE;
  }
  ProgramName(commandLine, program, MAX_PATH);
  log.program = program;
  LogText(&log, L"command line", commandLine);
  exitCode = RunCommand(&log, commandLine);
  HeapFree(GetProcessHeap(), 0, commandLine);
  FormatNumber(exitCode, ended);
  LogText(&log, L"exit code", ended);
  return exitCode == 0 ? ERROR_SUCCESS : ERROR_INSTALL_FAILURE;
}
