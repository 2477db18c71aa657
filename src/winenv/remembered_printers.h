// Printers keep their ports. Before a run changes a printer's port list it
// remembers what it must not lose, machine-wide in one record per printer:
// the printer's values under two keys of the edition
// (EditionProfile::releasedPrintersKey and assignedPrintersKey, in the
// 32-bit view), each a REG_MULTI_SZ named by the printer and holding two
// comma-separated port lists:
// - released: the printer's home list (the list a run found when it took
//   the printer off the monitor's ports), then the list the runs left it on;
// - assigned: the list the printer had before an installation first made
//   one of the monitor's ports its only port, then the port the
//   installations left it on.
// A value is written before the SetPrinterA it stands for, so a run killed
// at any call leaves enough for the next run, and a record is dropped only
// once the spooler confirmed the change that makes it unnecessary. One rule
// (ClassifyRelease) decides what becomes of a record, for the installation,
// the removal and the check alike.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "core/run_context.h"

namespace tolvo {

// Creates both keys before a run's first change, and says, reported,
// what keeps them from use.
enum class RememberedKeys {
  kReady,
  kFailed,        // a key cannot be made, or its security read: a machine's fault
  kOpenToOthers,  // a lesser account may change one: its records would move
                  // printers on that account's say, and a release written there
                  // could not be put back; no run goes on, "-e" or not
};
RememberedKeys PrepareRememberedPrinters(RunContext& context);

// Each remembers before the SetPrinterA it stands for: the release from
// `current` to `released`, the assignment from `current` to `port` alone
// (the assignment takes a null `current` as an empty list). False, reported
// (also when the record cannot be read): the printer must then keep its ports.
bool RememberRelease(RunContext& context, const char* printer, std::string_view current,
                     std::string_view released);
bool RememberAssignment(RunContext& context, const char* printer, const char* current,
                        std::string_view port);

// A printer an installation assigned takes its configured port: the list
// a release remembered for it is no longer to be put back.
void ForgetRelease(RunContext& context, const char* printer);

enum class PutBack {
  // The monitor is still registered on this machine (an installation's end,
  // or a removal that failed): a printer goes back onto the names of its
  // list that exist as ports now, and waits for the others.
  kWhenPortsExist,
  // The monitor is gone from this machine: a printer an installation
  // assigned goes back onto its list from before the first assignment, any
  // other onto what is left of its own; nothing waits.
  kMonitorRemoved,
};

// Two port lists of a remembered value.
struct PortLists {
  std::string before;
  std::string after;
};

// A printer's record, as its two values say.
struct PrinterRecord {
  std::optional<PortLists> released;
  std::optional<PortLists> assigned;
};

// A printer as the spooler has it now.
struct PrinterNow {
  bool exists = false;
  std::string ports;
};

enum class Verdict {
  kPutBack,  // onto `onto`; waits for `missing` afterwards when not empty
  kWait,     // stays on what it has and waits for `missing`
  kForget,   // stays where it is: back home, moved since by hand, or gone
};

struct Decision {
  Verdict verdict = Verdict::kForget;
  std::string target;   // the list the printer belongs on
  std::string onto;     // kPutBack: the names of `target` that exist as ports
  std::string missing;  // the names of `target` that do not (never in kMonitorRemoved)
};

// The one rule for a printer with a usable release record. A printer whose
// list is neither the one the runs left it on nor part of its home list
// (a put-back that restored some of it) was moved since and stays.
Decision ClassifyRelease(WinApi& api, const PrinterRecord& record, const PrinterNow& now,
                         PutBack when, const std::function<bool(std::string_view)>& portExists);

// Puts the released printers back, one line for each printer put back,
// and drops what the spooler confirmed. With the monitor removed, an
// assignment goes with its printer's release, or alone when the printer
// has none left.
void PutBackPrinters(RunContext& context, PutBack when);

// After a removal: deletes the two keys, and the keys above them up to the
// maker's, where they hold nothing.
void DeleteEmptyRememberedKeys(RunContext& context);

// For the check, changing nothing: one finding for each released printer
// by what an installation would do with it (an error where it would put the
// printer back, or the record is damaged), and a record that cannot be read.
void CheckRememberedPrinters(RunContext& context,
                             const std::function<void(bool inPlace, const char* text)>& report,
                             const std::function<void(const char* what, DWORD error)>& unchecked);

}  // namespace tolvo
