#include "platform/path_form.h"

#include <gtest/gtest.h>

namespace tolvo {
namespace {

using Kind = PathForm::Kind;

struct PathFormRow {
  const char* path;
  Kind kind;
  const char* from;  // the text from `at` on
};

// The long share prefix in any case: a lower-case one was taken for a
// device where the opened file's place was asked.
const PathFormRow kRows[] = {
    {"\\\\srv\\share\\run.log", Kind::kShare, "\\srv\\share\\run.log"},
    {"\\\\?\\unc\\srv\\share\\run.log", Kind::kShare, "\\srv\\share\\run.log"},
    {"\\\\?\\C:\\Windows\\run.log", Kind::kDrive, "C:\\Windows\\run.log"},
    {"z:run.log", Kind::kDrive, "z:run.log"},
    {"\\\\.\\C:\\run.log", Kind::kDevice, nullptr},
    {"\\\\?\\Volume{1}\\run.log", Kind::kDevice, nullptr},
    {"\\\\", Kind::kDevice, nullptr},
    {"\\run.log", Kind::kCurrentDrive, nullptr},
};

TEST(FormOfPath, TellsShareDriveDeviceAndCurrentDrive) {
  for (const PathFormRow& row : kRows) {
    const std::string_view path = row.path;
    const PathForm form = FormOfPath(path);
    EXPECT_EQ(form.kind, row.kind) << path;
    if (row.from != nullptr) {
      EXPECT_EQ(path.substr(form.at), row.from) << path;
    }
  }
}

}  // namespace
}  // namespace tolvo
