#include "app/size_argument.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

// The size syntax where the case table does not reach it: the digits of each base, the "0x"
// prefix, and the edges of 64 bits, where decimal is a signed value and hexadecimal a bit
// pattern. The case table checks the words of a rejection.
struct SizeRow {
  const char* name;
  std::string text;
  std::optional<std::int64_t> value;
};
void PrintTo(const SizeRow& row, std::ostream* out) { *out << row.name; }

const std::nullopt_t kRejected = std::nullopt;

const SizeRow kSizeRows[] = {
    {"HexDigits", "$09afAF", 0x09AFAF},
    {"LowerZeroX", "0x10", 16},
    {"UpperZeroX", "0X10", 16},
    {"MinusZero", "-0", 0},
    {"SmallestDecimal", "-9223372036854775808", INT64_MIN},
    {"HexSignBit", "$FFFFFFFFFFFFFFFF", -1},
    {"PastTheHexDigits", "$g", kRejected},
    {"DecimalPastTheSignedRange", "9223372036854775808", kRejected},
    {"HexPast64Bits", "$10000000000000000", kRejected},
};

class SizeArgument : public testing::TestWithParam<SizeRow> {};

TEST_P(SizeArgument, IsItsValueOrRejected) {
  try {
    EXPECT_EQ(ParseSizeArgument(GetParam().text), GetParam().value);
  } catch (const EConvertError&) {
    EXPECT_EQ(GetParam().value, kRejected);
  }
}
INSTANTIATE_TEST_SUITE_P(Texts, SizeArgument, testing::ValuesIn(kSizeRows),
                         testing::PrintToStringParamName());

}  // namespace
