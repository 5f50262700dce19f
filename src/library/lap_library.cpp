#include "library/lap_library.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <unordered_map>
#include <unordered_set>

#include "analysis/stats_text.h"
#include "files/le_reader.h"
#include "files/replay_file.h"

namespace lapquill {

namespace fs = std::filesystem;

namespace {

// "LQLB" in the database header: tells our databases from other programs' SQLite files.
constexpr std::int64_t kApplicationId = 0x4C514C42;

// Each entry moves the schema from version i to i + 1; a new version appends a step.
constexpr const char* kMigrations[] = {
    R"(CREATE TABLE folders(path TEXT PRIMARY KEY NOT NULL);
       CREATE TABLE laps(
           path TEXT PRIMARY KEY NOT NULL,
           size INTEGER NOT NULL,
           mtime_ns INTEGER NOT NULL,
           track TEXT NOT NULL,
           config TEXT NOT NULL,
           player TEXT NOT NULL,
           player_plain TEXT NOT NULL,
           car TEXT NOT NULL,
           weather TEXT NOT NULL,
           split_times_ms TEXT NOT NULL,
           lap_ms INTEGER,
           record_count INTEGER NOT NULL,
           duration_s REAL NOT NULL);
       CREATE INDEX laps_by_track ON laps(track, config, lap_ms);
       CREATE INDEX laps_by_car ON laps(car, lap_ms);
       CREATE INDEX laps_by_player ON laps(player_plain, lap_ms);
       CREATE TABLE rejected(
           path TEXT PRIMARY KEY NOT NULL,
           size INTEGER NOT NULL,
           mtime_ns INTEGER NOT NULL,
           reason TEXT NOT NULL);)",
};
static_assert(std::size(kMigrations) == kLibrarySchemaVersion);

constexpr const char* kLapColumns =
    "path, size, mtime_ns, track, config, player, player_plain, car, weather, split_times_ms, "
    "lap_ms, record_count, duration_s";

std::string JoinSplits(const std::vector<std::int32_t>& splits) {
    std::string out;
    for (std::size_t i = 0; i < splits.size(); ++i) {
        if (i) out += ',';
        out += std::to_string(splits[i]);
    }
    return out;
}

std::vector<std::int32_t> ParseSplits(const std::string& text) {
    std::vector<std::int32_t> out;
    const char* p = text.c_str();
    while (*p) {
        char* end = nullptr;
        const long v = std::strtol(p, &end, 10);
        if (end == p) break;
        out.push_back(static_cast<std::int32_t>(v));
        p = *end == ',' ? end + 1 : end;
    }
    return out;
}

LapEntry ReadLap(const SqliteStatement& s, int first = 0) {
    LapEntry e;
    e.path = s.Text(first + 0);
    e.size = s.Int(first + 1);
    e.modifiedNs = s.Int(first + 2);
    e.track = s.Text(first + 3);
    e.config = s.Text(first + 4);
    e.player = s.Text(first + 5);
    e.playerPlain = s.Text(first + 6);
    e.car = s.Text(first + 7);
    e.weather = s.Text(first + 8);
    e.splitTimesMs = ParseSplits(s.Text(first + 9));
    if (!s.IsNull(first + 10)) e.lapTimeMs = static_cast<std::int32_t>(s.Int(first + 10));
    e.recordCount = static_cast<std::int32_t>(s.Int(first + 11));
    e.durationSeconds = s.Real(first + 12);
    return e;
}

LapEntry LapFromHeader(const std::string& path, std::int64_t size, std::int64_t mtime,
                       const ReplayHeader& h) {
    LapEntry e;
    e.path = path;
    e.size = size;
    e.modifiedNs = mtime;
    e.track = h.TrackName();
    e.config = h.TrackConfig();
    e.player = h.PlayerName();
    e.playerPlain = StripColourCodes(h.PlayerName());
    e.car = h.CarName();
    e.weather = h.Weather();
    for (int k = 0; k < h.SectorCount(); ++k) e.splitTimesMs.push_back(h.SplitTime(k));
    if (!e.splitTimesMs.empty() && e.splitTimesMs.back() > 0) e.lapTimeMs = e.splitTimesMs.back();
    e.recordCount = h.RecordCount();
    e.durationSeconds = h.RecordCount() * 0.01;
    return e;
}

bool EndsWithRaf(const std::string& name) {
    if (name.size() < 4) return false;
    const char* ext = name.c_str() + name.size() - 4;
    return ext[0] == '.' && (ext[1] | 0x20) == 'r' && (ext[2] | 0x20) == 'a' && (ext[3] | 0x20) == 'f';
}

bool IsBelow(const std::string& path, const std::string& folder) {
    return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
           path[folder.size()] == '/';
}

std::string NormalFolder(const std::string& folder) {
    std::error_code ec;
    fs::path p = fs::absolute(fs::path(folder), ec);
    if (ec) p = fs::path(folder);
    std::string s = p.lexically_normal().string();
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    return s;
}

std::string ErrnoReason(int err) {
    switch (err) {
        case ELOOP: return "symbolic link loop";
        case ENOENT: return "vanished during the scan";
        case EACCES:
        case EPERM: return "permission denied";
        default: return std::string("cannot be read: ") + std::strerror(err);
    }
}

struct Known {
    std::int64_t size = 0;
    std::int64_t mtime = 0;
    std::string reason;  // empty for a lap
};

struct FoundFile {
    std::string path;
    std::int64_t size = 0;
    std::int64_t mtime = 0;
};

// Walks one folder. Symbolic links to folders are not followed, so no link can lead the walk
// in a circle; links to files are checked like the files themselves.
class FolderWalk {
public:
    std::vector<FoundFile> files;
    std::vector<RejectedFile> rejected;      // .raf entries that are no readable regular file
    std::vector<RejectedFile> errors;        // folders that could not be listed
    std::vector<std::string> unreadable;     // their paths: what is indexed below them stays

