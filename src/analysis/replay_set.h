// The set of up to six replays analysed together, with the track mesh and segment markers of
// their track. The view owns one ReplaySet; AcceptReplay loads and checks one file into the next
// slot (loading the track data for the first), ClearReplaySet releases everything. Messages
// are returned as texts in the order the user sees them; showing them is the caller's part.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/channels.h"
#include "analysis/track_search.h"
#include "files/replay_file.h"
#include "files/segment_file.h"
#include "files/track_mesh.h"

namespace lapquill {

inline constexpr std::int32_t kMaxReplays = 6;

struct ReplaySet {
    std::array<ReplayFile, kMaxReplays> replays;  // slots 0 .. replayCount - 1 are accepted
    std::int32_t replayCount = 0;
    std::array<std::string, kMaxReplays> replayTitles;  // file name without folder, extension
    std::array<std::string, kMaxReplays> replayPaths;   // as the replay was opened
    std::array<DistanceSearch, kMaxReplays> distanceSearches;  // built when a slot is accepted
    TrackMesh trackMesh;                                       // the reference replay's track
    bool meshLoaded = false;
    TrackSegmentFile segmentFile;                 // marker count 0 when none is loaded
    std::vector<std::string> segmentMarkerNames;  // one per marker, file order
    std::vector<float> segmentMarkerDistances;    // m, one per marker, file order

    std::span<const ReplayFile> Loaded() const {
        return {replays.data(), static_cast<std::size_t>(replayCount)};
    }
    std::span<const DistanceSearch> LoadedSearches() const {
        return {distanceSearches.data(), static_cast<std::size_t>(replayCount)};
    }
    std::int32_t MarkerCount() const {
        return static_cast<std::int32_t>(segmentMarkerDistances.size());
    }
};

// The file name after the last '/' or '\' up to its last '.'.
std::string ReplayTitleFromPath(std::string_view path);
// "data/smx/" + track + " " + config + ".tsf"
std::string SegmentFilePath(std::string_view trackName, std::string_view trackConfig);

// False for a track or configuration name that could lead a path out of data/smx/: one holding
// '/', '\\' or "..". Such a track's segment file counts as missing.
bool SafeSegmentFileName(std::string_view name);

// The texts of the messages, word for word.
std::string CouldNotLoadReplayMessage(std::string_view path);
std::string WrongTrackMessage(std::string_view path, std::string_view newTrack,
                              std::string_view referenceTrack);
std::string WrongConfigMessage(std::string_view path, std::string_view newConfig,
                               std::string_view referenceConfig);
std::string CouldNotLoadTrackMessage(std::string_view entryPath);
std::string NoTrackMessage(std::string_view trackName);
std::string NoSegmentsMessage(std::string_view trackName, std::string_view trackConfig,
                              std::string_view segmentPath);
std::string ReplayLimitMessage();

enum class AcceptResult {
    Rejected,  // the set is as it was
    Accepted   // the replay is slot replayCount - 1
};

// Loads path into slot replayCount (which must be below six) and accepts it if it has records
// and matches the reference replay's track and configuration; the first replay of a set also
// loads the track mesh from the catalogue and the segment markers. A missing segment file only
// adds a warning. Each message is appended to messages in order.
AcceptResult AcceptReplay(ReplaySet* set, const TrackCatalogue& catalogue, const std::string& path,
                          std::vector<std::string>* messages);
// Same, looking for the track data also where the search says, and giving each message a
// detail in details (the same count as messages; empty when the message says it all): why a
// file failed, which folders were searched.
AcceptResult AcceptReplay(ReplaySet* set, const TrackCatalogue& catalogue, const std::string& path,
                          const TrackSearch& search, std::vector<std::string>* messages,
                          std::vector<std::string>* details);

// Releases the replays, the mesh and the markers: the set is empty.
void ClearReplaySet(ReplaySet* set);

}  // namespace lapquill
