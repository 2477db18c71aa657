#include "winenv/remembered_printers.h"

#include <optional>
#include <string>
#include <vector>

#include "core/text.h"
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

struct PortLists {
  std::string before;
  std::string after;
};

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

const char* ShownName(const RegistryEntry& entry) {
  return entry.nameTooLong ? "(a name of more than 259 characters)" : entry.name.c_str();
}

// One of the two keys: for a run that changes printers, opened for reading
// and writing and created when missing; for the check, only read.
class RememberedKey {
 public:
  RememberedKey(WinApi& api, const char* name, bool forWriting) : api_(api), key_(api) {
    if (forWriting) {
      key_ = CreateRegistryKey(api, name, status_);
      return;
    }
    HKEY handle = nullptr;
    status_ = api.RegOpenKeyExA(HKEY_LOCAL_MACHINE, name, 0, KEY_QUERY_VALUE, &handle);
    if (status_ == static_cast<LSTATUS>(ERROR_SUCCESS)) {
      key_.reset(handle);
    }
  }

  LSTATUS status() const { return status_; }

  std::optional<PortLists> Read(const std::string& printer) const {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    if (!key_ || ReadRegistryValue(api_, key_.get(), printer.c_str(), kLargestValue, type, data) !=
                     RegistryRead::Read) {
      return std::nullopt;
    }
    return Decode(type, data);
  }

  LSTATUS Write(const std::string& printer, const PortLists& lists) {
    if (!key_) {
      return status_;
    }
    const std::vector<BYTE> data = Encode(lists);
    if (data.size() > kLargestValue) {
      return ERROR_INSUFFICIENT_BUFFER;  // it could not be read back
    }
    return api_.RegSetValueExA(key_.get(), printer.c_str(), 0, REG_MULTI_SZ, data.data(),
                               static_cast<DWORD>(data.size()));
  }

