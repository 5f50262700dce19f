// Reading lapquill-cli's command line. CLI11 splits the words, knows each subcommand's options
// and writes its --help; every value is handed at once to a callback of the subcommand, which
// checks and applies it, so that options take effect, and bad values are reported, in the order
// of the command line. A usage error is one line of reason, status 2.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tools/cli.h"

namespace lapquill::cli {

// A bad value or a missing argument found while reading the command line; what() is the
// reason. Thrown by the value callbacks; `withUsage` false prints the reason alone.
class UsageProblem : public CLI::ParseError {
  public:
    explicit UsageProblem(const std::string& reason, bool withUsage = true)
        : ParseError("UsageProblem", reason, 2), withUsage_(withUsage) {}
    bool WithUsage() const { return withUsage_; }

  private:
    bool withUsage_;
};

// "lapquill-cli: REASON" on one line of stderr; returns 2.
int OneLineUsageError(const std::string& reason);

// The usage text that follows a usage error and that `lapquill-cli --help` prints.
const char* UsageText();

// The options of one subcommand.
class CommandParser {
  public:
    // `name` is the subcommand; `unknown` gives the reason for a word it does not take.
    CommandParser(const std::string& name, const std::string& description,
                  std::function<std::string(const std::string& word)> unknown);

    // An option taking one value each time it is given. `apply` is called with the value as
    // soon as it is read and throws UsageProblem when the value is bad; the last of repeated
    // options wins unless `apply` keeps them all. `missing` is the reason when no value
    // follows (default: "NAME needs a value").
    CLI::Option* Value(const std::string& name, const std::string& typeName,
                       const std::string& help, std::function<void(const std::string&)> apply,
                       const std::string& missing = {});
    // A flag, `apply` called each time it is given, in order with the values.
    CLI::Option* Flag(const std::string& name, const std::string& help, std::function<void()> apply);
    // The words that are no option, in order.
    CLI::Option* Files(const std::string& name, const std::string& help,
                       std::vector<std::string>* files);
    // A line after the options in --help.
    void Footer(const std::string& text) { app_.footer(text); }

    ParseOutcome Parse(const Args& args);

  private:
    CLI::App app_;
    std::function<std::string(const std::string&)> unknown_;
    std::map<std::string, std::string> missing_;  // option name -> reason when its value is missing
};

// The reason for a word a subcommand does not take: "unknown option '--x'" + suffix.
std::function<std::string(const std::string&)> UnknownOption(const std::string& suffix);

}  // namespace lapquill::cli
