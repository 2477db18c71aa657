#include "winenv/remembered_printers.h"

#include <string>
#include <vector>

#include "core/text.h"
#include "platform/run_account.h"
#include "winenv/access_rules.h"
#include "winenv/printer_settings.h"
#include "winenv/registry.h"
#include "winenv/spooler_ports.h"

namespace tolvo {

namespace {

// Two port lists with their terminators: a remembered value is never
// larger, and a larger one is not read.
constexpr DWORD kLargestValue = 32 * 1024;
// A finding of the check, with the check's prefix, fits one message.
constexpr std::size_t kFindingSize = 900;

std::vector<BYTE> Encode(const PortLists& lists) {
  std::vector<BYTE> data(lists.before.begin(), lists.before.end());
  data.push_back(0);
  data.insert(data.end(), lists.after.begin(), lists.after.end());
  data.push_back(0);
  data.push_back(0);
  return data;
}

// Exactly two texts, neither empty; the terminators at the end may be
// missing, as the registry keeps whatever was written.
std::optional<PortLists> Decode(DWORD type, const std::vector<BYTE>& data) {
  if (type != REG_MULTI_SZ) {
    return std::nullopt;
  }
  std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
  while (!text.empty() && text.back() == '\0') {
    text.remove_suffix(1);
  }
  const std::size_t zero = text.find('\0');
  if (zero == 0 || zero == std::string_view::npos || text.find('\0', zero + 1) != text.npos) {
    return std::nullopt;
  }
  return PortLists{std::string(text.substr(0, zero)), std::string(text.substr(zero + 1))};
}

// A connection's name ("\\server\printer") would reach another machine on
// a remembered value's say; a local printer's name holds no backslash and
// no comma.
bool IsLocalPrinterName(std::string_view name) {
  return !name.empty() && name.find_first_of("\\,") == std::string_view::npos;
}

std::optional<PortLists> UsableLists(const RegistryEntry& entry) {
  if (entry.nameTooLong || entry.dataTooLong || !IsLocalPrinterName(entry.name)) {
    return std::nullopt;
  }
  return Decode(entry.type, entry.data);
}

bool HasPorts(std::string_view list) {
  bool any = false;
  ForEachListedPort(list, [&](std::string_view) { any = true; });
  return any;
}

// Whether a printer on `ports` is as the runs left it: on the list the last
// one left, or on part of its home list, which a put-back restores first
// when not all of it exists.
bool AsTheRunsLeftIt(WinApi& api, const PortLists& released, std::string_view ports) {
  return SamePortList(api, ports, released.after) ||
         (HasPorts(ports) && PortListWithin(api, ports, released.before));
}

// A value read by name. `lists` holds a usable value; a value that is there
// but unusable reads as none, and is overwritten by the next record.
struct ValueRead {
  bool failed = false;
  LSTATUS status = ERROR_SUCCESS;
  std::optional<PortLists> lists;
};

// One of the two keys: for a run that changes printers, opened for reading
// and writing and created when missing; for the check, only read.
class RememberedKey {
 public:
  // `security` is the descriptor a key created here gets.
  RememberedKey(WinApi& api, const char* name, bool forWriting,
                LPSECURITY_ATTRIBUTES security = nullptr)
      : api_(api), key_(api) {
    if (forWriting) {
      key_ = CreateRegistryKey(api, name, status_, security);
      return;
    }
    HKEY handle = nullptr;
    status_ =
        api.RegOpenKeyExA(HKEY_LOCAL_MACHINE, name, 0, KEY_QUERY_VALUE | READ_CONTROL, &handle);
    if (status_ == static_cast<LSTATUS>(ERROR_SUCCESS)) {
      key_.reset(handle);
    }
  }

  LSTATUS status() const { return status_; }
  HKEY get() const { return key_.get(); }
  bool missing() const { return status_ == static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND); }

  ValueRead Read(const char* printer) const {
    ValueRead read;
    if (!key_) {
      read.failed = !missing();
      read.status = status_;
      return read;
    }
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    switch (ReadRegistryValue(api_, key_.get(), printer, kLargestValue, type, data, read.status)) {
      case RegistryRead::Read:
        read.lists = Decode(type, data);
        break;
      case RegistryRead::Failed:
        read.failed = true;
        break;
      default:
        break;
    }
    return read;
  }

