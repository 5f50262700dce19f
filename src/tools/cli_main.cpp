// lapquill-cli: the headless window of Lapquill. It inspects data files, prints the
// statistics table, renders frames to PNG and writes the demo data set.
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <iostream>

#include "tools/cli.h"

namespace lapquill::cli {

namespace {
constexpr const char* kUsage =
    "usage: lapquill-cli [-C DIR] SUBCOMMAND [OPTIONS] FILE...\n"
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

int UsageError(const std::string& message) {
    std::cerr << "lapquill-cli: " << message << "\n\n" << kUsage;
    return 2;
}

}  // namespace lapquill::cli

int main(int argc, char** argv) {
    using namespace lapquill::cli;
    Args args(argv + 1, argv + argc);
    std::size_t i = 0;
    if (i < args.size() && args[i] == "-C") {
        if (i + 1 >= args.size()) return UsageError("-C needs a directory");
        if (chdir(args[i + 1].c_str()) != 0) {
            std::cerr << "lapquill-cli: cannot change into " << args[i + 1] << "\n";
            return 2;
        }
        i += 2;
    }
    if (i >= args.size()) return UsageError("no subcommand");
    const std::string sub = args[i];
    const Args rest(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
    if (sub == "info") return RunInfo(rest);
    if (sub == "table") return RunTable(rest);
    if (sub == "render") return RunRender(rest);
    if (sub == "demo") return RunDemo(rest);
    if (sub == "compare") return RunCompare(rest);
    if (sub == "export") return RunExport(rest);
    if (sub == "library") return RunLibrary(rest);
    if (sub == "help" || sub == "--help" || sub == "-h") {
        std::cout << kUsage;
        return 0;
    }
    return UsageError("unknown subcommand '" + sub + "'");
}
