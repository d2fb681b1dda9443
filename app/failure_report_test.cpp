#include "app/failure_report.h"

#include <gtest/gtest.h>

namespace {

// The period goes only after a message that lacks one, and the cut at 1024 characters may take
// it away again.
TEST(FailureReport, EndsInOnePeriodAndIsCutAt1024Characters) {
  const std::string head = "Exception EConvertError in module m.exe at 0000ABCD.\n";
  const std::string x1000(1000, 'x');
  struct Row {
    const char* name;
    std::string message, report;
  };
  const Row rows[] = {
      {"PeriodAdded", "abc", head + "abc."},
      {"PeriodKept", "abc.", head + "abc."},
      {"EmptyMessage", "", head},
      {"Cut", x1000, (head + x1000).substr(0, 1024)},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(FormatFailureReport("EConvertError", "m.exe", 0xABCD, row.message), row.report)
        << row.name;
  }
}

}  // namespace