  LSTATUS Write(const char* printer, const PortLists& lists) {
    if (!key_) {
      return status_;
    }
    const std::vector<BYTE> data = Encode(lists);
    if (data.size() > kLargestValue) {
      return ERROR_INSUFFICIENT_BUFFER;  // it could not be read back
    }
    return api_.RegSetValueExA(key_.get(), printer, 0, REG_MULTI_SZ, data.data(),
                               static_cast<DWORD>(data.size()));
  }

  void Forget(const char* printer) {
    if (key_) {
      api_.RegDeleteValueA(key_.get(), printer);
    }
  }

  bool List(std::vector<RegistryEntry>& entries) {
    return key_ && ListRegistryValues(api_, key_.get(), kLargestValue, entries, status_);
  }

 private:
  WinApi& api_;
  UniqueRegKey key_;
  LSTATUS status_ = ERROR_SUCCESS;
};

enum class KeyTrust { kTrusted, kUnreadable, kOpenToOthers };

// Whether no account short of an administrator may change the key, which
// the records' say over printers calls for; otherwise `why` holds a line.
KeyTrust TrustedKey(WinApi& api, const RememberedKey& key, const char* keyName,
                    char (&why)[kFindingSize]) {
  if (!key.get()) {
    return KeyTrust::kTrusted;  // nothing is read from it or written to it
  }
  UniqueLocal text(api);
  char runAccount[kSidTextSize] = {};
  RunAccountSid(api, runAccount);
  const DWORD status = ReadKeySecurity(api, key.get(), text);
  if (status != ERROR_SUCCESS) {
    FormatBounded(why, sizeof why, "HKLM\\%s: its security cannot be read (%d), not trusted",
                  keyName, static_cast<int>(status));
    return KeyTrust::kUnreadable;
  }
  const std::string_view sddl(static_cast<const char*>(text.get()));
  const std::string_view account = LesserAccountWith(sddl, Access::Change, runAccount);
  if (account.empty()) {
    return KeyTrust::kTrusted;
  }
  const std::string shown(AccountName(account));
  FormatBounded(why, sizeof why, "HKLM\\%s can be changed by %s, not trusted", keyName,
                shown.c_str());
  return KeyTrust::kOpenToOthers;
}

// TrustedKey for the run's lines.
KeyTrust TrustForRun(RunContext& context, const RememberedKey& key, const char* keyName) {
  char why[kFindingSize];
  const KeyTrust trust = TrustedKey(context.api, key, keyName, why);
  if (trust != KeyTrust::kTrusted) {
    context.output.PrintFormatted("    ERROR - %s\n", why);
  }
  return trust;
}

void ReportKeyError(RunContext& context, const char* doing, LSTATUS status, const char* keyName) {
  context.output.PrintFormatted("ERROR (%d) While %s HKLM\\%s.\n", static_cast<int>(status), doing,
                                keyName);
}

bool Remembered(RunContext& context, const char* printer, LSTATUS status) {
  if (status == static_cast<LSTATUS>(ERROR_SUCCESS)) {
    return true;
  }
  context.output.PrintFormatted("ERROR (%d) While Remembering the Ports of Printer '%s'.\n",
                                static_cast<int>(status), printer);
  return false;
}

// The printer's name whole, however long: it is what the administrator
// deletes.
void PrintDamaged(Output& output, const RegistryEntry& entry) {
  output.PrintMessage("    ERROR - Remembered Ports of Printer '");
  output.PrintMessage(entry.nameTooLong ? "(a name longer than the registry allows)"
                                        : entry.name.c_str());
  output.PrintMessage("' Are Damaged\n");
}

// The local spooler's ports, listed once and only when a printer needs them.
class LazyPorts {
 public:
  explicit LazyPorts(WinApi& api) : api_(api) {}
  bool Has(std::string_view port) {
    if (!ports_) {
      ports_.emplace(api_);
    }
    return ports_->Has(std::string(port).c_str());
  }

