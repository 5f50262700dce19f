#include "analysis/replay_set.h"

#include <cassert>

#include "files/le_reader.h"

namespace lapquill {

std::string ReplayTitleFromPath(std::string_view path) {
    const std::size_t slash = path.find_last_of("/\\");
    std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    if (dot != std::string_view::npos) name = name.substr(0, dot);
    return std::string(name);
}

std::string SegmentFilePath(std::string_view trackName, std::string_view trackConfig) {
    std::string path = "data/smx/";
    path += trackName;
    path += ' ';
    path += trackConfig;
    path += ".tsf";
    return path;
}

bool SafeSegmentFileName(std::string_view name) {
    return name.find_first_of("/\\") == std::string_view::npos &&
           name.find("..") == std::string_view::npos;
}

std::string CouldNotLoadReplayMessage(std::string_view path) {
    return "Could not load replay \"" + std::string(path) + "\"!";
}

std::string WrongTrackMessage(std::string_view path, std::string_view newTrack,
                              std::string_view referenceTrack) {
    return "Could not add replay \"" + std::string(path) + "\" because it is from track \"" +
           std::string(newTrack) + "\" but was expecting replay from track \"" +
           std::string(referenceTrack) + "\"";
}

std::string WrongConfigMessage(std::string_view path, std::string_view newConfig,
                               std::string_view referenceConfig) {
    return "Could not add replay \"" + std::string(path) +
           "\" because it is from track configuration \"" + std::string(newConfig) +
           "\" but was expecting replay from track configuration \"" +
           std::string(referenceConfig) + "\"";
}

std::string CouldNotLoadTrackMessage(std::string_view entryPath) {
    return "Could not load track \"" + std::string(entryPath) + "\"!";
}

std::string NoTrackMessage(std::string_view trackName) {
    return "Could not load a track for \"" + std::string(trackName) + "\"!";
}

std::string NoSegmentsMessage(std::string_view trackName, std::string_view trackConfig,
                              std::string_view segmentPath) {
    return "Warning: Could not load track segments for track \"" + std::string(trackName) + " " +
           std::string(trackConfig) + "\".  Is " + std::string(segmentPath) + " missing?";
}

std::string ReplayLimitMessage() {
    return "Only " + std::to_string(kMaxReplays) + " replays are allowed.  Extra replays ignored.";
}

AcceptResult AcceptReplay(ReplaySet* set, const TrackCatalogue& catalogue, const std::string& path,
                          std::vector<std::string>* messages) {
    const std::int32_t n = set->replayCount;
    assert(n >= 0 && n < kMaxReplays);
    ReplayFile& candidate = set->replays[n];
    ReleaseReplayFile(&candidate);
    // A replay without records has no record to show at any time: it cannot be analysed.
    if (!LoadReplayFile(path, &candidate) || candidate.RecordCount() < 1) {
        messages->push_back(CouldNotLoadReplayMessage(path));
        return AcceptResult::Rejected;
    }
    const ReplayHeader& header = candidate.header;
    if (n >= 1) {
        const ReplayHeader& reference = set->replays[0].header;
        if (header.TrackName() != reference.TrackName()) {
            messages->push_back(WrongTrackMessage(path, header.TrackName(), reference.TrackName()));
            return AcceptResult::Rejected;
        }
        if (header.TrackConfig() != reference.TrackConfig()) {
            messages->push_back(
                WrongConfigMessage(path, header.TrackConfig(), reference.TrackConfig()));
            return AcceptResult::Rejected;
        }
    } else {
        if (set->meshLoaded) {
            ReleaseTrackMesh(&set->trackMesh);
            set->meshLoaded = false;
        }
        if (const auto entry = FindCatalogueTrack(catalogue, header.TrackName())) {
            const std::string& entryPath = catalogue.paths[static_cast<std::size_t>(*entry)];
            if (!LoadTrackMesh(entryPath, &set->trackMesh)) {
                ReleaseTrackMesh(&set->trackMesh);
                messages->push_back(CouldNotLoadTrackMessage(entryPath));
                return AcceptResult::Rejected;
            }
            set->meshLoaded = true;
        }
        if (!set->meshLoaded) {
            messages->push_back(NoTrackMessage(header.TrackName()));
            return AcceptResult::Rejected;
        }
    }

    set->replayTitles[n] = ReplayTitleFromPath(path);
    BuildDistanceSearch(candidate, &set->distanceSearches[n]);
    if (n == 0) {
        const std::string segmentPath = SegmentFilePath(header.TrackName(), header.TrackConfig());
        set->segmentMarkerNames.clear();
        set->segmentMarkerDistances.clear();
        // A name that would walk out of data/smx/ never reaches the file system.
        const bool safe =
            SafeSegmentFileName(header.TrackName()) && SafeSegmentFileName(header.TrackConfig());
        if (!safe) Fail("unsafe track name");
        if (safe && LoadTrackSegmentFile(segmentPath, &set->segmentFile)) {
            for (const SegmentMarkerRecord& record : set->segmentFile.records) {
                set->segmentMarkerNames.emplace_back(record.Name());
                set->segmentMarkerDistances.push_back(record.markerDistance);
            }
        } else {
            ReleaseTrackSegmentFile(&set->segmentFile);
            set->segmentFile.SetMarkerCount(0);
            messages->push_back(
                NoSegmentsMessage(header.TrackName(), header.TrackConfig(), segmentPath));
        }
    }
    set->replayCount = n + 1;
    return AcceptResult::Accepted;
}

void ClearReplaySet(ReplaySet* set) {
    if (set->meshLoaded) {
        ReleaseTrackMesh(&set->trackMesh);
        set->meshLoaded = false;
    }
    ReleaseTrackSegmentFile(&set->segmentFile);
    set->segmentFile.SetMarkerCount(0);
    set->segmentMarkerNames.clear();
    set->segmentMarkerDistances.clear();
    for (std::int32_t i = 0; i < kMaxReplays; ++i) {
        ReleaseReplayFile(&set->replays[i]);
        set->replayTitles[i].clear();
        set->distanceSearches[i].runningMax.clear();
    }
    set->trackMesh = TrackMesh{};
    set->replayCount = 0;
}

}  // namespace lapquill
