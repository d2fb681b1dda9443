// Each row of a table is a test of its own, named by the row's `name`: a failing row says which
// it is, and `--gtest_filter='*/Name'` runs it alone.
#ifndef PRESIZER_TESTS_ROW_NAME_H_
#define PRESIZER_TESTS_ROW_NAME_H_

#include <gtest/gtest.h>

#include <string>

template <typename Row>
std::string RowName(const testing::TestParamInfo<Row>& info) {
  return info.param.name;
}

#endif  // PRESIZER_TESTS_ROW_NAME_H_
