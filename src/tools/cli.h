// The subcommands of lapquill-cli. Each takes the words after its own name and returns the
// process's exit status: 0 success, 1 a failure the command reports, 2 a usage error.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "view/analysis_view.h"

namespace lapquill::cli {

using Args = std::vector<std::string>;

int RunInfo(const Args& args);
int RunTable(const Args& args);
int RunRender(const Args& args);
int RunDemo(const Args& args);
int RunCompare(const Args& args);
int RunExport(const Args& args);
int RunLibrary(const Args& args);

// Prints "lapquill-cli: MESSAGE" and the usage line to stderr and returns 2.
int UsageError(const std::string& message);

// JSON string literal with the needed escapes; bytes above 0x7F pass through unchanged.
std::string JsonString(std::string_view text);
// "%.9g": a 32-bit float printed so that it reads back exactly. Non-finite values print as null.
std::string JsonNumber(double value);

// The JSON of lapquill-cli table: the view's state and, per replay, the rows' values in SI and
// the rows of `table` (the view's table now) as drawn. One line, no newline.
std::string StatsTableJson(const CAnalysisView& view, const std::vector<std::string>& messages,
                           const StatsTable& table);

}  // namespace lapquill::cli
