// Printers keep their ports. Before a run changes a printer's port list it
// remembers what it must not lose, machine-wide under two keys of the
// edition (EditionProfile::releasedPrintersKey and assignedPrintersKey, in
// the 32-bit view), one REG_MULTI_SZ value per printer, named by the
// printer and holding two comma-separated port lists:
// - released: the list a run found, then the list it left, when it took
//   the printer off the monitor's ports;
// - assigned: the list the printer had before an installation first made
//   one of the monitor's ports its only port, then the port the
//   installations left it on.
// A value is written before the SetPrinterA it stands for, so a run killed
// at any call leaves enough for the next run, and forgotten once undone.
#pragma once

#include <functional>
#include <string_view>

#include "core/run_context.h"

namespace tolvo {

// Creates both keys before a run's first change. False, reported, when
// they cannot be written.
bool PrepareRememberedPrinters(RunContext& context);

// Each remembers before the SetPrinterA it stands for: the release from
// `current` to `released`, the assignment from `current` to `port` alone
// (the assignment takes a null `current` as an empty list). False, reported, when it cannot:
// the printer must then keep its ports.
bool RememberRelease(RunContext& context, const char* printer, std::string_view current,
                     std::string_view released);
bool RememberAssignment(RunContext& context, const char* printer, const char* current,
                        std::string_view port);

// A printer an installation assigned takes its configured port: the list
// a release remembered for it is no longer to be put back.
void ForgetRelease(RunContext& context, const char* printer);

enum class PutBack {
  // An installation's end, or a removal that failed: a printer goes back
  // onto the names of its list that exist as ports now, and waits for the
  // others.
  kWhenPortsExist,
  // The monitor is gone for good: a printer an installation assigned goes
  // back onto its list from before the first assignment, any other onto
  // what is left of its own; nothing waits.
  kMonitorRemoved,
};

// Puts the released printers back, one line for each printer put back,
// and forgets what is undone. A printer no longer on the list the release
// left it on was moved since: it stays where it is, and is forgotten.
void PutBackPrinters(RunContext& context, PutBack when);

// For the check, changing nothing: one finding for each released printer
// that is remembered (so not yet put back), and a remembered value that
// cannot be used.
void CheckRememberedPrinters(RunContext& context,
                             const std::function<void(bool inPlace, const char* text)>& report,
                             const std::function<void(const char* what, DWORD error)>& unchecked);

}  // namespace tolvo
