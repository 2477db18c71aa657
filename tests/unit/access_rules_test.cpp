// Who a descriptor lets change or read an object: the rows are descriptors
// as Windows and Wine give them for program folders, kits staged by users,
// and keys.
#include "winenv/access_rules.h"

#include <gtest/gtest.h>

namespace tolvo {
namespace {

constexpr const char* kRun = "S-1-5-21-1-2-3-500";

struct Row {
  const char* sddl;
  const char* change;  // the lesser account that may change it, or ""
  const char* read;    // the lesser account that may read it, or ""
};

const Row kRows[] = {
    // Program Files: users read and run.
    {"O:BAD:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)", "", "BU"},
    // Administrators and the system only, as the lock and secrets are kept.
    {"O:BAD:P(A;;GA;;;SY)(A;;GA;;;BA)", "", ""},
    // A folder made at the root of C:: authenticated users may modify.
    {"O:BAD:AI(A;OICIID;FA;;;BA)(A;OICIID;FA;;;SY)(A;OICIID;0x1301bf;;;AU)", "AU", "AU"},
    // Wine: a file of mode 666 (the prefix's user owns it, Everyone writes).
    {"O:S-1-5-21-1-2-3-500G:S-1-5-21-1-2-3-500D:(A;;FA;;;SY)(A;;FA;;;S-1-5-21-1-2-3-500)"
     "(A;;0x1301ff;;;WD)",
     "WD", "WD"},
    // Only the right to append, or to delete what a folder holds.
    {"O:BAD:(A;;0x4;;;BU)", "BU", ""},
    {"O:BAD:(A;;DT;;;IU)", "IU", ""},
    // The right to rewrite the permissions gives every other.
    {"O:BAD:(A;;WD;;;BU)", "BU", "BU"},
    // An owner outside the administrators may rewrite the permissions.
    {"O:S-1-5-21-9-9-9-1001D:P(A;;FA;;;SY)", "S-1-5-21-9-9-9-1001", "S-1-5-21-9-9-9-1001"},
    // What only a folder's children inherit, and creator owner, bind not it.
    {"O:BAD:(A;OICIIO;FA;;;BU)(A;OICIIO;GA;;;CO)", "", ""},
    // TrustedInstaller and the run's own account are trusted.
    {"O:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464D:(A;;FA;;;S-1-5-21-1-2-3-"
     "500)",
     "", ""},
    // No DACL, or one cut short: everyone.
    {"O:BAD:NO_ACCESS_CONTROL", "WD", "WD"},
    {"O:BAG:SY", "WD", "WD"},
    {"O:BAD:(A;;FA;;;SY", "WD", "WD"},
    // A key under HKLM\SOFTWARE: users read; one made for the system only.
    {"O:BAD:(A;CI;KA;;;SY)(A;CI;KA;;;BA)(A;CI;KR;;;BU)", "", "BU"},
    {"O:SYD:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)(A;CI;KW;;;PU)", "PU", ""},
    // An unknown right is judged the widest.
    {"O:BAD:(A;;ZZ;;;BU)", "BU", "BU"},
    // A conditional grant counts as a grant, and its condition's brackets
    // hide no entry after it.
    {"O:BAD:(XA;;FA;;;BU;(Member_of {SID(BU)}))", "BU", "BU"},
    {"O:BAD:(XD;;FA;;;WD;(Member_of {SID(BA)}))(A;;0x1301bf;;;AU)", "AU", "AU"},
};

TEST(AccessRules, LesserAccountWith) {
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.sddl);
    EXPECT_EQ(LesserAccountWith(row.sddl, Access::Change, kRun), row.change);
    EXPECT_EQ(LesserAccountWith(row.sddl, Access::Read, kRun), row.read);
  }
}

TEST(AccessRules, OnlyAdministratorsReach) {
  EXPECT_TRUE(OnlyAdministratorsReach("O:BAD:P(A;;GA;;;SY)(A;;GA;;;BA)"));
  EXPECT_TRUE(OnlyAdministratorsReach("O:SYD:"));
  EXPECT_FALSE(OnlyAdministratorsReach("O:BAD:NO_ACCESS_CONTROL"));
  EXPECT_FALSE(OnlyAdministratorsReach("O:BAD:P(A;;GA;;;SY)(A;;0x1;;;WD)"));
  EXPECT_FALSE(OnlyAdministratorsReach("O:S-1-5-21-1-2-3-500D:P(A;;GA;;;SY)"));
}

TEST(AccessRules, AccountName) {
  EXPECT_EQ(AccountName("BU"), "BUILTIN\\Users");
  EXPECT_EQ(AccountName("S-1-1-0"), "Everyone");
  EXPECT_EQ(AccountName("S-1-5-21-9-9-9-1001"), "S-1-5-21-9-9-9-1001");
}

}  // namespace
}  // namespace tolvo
