// What `lapquill` makes of its arguments before any window exists: --help and --version print
// to standard output and end the program, without needing a display; replay files (".raf" in
// any case) open as File > Open Replay(s)... would. Every other argument is left to Qt, which
// takes its own options (-platform, -style, ...) out of the list.
#pragma once

#include <string>
#include <vector>

namespace lapquill {

inline constexpr const char* kProgramVersion = "0.06b";

struct CommandLine {
    bool printAndExit = false;       // --help or --version was given
    std::string output;              // what to print then
    std::vector<std::string> replays;  // as given, in order
};

// args excludes the program name.
CommandLine ParseCommandLine(const std::vector<std::string>& args);

}  // namespace lapquill