 private:
  WinApi& api_;
  std::optional<SpoolerPorts> ports_;
};

PrinterNow ReadPrinterNow(PrinterSettings& printer) {
  PrinterNow now;
  now.exists = printer.loaded();
  if (now.exists && printer.info().pPortName != nullptr) {
    now.ports = printer.info().pPortName;
  }
  return now;
}

class PutBackRun {
 public:
  PutBackRun(RunContext& context, PutBack when)
      : context_(context),
        api_(context.api),
        when_(when),
        released_(api_, context.profile.releasedPrintersKey, true),
        assigned_(api_, context.profile.assignedPrintersKey, true),
        ports_(api_) {}

  void Run() {
    const char* releasedName = context_.profile.releasedPrintersKey;
    if (TrustForRun(context_, released_, releasedName) != KeyTrust::kTrusted ||
        TrustForRun(context_, assigned_, context_.profile.assignedPrintersKey) !=
            KeyTrust::kTrusted) {
      return;
    }
    std::vector<RegistryEntry> entries;
    if (!released_.List(entries)) {
      ReportKeyError(context_, "Reading", released_.status(), releasedName);
      return;
    }
    for (const RegistryEntry& entry : entries) {
      PutBackOne(entry);
    }
    if (when_ == PutBack::kMonitorRemoved) {
      ForgetSettledAssignments();
    }
  }

 private:
  void PutBackOne(const RegistryEntry& entry) {
    Output& output = context_.output;
    PrinterRecord record;
    record.released = UsableLists(entry);
    if (!record.released) {
      PrintDamaged(output, entry);
      return;
    }
    const char* name = entry.name.c_str();
    PrinterSettings printer(api_, name);
    const PrinterNow now = ReadPrinterNow(printer);
    if (!now.exists) {
      const DWORD error = api_.GetLastError();
      if (error != ERROR_INVALID_PRINTER_NAME) {
        output.PrintFormatted("    ERROR (%d) While Reading Printer '%s'\n",
                              static_cast<int>(error), name);
        return;
      }
      output.PrintFormatted("    (Printer '%s' No Longer Exists)\n", name);
    }
    if (when_ == PutBack::kMonitorRemoved) {
      const ValueRead assignment = assigned_.Read(name);
      if (assignment.failed) {
        Remembered(context_, name, assignment.status);
        return;
      }
      record.assigned = assignment.lists;
    }
    const Decision decision = ClassifyRelease(
        api_, record, now, when_, [&](std::string_view port) { return ports_.Has(port); });
    std::string left = now.ports;
    if (decision.verdict == Verdict::kPutBack) {
      output.PrintFormatted("  - Reconnecting Printer '%s' to Port ", name);
      output.PrintMessage(decision.onto);
      std::string onto = decision.onto;
      printer.info().pPortName = onto.data();
      const bool written = printer.Write();
      output.PrintMessage(written ? "\n" : " Error\n");
      if (!written) {
        return;  // remembered still: the next run tries again
      }
      left = decision.onto;
    }
    if (decision.missing.empty()) {
      Forget(name);
      return;
    }
    output.PrintFormatted("    (Printer '%s' Waits for Port ", name);
    output.PrintMessage(decision.missing);
    output.PrintMessage(")\n");
    if (!SamePortList(api_, left, record.released->after)) {
      released_.Write(name, {record.released->before, left});
    }
  }

  void Forget(const char* name) {
    released_.Forget(name);
    if (when_ == PutBack::kMonitorRemoved) {
      assigned_.Forget(name);
    }
  }

  // With the monitor gone, an assignment whose printer has no release left
  // has nothing to undo: the printer was moved off the monitor's ports
  // since. One whose release stays (a put-back that failed) stays with it.
  void ForgetSettledAssignments() {
    std::vector<RegistryEntry> entries;
    assigned_.List(entries);
    for (const RegistryEntry& entry : entries) {
      if (entry.nameTooLong) {
        continue;
      }
      const ValueRead release = released_.Read(entry.name.c_str());
      if (!release.failed && release.status == static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND)) {
        assigned_.Forget(entry.name.c_str());
      }
    }
  }

