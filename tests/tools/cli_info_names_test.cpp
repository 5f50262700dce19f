// lapquill-cli info on replays whose names hold every byte 0x01-0xFF: the JSON parses as UTF-8
// with each name decoded from Windows-1252, and the text reaches the terminal with no control
// character or broken UTF-8 in it.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <sstream>
#include <string>

#include "files/text_encoding.h"
#include "support/cli_run.h"
#include "support/replay_builder.h"
#include "tools/command_line.h"

namespace lapquill::cli {
namespace {

using test::Cli;
using test::CommandRun;

TEST(InfoNames, EveryByteIsDecodedInJsonAndMadeSafeInText) {
    test::TestWorld world;
    for (int first = 1; first < 256; first += 31) {
        std::string bytes;
        for (int b = first; b < first + 31 && b < 256; ++b) bytes.push_back(static_cast<char>(b));
        SCOPED_TRACE(first);
        test::LapPlan plan;
        plan.records = 20;
        plan.player = bytes;
        plan.car = bytes;
        plan.track = bytes;
        plan.weather = bytes.substr(0, 23);
        const std::string lap = world.AddLap("names", test::BuildLap(plan));

        const CommandRun json = Cli({"info", "--json", lap});
        ASSERT_EQ(json.status, 0) << json.err;
        nlohmann::json parsed;
        ASSERT_NO_THROW(parsed = nlohmann::json::parse(json.out)) << json.out;
        EXPECT_EQ(parsed["player"], DecodeWindows1252(bytes));
        EXPECT_EQ(parsed["car"], DecodeWindows1252(bytes));
        EXPECT_EQ(parsed["track"], DecodeWindows1252(bytes));

        const CommandRun text = Cli({"info", lap});
        ASSERT_EQ(text.status, 0) << text.err;
        std::istringstream lines(text.out);
        int lineCount = 0;
        for (std::string line; std::getline(lines, line); ++lineCount) {
            // Already safe: making it safe again changes nothing, so it holds no control
            // character (an escape sequence could start with one) and no broken UTF-8.
            EXPECT_EQ(TerminalText(line), line);
        }
        EXPECT_GT(lineCount, 5);
        // The printable characters arrive decoded.
        if (first <= 0xE9 && 0xE9 < first + 31) {
            EXPECT_NE(text.out.find("\u00E9"), std::string::npos) << text.out;
        }
        if (first <= 'A' && 'A' < first + 31) {
            EXPECT_NE(text.out.find("ABC"), std::string::npos) << text.out;
        }
    }
}

}  // namespace
}  // namespace lapquill::cli
