// How a full or relative path names where its file lies, read from its
// text alone: the run log's and trace's creation asks whether a file
// server holds it, the backend where the opened file must lie.
#pragma once

#include <cstddef>
#include <string_view>

namespace tolvo {

struct PathForm {
  enum class Kind {
    kShare,         // "\\server\share\...", "\\?\UNC\server\share\..."
    kDrive,         // "C:...", "\\?\C:..."
    kDevice,        // "\\.\...", "\\?\Volume{...}\...": no drive, no share
    kCurrentDrive,  // "\x", "x": the current directory's drive
  };
  Kind kind;
  // kShare: where "\server\share..." begins (at its first backslash);
  // kDrive: where "C:" begins.
  std::size_t at;
};

PathForm FormOfPath(std::string_view path);

}  // namespace tolvo
