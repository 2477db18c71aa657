#include "core/text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace tolvo {
namespace {

TEST(EnsureTrailingBackslash, AddsOnlyWhereMissing) {
  char empty[8] = "";
  EXPECT_EQ(EnsureTrailingBackslash(empty, sizeof empty), 0u);
  EXPECT_STREQ(empty, "");

  char ending[8] = "C:\\A\\";
  EXPECT_EQ(EnsureTrailingBackslash(ending, sizeof ending), 5u);
  EXPECT_STREQ(ending, "C:\\A\\");

  char plain[8] = "C:\\A";
  EXPECT_EQ(EnsureTrailingBackslash(plain, sizeof plain), 4u);
  EXPECT_STREQ(plain, "C:\\A\\");
}

TEST(EnsureTrailingBackslash, NeverWritesPastAFullBuffer) {
  char full[6] = "C:\\AB";  // five characters and the terminator: no room
  EXPECT_EQ(EnsureTrailingBackslash(full, sizeof full), 5u);
  EXPECT_STREQ(full, "C:\\AB");
}

TEST(ConcatPaths, MissingArgumentLeavesTargetUntouched) {
  char target[16] = "keep";
  EXPECT_FALSE(ConcatPaths(nullptr, "b", target, sizeof target));
  EXPECT_FALSE(ConcatPaths("a", nullptr, target, sizeof target));
  EXPECT_STREQ(target, "keep");
  EXPECT_TRUE(ConcatPaths("C:\\F\\", "x.ttf", target, sizeof target));
  EXPECT_STREQ(target, "C:\\F\\x.ttf");
}

TEST(ConcatPaths, CutsAndSaysSoWhenTooLong) {
  char target[8];
  EXPECT_FALSE(ConcatPaths("abcdef", "ghij", target, sizeof target));
  EXPECT_STREQ(target, "abcdefg");
}

TEST(CopyAsDirectory, AppendsBackslashToCopy) {
  char target[16] = "";
  CopyAsDirectory("FontFiles", target, sizeof target);
  EXPECT_STREQ(target, "FontFiles\\");
  char untouched[16] = "x";
  CopyAsDirectory(nullptr, untouched, sizeof untouched);
  EXPECT_STREQ(untouched, "x");
}

TEST(FormatBounded, CutsAtBufferSize) {
  char target[5];
  EXPECT_FALSE(FormatBounded(target, sizeof target, "%s", "abcdefgh"));
  EXPECT_STREQ(target, "abcd");
  EXPECT_TRUE(FormatBounded(target, sizeof target, "%d", 12));
  EXPECT_STREQ(target, "12");
}

TEST(EqualsIgnoreCase, ComparesAsciiLettersWithoutCase) {
  EXPECT_TRUE(EqualsIgnoreCase("TOLVO001", "tolvo001"));
  EXPECT_FALSE(EqualsIgnoreCase("Tolvo001", "Tolvo0010"));
  EXPECT_FALSE(EqualsIgnoreCase("Tolvo", "Tolvx"));
}

}  // namespace
}  // namespace tolvo
