// lapquill-cli demo: writes the demo data set (track mesh, segment file, six laps) below a
// folder, deterministic for a seed, with options that make large data for the benchmarks.
#include <charconv>
#include <chrono>
#include <cstdio>
#include <iostream>

#include "tools/cli.h"
#include "tools/demo_data.h"

namespace lapquill::cli {

namespace {

bool ParseNumber(const std::string& text, double* out) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, *out);
    return ec == std::errc() && ptr == end;
}

bool ParseSeed(const std::string& text, std::uint64_t* out) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, *out);
    return ec == std::errc() && ptr == end;
}

}  // namespace

int RunDemo(const Args& args) {
    std::string dir = ".";
    DemoOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--out") {
            if (!hasValue) return UsageError("--out needs a folder");
            dir = args[++i];
        } else if (a == "--seed") {
            if (!hasValue || !ParseSeed(args[i + 1], &options.seed)) {
                return UsageError("--seed needs a whole number");
            }
            ++i;
        } else if (a == "--laps-minutes") {
            if (!hasValue || !ParseNumber(args[i + 1], &options.lapsMinutes) ||
                !(options.lapsMinutes >= 0 && options.lapsMinutes <= 600)) {
                return UsageError("--laps-minutes needs a number of minutes from 0 to 600");
            }
            ++i;
        } else if (a == "--mesh-density") {
            if (!hasValue || !ParseNumber(args[i + 1], &options.meshDensity) ||
                !(options.meshDensity >= 0.25 && options.meshDensity <= 40)) {
                return UsageError("--mesh-density needs a factor from 0.25 to 40");
            }
            ++i;
        } else if (a == "--standing-start") {
            options.standingStart = true;
        } else {
            return UsageError("unknown argument '" + a + "' for demo");
        }
    }
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
