// lapquill-cli demo: writes the demo data set (track mesh, segment file, six laps) below a
// folder, deterministic for a seed, with options that make large data for the benchmarks.
#include <charconv>
#include <chrono>
#include <cstdio>
#include <iostream>

#include "tools/cli.h"
#include "tools/command_line.h"
#include "tools/demo_data.h"

namespace lapquill::cli {

namespace {

// The whole text as one number, nothing after it.
template <typename T>
bool ParseAll(const std::string& text, T* out) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, *out);
    return ec == std::errc() && ptr == end;
}

// An option whose value is a number from lo to hi; `reason` is the usage error when the value
// is missing, no number or out of range.
void RangeOption(CommandParser* parser, const std::string& name, const std::string& typeName,
                 const std::string& help, double lo, double hi, const std::string& reason,
                 double* out) {
    parser->Value(name, typeName, help, [=](const std::string& v) {
        if (!ParseAll(v, out) || !(*out >= lo && *out <= hi)) throw UsageProblem(reason);
    }, reason);
}

}  // namespace

int RunDemo(const Args& args) {
    std::string dir = ".";
    DemoOptions options;
    CommandParser parser("demo", "Write the demo data set: a track mesh, its segment file and six laps.",
                         [](const std::string& word) { return "unknown argument '" + word + "' for demo"; });
    parser.Value("--out", "DIR", "the folder to write below (default .)",
                 [&](const std::string& v) { dir = v; }, "--out needs a folder");
    const std::string seedReason = "--seed needs a whole number";
    parser.Value("--seed", "N", "the seed of the laps (default 1)", [&](const std::string& v) {
        if (!ParseAll(v, &options.seed)) throw UsageProblem(seedReason);
    }, seedReason);
    RangeOption(&parser, "--laps-minutes", "M",
                "whole laps filling at least M minutes per replay (default 0: one flying lap)", 0, 600,
                "--laps-minutes needs a number of minutes from 0 to 600", &options.lapsMinutes);
    RangeOption(&parser, "--mesh-density", "F",
                "stations along the lap relative to the default mesh (default 1)", 0.25, 40,
                "--mesh-density needs a factor from 0.25 to 40", &options.meshDensity);
    parser.Flag("--standing-start", "start each lap from standstill on the clutch",
                [&] { options.standingStart = true; });
    if (const ParseOutcome p = parser.Parse(args); !p.Run()) return Report(p, UsageStyle::WithUsage);
    const auto start = std::chrono::steady_clock::now();
    const DemoDataSet set = BuildDemoDataSet(options);
    std::vector<DemoWrittenFile> written;
    std::string error;
    if (!WriteDemoDataSet(set, dir, &written, &error)) {
        std::cerr << "lapquill-cli: " << error << "\n";
        return 1;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::size_t triangles = 0;
    for (const auto& o : set.mesh.objects) triangles += o.triangles.size();
    std::printf("%s, %s: %.0f m, %zu corners, %zu markers, %zu triangles\n", set.track.name.c_str(),
                set.track.config.c_str(), set.track.length, set.track.corners.size(),
                set.segments.records.size(), triangles);
    for (std::size_t i = 0; i < written.size(); ++i) {
        std::printf("wrote %s (%zu bytes)", written[i].path.c_str(), written[i].bytes);
        if (i >= 2) {
            const DemoLap& lap = set.laps[i - 2];
            const double t =
                lap.replay.header.SplitTime(lap.replay.header.SectorCount() - 1) / 1000.0;
            std::printf(": %d:%06.3f, %d records", static_cast<int>(t / 60),
                        t - 60 * static_cast<int>(t / 60), lap.replay.RecordCount());
        }
        std::printf("\n");
    }
    std::printf("generated in %.2f s\n", seconds);
    return 0;
}

}  // namespace lapquill::cli
