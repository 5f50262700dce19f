// The lap library over generated folders: demo laps of several seeds, small laps with chosen
// names, and damaged files; incremental scans, queries, interrupted scans and databases that
// must not be touched.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <thread>

#include "files/le_reader.h"
#include "library/lap_library.h"
#include "library/sqlite_db.h"
#include "support/replay_builder.h"
#include "support/sample_files.h"
#include "tools/data_writers.h"
#include "tools/demo_data.h"

namespace lapquill {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

// Demo laps of two seeds (six drivers and three cars each), built once for the whole suite.
const std::vector<std::vector<std::uint8_t>>& DemoLapBytes() {
    static const auto bytes = [] {
        std::vector<std::vector<std::uint8_t>> out;
        for (std::uint64_t seed : {1u, 2u}) {
            DemoOptions options;
            options.seed = seed;
            for (const auto& lap : BuildDemoDataSet(options).laps) out.push_back(EncodeReplayFile(lap.replay));
        }
        return out;
    }();
    return bytes;
}

void WriteDemoLaps(const fs::path& dir, const std::string& prefix) {
    fs::create_directories(dir);
    const auto& laps = DemoLapBytes();
    for (std::size_t i = 0; i < laps.size(); ++i) {
        ASSERT_TRUE(WriteBytesToFile((dir / (prefix + std::to_string(i) + ".raf")).string(), laps[i]));
    }
}

std::vector<std::uint8_t> SmallLap(const test::LapPlan& plan) {
    return EncodeReplayFile(test::BuildLap(plan));
}

void WriteFile(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    fs::create_directories(path.parent_path());
    ASSERT_TRUE(WriteBytesToFile(path.string(), bytes));
}

std::unique_ptr<LapLibrary> OpenOrFail(const std::string& path) {
    std::string error;
    auto lib = LapLibrary::Open(path, &error);
    EXPECT_TRUE(lib) << error;
    return lib;
}

ScanReport ScanOrFail(LapLibrary& lib, const std::vector<std::string>& dirs) {
    ScanReport report;
    std::string error;
    EXPECT_TRUE(lib.Scan(dirs, &report, &error)) << error;
    return report;
}

std::vector<LapEntry> ListOrFail(LapLibrary& lib, const LapFilter& filter = {}) {
    std::vector<LapEntry> laps;
    std::string error;
    EXPECT_TRUE(lib.List(filter, &laps, &error)) << error;
    return laps;
}

std::string ReasonFor(const ScanReport& r, const std::string& name) {
    for (const auto& f : r.rejected) {
        if (fs::path(f.path).filename() == name) return f.reason;
    }
    return "(not rejected)";
}

void SetModified(const fs::path& p, int secondsLater) {
    fs::last_write_time(p, fs::last_write_time(p) + std::chrono::seconds(secondsLater));
}

TEST(LapLibraryScan, CountsFollowAddedTouchedDeletedAndMovedFiles) {
    TempDir tmp;
    const fs::path laps = tmp.path() / "laps";
    WriteDemoLaps(laps / "a", "seedlap");
    WriteDemoLaps(laps / "b" / "deeper", "other");
    const std::size_t total = 2 * DemoLapBytes().size();
    auto lib = OpenOrFail(tmp.File("lib.db"));

    ScanReport r = ScanOrFail(*lib, {laps.string()});
    EXPECT_EQ(r.added, static_cast<int>(total));
    EXPECT_EQ(r.unchanged + r.updated + r.removed, 0);
    EXPECT_TRUE(r.rejected.empty());
    EXPECT_EQ(ListOrFail(*lib).size(), total);

    r = ScanOrFail(*lib, {laps.string()});
    EXPECT_EQ(r.unchanged, static_cast<int>(total));
    EXPECT_EQ(r.added + r.updated + r.removed, 0);

    // A touched file is read again; a replaced one takes its new header.
    SetModified(laps / "a" / "seedlap0.raf", 5);
    test::LapPlan renamed;
    renamed.player = "^3New^7comer";
    WriteFile(laps / "a" / "seedlap1.raf", SmallLap(renamed));
    fs::remove(laps / "a" / "seedlap2.raf");
    r = ScanOrFail(*lib, {laps.string()});
    EXPECT_EQ(r.updated, 2);
    EXPECT_EQ(r.removed, 1);
    EXPECT_EQ(r.unchanged, static_cast<int>(total) - 3);
    LapFilter byPlayer;
    byPlayer.player = "Newcomer";
    const auto found = ListOrFail(*lib, byPlayer);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(fs::path(found[0].path).filename(), "seedlap1.raf");

    // A moved folder: its laps leave under the old path and come back under the new one.
    fs::rename(laps / "b", laps / "moved");
    r = ScanOrFail(*lib, {laps.string()});
    EXPECT_EQ(r.removed, static_cast<int>(DemoLapBytes().size()));
    EXPECT_EQ(r.added, static_cast<int>(DemoLapBytes().size()));
    for (const auto& lap : ListOrFail(*lib)) {
        EXPECT_EQ(lap.path.find("/b/"), std::string::npos) << lap.path;
    }

    // Scanning one folder leaves the laps of another alone; removing a folder drops its laps.
    r = ScanOrFail(*lib, {(laps / "a").string()});
    EXPECT_EQ(r.removed, 0);
    EXPECT_EQ(ListOrFail(*lib).size(), total - 1);
    std::string error;
    ASSERT_TRUE(lib->RemoveFolder(laps.string(), &error)) << error;
    EXPECT_EQ(ListOrFail(*lib).size(), DemoLapBytes().size() - 1);  // "a" is still watched
    const auto folders = lib->Folders();
    EXPECT_EQ(folders, (std::vector<std::string>{(laps / "a").string()}));
}

TEST(LapLibraryScan, DamagedForeignAndOddFilesAreRejectedWithReasons) {
    TempDir tmp;
    const fs::path dir = tmp.path() / "laps";
    test::LapPlan plan;
    const auto good = SmallLap(plan);
    WriteFile(dir / "good.raf", good);
    WriteFile(dir / "UPPER.RAF", good);
    WriteFile(dir / "notes.txt", good);  // not a replay by name: not looked at
    WriteFile(dir / "cut.raf", {good.begin(), good.end() - 10});
    WriteFile(dir / "header-only.raf", {good.begin(), good.begin() + 300});
    WriteFile(dir / "foreign.raf", std::vector<std::uint8_t>(2000, 'x'));
    auto version = good;
    version[8] = 7;
    WriteFile(dir / "version.raf", version);
    test::LapPlan empty;
    empty.records = 0;
    WriteFile(dir / "empty.raf", SmallLap(empty));
    fs::create_symlink("loop.raf", dir / "loop.raf");
    fs::create_directories(dir / "folder.raf");
    fs::create_directory_symlink(dir, dir / "back");  // a folder loop: not followed
    ASSERT_EQ(mkfifo((dir / "pipe.raf").c_str(), 0600), 0);

    auto lib = OpenOrFail(tmp.File("lib.db"));
    const ScanReport r = ScanOrFail(*lib, {dir.string()});
    EXPECT_EQ(r.added, 2);
    EXPECT_EQ(ReasonFor(r, "cut.raf"), "truncated");
    EXPECT_EQ(ReasonFor(r, "header-only.raf"), "truncated");
    EXPECT_EQ(ReasonFor(r, "foreign.raf"), "not a replay file");
    EXPECT_EQ(ReasonFor(r, "version.raf"), "wrong version");
    EXPECT_EQ(ReasonFor(r, "empty.raf"), "no records");
    EXPECT_EQ(ReasonFor(r, "loop.raf"), "symbolic link loop");
    EXPECT_EQ(ReasonFor(r, "pipe.raf"), "not a regular file");
    EXPECT_EQ(r.rejected.size(), 7u);
    EXPECT_TRUE(r.folderErrors.empty());

    // Rejected files are kept and not read again while unchanged; once mended they are laps.
    std::vector<RejectedFile> kept;
    std::string error;
    ASSERT_TRUE(lib->Rejected(&kept, &error)) << error;
    EXPECT_EQ(kept.size(), 5u);  // the files that exist as regular files
    WriteFile(dir / "cut.raf", good);
    SetModified(dir / "cut.raf", 5);
    const ScanReport again = ScanOrFail(*lib, {dir.string()});
    EXPECT_EQ(again.added, 1);
    EXPECT_EQ(again.unchanged, 2);
    EXPECT_EQ(again.rejected.size(), 6u);

    // A folder that vanished is reported and takes its laps with it.
    fs::remove_all(dir);
    const ScanReport gone = ScanOrFail(*lib, {dir.string()});
    ASSERT_EQ(gone.folderErrors.size(), 1u);
    EXPECT_EQ(gone.folderErrors[0].reason, "folder not found");
    EXPECT_EQ(gone.removed, 3);
    EXPECT_TRUE(ListOrFail(*lib).empty());
}

TEST(LapLibraryScan, AFolderThatCannotBeReadKeepsWhatWasIndexedBelowIt) {
    if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
    TempDir tmp;
    const fs::path dir = tmp.path() / "laps";
    WriteFile(dir / "locked" / "a.raf", SmallLap({}));
    WriteFile(dir / "open" / "b.raf", SmallLap({}));
    auto lib = OpenOrFail(tmp.File("lib.db"));
    EXPECT_EQ(ScanOrFail(*lib, {dir.string()}).added, 2);
    fs::permissions(dir / "locked", fs::perms::none);
    const ScanReport r = ScanOrFail(*lib, {dir.string()});
    fs::permissions(dir / "locked", fs::perms::owner_all);
    EXPECT_EQ(r.removed, 0);
    ASSERT_EQ(r.folderErrors.size(), 1u);
    EXPECT_EQ(r.folderErrors[0].reason, "permission denied");
    EXPECT_EQ(ListOrFail(*lib).size(), 2u);
}

// The library's check and the loader agree on every cut of a replay and on damaged headers.
TEST(LapLibraryScan, ProbeAgreesWithTheLoader) {
    TempDir tmp;
    test::LapPlan plan;
    plan.records = 40;
    const auto good = SmallLap(plan);
    std::vector<std::vector<std::uint8_t>> variants;
    for (std::size_t n = 0; n <= good.size(); n += 37) variants.emplace_back(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n));
    variants.push_back(good);
    for (int at : {8, 12, 13, 14, 16, 20, 23, 169, 171}) {
        auto v = good;
        v[static_cast<std::size_t>(at)] ^= 0xA5;
        variants.push_back(v);
    }
    for (std::size_t i = 0; i < variants.size(); ++i) {
        const std::string path = tmp.File("v" + std::to_string(i) + ".raf");
        ASSERT_TRUE(WriteBytesToFile(path, variants[i]));
        ReplayFile loaded;
        ReplayHeader probed;
        const bool loads = LoadReplayFile(path, &loaded);
        const std::string loadStep = LastLoadFailure().step;
        EXPECT_EQ(ProbeReplayFile(path, &probed), loads) << "variant " << i;
        EXPECT_EQ(LastLoadFailure().step, loadStep) << "variant " << i;
    }
}

