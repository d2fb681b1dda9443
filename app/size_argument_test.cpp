#include "app/size_argument.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

const std::optional<std::int64_t> no;  // rejected
constexpr std::int64_t kMin = INT64_MIN, kMax = INT64_MAX;

TEST(SizeArgument, ParsesOrRejectsWithTheWholeText) {
  // clang-format off
  const std::pair<std::string, std::optional<std::int64_t>> cases[] = {
      {"0", 0}, {"256", 256}, {"   12", 12}, {"-0", 0}, {"+0", 0}, {"+7", 7}, {"-7", -7},
      {"0012", 12}, {"9223372036854775807", kMax}, {"-9223372036854775808", kMin},
      {std::string(25, '0') + "9223372036854775807", kMax}, {"9223372036854775808", no},
      {"-9223372036854775809", no}, {"18446744073709551615", no}, {"99999999999999999999", no},
      {"$100", 256}, {"0x10", 16}, {"0X10", 16}, {"$aBcD", 0xABCD}, {"$9f", 0x9F}, {"$A", 10},
      {"-0x10", -16}, {"-$10", -16}, {"+$10", 16}, {"$FFFFFFFFFFFFFFFF", -1},
      {"-$FFFFFFFFFFFFFFFF", 1}, {"$8000000000000000", kMin}, {"$0FFFFFFFFFFFFFFFF", -1},
      {"$7FFFFFFFFFFFFFFF", kMax}, {"$10000000000000000", no}, {"", no}, {" ", no}, {"12 ", no},
      {"\t12", no}, {"- 12", no}, {"-", no}, {"+", no}, {"--1", no}, {"+-1", no}, {"$", no},
      {"0x", no}, {"00x10", no}, {"$0x10", no}, {"x10", no}, {"$-1", no}, {"1e3", no},
      {"1.5", no}, {"1,000", no}, {"$G", no}, {"$g", no}, {"%s%n%d", no},
      {std::string("1\0", 2), no}, {std::string(5000, '%'), no},
  };
  // clang-format on
  for (const auto& [text, value] : cases) {
    try {
      EXPECT_EQ(ParseSizeArgument(text), value) << "'" << text << "'";
    } catch (const EConvertError& error) {
      EXPECT_FALSE(value) << "'" << text << "' was rejected";
      EXPECT_EQ(error.Message(), "'" + text + "' is not a valid integer value");
    }
  }
}

}  // namespace
