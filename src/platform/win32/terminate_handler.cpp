// The installer never throws, yet the static C++ runtime installs a
// terminate handler that prints the demangled type of an uncaught
// exception, and with it links the whole demangler (about 45 KiB).
// Defining the handler here keeps the runtime's version out of the
// executable; an uncaught exception still ends the process at once.
#include <cstdlib>

namespace __gnu_cxx {

void __verbose_terminate_handler() {
  std::abort();
}

}  // namespace __gnu_cxx
