// The seam as each program has it: the Linux stand-ins must fail where kernel32 and advapi32 fail,
// with the code they leave, wherever the tool reads the answer. The same checks run against the
// real calls under Wine.
#include "platform/win32.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "privileges/privileges.h"

namespace {

using namespace win32;

TEST(Seam, FileCallsAnswerAsWindowsDoes) {
  HANDLE file = CreateFileA("seam.bin", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  // A position whose low half is all ones is told from a failure by the code alone.
  LONG high = 0;
  SetLastError(5);
  EXPECT_EQ(SetFilePointer(file, -1, &high, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), 0u);
  EXPECT_EQ(SetFilePointer(file, 0, &high, FILE_BEGIN), 0u);
  // The valid length may not lie beyond the end of file, which another program may have cut.
  EnablePrivileges();
  auto setValidData = reinterpret_cast<SetFileValidDataProc>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetFileValidData"));
  EXPECT_FALSE(setValidData(file, 1));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_TRUE(CloseHandle(file));
  std::remove("seam.bin");
}

// After EnablePrivileges every privilege the token holds is enabled. Wine's token holds an
// elevated administrator's; the Linux stand-in token holds none, because preallocation there
// needs no privilege.
TEST(Seam, TokenHoldsEveryPrivilegeEnabledAfterwards) {
  EnablePrivileges();
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  DWORD length = 0, tooShort = 0;
  EXPECT_FALSE(GetTokenInformation(token, TokenPrivileges, &tooShort, 2, &length));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  // The count, then three words a privilege: the two halves of its LUID and its attributes.
  std::vector<DWORD> list(length / 4);
  ASSERT_TRUE(GetTokenInformation(token, TokenPrivileges, list.data(), length, &length));
  EXPECT_TRUE(CloseHandle(token));
  // Only Windows hands a program one command-line text, so this tells the two systems apart.
  EXPECT_TRUE(GetCommandLineA() ? list[0] > 5 : list[0] == 0) << list[0];
  for (DWORD i = 0; i < list[0]; ++i) {
    EXPECT_NE(list[3 * i + 3] & SE_PRIVILEGE_ENABLED, 0u) << "privilege " << list[3 * i + 1];
  }
}

}  // namespace
