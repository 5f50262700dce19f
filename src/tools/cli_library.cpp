// lapquill-cli library: the lap library from the command line. `scan` indexes folders,
// `list` prints the laps matching a filter, `best` the fastest lap of each track and
// configuration and of each car there. All three work on the database the desktop program
// uses unless --db names another.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <iostream>

#include "library/lap_library.h"
#include "tools/cli.h"

namespace lapquill::cli {

namespace {

using Json = nlohmann::ordered_json;

Json LapJson(const LapEntry& lap) {
    Json j;
    j["path"] = lap.path;
    j["size"] = lap.size;
    j["modifiedNs"] = lap.modifiedNs;
    j["track"] = lap.track;
    j["config"] = lap.config;
    j["player"] = lap.player;
    j["playerPlain"] = lap.playerPlain;
    j["car"] = lap.car;
    j["weather"] = lap.weather;
    j["splitTimesMs"] = lap.splitTimesMs;
    j["sectorTimesMs"] = SectorTimesMs(lap.splitTimesMs);
    j["lapTimeMs"] = lap.lapTimeMs ? Json(*lap.lapTimeMs) : Json(nullptr);
    j["recordCount"] = lap.recordCount;
    j["durationSeconds"] = lap.durationSeconds;
    return j;
}

Json FilesJson(const std::vector<RejectedFile>& files) {
    Json list = Json::array();
    for (const auto& f : files) list.push_back({{"path", f.path}, {"reason", f.reason}});
    return list;
}

// Dumps with invalid UTF-8 bytes replaced: names in replay headers are not always UTF-8.
std::string Dump(const Json& j) { return j.dump(2, ' ', false, Json::error_handler_t::replace); }

void PrintLapLine(const LapEntry& lap) {
    std::cout << lap.track << " " << lap.config << "  " << FormatLapTime(lap.lapTimeMs) << "  "
              << lap.car << "  " << lap.playerPlain << "  " << lap.path << "\n";
}

int Scan(LapLibrary& lib, std::vector<std::string> dirs, bool json) {
    std::string error;
    if (dirs.empty()) dirs = lib.Folders(&error);
    if (!error.empty()) {
        std::cerr << "lapquill-cli: " << error << "\n";
        return 1;
    }
    if (dirs.empty()) return UsageError("library scan needs a folder (none is watched yet)");
    ScanReport report;
    if (!lib.Scan(dirs, &report, &error)) {
        std::cerr << "lapquill-cli: the scan failed: " << error << "\n";
        return 1;
    }
    if (json) {
        Json j;
        j["added"] = report.added;
        j["updated"] = report.updated;
        j["removed"] = report.removed;
        j["unchanged"] = report.unchanged;
        j["rejected"] = report.rejected.size();
        j["rejectedFiles"] = FilesJson(report.rejected);
        j["folderErrors"] = FilesJson(report.folderErrors);
        std::cout << Dump(j) << "\n";
    } else {
        std::cout << "added " << report.added << ", updated " << report.updated << ", removed "
                  << report.removed << ", unchanged " << report.unchanged << ", rejected "
                  << report.rejected.size() << "\n";
        for (const auto& r : report.rejected) {
            std::cout << "rejected: " << r.path << ": " << r.reason << "\n";
        }
    }
    for (const auto& e : report.folderErrors) {
        std::cerr << "lapquill-cli: " << e.path << ": " << e.reason << "\n";
    }
    return report.folderErrors.empty() ? 0 : 1;
}

int List(LapLibrary& lib, const LapFilter& filter, bool json) {
    std::vector<LapEntry> laps;
    std::string error;
    if (!lib.List(filter, &laps, &error)) {
        std::cerr << "lapquill-cli: " << error << "\n";
        return 1;
    }
    if (json) {
        Json list = Json::array();
        for (const auto& lap : laps) list.push_back(LapJson(lap));
        std::cout << Dump(list) << "\n";
    } else {
        for (const auto& lap : laps) PrintLapLine(lap);
    }
    return 0;
}

int Best(LapLibrary& lib, bool json) {
    std::vector<BestLap> best;
    std::string error;
    if (!lib.Best(&best, &error)) {
        std::cerr << "lapquill-cli: " << error << "\n";
        return 1;
    }
    if (json) {
        Json list = Json::array();
        for (const auto& b : best) {
            if (b.car.empty()) {
                list.push_back({{"track", b.lap.track}, {"config", b.lap.config},
                                {"best", LapJson(b.lap)}, {"cars", Json::array()}});
            } else {
                list.back()["cars"].push_back(LapJson(b.lap));
            }
        }
        std::cout << Dump(list) << "\n";
    } else {
        for (const auto& b : best) {
            std::cout << (b.car.empty() ? "best " : "  car  ");
            PrintLapLine(b.lap);
        }
    }
    return 0;
}

}  // namespace

int RunLibrary(const Args& args) {
    CLI::App app("The lap library: an index of the replays below chosen folders.",
                 "lapquill-cli library");
    std::string db = DefaultLibraryPath();
    app.add_option("--db", db, "database file")->capture_default_str();
    app.require_subcommand(1);

    bool json = false;
    std::vector<std::string> dirs;
    CLI::App* scan = app.add_subcommand("scan", "index the replays below each DIR "
                                                "(default: the watched folders)");
    scan->add_option("DIR", dirs, "folders to scan");
    scan->add_flag("--json", json, "print the counts as JSON");

    LapFilter filter;
    CLI::App* list = app.add_subcommand("list", "the laps, by track, configuration and lap time");
    list->add_option("--track", filter.track, "track name");
    list->add_option("--config", filter.config, "track configuration");
    list->add_option("--car", filter.car, "car name");
    list->add_option("--player", filter.player, "driver's name, with or without colour codes");
    list->add_flag("--json", json, "print the laps as JSON");

    CLI::App* best = app.add_subcommand("best", "the fastest lap of each track and of each car");
    best->add_flag("--json", json, "print the laps as JSON");

    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        std::cout << app.help();
        return 0;
    } catch (const CLI::ParseError& e) {
        return UsageError(std::string("library: ") + e.what());
    }

    std::string error;
    const auto lib = LapLibrary::Open(db, &error);
    if (!lib) {
        std::cerr << "lapquill-cli: " << error << "\n";
        return 1;
    }
    if (*scan) return Scan(*lib, dirs, json);
    if (*list) return List(*lib, filter, json);
    return Best(*lib, json);
}

}  // namespace lapquill::cli
