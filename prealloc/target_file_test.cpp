#include "prealloc/target_file.h"

#include "prealloc/errors.h"
#include "tests/fake_win32.h"

namespace {

TEST(IoErrorText, ComesFromTheTableOrNamesTheCode) {
  const std::pair<std::int32_t, std::string> cases[] = {
      {2, "File not found"},          {3, "Invalid filename"},          {4, "Too many open files"},
      {5, "File access denied"},      {100, "Read beyond end of file"}, {101, "Disk full"},
      {106, "Invalid numeric input"}, {103, "I/O error 103"},           {-7, "I/O error -7"},
  };
  for (const auto& [code, text] : cases) EXPECT_EQ(IoErrorText(code), text);
}

using Errors = fake::Test;

// The system's text loses its trailing periods, blanks and line ends, and nothing else; codes
// are shown signed.
TEST_F(Errors, Win32ErrorHasTheCodeAndTheTrimmedSystemText) {
  const std::pair<std::string, std::string> cases[] = {
      {"Access is denied.\r\n", "5.\nAccess is denied"},
      {"Several . . .. \t.\r\n", "5.\nSeveral"},
      {"Loud!", "5.\nLoud!"},
      {"...", "5.\n"},
      {"High \xe9.\x7f", "5.\nHigh \xe9.\x7f"},
      {"", "-1073741819.\n"},
  };
  for (const auto& [text, message] : cases) {
    fake.lastError = text.empty() ? 0xC0000005u : 5;
    fake.messages[fake.lastError] = text;
    try {
      CheckLastError();
      ADD_FAILURE() << "not raised";
    } catch (const EWin32Error& error) {
      EXPECT_EQ(error.Message(), "Win32 Error.  Code: " + message);
      EXPECT_EQ(error.Code(), fake.lastError);
    }
  }
}

}  // namespace