    void Walk(const std::string& dir) {
        std::error_code ec;
        fs::directory_iterator it(dir, fs::directory_options::none, ec);
        if (ec) {
            errors.push_back({dir, ErrnoReason(ec.value())});
            unreadable.push_back(dir);
            return;
        }
        for (const fs::directory_iterator end; it != end; it.increment(ec)) {
            const fs::directory_entry& entry = *it;
            const std::string path = entry.path().string();
            std::error_code sec;
            const fs::file_status own = entry.symlink_status(sec);
            if (!sec && own.type() == fs::file_type::directory) {
                Walk(path);
                continue;
            }
            if (!EndsWithRaf(entry.path().filename().string())) continue;
            struct stat st {};
            if (::stat(path.c_str(), &st) != 0) {
                rejected.push_back({path, ErrnoReason(errno)});
            } else if (!S_ISREG(st.st_mode)) {
                if (!S_ISDIR(st.st_mode)) rejected.push_back({path, "not a regular file"});
            } else {
                files.push_back({path, static_cast<std::int64_t>(st.st_size),
                                 static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 +
                                     st.st_mtim.tv_nsec});
            }
        }
        if (ec) {
            errors.push_back({dir, ErrnoReason(ec.value())});
            unreadable.push_back(dir);
        }
    }
};

// Ends a transaction left open by an early return.
class Transaction {
public:
    explicit Transaction(SqliteDb& db) : db_(db) {}
    ~Transaction() {
        if (open_) {
            std::string ignored;
            db_.Exec("ROLLBACK", &ignored);
        }
    }
    bool Begin(std::string* error) { return open_ = db_.Exec("BEGIN IMMEDIATE", error); }
    bool Commit(std::string* error) {
        if (!db_.Exec("COMMIT", error)) return false;
        open_ = false;
        return true;
    }

private:
    SqliteDb& db_;
    bool open_ = false;
};

}  // namespace

std::vector<std::int64_t> SectorTimesMs(const std::vector<std::int32_t>& splitTimesMs) {
    std::vector<std::int64_t> out;
    std::int64_t previous = 0;
    for (const std::int32_t split : splitTimesMs) {
        out.push_back(static_cast<std::int64_t>(split) - previous);
        previous = split;
    }
    return out;
}

std::string FormatLapTime(const std::optional<std::int32_t>& ms) {
    if (!ms) return "-";
    const std::int64_t t = *ms;
    const std::int64_t a = t < 0 ? -t : t;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%s%lld:%02lld.%03lld", t < 0 ? "-" : "",
                  static_cast<long long>(a / 60000), static_cast<long long>(a / 1000 % 60),
                  static_cast<long long>(a % 1000));
    return buf;
}

