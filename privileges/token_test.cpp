// The real process token, through the real seam: after EnablePrivileges every privilege the
// token holds is enabled. Wine's token holds an elevated administrator's; the Linux stand-in
// token holds none, because preallocation there needs no privilege.
#include <gtest/gtest.h>

#include <vector>

#include "platform/win32.h"
#include "privileges/privileges.h"

TEST(Token, HoldsEveryPrivilegeEnabledAfterwards) {
  EnablePrivileges();
  win32::HANDLE token = nullptr;
  ASSERT_TRUE(win32::OpenProcessToken(win32::GetCurrentProcess(), win32::TOKEN_QUERY, &token));
  win32::DWORD length = 0;
  win32::GetTokenInformation(token, win32::TokenPrivileges, nullptr, 0, &length);
  // The count, then three words a privilege: the two halves of its LUID and its attributes.
  std::vector<win32::DWORD> list(length / 4);
  ASSERT_TRUE(
      win32::GetTokenInformation(token, win32::TokenPrivileges, list.data(), length, &length));
  win32::CloseHandle(token);
  // Only Windows hands a program one command-line text, so this tells the two systems apart.
  EXPECT_TRUE(win32::GetCommandLineA() ? list[0] > 5 : list[0] == 0) << list[0];
  for (win32::DWORD i = 0; i < list[0]; ++i) {
    EXPECT_NE(list[3 * i + 3] & win32::SE_PRIVILEGE_ENABLED, 0u) << "privilege " << list[3 * i + 1];
  }
}
