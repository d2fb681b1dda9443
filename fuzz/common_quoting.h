// The common quoting of a Windows command line, as the system's CommandLineToArgvW documents it:
// the reference that the tool's own splitting is checked against.
#ifndef PRESIZER_FUZZ_COMMON_QUOTING_H_
#define PRESIZER_FUZZ_COMMON_QUOTING_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The arguments of `line`, which holds no NUL, the program's own path first, every empty one
// included.
std::vector<std::string> SplitAsCommonQuoting(std::string_view line);

// A command line made of the characters that splitting rules disagree on: one byte of fuzzer
// input gives one character.
std::string CommandLineFromBytes(const std::uint8_t* data, std::size_t size);

// True when the system's own CommandLineToArgvW splits `line` into `arguments`; on a system
// without it, always true.
bool SystemSplitsAs(const std::string& line, const std::vector<std::string>& arguments);

#endif  // PRESIZER_FUZZ_COMMON_QUOTING_H_
