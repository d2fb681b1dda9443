#include "app/size_argument.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

struct SizeCase {
  std::string text;
  std::optional<std::int64_t> value;  // nothing: rejected
};

class SizeArgumentTest : public testing::TestWithParam<SizeCase> {};

TEST_P(SizeArgumentTest, ParsesOrRejects) {
  const SizeCase& c = GetParam();
  if (c.value) {
    EXPECT_EQ(ParseSizeArgument(c.text), *c.value) << "text: '" << c.text << "'";
    return;
  }
  try {
    std::int64_t value = ParseSizeArgument(c.text);
    ADD_FAILURE() << "'" << c.text << "' was accepted as " << value;
  } catch (const EConvertError& error) {
    EXPECT_EQ(error.Message(), "'" + c.text + "' is not a valid integer value");
  }
}

constexpr std::int64_t kMin = INT64_MIN;

INSTANTIATE_TEST_SUITE_P(
    Texts, SizeArgumentTest,
    testing::Values(
        // Decimal.
        SizeCase{"0", 0}, SizeCase{"256", 256}, SizeCase{"   12", 12}, SizeCase{"-0", 0},
        SizeCase{"+0", 0}, SizeCase{"+7", 7}, SizeCase{"-7", -7}, SizeCase{"0012", 12},
        SizeCase{"9223372036854775807", INT64_MAX}, SizeCase{"-9223372036854775808", kMin},
        SizeCase{std::string(25, '0') + "9223372036854775807", INT64_MAX},
        SizeCase{"9223372036854775808", {}}, SizeCase{"-9223372036854775809", {}},
        SizeCase{"18446744073709551615", {}}, SizeCase{"99999999999999999999", {}},
        // Hexadecimal.
        SizeCase{"$100", 256}, SizeCase{"0x10", 16}, SizeCase{"0X10", 16}, SizeCase{"$10", 16},
        SizeCase{"$aBcD", 0xABCD}, SizeCase{"-0x10", -16}, SizeCase{"-$10", -16},
        SizeCase{"+$10", 16}, SizeCase{"$FFFFFFFFFFFFFFFF", -1}, SizeCase{"-$FFFFFFFFFFFFFFFF", 1},
        SizeCase{"$8000000000000000", kMin}, SizeCase{"$0FFFFFFFFFFFFFFFF", -1},
        SizeCase{"$7FFFFFFFFFFFFFFF", INT64_MAX}, SizeCase{"$10000000000000000", {}},
        SizeCase{"  0x100000000", 0x100000000},
        // Rejected shapes.
        SizeCase{"", {}}, SizeCase{" ", {}}, SizeCase{"12 ", {}}, SizeCase{"\t12", {}},
        SizeCase{"- 12", {}}, SizeCase{"-", {}}, SizeCase{"+", {}}, SizeCase{"--1", {}},
        SizeCase{"+-1", {}}, SizeCase{"$", {}}, SizeCase{"0x", {}}, SizeCase{"00x10", {}},
        SizeCase{"$0x10", {}}, SizeCase{"x10", {}}, SizeCase{"$-1", {}}, SizeCase{"1e3", {}},
        SizeCase{"1.5", {}}, SizeCase{"1,000", {}}, SizeCase{"12abc", {}}, SizeCase{"abc", {}},
        SizeCase{"$G", {}}, SizeCase{"%s%n%d", {}}, SizeCase{"1%", {}},
        SizeCase{std::string("1\0", 2), {}}));

TEST(SizeArgument, LongRejectedTextIsKeptWhole) {
  std::string text(5000, '%');
  try {
    ParseSizeArgument(text);
    FAIL() << "accepted";
  } catch (const EConvertError& error) {
    EXPECT_EQ(error.Message().size(), text.size() + 31);
    EXPECT_STREQ(error.KindName(), "EConvertError");
    EXPECT_NE(error.RaiseAddress(), nullptr);
  }
}

}  // namespace
