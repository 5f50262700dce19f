// lapquill-cli's own options (-C, --help, --version) and the choice of subcommand; the words
// after the subcommand's name go to it unread.
#include <unistd.h>

#include <iostream>
#include <map>

#include "math/version.h"
#include "tools/cli.h"
#include "tools/command_line.h"

namespace lapquill::cli {

int RunCommandLine(const Args& args) {
    CLI::App app("Lapquill on the command line.", "lapquill-cli");
    // The first word that is no option of lapquill-cli, and all after it, are left for the
    // subcommand.
    app.prefix_command();
    app.set_help_flag();  // the help is the usage text, printed below
    bool help = false, version = false;
    app.add_flag("-h,--help", help);
    app.add_flag("--version", version);
    // Each -C changes into its folder at once, before the subcommand runs or reads anything.
    app.add_option("-C", "change into DIR first")
        ->type_name("DIR")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->trigger_on_parse()
        ->each([](const std::string& dir) {
            if (chdir(dir.c_str()) != 0) throw UsageProblem("cannot change into " + dir, false);
        });
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app.parse(reversed);
    } catch (const UsageProblem& e) {
        return e.WithUsage() ? UsageError(e.what()) : OneLineUsageError(e.what());
    } catch (const CLI::ArgumentMismatch&) {
        return UsageError("-C needs a directory");
    } catch (const CLI::ParseError& e) {
        return UsageError(e.what());
    }
    if (version) {
        std::cout << "lapquill-cli " << kLapquillVersion << "\n";
        return 0;
    }
    const std::vector<std::string> words = app.remaining();
    if (help || (!words.empty() && words[0] == "help")) {
        std::cout << UsageText();
        return 0;
    }
    if (words.empty()) return UsageError("no subcommand");
    static const std::map<std::string, int (*)(const Args&)> kCommands = {
        {"info", RunInfo},       {"table", RunTable},     {"render", RunRender},
        {"demo", RunDemo},       {"compare", RunCompare}, {"export", RunExport},
        {"library", RunLibrary}};
    const auto command = kCommands.find(words[0]);
    if (command == kCommands.end()) return UsageError("unknown subcommand '" + words[0] + "'");
    return command->second(Args(words.begin() + 1, words.end()));
}

}  // namespace lapquill::cli
