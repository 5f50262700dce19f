// The lap library: an index of every replay file below the folders the user chooses, kept in
// an SQLite database that the desktop program and lapquill-cli share. A scan walks the folders,
// checks each replay the way the loader does (so a listed lap is one that opens) and keeps the
// files it rejects with their reason. Scans are incremental and run in one transaction each:
// an interrupted scan leaves the index as it was before it started.
//
// One LapLibrary is one connection; it is not shared between threads. A scan on another thread
// opens its own LapLibrary on the same file (WAL mode lets readers go on meanwhile).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "library/sqlite_db.h"

namespace lapquill {

inline constexpr int kLibrarySchemaVersion = 1;

struct LapEntry {
    std::string path;
    std::int64_t size = 0;
    std::int64_t modifiedNs = 0;  // modification time, ns since the epoch
    std::string track;
    std::string config;
    std::string player;       // as stored, with colour codes
    std::string playerPlain;  // colour codes removed
    std::string car;
    std::string weather;
    std::vector<std::int32_t> splitTimesMs;  // cumulative, as in the file
    std::optional<std::int32_t> lapTimeMs;   // the last split time; none without split times
    std::int32_t recordCount = 0;
    double durationSeconds = 0;  // records at 0.01 s
};

// Sector times from cumulative split times, in 64 bits (damaged splits may be far apart).
std::vector<std::int64_t> SectorTimesMs(const std::vector<std::int32_t>& splitTimesMs);

// "m:ss.mmm", or "-" without a time.
std::string FormatLapTime(const std::optional<std::int32_t>& ms);

struct RejectedFile {
    std::string path;
    std::string reason;  // "truncated", "not a replay file", "wrong version", ...
};

struct ScanReport {
    int added = 0;
    int updated = 0;
    int removed = 0;
    int unchanged = 0;
    std::vector<RejectedFile> rejected;      // every rejected file below the scanned folders
    std::vector<RejectedFile> folderErrors;  // folders or entries that could not be read
    bool cancelled = false;                  // nothing of this scan was kept
};

// Progress of a scan: files checked so far of those that need reading.
using ScanProgress = std::function<void(int done, int total)>;

struct LapFilter {
    std::string track;   // exact, empty: any
    std::string config;  // exact, empty: any
    std::string car;     // exact, empty: any
    std::string player;  // matches the name with or without colour codes, empty: any
};

struct BestLap {
    std::string car;  // empty: the fastest of any car at this track and configuration
    LapEntry lap;
};

class LapLibrary {
public:
    // Opens the database, creating it (and its folder) when missing. Refuses, with a message
    // saying why, a file that is not SQLite, is damaged, belongs to another program or was
    // written by a newer schema; such a file is never changed.
    static std::unique_ptr<LapLibrary> Open(const std::string& path, std::string* error);

    const std::string& Path() const { return path_; }

    // Folders to watch, as absolute paths without a trailing separator.
    std::vector<std::string> Folders(std::string* error = nullptr);
    bool AddFolder(const std::string& folder, std::string* error);
    // Also drops the laps and rejected files indexed below it.
    bool RemoveFolder(const std::string& folder, std::string* error);

    // Indexes the .raf files (any letter case) below each folder. Laps once indexed below a
    // scanned folder that are gone leave the index. With `cancel` set during the scan, the scan
    // stops and nothing of it is kept. False only when the database fails (message in *error).
    bool Scan(const std::vector<std::string>& folders, ScanReport* report, std::string* error,
              const ScanProgress& progress = {}, const std::atomic<bool>* cancel = nullptr);

    // Sorted by track, configuration, lap time (laps without a time last), then path.
    bool List(const LapFilter& filter, std::vector<LapEntry>* laps, std::string* error);
    // The fastest lap of each track and configuration (car empty), then of each car there.
    bool Best(std::vector<BestLap>* best, std::string* error);
    // Rejected files below any folder, sorted by path.
    bool Rejected(std::vector<RejectedFile>* rejected, std::string* error);

private:
    LapLibrary() = default;
    bool Prepare(std::string* error);

    SqliteDb db_;
    std::string path_;
};

// The database both the CLI and the desktop program use: library.db in Harrowmere/Lapquill/
// below $XDG_DATA_HOME, or below ~/.local/share when that is unset or not absolute.
std::string DefaultLibraryPath();

// Why the loader refused a replay, in the words the library shows, from the loader's last
// failure on this thread.
std::string ReplayRejectionReason();

}  // namespace lapquill