TEST(LapLibraryQuery, FiltersSortAndBestLaps) {
    TempDir tmp;
    const fs::path dir = tmp.path() / "laps";
    struct Plan {
        const char* name;
        const char* player;
        const char* car;
        const char* track;
        const char* config;
        std::vector<std::int32_t> splits;
    };
    const std::vector<Plan> plans = {
        {"1", "^1An^7na", "Vee", "Harrow Vale", "GP", {30000, 62000, 83000}},
        {"2", "^1An^7na", "Vee", "Harrow Vale", "GP", {30000, 60000, 81500}},
        {"3", "Bo", "Kart", "Harrow Vale", "GP", {29000, 59000, 82000}},
        {"4", "Bo", "Kart", "Harrow Vale", "Club", {20000, 41000}},
        {"5", "Cy", "Vee", "Lowmoor", "GP", {50000, 99000}},
        {"6", "Cy", "Vee", "Lowmoor", "GP", {}},  // no lap time: listed last
    };
    for (const auto& p : plans) {
        test::LapPlan plan;
        plan.player = p.player;
        plan.car = p.car;
        plan.track = p.track;
        plan.config = p.config;
        plan.splitTimes = p.splits;
        WriteFile(dir / (std::string(p.name) + ".raf"), SmallLap(plan));
    }
    WriteDemoLaps(dir / "demo", "d");
    auto lib = OpenOrFail(tmp.File("lib.db"));
    ScanOrFail(*lib, {dir.string()});

    const auto names = [&](const LapFilter& f) {
        std::string out;
        for (const auto& lap : ListOrFail(*lib, f)) {
            if (lap.path.find("/demo/") == std::string::npos) out += fs::path(lap.path).stem().string();
        }
        return out;
    };
    EXPECT_EQ(names({}), "4231" "56");  // Harrow Vale Club, GP by time, then Lowmoor
    EXPECT_EQ(names({"Harrow Vale", "", "", ""}), "4231");
    EXPECT_EQ(names({"Harrow Vale", "GP", "", ""}), "231");
    EXPECT_EQ(names({"", "", "Vee", ""}), "2156");
    EXPECT_EQ(names({"", "", "", "Anna"}), "21");
    EXPECT_EQ(names({"", "", "", "^1An^7na"}), "21");
    EXPECT_EQ(names({"", "", "", "Nobody"}), "");

    const auto all = ListOrFail(*lib);
    EXPECT_EQ(all.size(), plans.size() + DemoLapBytes().size());
    const auto lap2 = std::find_if(all.begin(), all.end(), [](const LapEntry& e) {
        return fs::path(e.path).stem() == "2";
    });
    ASSERT_NE(lap2, all.end());
    EXPECT_EQ(lap2->playerPlain, "Anna");
    EXPECT_EQ(lap2->player, "^1An^7na");
    EXPECT_EQ(lap2->lapTimeMs, 81500);
    EXPECT_EQ(SectorTimesMs(lap2->splitTimesMs), (std::vector<std::int64_t>{30000, 30000, 21500}));
    EXPECT_EQ(lap2->recordCount, 2000);
    EXPECT_DOUBLE_EQ(lap2->durationSeconds, 20.0);
    EXPECT_EQ(FormatLapTime(lap2->lapTimeMs), "1:21.500");

    // The demo laps by a driver of the demo set, fastest first.
    const std::string demoTrack = ListOrFail(*lib, {}).front().track;
    std::vector<BestLap> best;
    std::string error;
    ASSERT_TRUE(lib->Best(&best, &error)) << error;
    std::string summary;
    for (const auto& b : best) {
        if (b.lap.path.find("/demo/") != std::string::npos) continue;
        summary += b.lap.track + "/" + b.lap.config + "/" + (b.car.empty() ? "*" : b.car) + "=" +
                   fs::path(b.lap.path).stem().string() + " ";
    }
    EXPECT_EQ(summary, "Harrow Vale/Club/*=4 Harrow Vale/Club/Kart=4 Harrow Vale/GP/*=2 "
                       "Harrow Vale/GP/Vee=2 Harrow Vale/GP/Kart=3 Lowmoor/GP/*=5 Lowmoor/GP/Vee=5 ");
    // Each demo track's best is the fastest of its laps.
    for (const auto& b : best) {
        if (!b.car.empty() || b.lap.path.find("/demo/") == std::string::npos) continue;
        for (const auto& lap : ListOrFail(*lib, {b.lap.track, b.lap.config, "", ""})) {
            if (lap.lapTimeMs) {
                EXPECT_LE(*b.lap.lapTimeMs, *lap.lapTimeMs);
            }
        }
    }
}

