// The product folder's files that the installation copies into the system
// folder or starts run as an administrator or as the local system account:
// none of them, and no folder holding one, may be open to change by an
// account short of an administrator.
#pragma once

#include <initializer_list>

#include "core/run_context.h"

namespace tolvo {

// Checks each file of `files` (named relative to the current directory,
// the product folder; null entries are skipped) and the folder it lies in,
// each folder once. A file that is missing is passed over (the file check
// reports it), its folder is not. False, after one line naming the file or
// folder and the account, at the first that such an account may write,
// delete or whose permissions or owner it may change, or whose security
// cannot be read; errors are not to be ignored here, as a planted file is
// no fault of the machine's. The run's own account counts as an administrator.
bool KitFilesGuarded(RunContext& context, std::initializer_list<const char*> files);

// The configuration the run reads (which port sends jobs where, which
// printers it moves onto them): the configuration file and its folder, or
// with `fromRegistry` the configuration key and each port's key under it.
// Refused as KitFilesGuarded refuses, the line naming the configuration:
//   ERROR: BUILTIN\Users can change 'C:\Kit\Tolvo.ini'; only administrators
//   may be able to change the configuration the installation reads.
bool ConfigurationGuarded(RunContext& context, bool fromRegistry);

}  // namespace tolvo
