#include "app/command_line.h"

#include <algorithm>
#include <cctype>

namespace lapquill {

namespace {

bool IsReplayArgument(const std::string& arg) {
    if (arg.size() < 4) return false;
    std::string tail = arg.substr(arg.size() - 4);
    std::transform(tail.begin(), tail.end(), tail.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return tail == ".raf";
}

std::string HelpText() {
    return "Usage: lapquill [OPTION]... [FILE.raf]...\n"
           "Compare laps from replay analysis files on their track map.\n"
           "\n"
           "  -h, --help     print this help and exit\n"
           "  -v, --version  print the version and exit\n"
           "\n"
           "Replay files named on the command line open as File > Open Replay(s)... would.\n"
           "Tracks and segment files are looked for in data/smx below the current folder, then in\n"
           "the smx folder beside the replay's raf folder, then in the folder chosen with\n"
           "File > Set Data Folder...\n"
           "Settings are kept in ~/.config/Harrowmere/Lapquill.conf (or under $XDG_CONFIG_HOME).\n"
           "lapquill-cli reads, renders and compares the same files without a window.\n";
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
    CommandLine line;
    for (const std::string& arg : args) {
        // "--" ends the options: what follows are file names, even when they start with '-'.
        if (arg == "--") break;
        if (arg == "-h" || arg == "--help") {
            line.printAndExit = true;
            line.output = HelpText();
            return line;
        }
        if (arg == "-v" || arg == "--version") {
            line.printAndExit = true;
            line.output = std::string("Lapquill ") + kProgramVersion + "\n";
            return line;
        }
    }
    for (const std::string& arg : args) {
        if (arg != "--" && IsReplayArgument(arg)) line.replays.push_back(arg);
    }
    return line;
}

}  // namespace lapquill
