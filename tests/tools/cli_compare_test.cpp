#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "support/cli_run.h"
#include "support/replay_builder.h"
#include "tools/cli.h"

namespace lapquill::cli {
namespace {

// The test laps add their steps up in single precision: at a few hundred metres the rounding
// moves a crossing by up to about 1e-4 s.
constexpr double kLapTimeTolerance = 2e-4;

using test::Capture;
using test::CommandRun;

// Two laps on the marked straight (markers at 100 and 200 m): 25 m/s over 500 m, and 20 m/s
// over 400 m, which ends before the reference does.
struct TwoLaps {
    test::TestWorld world;
    std::string fast, slow;
    TwoLaps() {
        world.AddMarkedTrack(100.0f, 200.0f);
        test::LapPlan plan;
        fast = world.AddLap("fast", test::BuildLap(plan));
        plan.step = 0.2f;
        ReplayFile slowLap = test::BuildLap(plan);
        slowLap.records[1500].speed = std::numeric_limits<float>::quiet_NaN();
        slow = world.AddLap("slow", slowLap);
    }
};

TEST(CliCompare, JsonHoldsTheSectionsOfTheLaps) {
    TwoLaps t;
    const CommandRun r = Capture(RunCompare, {"--json", "--trace", "100", t.fast, t.slow});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.find("nan"), std::string::npos);
    const nlohmann::json j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["replayCount"], 2);
    EXPECT_EQ(j["reference"], 0);
    EXPECT_EQ(j["align"], "distance");
    ASSERT_EQ(j["sections"].size(), 3u);
    EXPECT_EQ(j["sections"][1]["name"], "Turn 1");
    const double slowTimes[] = {5.0, 5.0, 19.99 - 10.0};
    const double fastTimes[] = {4.0, 4.0, 19.99 - 8.0};
    for (int k = 0; k < 3; ++k) {
        EXPECT_NEAR(j["sections"][k]["times"][0].get<double>(), fastTimes[k], 1e-5);
        EXPECT_NEAR(j["sections"][k]["times"][1].get<double>(), slowTimes[k], kLapTimeTolerance);
        EXPECT_NEAR(j["sections"][k]["lost"][1].get<double>(), slowTimes[k] - fastTimes[k], kLapTimeTolerance);
    }
    EXPECT_EQ(j["sections"][2]["best"], 1);
    EXPECT_NEAR(j["laps"][1]["delta"].get<double>(), 19.99 - 19.99, kLapTimeTolerance);
    EXPECT_NEAR(j["theoreticalBest"].get<double>(), 4 + 4 + 9.99, kLapTimeTolerance);
    // 0, 100 .. 400, then E = 499.75.
    ASSERT_EQ(j["trace"].size(), 6u);
    EXPECT_NEAR(j["trace"][5]["distance"].get<double>(), 499.75, 1e-3);
    EXPECT_NEAR(j["trace"][2]["delta"][1].get<double>(), 2.0, kLapTimeTolerance);

    const CommandRun fastest = Capture(RunCompare, {"--reference", "fastest", t.slow, t.fast});
    ASSERT_EQ(fastest.status, 0);
    EXPECT_NE(fastest.out.find("Turn 2"), std::string::npos);
    // Equal lap times: the lower slot is the reference.
    EXPECT_NE(fastest.out.find("slow (ref)"), std::string::npos) << fastest.out;
    EXPECT_NE(fastest.out.find("Theoretical best 15.99"), std::string::npos) << fastest.out;
}

TEST(CliCompare, UsageErrorsAndMissingLaps) {
    TwoLaps t;
    const std::vector<Args> usage = {{"--reference", "2", t.fast, t.slow},
                                     {"--reference", "-1", t.fast},
                                     {"--trace", "0", t.fast},
                                     {"--trace", "inf", t.fast},
                                     {"--align", "time", t.fast},
                                     {"--json"}};
    for (const Args& args : usage) {
        const CommandRun r = Capture(RunCompare, args);
        EXPECT_EQ(r.status, 2) << args[0];
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_TRUE(r.out.empty());
    }
    const CommandRun none = Capture(RunCompare, {"--json", "missing.raf"});
    EXPECT_EQ(none.status, 1);
    const nlohmann::json j = nlohmann::json::parse(none.out);
    EXPECT_TRUE(j["laps"].empty());
    EXPECT_TRUE(j["sections"].empty());
    EXPECT_EQ(j["messages"].size(), 1u);
    EXPECT_EQ(Capture(RunExport, {"--step", "-1", "--out", "x.csv", t.fast}).status, 2);
    EXPECT_EQ(Capture(RunExport, {t.fast}).status, 2);
    EXPECT_EQ(Capture(RunExport, {"--out", "x.csv", "missing.raf"}).status, 1);
}

TEST(CliExport, OneRowPerStepWithEveryLapsColumns) {
    TwoLaps t;
    const CommandRun r = Capture(RunExport, {"--out", "laps.csv", "--step", "0.5", t.fast, t.slow});
    ASSERT_EQ(r.status, 0) << r.err;
    std::ifstream in("laps.csv");
    std::vector<std::vector<std::string>> rows;
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> fields;
        std::stringstream s(line);
        for (std::string f; std::getline(s, f, ',');) fields.push_back(f);
        if (!line.empty() && line.back() == ',') fields.push_back("");
        rows.push_back(fields);
    }
    ASSERT_EQ(rows.size(), 1u + 1001u);  // header, 0 .. 499.5 and E = 499.75
    ASSERT_EQ(rows[0].size(), 19u);
    EXPECT_EQ(rows[0][0], "distance (m)");
    EXPECT_EQ(rows[0][1], "fast time (s)");
    EXPECT_EQ(rows[0][12], "slow speed (m/s)");
    EXPECT_EQ(rows[0][18], "slow Y (m)");
    for (const auto& row : rows) ASSERT_EQ(row.size(), 19u);
    // At 150 m: the fast lap is 6 s in, the slow one 7.5 s and 1.5 s behind.
    const auto& at150 = rows[1 + 300];
    EXPECT_EQ(at150[0], "150");
    EXPECT_NEAR(std::stod(at150[1]), 6.0, 1e-5);
    EXPECT_NEAR(std::stod(at150[10]), 7.5, kLapTimeTolerance);
    EXPECT_NEAR(std::stod(at150[11]), 1.5, kLapTimeTolerance);
    EXPECT_NEAR(std::stod(at150[12]), 20.0, 1e-4);
    EXPECT_NEAR(std::stod(at150[17]), 150.0, 1e-3);
    // The slow lap's unreadable speed at 300 m is an empty field, its neighbours are numbers.
    EXPECT_EQ(rows[1 + 600][12], "");
    EXPECT_NEAR(std::stod(rows[1 + 599][12]), 20.0, 1e-4);
    EXPECT_NEAR(std::stod(rows[1 + 601][12]), 20.0, 1e-4);
}

}  // namespace
}  // namespace lapquill::cli
