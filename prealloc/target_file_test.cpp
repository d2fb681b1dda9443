#include "prealloc/target_file.h"

#include <gtest/gtest.h>

namespace {

TEST(IoErrorText, ComesFromTheTableOrNamesTheCode) {
  const std::pair<std::int32_t, std::string> cases[] = {
      {2, "File not found"},          {3, "Invalid filename"},          {4, "Too many open files"},
      {5, "File access denied"},      {100, "Read beyond end of file"}, {101, "Disk full"},
      {106, "Invalid numeric input"}, {103, "I/O error 103"},           {-7, "I/O error -7"},
  };
  for (const auto& [code, text] : cases) EXPECT_EQ(IoErrorText(code), text);
}

}  // namespace
