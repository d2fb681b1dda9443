#include "prealloc/target_file.h"

#include <gtest/gtest.h>

#include "prealloc/errors.h"

namespace {

// A pending code is raised once, with its own text or with the code in it, and then cleared.
TEST(CheckIoError, RaisesThePendingCodeOnceWithItsText) {
  struct Row {
    std::int32_t code;
    const char* message;
  };
  const Row rows[] = {
      {2, "File not found"},          {100, "Read beyond end of file"}, {101, "Disk full"},
      {106, "Invalid numeric input"}, {112, "I/O error 112"},
  };
  for (const Row& row : rows) {
    pendingIoError = row.code;
    try {
      CheckIoError();
      ADD_FAILURE() << row.code << " was not raised";
    } catch (const EInOutError& error) {
      EXPECT_EQ(error.Code(), row.code);
      EXPECT_EQ(error.Message(), row.message);
    }
    EXPECT_NO_THROW(CheckIoError()) << row.code;
  }
}

}  // namespace
