// Settings fixed by the driver for the whole run.
#pragma once

#include <cstddef>

namespace tolvo {

inline constexpr std::size_t kIniPathSize = 1024;

struct RunSettings {
  char iniPath[kIniPathSize] = {};
  bool enterpriseEdition = false;
  // SetDllDirectoryA("") took the current directory out of the DLL search
  // path; programs started meanwhile would inherit that.
  bool currentDirectoryOutOfDllSearch = false;

  // Clears the whole path, then keeps at most 1023 characters of `path`.
  // A null path leaves it empty.
  void SetIniPath(const char* path);
};

}  // namespace tolvo
