#include "core/run_settings.h"

#include <cstring>

#include "core/text.h"

namespace tolvo {

void RunSettings::SetIniPath(const char* path) {
  std::memset(iniPath, 0, sizeof iniPath);
  if (path != nullptr) {
    CopyBounded(iniPath, sizeof iniPath, path);
  }
}

}  // namespace tolvo
