#include "library/lap_browse.h"

#include <filesystem>
#include <map>
#include <utility>

#include "analysis/replay_set.h"

namespace lapquill {

std::vector<bool> BestLapFlags(const std::vector<LapEntry>& laps) {
    std::map<std::pair<std::string, std::string>, std::int32_t> fastest;
    for (const LapEntry& lap : laps) {
        if (!lap.lapTimeMs) continue;
        const auto key = std::make_pair(lap.track, lap.config);
        const auto it = fastest.find(key);
        if (it == fastest.end() || *lap.lapTimeMs < it->second) fastest[key] = *lap.lapTimeMs;
    }
    std::vector<bool> flags(laps.size(), false);
    for (std::size_t i = 0; i < laps.size(); ++i) {
        if (!laps[i].lapTimeMs) continue;
        const auto it = fastest.find({laps[i].track, laps[i].config});
        flags[i] = it != fastest.end() && it->second == *laps[i].lapTimeMs;
    }
    return flags;
}

namespace {

// The same file under two spellings (a relative path, a link) counts once.
bool SameFile(const std::string& a, const std::string& b) {
    if (a == b) return true;
    std::error_code ec;
    const bool same = std::filesystem::equivalent(a, b, ec);
    return !ec && same;
}

}  // namespace

std::vector<std::string> LapsWithFirst(const std::string& first, const std::vector<std::string>& shown,
                                       bool sameTrack) {
    std::vector<std::string> out{first};
    if (!sameTrack) return out;
    for (const std::string& path : shown) {
        if (static_cast<std::int32_t>(out.size()) >= kMaxReplays) break;
        bool twice = false;
        for (const std::string& o : out) twice = twice || SameFile(o, path);
        if (!twice) out.push_back(path);
    }
    return out;
}

std::vector<std::string> LapsNotShown(const std::vector<std::string>& paths, const std::vector<std::string>& shown) {
    std::vector<std::string> out;
    for (const std::string& path : paths) {
        bool there = false;
        for (const std::string& s : shown) there = there || SameFile(path, s);
        if (!there) out.push_back(path);
    }
    return out;
}

}  // namespace lapquill
