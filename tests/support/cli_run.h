// lapquill-cli's commands run in the test process, with what they print captured: the exit
// status and the text on standard output and standard error, for the command-line tests.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "tools/cli.h"

namespace lapquill::test {

struct CommandRun {
    int status;       // the command's exit status
    std::string out;  // what it wrote to standard output
    std::string err;  // what it wrote to standard error
};

inline CommandRun Capture(int (*command)(const cli::Args&), const cli::Args& args) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const int status = command(args);
    CommandRun r{status, testing::internal::GetCapturedStdout(), testing::internal::GetCapturedStderr()};
    return r;
}

// The whole command line after the program's name, as lapquill-cli's main hands it over.
inline CommandRun Cli(const cli::Args& args) {
    return Capture(cli::RunCommandLine, args);
}

}  // namespace lapquill::test
