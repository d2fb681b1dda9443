// The code-page check on the system's own conversion. Only Windows hands a program one
// command-line text in a code page; where the system splits the arguments, nothing is converted.
#include <gtest/gtest.h>

#include <tuple>

#include "app/command_line.h"

TEST(CodePage, TheSystemsConversionTellsLookAlikesApart) {
  if (win32::GetCommandLineA() == nullptr) GTEST_SKIP() << "arguments come split, as bytes";
  const std::tuple<const char*, const char16_t*, win32::DWORD, bool> cases[] = {
      {"p caf\xE9 1", u"p caf\u00E9 1", 1252, true},
      {"p victim\" 0 \"x 1", u"p victim\uFF02 0 \uFF02x 1", 1252, false},  // look-alike quotes
      {"p a\\b 1", u"p a\uFF3Cb 1", 1252, false},                          // and backslash
      {"p a\\b 1", u"p a\u00A5b 1", 932, false},                           // yen as backslash
      {"p \xD0\x9F\xF0\x9F\x98\x80 1", u"p \u041F\U0001F600 1", win32::CP_UTF8, true},
      {"p \xEF\xBF\xBD 1", u"p \xD800 1", win32::CP_UTF8, false},  // half a surrogate pair
  };
  for (const auto& [narrow, wide, page, same] : cases) {
    EXPECT_EQ(SameInCodePage(narrow, wide, page), same) << narrow;
    EXPECT_TRUE(same || win32::GetLastError() == win32::ERROR_NO_UNICODE_TRANSLATION) << narrow;
  }
}
