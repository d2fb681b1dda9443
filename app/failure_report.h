// The report that ends a run whose error escaped the main flow.
#ifndef PRESIZER_APP_FAILURE_REPORT_H_
#define PRESIZER_APP_FAILURE_REPORT_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/errors.h"

constexpr std::size_t kMaxReportLength = 1024;

// "Exception <kind> in module <module> at <position>.\n<message>", with a final period added to a
// message that lacks one, cut to 1024 characters.
std::string FormatFailureReport(const std::string& kindName, const std::string& moduleName,
                                std::uint32_t position, const std::string& message);

// The program's file name without its directory.
std::string ModuleFileName();

// The offset of `address` from the start of the program's image.
std::uint32_t CodePosition(const void* address);

// Prints the report for `error` and returns the exit code of a failed run.
int ReportFailure(const Exception& error);

#endif  // PRESIZER_APP_FAILURE_REPORT_H_
