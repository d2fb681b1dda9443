// The seam as the program really gets it: on Linux our stand-ins, on Windows the system itself.
// Both must answer these cases alike, since the logic above relies on the Win32 contract.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <random>

#include "platform/test_support.h"
#include "platform/win32.h"
#include "prealloc/errors.h"
#include "prealloc/target_file.h"
#include "privileges/privileges.h"

namespace fs = std::filesystem;

namespace {

class SystemTest : public testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    dir_ = fs::temp_directory_path() / ("presizer-system-" + std::to_string(random()));
    fs::create_directories(dir_);
    pendingIoError = 0;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  std::string PathOf(const std::string& name) const { return (dir_ / name).string(); }

  fs::path dir_;
};

TEST_F(SystemTest, ValidDataCallIsFoundAndKeepsItsContract) {
  auto call = reinterpret_cast<win32::SetFileValidDataProc>(
      win32::GetProcAddress(win32::GetModuleHandleA("kernel32.dll"), "SetFileValidData"));
  ASSERT_NE(call, nullptr);
  EXPECT_EQ(win32::GetProcAddress(win32::GetModuleHandleA("kernel32.dll"), "NoSuchCall"), nullptr);

  win32::OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;
  ASSERT_TRUE(win32::GetVersionExA(&info));
  EXPECT_EQ(info.dwPlatformId, win32::VER_PLATFORM_WIN32_NT);

  TargetFile file;
  AssignTargetFile(file, PathOf("valid"));
  CreateTargetFile(file);
  CheckIoError();
  SeekFile64(file, 65536);
  SetFileEnd(file);
  CheckIoError();
  EXPECT_FALSE(call(file.handle, 65537));  // never beyond the end of file
  EXPECT_TRUE(call(file.handle, 65536));
  EXPECT_EQ(GetFileSize64(file), 65536);
  win32::CloseHandle(file.handle);
}

// Reads the process token's privileges afresh, as the system holds them now.
std::vector<win32::LUID_AND_ATTRIBUTES> TokenPrivilegesNow() {
  std::vector<win32::LUID_AND_ATTRIBUTES> privileges;
  win32::HANDLE token = nullptr;
  if (!win32::OpenProcessToken(win32::GetCurrentProcess(), win32::TOKEN_QUERY, &token)) {
    ADD_FAILURE() << "token not opened: " << win32::GetLastError();
    return privileges;
  }
  win32::DWORD length = 0;
  win32::GetTokenInformation(token, win32::TokenPrivileges, nullptr, 0, &length);
  std::vector<unsigned char> list(length);
  if (win32::GetTokenInformation(token, win32::TokenPrivileges, list.data(), length, &length) &&
      length >= 4) {
    win32::DWORD count = 0;
    std::memcpy(&count, list.data(), sizeof count);
    privileges.resize(count);
    if (count != 0) {
      std::memcpy(privileges.data(), list.data() + 4, count * sizeof(win32::LUID_AND_ATTRIBUTES));
    }
  }
  win32::CloseHandle(token);
  return privileges;
}

TEST(TokenPrivileges, AreAllEnabledAfterwards) {
  EnablePrivileges();
  std::vector<win32::LUID_AND_ATTRIBUTES> privileges = TokenPrivilegesNow();
  // Wine's token holds the privileges of an elevated administrator; the Linux token holds none,
  // because preallocation there needs no privilege.
  if (testsupport::IsWindows()) {
    EXPECT_GT(privileges.size(), 5u);
  } else {
    EXPECT_TRUE(privileges.empty());
  }
  for (const win32::LUID_AND_ATTRIBUTES& privilege : privileges) {
    EXPECT_NE(privilege.Attributes & win32::SE_PRIVILEGE_ENABLED, 0u)
        << "privilege " << privilege.Luid.LowPart << " is not enabled";
  }
}

}  // namespace