TEST(LapLibraryDatabase, ForeignDamagedAndNewerFilesAreRefusedAndLeftAlone) {
    TempDir tmp;
    const auto bytesOf = [](const std::string& p) {
        std::ifstream in(p, std::ios::binary);
        return std::vector<char>(std::istreambuf_iterator<char>(in), {});
    };
    std::string error;

    const std::string text = tmp.File("text.db");
    std::ofstream(text) << std::string(5000, 'n');
    EXPECT_FALSE(LapLibrary::Open(text, &error));
    EXPECT_NE(error.find("not an SQLite database"), std::string::npos) << error;
    EXPECT_EQ(bytesOf(text), std::vector<char>(5000, 'n'));

    // Another program's SQLite file.
    const std::string other = tmp.File("other.db");
    {
        SqliteDb db;
        ASSERT_TRUE(db.Open(other, &error));
        ASSERT_TRUE(db.Exec("CREATE TABLE notes(x); INSERT INTO notes VALUES (1)", &error));
    }
    const auto otherBytes = bytesOf(other);
    EXPECT_FALSE(LapLibrary::Open(other, &error));
    EXPECT_NE(error.find("another program"), std::string::npos) << error;
    EXPECT_EQ(bytesOf(other), otherBytes);

    // A library of a newer schema.
    const std::string newer = tmp.File("newer.db");
    {
        auto lib = OpenOrFail(newer);
        ASSERT_TRUE(lib);
        ASSERT_TRUE(lib->AddFolder("/somewhere", &error));
    }
    {
        SqliteDb db;
        ASSERT_TRUE(db.Open(newer, &error));
        ASSERT_TRUE(db.Exec("PRAGMA user_version = 99; PRAGMA journal_mode = DELETE", &error));
    }
    const auto newerBytes = bytesOf(newer);
    EXPECT_FALSE(LapLibrary::Open(newer, &error));
    EXPECT_NE(error.find("newer"), std::string::npos) << error;
    EXPECT_EQ(bytesOf(newer), newerBytes);

    // A library whose pages were overwritten.
    const std::string damaged = tmp.File("damaged.db");
    {
        auto lib = OpenOrFail(damaged);
        ASSERT_TRUE(lib);
        const fs::path dir = tmp.path() / "laps";
        WriteDemoLaps(dir, "l");
        ScanOrFail(*lib, {dir.string()});
    }
    {
        SqliteDb db;
        ASSERT_TRUE(db.Open(damaged, &error));
        ASSERT_TRUE(db.Exec("PRAGMA journal_mode = DELETE", &error));  // folds the WAL in
    }
    {
        std::fstream f(damaged, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(4096);  // the pages after the first, headers and all
        const std::string garbage(8192, '\x5a');
        f.write(garbage.data(), static_cast<std::streamsize>(garbage.size()));
    }
    const auto damagedBytes = bytesOf(damaged);
    EXPECT_FALSE(LapLibrary::Open(damaged, &error));
    EXPECT_NE(error.find("damaged"), std::string::npos) << error;
    EXPECT_EQ(bytesOf(damaged), damagedBytes);
}

// A scan killed in the middle, with its transaction open, leaves the database as it was.
TEST(LapLibraryDatabase, AKilledScanLeavesEverythingIndexedBefore) {
    TempDir tmp;
    const std::string db = tmp.File("lib.db");
    const fs::path first = tmp.path() / "first";
    const fs::path second = tmp.path() / "second";
    WriteDemoLaps(first, "f");
    for (int i = 0; i < 300; ++i) WriteFile(second / ("s" + std::to_string(i) + ".raf"), SmallLap({}));
    {
        auto lib = OpenOrFail(db);
        ASSERT_TRUE(lib);
        ScanOrFail(*lib, {first.string()});
    }
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(pipeFds[0]);
        std::string error;
        auto lib = LapLibrary::Open(db, &error);
        if (!lib) _exit(3);
        ScanReport report;
        lib->Scan({first.string(), second.string()}, &report, &error, [&](int done, int) {
            if (done == 100) {
                const char c = 'x';
                if (write(pipeFds[1], &c, 1) != 1) _exit(4);
                for (;;) pause();  // wait here, mid-transaction, for the kill
            }
        });
        _exit(5);
    }
    close(pipeFds[1]);
    char c = 0;
    ASSERT_EQ(read(pipeFds[0], &c, 1), 1);
    close(pipeFds[0]);
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));

    auto lib = OpenOrFail(db);
    ASSERT_TRUE(lib);
    const auto laps = ListOrFail(*lib);
    EXPECT_EQ(laps.size(), DemoLapBytes().size());
    for (const auto& lap : laps) EXPECT_NE(lap.path.find("/first/"), std::string::npos);
    // The next scan finishes the work.
    EXPECT_EQ(ScanOrFail(*lib, {first.string(), second.string()}).added, 300);
}

