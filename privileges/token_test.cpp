// The real process token, through the real seam: after EnablePrivileges every privilege the
// token holds is enabled. Wine's token holds an elevated administrator's; the Linux stand-in
// token holds none, because preallocation there needs no privilege.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/win32.h"
#include "privileges/privileges.h"

TEST(Token, HoldsEveryPrivilegeEnabledAfterwards) {
  EnablePrivileges();
  win32::HANDLE token = nullptr;
  ASSERT_TRUE(win32::OpenProcessToken(win32::GetCurrentProcess(), win32::TOKEN_QUERY, &token));
  win32::DWORD length = 0;
  win32::GetTokenInformation(token, win32::TokenPrivileges, nullptr, 0, &length);
  std::vector<unsigned char> list(length);
  ASSERT_TRUE(
      win32::GetTokenInformation(token, win32::TokenPrivileges, list.data(), length, &length));
  win32::CloseHandle(token);
  win32::DWORD count = 0;
  std::memcpy(&count, list.data(), sizeof count);
  EXPECT_TRUE(win32::GetCommandLineA() ? count > 5 : count == 0) << count;
  for (win32::DWORD i = 0; i < count; ++i) {
    win32::LUID_AND_ATTRIBUTES entry;
    std::memcpy(&entry, list.data() + 4 + i * sizeof entry, sizeof entry);
    EXPECT_NE(entry.Attributes & win32::SE_PRIVILEGE_ENABLED, 0u) << entry.Luid.LowPart;
  }
}
