// The subcommands of lapquill-cli. Each takes the words after its own name and returns the
// process's exit status: 0 success, 1 a failure the command reports, 2 a usage error.
#pragma once

#include <string>
#include <vector>

namespace lapquill::cli {

using Args = std::vector<std::string>;

int RunInfo(const Args& args);
int RunTable(const Args& args);
int RunRender(const Args& args);
int RunDemo(const Args& args);
int RunLibrary(const Args& args);

// Prints "lapquill-cli: MESSAGE" and the usage line to stderr and returns 2.
int UsageError(const std::string& message);

// JSON string literal with the needed escapes; bytes above 0x7F pass through unchanged.
std::string JsonString(std::string_view text);
// "%.9g": a 32-bit float printed so that it reads back exactly. Non-finite values print as null.
std::string JsonNumber(double value);

}  // namespace lapquill::cli