TEST(LapLibraryDatabase, TwoConnectionsShareOneFileAndACancelledScanKeepsNothing) {
    TempDir tmp;
    const std::string db = tmp.File("sub/folder/lib.db");  // its folders are created
    const fs::path dir = tmp.path() / "laps";
    WriteDemoLaps(dir, "l");
    auto writer = OpenOrFail(db);
    auto reader = OpenOrFail(db);
    ASSERT_TRUE(writer && reader);

    std::atomic<bool> cancel{false};
    ScanReport report;
    std::string error;
    ASSERT_TRUE(writer->Scan({dir.string()}, &report, &error, [&](int done, int total) {
        EXPECT_EQ(total, static_cast<int>(DemoLapBytes().size()));
        // Readers go on while the scan holds its transaction, and see none of it.
        EXPECT_TRUE(ListOrFail(*reader).empty());
        if (done == 3) cancel = true;
    }, &cancel)) << error;
    EXPECT_TRUE(report.cancelled);
    EXPECT_TRUE(ListOrFail(*reader).empty());
    EXPECT_TRUE(writer->Folders().empty());

    EXPECT_EQ(ScanOrFail(*writer, {dir.string()}).added, static_cast<int>(DemoLapBytes().size()));
    EXPECT_EQ(ListOrFail(*reader).size(), DemoLapBytes().size());
}

TEST(LapLibraryPaths, DefaultDatabaseFollowsXdgDataHome) {
    const char* saved = std::getenv("XDG_DATA_HOME");
    const std::string keep = saved ? saved : "";
    setenv("XDG_DATA_HOME", "/data/home", 1);
    EXPECT_EQ(DefaultLibraryPath(), "/data/home/Harrowmere/Lapquill/library.db");
    setenv("XDG_DATA_HOME", "relative", 1);  // not absolute: ignored
    EXPECT_EQ(DefaultLibraryPath(),
              std::string(std::getenv("HOME")) + "/.local/share/Harrowmere/Lapquill/library.db");
    if (saved) {
        setenv("XDG_DATA_HOME", keep.c_str(), 1);
    } else {
        unsetenv("XDG_DATA_HOME");
    }
}

}  // namespace
}  // namespace lapquill
