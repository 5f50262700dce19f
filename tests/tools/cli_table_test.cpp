#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "support/replay_builder.h"
#include "files/text_encoding.h"
#include "tools/cli.h"
#include "tools/headless_view.h"

namespace lapquill::cli {
namespace {

TEST(ParseViewOptions, StateOptionsKeepTheirOrder) {
    ViewOptions o;
    const ParseOutcome p = ParseViewOptions(
        {"--key", "S", "--frames", "10", "--fps", "25", "--sync", "corner", "--time", "40", "--key",
         "0x24", "--units", "mi,mph,g", "--json", "a.raf", "b.raf"},
        false, &o);
    ASSERT_TRUE(p.Run()) << p.text;
    ASSERT_EQ(o.state.size(), 5u);
    EXPECT_EQ(o.state[0].key, 'S');
    EXPECT_EQ(o.state[1].frames, 10);
    EXPECT_EQ(o.state[2].sync, SyncMode::DetectedCorner);
    EXPECT_EQ(o.state[3].time, 40);
    EXPECT_EQ(o.state[4].key, VK_HOME);
    EXPECT_EQ(o.fps, 25.0);
    EXPECT_EQ(o.units.distanceUnit, 2);
    EXPECT_EQ(o.units.accelerationUnit, 1);
    EXPECT_TRUE(o.json);
    EXPECT_EQ(o.files, (std::vector<std::string>{"a.raf", "b.raf"}));
}

TEST(ParseViewOptions, UsageErrors) {
    const std::vector<Args> bad = {{},
                                   {"--key", "Enter", "a.raf"},
                                   {"--sync", "fast", "a.raf"},
                                   {"--time", "-1", "a.raf"},
                                   {"--frames", "x", "a.raf"},
                                   {"--units", "m,kmh", "a.raf"},
                                   {"--size", "10x10", "a.raf"},
                                   {"--key"}};
    for (const Args& args : bad) {
        ViewOptions o;
        const ParseOutcome p = ParseViewOptions(args, false, &o);
        EXPECT_EQ(p.kind, ParseOutcome::Kind::Usage) << (args.empty() ? "" : args[0]);
        EXPECT_FALSE(p.text.empty());
    }
    std::uint32_t code = 0;
    for (const char* name :
         {"Home", "End", "Left", "Right", "Up",     "Down",     "PageUp", "PageDown",
          "A",    "D",   "S",    "F",     "Z",      "X",        "Q",      "T",
          "1",    "2",   "3",    "Comma", "Period", "Backslash"}) {
        EXPECT_TRUE(ParseKeyName(name, &code)) << name;
    }
    EXPECT_TRUE(ParseKeyName("0xDC", &code));
    EXPECT_EQ(code, 0xDCu);
}

// The session opens the files as the dialog would return them and runs frames on its clock.
TEST(HeadlessSession, OpensInOrderAndPlaysOnTheSimulatedClock) {
    test::TestWorld world;
    world.AddTrack("Harrow Vale", "harrow.smx");
    world.AddSegments("Harrow Vale", "GP", test::MarkersAt({{"Turn 1", 50.0f}}));
    const std::string a = world.AddLap("a", test::BuildLap({}));
    test::LapPlan other;
    other.config = "Club";
    const std::string b = world.AddLap("b", test::BuildLap(other));
    ViewOptions o;
    ASSERT_TRUE(ParseViewOptions(
        {"--key", "S", "--frames", "40", "--fps", "100", "--key", "A", "--frames", "40", a, b},
        false, &o).Run());
    HeadlessSession session(o);
    session.Run();
    CAnalysisView& v = session.View();
    EXPECT_TRUE(v.HasDevice());
    EXPECT_EQ(v.ReplayCount(), 1);
    ASSERT_EQ(session.Window().messages.size(), 1u);
    EXPECT_NE(session.Window().messages[0].find("track configuration \"Club\""), std::string::npos);
    EXPECT_DOUBLE_EQ(session.Now(), 0.8);
    EXPECT_EQ(v.Playback().playbackTime, 40 + 20);  // 40 frames at 1x, then 40 at 0.5x
    const StatsTable t = v.BuildStatsTableNow();
    EXPECT_EQ(t.speedText, "0.50x");
}

// The JSON of table --json for one lap, after loading it headless.
std::string TableJsonOf(const test::LapPlan& plan) {
    test::TestWorld world;
    world.AddTrack("Harrow Vale", "harrow.smx");
    world.AddSegments("Harrow Vale", "GP", test::MarkersAt({{"Turn 1", 50.0f}}));
    const std::string lap = world.AddLap("a", test::BuildLap(plan));
    ViewOptions o;
    const ParseOutcome p = ParseViewOptions({"--json", "--time", "100", lap}, false, &o);
    EXPECT_TRUE(p.Run()) << p.text;
    HeadlessSession session(o);
    session.Run();
    EXPECT_EQ(session.View().ReplayCount(), 1);
    return JsonText(StatsTableJson(session.View(), session.Window().messages,
                                   session.View().BuildStatsTableNow()));
}

// A damaged file's split times may lie anywhere in their 32-bit range; the sector times in the
// JSON are their differences in full, as the drawn rows show them.
TEST(TableJson, SectorTimesOfDamagedSplitTimesDoNotOverflow) {
    test::LapPlan plan;
    plan.splitTimes = {2000000000, -2000000000, 100};
    const std::string json = TableJsonOf(plan);
    EXPECT_NE(json.find("\"sectorTimesMs\": [2000000000, -4000000000, 2000000100]"),
              std::string::npos)
        << json;
    EXPECT_NE(json.find("\"lapTimeMs\": 100,"), std::string::npos) << json;
    EXPECT_NE(json.find("\"Sector 2\": \"  -66666:-40.00\""), std::string::npos) << json;
}

// Each row with a JSON key reports it once per replay, in the order of the rows, with the
// values of the same gathering the table draws.
TEST(TableJson, EveryRowKeyOnceInRowOrder) {
    test::LapPlan plan;
    plan.splitTimes = {};
    const std::string json = TableJsonOf(plan);
    std::size_t at = 0;
    for (const StatsRow& row : StatsRows()) {
        if (!row.jsonKey) continue;
        const std::string key = "\"" + std::string(row.jsonKey) + "\": ";
        const std::size_t found = json.find(key, at);
        ASSERT_NE(found, std::string::npos) << key << " after " << at << " in " << json;
        EXPECT_EQ(json.find(key, found + 1), std::string::npos) << key;
        at = found + key.size();
    }
    EXPECT_NE(json.find("\"sectorTimesMs\": [], \"lapTimeMs\": null, \"record\": 100,"),
              std::string::npos)
        << json;
    EXPECT_NE(json.find("\"player\": \"Anna\""), std::string::npos) << json;
}

// Names are Windows-1252 bytes; the JSON holds them decoded, as valid UTF-8.
TEST(TableJson, NamesOfEveryByteAreDecodedToUtf8) {
    for (int first = 1; first < 256; first += 31) {
        std::string bytes;
        for (int b = first; b < first + 31 && b < 256; ++b) bytes.push_back(static_cast<char>(b));
        SCOPED_TRACE(first);
        test::LapPlan plan;
        plan.player = bytes;
        plan.car = bytes;
        plan.weather = bytes.substr(0, 23);
        const std::string json = TableJsonOf(plan);
        nlohmann::json parsed;
        ASSERT_NO_THROW(parsed = nlohmann::json::parse(json)) << json;
        EXPECT_EQ(parsed["replays"][0]["car"], DecodeWindows1252(bytes));
    }
}

}  // namespace
}  // namespace lapquill::cli