  RunContext& context_;
  WinApi& api_;
  PutBack when_;
  RememberedKey released_;
  RememberedKey assigned_;
  LazyPorts ports_;
};

}  // namespace

Decision ClassifyRelease(WinApi& api, const PrinterRecord& record, const PrinterNow& now,
                         PutBack when, const std::function<bool(std::string_view)>& portExists) {
  Decision decision;
  const PortLists& released = *record.released;
  decision.target = released.before;
  // Released by the removal from where the installations put it: its list
  // from before the first assignment is its home.
  if (when == PutBack::kMonitorRemoved && record.assigned &&
      SamePortList(api, record.assigned->after, released.before)) {
    decision.target = record.assigned->before;
  }
  if (!now.exists || !AsTheRunsLeftIt(api, released, now.ports)) {
    return decision;
  }
  ForEachListedPort(decision.target, [&](std::string_view name) {
    std::string& into = portExists(name) ? decision.onto : decision.missing;
    into += into.empty() ? "" : ",";
    into += name;
  });
  if (when == PutBack::kMonitorRemoved) {
    decision.missing.clear();
  }
  if (!decision.onto.empty() && !SamePortList(api, decision.onto, now.ports)) {
    decision.verdict = Verdict::kPutBack;
  } else if (!decision.missing.empty()) {
    decision.verdict = Verdict::kWait;
  }
  return decision;
}

RememberedKeys PrepareRememberedPrinters(RunContext& context) {
  // The product's key first, with the security its parent hands down:
  // Windows gives every key it makes on the way the descriptor asked for
  // the last one, and the product's other keys are for users to read.
  const std::string_view released = context.profile.releasedPrintersKey;
  const std::string productKey(released.substr(0, released.rfind('\\')));
  const RememberedKey product(context.api, productKey.c_str(), true);
  if (product.status() != static_cast<LSTATUS>(ERROR_SUCCESS)) {
    ReportKeyError(context, "Creating", product.status(), productKey.c_str());
    return RememberedKeys::kFailed;
  }
  const UniqueLocal descriptor = MakeAdministratorsOnlySecurity(context.api);
  SECURITY_ATTRIBUTES security{sizeof security, descriptor.get(), FALSE};
  for (const char* name :
       {context.profile.releasedPrintersKey, context.profile.assignedPrintersKey}) {
    const RememberedKey key(context.api, name, true, descriptor ? &security : nullptr);
    if (!descriptor || key.status() != static_cast<LSTATUS>(ERROR_SUCCESS)) {
      ReportKeyError(context, "Creating", descriptor ? key.status() : context.api.GetLastError(),
                     name);
      return RememberedKeys::kFailed;
    }
    switch (TrustForRun(context, key, name)) {
      case KeyTrust::kTrusted:
        break;
      case KeyTrust::kUnreadable:
        return RememberedKeys::kFailed;
      case KeyTrust::kOpenToOthers:
        return RememberedKeys::kOpenToOthers;
    }
  }
  return RememberedKeys::kReady;
}

bool RememberRelease(RunContext& context, const char* printer, std::string_view current,
                     std::string_view released) {
  RememberedKey key(context.api, context.profile.releasedPrintersKey, true);
  const ValueRead earlier = key.Read(printer);
  if (earlier.failed) {
    return Remembered(context, printer, earlier.status);
  }
  PortLists lists{std::string(current), std::string(released)};
  // Released before and as the runs left it since: its home list stays.
  if (earlier.lists && AsTheRunsLeftIt(context.api, *earlier.lists, lists.before)) {
    lists.before = earlier.lists->before;
  }
  return Remembered(context, printer, key.Write(printer, lists));
}

