#include "tools/command_line.h"

#include <iostream>

namespace lapquill::cli {

namespace {
constexpr const char* kUsage =
    "usage: lapquill-cli [-C DIR] SUBCOMMAND [OPTIONS] FILE...\n"
    "       lapquill-cli SUBCOMMAND --help   the options of one subcommand\n"
    "       lapquill-cli --version\n"
    "\n"
    "subcommands:\n"
    "  info [--json] FILE...            summarise .raf, .smx and .tsf files\n"
    "  table [STATE...] [--json] [--units D,S,A] RAF...\n"
    "                                   print the statistics table of the view\n"
    "  render [STATE...] [--size WxH] [--colour lap|speed|pedals|delta] --out FILE.png RAF...\n"
    "                                   write the frame the view draws as PNG; --colour\n"
    "                                   colours the ribbons by lap, speed, pedals or delta\n"
    "  demo [--out DIR] [--seed N]      write the demo data set\n"
    "  compare [--reference N|fastest] [--align distance|position] [--trace STEP] [--json] RAF...\n"
    "                                   time per section against a reference lap\n"
    "  export --out FILE.csv [--step M] [--reference N|fastest] [--align distance|position] RAF...\n"
    "                                   every lap's time, delta and channels per step of distance\n"
    "  library [--db FILE] scan [--json] [DIR...] | list [FILTER...] [--json] | best [--json]\n"
    "                                   the lap library (library --help)\n"
    "\n"
    "STATE options, applied in order after loading:\n"
    "  --key NAME    Home End Left Right Up Down PageUp PageDown A D S F Z X Q T 1 2 3\n"
    "                Comma Period Backslash, or a code such as 0x24\n"
    "  --sync lap|marker|corner\n"
    "  --time N      playback time in records (0.01 s)\n"
    "  --frames N [--fps F]   N frames at F frames per second on a simulated clock\n"
    "  --whole-track frame the whole circuit from above\n";
}  // namespace

const char* UsageText() { return kUsage; }

int UsageError(const std::string& message) {
    std::cerr << "lapquill-cli: " << message << "\n\n" << kUsage;
    return 2;
}

int OneLineUsageError(const std::string& reason) {
    std::cerr << "lapquill-cli: " << reason << "\n";
    return 2;
}

int Report(const ParseOutcome& outcome, UsageStyle style) {
    if (outcome.kind == ParseOutcome::Kind::Help) {
        std::cout << outcome.text;
        return 0;
    }
    return style == UsageStyle::WithUsage ? UsageError(outcome.text) : OneLineUsageError(outcome.text);
}

std::function<std::string(const std::string&)> UnknownOption(const std::string& suffix) {
    return [suffix](const std::string& word) { return "unknown option '" + word + "'" + suffix; };
}

CommandParser::CommandParser(const std::string& name, const std::string& description,
                             std::function<std::string(const std::string&)> unknown)
    : app_(description, "lapquill-cli " + name), unknown_(std::move(unknown)) {
    // Words the parser does not know are kept, in order, and reported after it is done.
    app_.allow_extras();
    app_.get_formatter()->column_width(26);
}

CLI::Option* CommandParser::Value(const std::string& name, const std::string& typeName,
                                  const std::string& help,
                                  std::function<void(const std::string&)> apply,
                                  const std::string& missing) {
    missing_[name] = missing.empty() ? name + " needs a value" : missing;
    return app_.add_option(name, help)
        ->type_name(typeName)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->trigger_on_parse()
        ->each(std::move(apply));
}

CLI::Option* CommandParser::Flag(const std::string& name, const std::string& help,
                                 std::function<void()> apply) {
    return app_.add_flag_callback(name, std::move(apply), help)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->trigger_on_parse();
}

CLI::Option* CommandParser::Files(const std::string& name, const std::string& help,
                                  std::vector<std::string>* files) {
    return app_.add_option(name, *files, help)->type_name("");
}

ParseOutcome CommandParser::Parse(const Args& args) {
    // CLI11 takes the words last first.
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app_.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        return {ParseOutcome::Kind::Help, app_.help()};
    } catch (const CLI::ArgumentMismatch& e) {
        // An option given without its value; CLI11 names it first: "--time: 1 required N missing".
        const std::string what = e.what();
        const auto it = missing_.find(what.substr(0, what.find(':')));
        return {ParseOutcome::Kind::Usage, it != missing_.end() ? it->second : what};
    } catch (const CLI::ParseError& e) {
        return {ParseOutcome::Kind::Usage, e.what()};
    }
    for (const std::string& word : app_.remaining()) {
        // "--" ends the options: the words after it are files even when they start with "-".
        if (word != "--") return {ParseOutcome::Kind::Usage, unknown_(word)};
    }
    return {};
}

}  // namespace lapquill::cli
