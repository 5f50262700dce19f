// lapquill-cli's command line as the program reads it: usage errors, each subcommand's --help,
// --version, -C, options applied in the order given, and the JSON text the commands print.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "support/cli_run.h"
#include "support/replay_builder.h"
#include "tools/cli.h"
#include "tools/command_line.h"
#include "tools/headless_view.h"

namespace lapquill::cli {
namespace {

using test::Cli;
using test::CommandRun;

TEST(CommandLine, UsageErrorsGiveOneReasonAndStatusTwo) {
    struct Case {
        Args args;
        std::string reason;
        bool withUsage;  // the usage text follows the reason
    };
    const std::vector<Case> cases = {
        {{}, "no subcommand", true},
        {{"bogus", "info"}, "unknown subcommand 'bogus'", true},
        {{"--bogus"}, "unknown subcommand '--bogus'", true},
        {{"-C"}, "-C needs a directory", true},
        {{"info", "--bogus", "x.raf"}, "unknown option '--bogus' for info", true},
        {{"info", "--json"}, "info needs at least one file", true},
        {{"table"}, "no replay files given", true},
        {{"table", "x.raf", "--key"}, "--key needs a value", true},
        {{"table", "--time", "-1", "x.raf"}, "bad --time '-1'", true},
        {{"table", "--size", "10x10", "x.raf"}, "unknown option '--size'", true},
        {{"table", "-x", "x.raf"}, "unknown option '-x'", true},
        {{"table", "--version", "x.raf"}, "unknown option '--version'", true},
        // The first bad value of the command line is the one reported.
        {{"table", "--time", "x", "--key", "Enter", "x.raf"}, "bad --time 'x'", true},
        {{"table", "--key", "Enter", "--time", "x", "x.raf"}, "unknown key 'Enter'", true},
        {{"render", "--json", "--out", "x.png", "x.raf"}, "unknown option '--json'", true},
        {{"render", "x.raf"}, "render needs --out FILE.png", true},
        {{"render", "x.raf", "--out"}, "--out needs a value", true},
        {{"render", "--colour", "rainbow", "--out", "x.png", "x.raf"},
         "--colour takes lap, speed, pedals or delta", true},
        {{"demo", "--seed"}, "--seed needs a whole number", true},
        {{"demo", "--out"}, "--out needs a folder", true},
        {{"demo", "--laps-minutes", "601"}, "--laps-minutes needs a number of minutes from 0 to 600", true},
        {{"demo", "extra"}, "unknown argument 'extra' for demo", true},
        {{"compare", "--step", "5", "x.raf"}, "unknown option '--step' for compare", false},
        {{"export", "--trace", "5", "--out", "x.csv", "x.raf"}, "unknown option '--trace' for export", false},
        {{"compare", "x.raf", "--align"}, "--align needs a value", false},
        {{"compare", "--reference", "6", "x.raf"},
         "--reference takes a slot from 0 to 5 or 'fastest', not '6'", false},
        {{"compare", "--trace", "0", "x.raf"}, "--trace takes a positive number of metres, not '0'", false},
        {{"export", "x.raf"}, "export needs --out FILE.csv", false},
        {{"export", "--out", "x.csv"}, "no replay files given", false},
    };
    for (const Case& c : cases) {
        const std::string words = testing::PrintToString(c.args);
        const CommandRun r = Cli(c.args);
        EXPECT_EQ(r.status, 2) << words;
        EXPECT_TRUE(r.out.empty()) << words;
        const std::string line = "lapquill-cli: " + c.reason + "\n";
        EXPECT_EQ(r.err.substr(0, r.err.find('\n') + 1), line) << words;
        const std::string after = r.err.substr(std::min(line.size(), r.err.size()));
        EXPECT_EQ(after, c.withUsage ? "\n" + std::string(UsageText()) : "") << words;
    }
}

TEST(CommandLine, EverySubcommandHasItsOwnHelp) {
    struct Case {
        std::string sub;
        std::vector<std::string> listed, notListed;
    };
    const std::vector<Case> cases = {
        {"info", {"--json", "FILE"}, {"--key", "--out"}},
        {"table",
         {"--json", "--units", "--key", "--sync", "--time", "--frames", "--fps", "--whole-track", "RAF"},
         {"--size", "--out", "--colour"}},
        {"render", {"--size", "--colour", "--out", "--units", "--key", "--frames", "--whole-track"}, {"--json"}},
        {"demo", {"--out", "--seed", "--laps-minutes", "--mesh-density", "--standing-start"}, {"--json", "RAF"}},
        {"compare", {"--reference", "--align", "--trace", "--json", "RAF"}, {"--step", "--out", "--key"}},
        {"export", {"--out", "--step", "--reference", "--align", "RAF"}, {"--trace", "--json", "--key"}},
        {"library", {"--db", "scan", "list", "best"}, {"--key"}},
    };
    for (const Case& c : cases) {
        for (const char* flag : {"--help", "-h"}) {
            const CommandRun r = Cli({c.sub, flag});
            EXPECT_EQ(r.status, 0) << c.sub << " " << flag;
            EXPECT_TRUE(r.err.empty()) << r.err;
            EXPECT_NE(r.out.find("lapquill-cli " + c.sub), std::string::npos) << r.out;
            for (const std::string& o : c.listed) EXPECT_NE(r.out.find(o), std::string::npos) << c.sub << ": " << o;
            for (const std::string& o : c.notListed) EXPECT_EQ(r.out.find(o), std::string::npos) << c.sub << ": " << o;
        }
    }
    // lapquill-cli's own help is the usage text, on stdout.
    for (const Args& args : {Args{"--help"}, Args{"-h"}, Args{"help"}, Args{"-C", ".", "--help"}}) {
        const CommandRun r = Cli(args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, UsageText());
        EXPECT_TRUE(r.err.empty());
    }
}

TEST(CommandLine, HelpRunsNothingAndVersionPrintsTheVersion) {
    test::TestWorld world;
    const CommandRun help = Cli({"demo", "--out", "written", "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_FALSE(std::filesystem::exists("written"));

    // The version the About box shows.
    const CommandRun version = Cli({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "lapquill-cli 0.06b\n");
    EXPECT_TRUE(version.err.empty());
}

TEST(CommandLine, ChangesIntoTheFolderOfMinusCFirst) {
    test::TestWorld world;
    world.AddTrack("Harrow Vale", "harrow.smx");
    world.AddLap("a", test::BuildLap({}));
    const CommandRun r = Cli({"-C", "data", "info", "raf/a.raf"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("raf/a.raf\n  path: raf/a.raf\n  kind: replay\n", 0), 0u) << r.out;
    std::filesystem::current_path(world.Root());

    // A folder that cannot be entered: the reason alone, nothing run.
    const CommandRun bad = Cli({"-C", "no/such", "info", "data/raf/a.raf"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_EQ(bad.err, "lapquill-cli: cannot change into no/such\n");
    EXPECT_TRUE(bad.out.empty());
}

TEST(CommandLine, OptionsAndFilesKeepTheirOrder) {
    ViewOptions o;
    const ParseOutcome p = ParseViewOptions({"a.raf", "--time", "5", "b.raf", "--key", "End", "--units",
                                             "m,kmh,ms2", "--time=7", "--whole-track", "--fps", "10",
                                             "--units", "mi,mph,g", "--fps", "50", "c.raf", "--",
                                             "--odd.raf"},
                                            false, &o);
    ASSERT_TRUE(p.Run()) << p.text;
    EXPECT_EQ(o.files, (std::vector<std::string>{"a.raf", "b.raf", "c.raf", "--odd.raf"}));
    ASSERT_EQ(o.state.size(), 4u);
    EXPECT_EQ(o.state[0].kind, StateOption::Kind::Time);
    EXPECT_EQ(o.state[0].time, 5);
    EXPECT_EQ(o.state[1].kind, StateOption::Kind::Key);
    EXPECT_EQ(o.state[1].key, VK_END);
    EXPECT_EQ(o.state[2].time, 7);
    EXPECT_EQ(o.state[3].kind, StateOption::Kind::WholeTrack);
    // Of options that set one value, the last given wins.
    EXPECT_EQ(o.units.distanceUnit, 2);
    EXPECT_EQ(o.fps, 50.0);

    // Through the whole command: End then a time lands on the time; a time then End on the end.
    test::TestWorld world;
    world.AddTrack("Harrow Vale", "harrow.smx");
    const std::string lap = world.AddLap("a", test::BuildLap({}));
    const CommandRun timeLast = Cli({"table", "--json", "--key", "End", "--time", "100", lap});
    const CommandRun endLast = Cli({"table", "--json", "--time", "100", "--key", "End", lap});
    ASSERT_EQ(timeLast.status, 0) << timeLast.err;
    ASSERT_EQ(endLast.status, 0) << endLast.err;
    const auto timeOf = [](const CommandRun& r) {
        return nlohmann::json::parse(r.out)["playbackTime"].get<int>();
    };
    EXPECT_EQ(timeOf(timeLast), 100);
    EXPECT_GT(timeOf(endLast), 100);
}

TEST(JsonText, OneLineWithTheFiguresAndBytesAsTheCommandsPrintThem) {
    Json j;
    j["zeta"] = 1;  // keys in the order written, not sorted
    j["float"] = 0.1f;
    j["double"] = 262.818939;
    j["bigDouble"] = 2e9;
    j["bigInt"] = std::numeric_limits<std::int32_t>::min();
    j["count"] = std::size_t{7};
    j["nan"] = std::numeric_limits<double>::quiet_NaN();
    j["inf"] = -std::numeric_limits<float>::infinity();
    j["flags"] = {true, false, nullptr};
    j["text"] = "q\"b\\\n\r\t\x01\x1f\x7f\xe9";
    j["utf8"] = "Caf\u00e9 \u20ac";
    j["empty"] = {{"list", Json::array()}, {"object", Json::object()}};
    EXPECT_EQ(JsonText(j),
              "{\"zeta\": 1, \"float\": 0.100000001, \"double\": 262.818939, \"bigDouble\": 2e+09, "
              "\"bigInt\": -2147483648, \"count\": 7, \"nan\": null, \"inf\": null, "
              "\"flags\": [true, false, null], \"text\": \"q\\\"b\\\\\\n\\r\\t\\u0001\\u001f\x7f\u00e9\", "
              "\"utf8\": \"Caf\u00e9 \u20ac\", "
              "\"empty\": {\"list\": [], \"object\": {}}}");
    EXPECT_EQ(JsonText(Json::array()), "[]");
    EXPECT_EQ(JsonText(Json(nullptr)), "null");
    EXPECT_EQ(NumberText(1.0 / 3.0), "0.333333333");
}

}  // namespace
}  // namespace lapquill::cli
