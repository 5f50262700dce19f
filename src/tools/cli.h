// The subcommands of lapquill-cli. Each takes the words after its own name and returns the
// process's exit status: 0 success, 1 a failure the command reports, 2 a usage error.
#pragma once

#include <nlohmann/json_fwd.hpp>

#include <string>
#include <vector>

#include "view/analysis_view.h"

namespace lapquill::cli {

using Args = std::vector<std::string>;
// The JSON of the commands keeps its keys in the order they are written.
using Json = nlohmann::ordered_json;

// The whole command line after the program's name: -C, --help, --version and the subcommand.
int RunCommandLine(const Args& args);

int RunInfo(const Args& args);
int RunTable(const Args& args);
int RunRender(const Args& args);
int RunDemo(const Args& args);
int RunCompare(const Args& args);
int RunExport(const Args& args);
int RunLibrary(const Args& args);

// What reading a command line came to: run the command, print its help, or stop on a usage
// error.
struct ParseOutcome {
    enum class Kind { Run, Help, Usage } kind = Kind::Run;
    std::string text;  // Help: the help text; Usage: the reason
    bool Run() const { return kind == Kind::Run; }
};

// How a subcommand reports a usage error: the reason followed by the usage text of
// lapquill-cli, or the reason alone.
enum class UsageStyle { WithUsage, OneLine };

// For an outcome that is not Run: prints the help on stdout and returns 0, or prints the usage
// error on stderr and returns 2.
int Report(const ParseOutcome& outcome, UsageStyle style);

// Prints "lapquill-cli: MESSAGE" and the usage text to stderr and returns 2.
int UsageError(const std::string& message);

// One line of JSON as the commands print it: ", " and ": " between items, numbers as
// NumberText, strings with their bytes above 0x7F unchanged. No newline.
std::string JsonText(const Json& value);
// "%.9g": a 32-bit float printed so that it reads back exactly. Non-finite values print as null.
std::string NumberText(double value);

// The JSON of lapquill-cli table: the view's state and, per replay, the rows' values in SI and
// the rows of `table` (the view's table now) as drawn.
Json StatsTableJson(const CAnalysisView& view, const std::vector<std::string>& messages,
                    const StatsTable& table);

}  // namespace lapquill::cli