std::string ReplayRejectionReason() {
    const std::string& step = LastLoadFailure().step;
    if (step == "open") return "cannot be read";
    if (step == "not a regular file") return step;
    if (step == "magic") return "not a replay file";
    if (step == "version") return "wrong version";
    if (step == "header" || step == "blocks" || step == "padding" || step == "record count") {
        return "truncated";
    }
    if (step == "sector count") return "damaged header";
    return step.empty() ? "damaged" : "damaged (" + step + ")";
}

std::string DefaultLibraryPath() {
    std::string base;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && xdg[0] == '/') {
        base = xdg;
    } else if (const char* home = std::getenv("HOME"); home && home[0]) {
        base = std::string(home) + "/.local/share";
    } else {
        base = ".";
    }
    return base + "/Harrowmere/Lapquill/library.db";
}

std::unique_ptr<LapLibrary> LapLibrary::Open(const std::string& path, std::string* error) {
    std::unique_ptr<LapLibrary> lib(new LapLibrary());
    lib->path_ = path;
    if (!lib->Prepare(error)) return nullptr;
    return lib;
}

bool LapLibrary::Prepare(std::string* error) {
    const fs::path file(path_);
    std::error_code ec;
    if (file.has_parent_path()) fs::create_directories(file.parent_path(), ec);
    struct stat st {};
    if (::stat(path_.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        *error = "The lap library \"" + path_ + "\" is not a regular file.";
        return false;
    }
    std::string detail;
    if (!db_.Open(path_, &detail)) {
        *error = "Could not open the lap library \"" + path_ + "\": " + detail;
        return false;
    }
    const auto refuse = [&](const std::string& why) {
        *error = "The lap library \"" + path_ + "\" " + why +
                 " It was left as it is; the program goes on without the library.";
        db_.Close();
        return false;
    };
    std::int64_t appId = 0, version = 0, objects = 0;
    if (!db_.Exec("PRAGMA busy_timeout = 5000", &detail) ||
        !db_.QueryInt("PRAGMA application_id", &appId, &detail) ||
        !db_.QueryInt("PRAGMA user_version", &version, &detail) ||
        !db_.QueryInt("SELECT count(*) FROM sqlite_master", &objects, &detail)) {
        const int code = db_.LastErrorCode();
        if (code == SQLITE_NOTADB) return refuse("is not an SQLite database.");
        if (code == SQLITE_CORRUPT) return refuse("is damaged (" + detail + ").");
        return refuse("cannot be read (" + detail + ").");
    }
    if (appId != kApplicationId && (appId != 0 || objects != 0)) {
        return refuse("is an SQLite database of another program.");
    }
    if (version > kLibrarySchemaVersion) {
        return refuse("was written by a newer version of Lapquill (schema " +
                      std::to_string(version) + "; this version reads up to " +
                      std::to_string(kLibrarySchemaVersion) + ").");
    }
    if (objects != 0) {
        SqliteStatement check;
        if (!check.Prepare(db_, "PRAGMA quick_check", &detail)) {
            return refuse("is damaged (" + detail + ").");
        }
        if (!check.Step() || check.Text(0) != "ok") {
            return refuse("is damaged (" + (check.Failed() ? db_.LastErrorMessage() : check.Text(0)) + ").");
        }
    }
    std::string mode;
    {
        SqliteStatement wal;
        if (!wal.Prepare(db_, "PRAGMA journal_mode = WAL", &detail) || !wal.Step()) {
            return refuse("cannot be written (" + db_.LastErrorMessage() + ").");
        }
    }
    if (!db_.Exec("PRAGMA synchronous = NORMAL; PRAGMA foreign_keys = ON", &detail)) {
        return refuse("cannot be used (" + detail + ").");
    }
    if (version < kLibrarySchemaVersion) {
        Transaction t(db_);
        if (!t.Begin(&detail)) return refuse("cannot be written (" + detail + ").");
        // Another process may have migrated it meanwhile.
        if (!db_.QueryInt("PRAGMA user_version", &version, &detail)) return refuse("cannot be read.");
        for (std::int64_t v = version; v < kLibrarySchemaVersion; ++v) {
            if (!db_.Exec(kMigrations[v], &detail)) {
                return refuse("could not be brought to the current schema (" + detail + ").");
            }
        }
        if (!db_.Exec("PRAGMA application_id = " + std::to_string(kApplicationId) +
                          "; PRAGMA user_version = " + std::to_string(kLibrarySchemaVersion),
                      &detail) ||
            !t.Commit(&detail)) {
            return refuse("could not be brought to the current schema (" + detail + ").");
        }
    }
    return true;
}

std::vector<std::string> LapLibrary::Folders(std::string* error) {
    std::vector<std::string> out;
    std::string detail;
    SqliteStatement s;
    if (!s.Prepare(db_, "SELECT path FROM folders ORDER BY path", &detail)) {
        if (error) *error = detail;
        return out;
    }
    while (s.Step()) out.push_back(s.Text(0));
    if (s.Failed() && error) *error = db_.LastErrorMessage();
    return out;
}

bool LapLibrary::AddFolder(const std::string& folder, std::string* error) {
    SqliteStatement s;
    if (!s.Prepare(db_, "INSERT OR IGNORE INTO folders(path) VALUES (?1)", error)) return false;
    s.Bind(1, NormalFolder(folder));
    if (!s.Run()) {
        *error = db_.LastErrorMessage();
        return false;
    }
    return true;
}

bool LapLibrary::RemoveFolder(const std::string& folder, std::string* error) {
    const std::string dir = NormalFolder(folder);
    Transaction t(db_);
    if (!t.Begin(error)) return false;
    SqliteStatement drop;
    if (!drop.Prepare(db_, "DELETE FROM folders WHERE path = ?1", error)) return false;
    drop.Bind(1, dir);
    if (!drop.Run()) {
        *error = db_.LastErrorMessage();
        return false;
    }
    // What lies below the folder leaves the index unless another watched folder holds it.
    const std::vector<std::string> others = Folders(error);
    for (const char* table : {"laps", "rejected"}) {
        SqliteStatement list, del;
        if (!list.Prepare(db_, std::string("SELECT path FROM ") + table +
                                   " WHERE substr(path, 1, ?2) = ?1",
                          error) ||
            !del.Prepare(db_, std::string("DELETE FROM ") + table + " WHERE path = ?1", error)) {
            return false;
        }
        list.Bind(1, dir + "/");
        list.Bind(2, static_cast<std::int64_t>(dir.size() + 1));
        std::vector<std::string> below;
        while (list.Step()) below.push_back(list.Text(0));
        for (const auto& p : below) {
            bool kept = false;
            for (const auto& o : others) kept = kept || IsBelow(p, o);
            if (kept) continue;
            del.Reset();
            del.Bind(1, p);
            if (!del.Run()) {
                *error = db_.LastErrorMessage();
                return false;
            }
        }
    }
    return t.Commit(error);
}

bool LapLibrary::Scan(const std::vector<std::string>& folders, ScanReport* report,
                      std::string* error, const ScanProgress& progress,
                      const std::atomic<bool>* cancel) {
    *report = ScanReport{};
    const auto cancelled = [&] { return cancel && cancel->load(std::memory_order_relaxed); };

    std::vector<std::string> dirs;
    for (const auto& f : folders) dirs.push_back(NormalFolder(f));

    // The walk reads no file and runs before the transaction, so the database is held for
    // writing only while the changed files are read.
    FolderWalk walk;
    for (const auto& dir : dirs) {
        struct stat st {};
        if (::stat(dir.c_str(), &st) != 0) {
            // A folder that is gone takes its laps with it; one that cannot be reached keeps them.
            if (errno != ENOENT && errno != ENOTDIR) walk.unreadable.push_back(dir);
            walk.errors.push_back({dir, errno == ENOENT ? "folder not found" : ErrnoReason(errno)});
            continue;
        }
        if (!S_ISDIR(st.st_mode)) {
            walk.errors.push_back({dir, "not a folder"});
            continue;
        }
        walk.Walk(dir);
        if (cancelled()) {
            report->cancelled = true;
            return true;
        }
    }
    report->folderErrors = walk.errors;

    Transaction t(db_);
    if (!t.Begin(error)) return false;

    std::unordered_map<std::string, Known> known;
    {
        SqliteStatement laps, rejected;
        if (!laps.Prepare(db_, "SELECT path, size, mtime_ns FROM laps", error) ||
            !rejected.Prepare(db_, "SELECT path, size, mtime_ns, reason FROM rejected", error)) {
            return false;
        }
        while (laps.Step()) known[laps.Text(0)] = {laps.Int(1), laps.Int(2), {}};
        while (rejected.Step()) {
            known[rejected.Text(0)] = {rejected.Int(1), rejected.Int(2), rejected.Text(3)};
        }
        if (laps.Failed() || rejected.Failed()) {
            *error = db_.LastErrorMessage();
            return false;
        }
    }

    SqliteStatement addFolder, putLap, putRejected, dropLap, dropRejected;
    if (!addFolder.Prepare(db_, "INSERT OR IGNORE INTO folders(path) VALUES (?1)", error) ||
        !putLap.Prepare(db_, std::string("INSERT OR REPLACE INTO laps(") + kLapColumns +
                                 ") VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13)",
                        error) ||
        !putRejected.Prepare(db_, "INSERT OR REPLACE INTO rejected(path, size, mtime_ns, reason) "
                                  "VALUES (?1, ?2, ?3, ?4)",
                             error) ||
        !dropLap.Prepare(db_, "DELETE FROM laps WHERE path = ?1", error) ||
        !dropRejected.Prepare(db_, "DELETE FROM rejected WHERE path = ?1", error)) {
        return false;
    }
    const auto run = [&](SqliteStatement& s) {
        if (s.Run()) return true;
        *error = db_.LastErrorMessage();
        return false;
    };
    const auto drop = [&](SqliteStatement& s, const std::string& path) {
        s.Reset();
        s.Bind(1, path);
        return run(s);
    };
    for (const auto& dir : dirs) {
        if (std::find_if(walk.errors.begin(), walk.errors.end(), [&](const RejectedFile& e) {
                return e.path == dir && e.reason == "not a folder";
            }) != walk.errors.end()) {
            continue;
        }
        addFolder.Reset();
        addFolder.Bind(1, dir);
        if (!run(addFolder)) return false;
    }

    int total = 0;
    for (const auto& f : walk.files) {
        const auto k = known.find(f.path);
        if (k == known.end() || k->second.size != f.size || k->second.mtime != f.mtime) ++total;
    }
    int done = 0;
    std::unordered_set<std::string> seen;
    for (const auto& f : walk.files) {
        if (cancelled()) {
            report->cancelled = true;
            return true;  // the transaction rolls back
        }
        seen.insert(f.path);
        const auto k = known.find(f.path);
        const bool wasLap = k != known.end() && k->second.reason.empty();
        if (k != known.end() && k->second.size == f.size && k->second.mtime == f.mtime) {
            if (wasLap) {
                ++report->unchanged;
            } else {
                report->rejected.push_back({f.path, k->second.reason});
            }
            continue;
        }
        ReplayHeader header;
        std::string reason;
        if (!ProbeReplayFile(f.path, &header)) {
            reason = ReplayRejectionReason();
        } else if (header.RecordCount() < 1) {
            reason = "no records";  // the program refuses a lap it has nothing to show of
        }
        if (reason.empty()) {
            const LapEntry e = LapFromHeader(f.path, f.size, f.mtime, header);
            putLap.Reset();
            putLap.Bind(1, e.path);
            putLap.Bind(2, e.size);
            putLap.Bind(3, e.modifiedNs);
            putLap.Bind(4, e.track);
            putLap.Bind(5, e.config);
            putLap.Bind(6, e.player);
            putLap.Bind(7, e.playerPlain);
            putLap.Bind(8, e.car);
            putLap.Bind(9, e.weather);
            putLap.Bind(10, JoinSplits(e.splitTimesMs));
            if (e.lapTimeMs) {
                putLap.Bind(11, static_cast<std::int64_t>(*e.lapTimeMs));
            } else {
                putLap.BindNull(11);
            }
            putLap.Bind(12, static_cast<std::int64_t>(e.recordCount));
            putLap.Bind(13, e.durationSeconds);
            if (!run(putLap)) return false;
            if (k != known.end() && !wasLap && !drop(dropRejected, f.path)) return false;
            ++(wasLap ? report->updated : report->added);
        } else {
            putRejected.Reset();
            putRejected.Bind(1, f.path);
            putRejected.Bind(2, f.size);
            putRejected.Bind(3, f.mtime);
            putRejected.Bind(4, reason);
            if (!run(putRejected)) return false;
            if (wasLap && !drop(dropLap, f.path)) return false;
            report->rejected.push_back({f.path, reason});
        }
        ++done;
        if (progress) progress(done, total);
    }
    report->rejected.insert(report->rejected.end(), walk.rejected.begin(), walk.rejected.end());

    // Whatever was indexed below a scanned folder and was not found again has gone, unless it
    // lies in a folder that could not be read this time.
    for (const auto& [path, k] : known) {
        if (seen.count(path)) continue;
        bool below = false, unreadable = false;
        for (const auto& dir : dirs) below = below || IsBelow(path, dir);
        for (const auto& dir : walk.unreadable) unreadable = unreadable || path == dir || IsBelow(path, dir);
        if (!below || unreadable) continue;
        if (k.reason.empty()) {
            if (!drop(dropLap, path)) return false;
            ++report->removed;
        } else if (!drop(dropRejected, path)) {
            return false;
        }
    }
    if (cancelled()) {
        report->cancelled = true;
        return true;
    }
    return t.Commit(error);
}

bool LapLibrary::List(const LapFilter& filter, std::vector<LapEntry>* laps, std::string* error) {
    laps->clear();
    SqliteStatement s;
    if (!s.Prepare(db_, std::string("SELECT ") + kLapColumns +
                            " FROM laps WHERE (?1 = '' OR track = ?1) AND (?2 = '' OR config = ?2)"
                            " AND (?3 = '' OR car = ?3)"
                            " AND (?4 = '' OR player = ?4 OR player_plain = ?4)"
                            " ORDER BY track, config, lap_ms IS NULL, lap_ms, path",
                   error)) {
        return false;
    }
    s.Bind(1, filter.track);
    s.Bind(2, filter.config);
    s.Bind(3, filter.car);
    s.Bind(4, filter.player);
    while (s.Step()) laps->push_back(ReadLap(s));
    if (s.Failed()) {
        *error = db_.LastErrorMessage();
        return false;
    }
    return true;
}

bool LapLibrary::Best(std::vector<BestLap>* best, std::string* error) {
    best->clear();
    // SQLite takes the bare columns of an aggregate query with min() from a row holding the
    // minimum.
    const std::string query =
        std::string("SELECT ") + kLapColumns + ", min(lap_ms) FROM (SELECT * FROM laps WHERE "
        "lap_ms IS NOT NULL ORDER BY path) GROUP BY track, config";
    SqliteStatement tracks, cars;
    if (!tracks.Prepare(db_, query + " ORDER BY track, config", error) ||
        !cars.Prepare(db_, query + ", car ORDER BY track, config, lap_ms, car", error)) {
        return false;
    }
    std::vector<BestLap> perCar;
    while (tracks.Step()) best->push_back({"", ReadLap(tracks)});
    while (cars.Step()) {
        LapEntry lap = ReadLap(cars);
        std::string car = lap.car;
        perCar.push_back({std::move(car), std::move(lap)});
    }
    if (tracks.Failed() || cars.Failed()) {
        *error = db_.LastErrorMessage();
        return false;
    }
    // Each track's overall best, then its cars' bests fastest first.
    std::vector<BestLap> merged;
    std::size_t c = 0;
    for (auto& b : *best) {
        while (c < perCar.size() && (perCar[c].lap.track < b.lap.track ||
                                     (perCar[c].lap.track == b.lap.track &&
                                      perCar[c].lap.config < b.lap.config))) {
            ++c;
        }
        merged.push_back(b);
        while (c < perCar.size() && perCar[c].lap.track == b.lap.track &&
               perCar[c].lap.config == b.lap.config) {
            merged.push_back(perCar[c++]);
        }
    }
    *best = std::move(merged);
    return true;
}

bool LapLibrary::Rejected(std::vector<RejectedFile>* rejected, std::string* error) {
    rejected->clear();
    SqliteStatement s;
    if (!s.Prepare(db_, "SELECT path, reason FROM rejected ORDER BY path", error)) return false;
    while (s.Step()) rejected->push_back({s.Text(0), s.Text(1)});
    if (s.Failed()) {
        *error = db_.LastErrorMessage();
        return false;
    }
    return true;
}

}  // namespace lapquill