  void Forget(const std::string& printer) {
    if (key_) {
      api_.RegDeleteValueA(key_.get(), printer.c_str());
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

// The names of `list` that exist as ports now, and the others, each in
// the list's order.
void SplitByExistence(const SpoolerPorts& ports, const std::string& list, std::string& existing,
                      std::string& missing) {
  ForEachListedPort(list, [&](std::string_view name) {
    std::string& into = ports.Has(std::string(name).c_str()) ? existing : missing;
    into += into.empty() ? "" : ",";
    into += name;
  });
}

class PutBackRun {
 public:
  PutBackRun(RunContext& context, PutBack when)
      : context_(context),
        api_(context.api),
        when_(when),
        released_(api_, context.profile.releasedPrintersKey, true),
        assigned_(api_, context.profile.assignedPrintersKey, true) {}

  void Run() {
    std::vector<RegistryEntry> entries;
    if (!released_.List(entries)) {
      ReportKeyError(context_, "Reading", released_.status(), context_.profile.releasedPrintersKey);
      return;
    }
    for (const RegistryEntry& entry : entries) {
      PutBackOne(entry);
    }
    if (when_ == PutBack::kMonitorRemoved) {
      ForgetEveryAssignment();
    }
  }

 private:
  void PutBackOne(const RegistryEntry& entry) {
    Output& output = context_.output;
    const std::optional<PortLists> lists = UsableLists(entry);
    if (!lists) {
      output.PrintFormatted("    ERROR - Remembered Ports of Printer '%s' Are Damaged\n",
                            ShownName(entry));
      return;
    }
    const std::string& name = entry.name;
    PrinterSettings printer(api_, name.c_str());
    if (!printer.loaded()) {
      const DWORD error = api_.GetLastError();
      if (error == ERROR_INVALID_PRINTER_NAME) {
        output.PrintFormatted("    (Printer '%s' No Longer Exists)\n", name.c_str());
        Forget(name);
      } else {
        output.PrintFormatted("    ERROR (%d) While Reading Printer '%s'\n",
                              static_cast<int>(error), name.c_str());
      }
      return;
    }
    PRINTER_INFO_2A& info = printer.info();
    std::string current = info.pPortName != nullptr ? info.pPortName : "";
    if (!SamePortList(api_, current, lists->after)) {
      Forget(name);  // moved since the release: it stays where it was put
      return;
    }
    std::string existing;
    std::string missing;
    SplitByExistence(Ports(), Target(name, *lists), existing, missing);
    if (!existing.empty() && !SamePortList(api_, existing, current)) {
      output.PrintFormatted("  - Reconnecting Printer '%s' to Port ", name.c_str());
      output.PrintMessage(existing);
      info.pPortName = existing.data();
      const bool written = printer.Write();
      output.PrintMessage(written ? "\n" : " Error\n");
      if (!written) {
        return;  // remembered still: the next run tries again
      }
      current = existing;
    }
    if (missing.empty() || when_ == PutBack::kMonitorRemoved) {
      Forget(name);
      return;
    }
    output.PrintFormatted("    (Printer '%s' Waits for Port ", name.c_str());
    output.PrintMessage(missing);
    output.PrintMessage(")\n");
    if (!SamePortList(api_, current, lists->after)) {
      released_.Write(name, {lists->before, current});
    }
  }

  // The list the printer goes back onto: after the removal, a printer the
  // installations assigned and left where they put it goes back onto its
  // list from before the first assignment.
  std::string Target(const std::string& name, const PortLists& lists) const {
    if (when_ == PutBack::kMonitorRemoved) {
      const std::optional<PortLists> assignment = assigned_.Read(name);
      if (assignment && SamePortList(api_, assignment->after, lists.before)) {
        return assignment->before;
      }
    }
    return lists.before;
  }

  // Listed once, only when a printer needs it.
  const SpoolerPorts& Ports() {
    if (!ports_) {
      ports_.emplace(api_);
    }
    return *ports_;
  }

  void Forget(const std::string& name) {
    released_.Forget(name);
    if (when_ == PutBack::kMonitorRemoved) {
      assigned_.Forget(name);
    }
  }

  // With the monitor gone no assignment is left to undo: a printer not
  // released by the removal was moved off the monitor's ports since.
  void ForgetEveryAssignment() {
    std::vector<RegistryEntry> entries;
    assigned_.List(entries);
    for (const RegistryEntry& entry : entries) {
      if (!entry.nameTooLong) {
        assigned_.Forget(entry.name);
      }
    }
  }

  RunContext& context_;
  WinApi& api_;
  PutBack when_;
  RememberedKey released_;
  RememberedKey assigned_;
  std::optional<SpoolerPorts> ports_;
};

}  // namespace

bool PrepareRememberedPrinters(RunContext& context) {
  for (const char* name :
       {context.profile.releasedPrintersKey, context.profile.assignedPrintersKey}) {
    const RememberedKey key(context.api, name, true);
    if (key.status() != static_cast<LSTATUS>(ERROR_SUCCESS)) {
      ReportKeyError(context, "Creating", key.status(), name);
      return false;
    }
  }
  return true;
}

bool RememberRelease(RunContext& context, const char* printer, std::string_view current,
                     std::string_view released) {
  RememberedKey key(context.api, context.profile.releasedPrintersKey, true);
  PortLists lists{std::string(current), std::string(released)};
  // Released before and not moved since: the list from before that release
  // is the one to keep.
  const std::optional<PortLists> earlier = key.Read(printer);
  if (earlier && SamePortList(context.api, earlier->after, lists.before)) {
    lists.before = earlier->before;
  }
  return Remembered(context, printer, key.Write(printer, lists));
}

bool RememberAssignment(RunContext& context, const char* printer, const char* current,
                        std::string_view port) {
  WinApi& api = context.api;
  // A printer this run released still counts as where the release found it.
  std::string found(current != nullptr ? current : "");
  const std::optional<PortLists> release =
      RememberedKey(api, context.profile.releasedPrintersKey, true).Read(printer);
  if (release && SamePortList(api, release->after, found)) {
    found = release->before;
  }
  RememberedKey key(api, context.profile.assignedPrintersKey, true);
  PortLists lists{found, std::string(port)};
  // Still where the installations left it: its list from before the first
  // assignment stays.
  const std::optional<PortLists> earlier = key.Read(printer);
  if (earlier && SamePortList(api, earlier->after, found)) {
    lists.before = earlier->before;
  }
  return Remembered(context, printer, key.Write(printer, lists));
}

void ForgetRelease(RunContext& context, const char* printer) {
  RememberedKey(context.api, context.profile.releasedPrintersKey, true).Forget(printer);
}

void PutBackPrinters(RunContext& context, PutBack when) {
  PutBackRun(context, when).Run();
}

void CheckRememberedPrinters(RunContext& context,
                             const std::function<void(bool inPlace, const char* text)>& report,
                             const std::function<void(const char* what, DWORD error)>& unchecked) {
  WinApi& api = context.api;
  const char* keyName = context.profile.releasedPrintersKey;
  RememberedKey key(api, keyName, false);
  std::vector<RegistryEntry> entries;
  char text[kFindingSize];
  if (key.status() == static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND)) {
    return;  // no run has released a printer yet
  }
  if (!key.List(entries)) {
    FormatBounded(text, sizeof text, "HKLM\\%s", keyName);
    unchecked(text, key.status());
    return;
  }
  for (const RegistryEntry& entry : entries) {
    const std::optional<PortLists> lists = UsableLists(entry);
    if (!lists) {
      FormatBounded(text, sizeof text, "Remembered ports of printer '%s' damaged",
                    ShownName(entry));
      report(false, text);
      continue;
    }
    const char* name = entry.name.c_str();
    const char* before = lists->before.c_str();
    PrinterSettings printer(api, name, PRINTER_ACCESS_USE);
    if (!printer.loaded()) {
      const DWORD error = api.GetLastError();
      if (error != ERROR_INVALID_PRINTER_NAME) {
        FormatBounded(text, sizeof text, "Printer '%s'", name);
        unchecked(text, error);
        continue;
      }
      FormatBounded(text, sizeof text, "Printer '%s' NOT found, remembered on port %s", name,
                    before);
      report(false, text);
      continue;
    }
    const std::string ports = printer.info().pPortName != nullptr ? printer.info().pPortName : "";
    const bool back = SamePortList(api, ports, lists->before);
    if (back) {
      FormatBounded(text, sizeof text, "Printer '%s' on port %s", name, before);
    } else {
      FormatBounded(text, sizeof text, "Printer '%s' on port %s, NOT back on %s", name,
                    ports.c_str(), before);
    }
    report(back, text);
  }
}

}  // namespace tolvo
