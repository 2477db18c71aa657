#include "conformance/check.h"

namespace tolvo::checks {

Check::Check()
    : scratch_(MakeScratch(::testing::UnitTest::GetInstance()->current_test_info()->name())),
      scratch(*scratch_),
      api(scratch_->api()),
      name_(::testing::UnitTest::GetInstance()->current_test_info()->name()) {}

std::string Check::SoftwareKey(std::string_view below) const {
  return "SOFTWARE\\Tolvo Checks\\" + name_ + (below.empty() ? "" : "\\" + std::string(below));
}

std::string Check::SystemKey(std::string_view below) const {
  return "SYSTEM\\Tolvo Checks\\" + name_ + (below.empty() ? "" : "\\" + std::string(below));
}

void Check::SetValue(const std::string& key, const char* name, DWORD type, std::string_view bytes,
                     REGSAM view) {
  HKEY handle = nullptr;
  ASSERT_EQ(api.RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0,
                                KEY_SET_VALUE | view, nullptr, &handle, nullptr),
            ERROR_SUCCESS)
      << key;
  EXPECT_EQ(api.RegSetValueExA(handle, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                               static_cast<DWORD>(bytes.size())),
            ERROR_SUCCESS);
  api.RegCloseKey(handle);
}

}  // namespace tolvo::checks
