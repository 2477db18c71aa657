// Whether a password the run read is open to others where it is kept.
#pragma once

#include "core/run_context.h"
#include "platform/run_account.h"
#include "portconfig/port_configuration.h"

namespace tolvo {

// When the configuration file, or a port's registry key, that holds a set
// password (AuthText) lets an account short of an administrator read it,
// one line on the error stream names the file or key and the account:
//   Warning: the password (AuthText) in "C:\Kit\Tolvo.ini" can be read by
//   BUILTIN\Users: let only SYSTEM and the administrators read it
// (one line). Nothing else changes: the run goes on, and the transcript
// (console and run log) stays as it is. A file or key whose permissions
// cannot be read is passed over in silence.
class PasswordExposure {
 public:
  PasswordExposure(RunContext& context, PortConfigSource source)
      : context_(context), source_(source) {}

  // Port `portNumber` holds a set password: its key, or the file once per run.
  void PasswordRead(int portNumber);
  // Reads port `portNumber`'s password (wiping it again) and judges it as
  // PasswordRead does when it is set.
  void CheckPort(int portNumber);

 private:
  RunContext& context_;
  PortConfigSource source_;
  bool fileJudged_ = false;
  char runAccount_[kSidTextSize] = {};
};

}  // namespace tolvo