bool RememberAssignment(RunContext& context, const char* printer, const char* current,
                        std::string_view port) {
  WinApi& api = context.api;
  // A printer a run released still counts as where the release found it.
  std::string found(current != nullptr ? current : "");
  const ValueRead release =
      RememberedKey(api, context.profile.releasedPrintersKey, true).Read(printer);
  if (release.failed) {
    return Remembered(context, printer, release.status);
  }
  if (release.lists && AsTheRunsLeftIt(api, *release.lists, found)) {
    found = release.lists->before;
  }
  RememberedKey key(api, context.profile.assignedPrintersKey, true);
  const ValueRead earlier = key.Read(printer);
  if (earlier.failed) {
    return Remembered(context, printer, earlier.status);
  }
  PortLists lists{found, std::string(port)};
  // Still where the installations left it: its list from before the first
  // assignment stays.
  if (earlier.lists && SamePortList(api, earlier.lists->after, found)) {
    lists.before = earlier.lists->before;
  }
  return Remembered(context, printer, key.Write(printer, lists));
}

void ForgetRelease(RunContext& context, const char* printer) {
  RememberedKey(context.api, context.profile.releasedPrintersKey, true).Forget(printer);
}

void PutBackPrinters(RunContext& context, PutBack when) {
  PutBackRun(context, when).Run();
}

void DeleteEmptyRememberedKeys(RunContext& context) {
  for (const char* name :
       {context.profile.releasedPrintersKey, context.profile.assignedPrintersKey}) {
    DeleteEmptyRegistryKeys(context.api, name);
  }
}

void CheckRememberedPrinters(RunContext& context,
                             const std::function<void(bool inPlace, const char* text)>& report,
                             const std::function<void(const char* what, DWORD error)>& unchecked) {
  WinApi& api = context.api;
  const char* keyName = context.profile.releasedPrintersKey;
  RememberedKey key(api, keyName, false);
  std::vector<RegistryEntry> entries;
  char text[kFindingSize];
  if (key.missing()) {
    return;  // no run has released a printer yet
  }
  if (TrustedKey(api, key, keyName, text) != KeyTrust::kTrusted) {
    report(false, text);
    return;
  }
  if (!key.List(entries)) {
    FormatBounded(text, sizeof text, "HKLM\\%s", keyName);
    unchecked(text, key.status());
    return;
  }
  LazyPorts ports(api);
  for (const RegistryEntry& entry : entries) {
    const std::optional<PortLists> lists = UsableLists(entry);
    if (!lists) {
      FormatBounded(
          text, sizeof text, "Remembered ports of printer '%s' damaged",
          entry.nameTooLong ? "(a name longer than the registry allows)" : entry.name.c_str());
      report(false, text);
      continue;
    }
    const char* name = entry.name.c_str();
    PrinterSettings printer(api, name, PRINTER_ACCESS_USE);
    const PrinterNow now = ReadPrinterNow(printer);
    if (!now.exists && api.GetLastError() != ERROR_INVALID_PRINTER_NAME) {
      FormatBounded(text, sizeof text, "Printer '%s'", name);
      unchecked(text, api.GetLastError());
      continue;
    }
    // What an installation would do with it: only a put-back is a difference.
    const Decision decision =
        ClassifyRelease(api, PrinterRecord{lists, std::nullopt}, now, PutBack::kWhenPortsExist,
                        [&](std::string_view port) { return ports.Has(port); });
    const char* target = decision.target.c_str();
    const char* at = now.ports.c_str();
    if (!now.exists) {
      FormatBounded(text, sizeof text, "Printer '%s' no longer exists, remembered on port %s", name,
                    target);
    } else if (decision.verdict == Verdict::kPutBack) {
      FormatBounded(text, sizeof text, "Printer '%s' on port %s, NOT back on %s", name, at, target);
    } else if (decision.verdict == Verdict::kWait) {
      FormatBounded(text, sizeof text, "Printer '%s' on port %s, waits for port %s", name, at,
                    decision.missing.c_str());
    } else if (SamePortList(api, now.ports, decision.target)) {
      FormatBounded(text, sizeof text, "Printer '%s' on port %s", name, target);
    } else {
      FormatBounded(text, sizeof text, "Printer '%s' on port %s, moved there since its release",
                    name, at);
    }
    report(decision.verdict != Verdict::kPutBack, text);
  }
}

}  // namespace tolvo
