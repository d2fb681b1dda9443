#ifndef PRESIZER_APP_SIZE_ARGUMENT_H_
#define PRESIZER_APP_SIZE_ARGUMENT_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/errors.h"

// Reads a byte count: decimal, or hexadecimal after "$" or "0x". Leading blanks and one sign are
// allowed; anything else that is not a digit rejects the text with EConvertError.
std::int64_t ParseSizeArgument(std::string_view text);

#endif  // PRESIZER_APP_SIZE_ARGUMENT_H_
