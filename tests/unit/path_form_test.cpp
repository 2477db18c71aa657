#include "platform/path_form.h"

#include <gtest/gtest.h>

namespace tolvo {
namespace {

using Kind = PathForm::Kind;

// A path, its form, and the text from `at` on ("" where `at` means nothing).
const struct {
  std::string_view path;
  Kind kind;
  std::string_view from;
} kRows[] = {
    {"\\\\srv\\share\\run.log", Kind::kShare, "\\srv\\share\\run.log"},
    {"\\\\?\\unc\\srv\\share\\run.log", Kind::kShare, "\\srv\\share\\run.log"},  // any case
    {"\\\\?\\C:\\Windows\\run.log", Kind::kDrive, "C:\\Windows\\run.log"},
    {"z:run.log", Kind::kDrive, "z:run.log"},
    {"\\\\.\\C:\\run.log", Kind::kDevice, ""},
    {"\\\\?\\Volume{1}\\run.log", Kind::kDevice, ""},
    {"\\run.log", Kind::kCurrentDrive, ""},
};

TEST(FormOfPath, TellsShareDriveDeviceAndCurrentDrive) {
  for (const auto& row : kRows) {
    const PathForm form = FormOfPath(row.path);
    EXPECT_EQ(form.kind, row.kind) << row.path;
    EXPECT_TRUE(row.from.empty() || row.path.substr(form.at) == row.from) << row.path;
  }
}

}  // namespace
}  // namespace tolvo
