#include "analysis/replay_set.h"

#include <cassert>

#include "analysis/track_search.h"
#include "files/le_reader.h"
#include "files/text_encoding.h"

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
    return AcceptReplay(set, catalogue, path, TrackSearch{}, messages, nullptr);
}

AcceptResult AcceptReplay(ReplaySet* set, const TrackCatalogue& catalogue, const std::string& path,
                          const TrackSearch& search, std::vector<std::string>* messages,
                          std::vector<std::string>* details) {
    // Every message has its detail, empty when the message says it all.
    const auto say = [&](std::string message, std::string detail) {
        messages->push_back(std::move(message));
        if (details) {
            details->resize(messages->size() - 1);
            details->push_back(std::move(detail));
        }
    };
    const std::int32_t n = set->replayCount;
    assert(n >= 0 && n < kMaxReplays);
    ReplayFile& candidate = set->replays[n];
    ReleaseReplayFile(&candidate);
    // A replay without records has no record to show at any time: it cannot be analysed.
    if (!LoadReplayFile(path, &candidate)) {
        say(CouldNotLoadReplayMessage(path), LastLoadFailure().Reason());
        return AcceptResult::Rejected;
    }
    if (candidate.RecordCount() < 1) {
        say(CouldNotLoadReplayMessage(path), "The replay holds no records.");
        return AcceptResult::Rejected;
    }
    const ReplayHeader& header = candidate.header;
    const std::vector<std::string> further = n == 0 ? FurtherSmxFolders(path, search)
                                                    : std::vector<std::string>{};
    if (n >= 1) {
        const ReplayHeader& reference = set->replays[0].header;
        if (header.TrackName() != reference.TrackName()) {
            say(WrongTrackMessage(path, DecodeWindows1252(header.TrackName()), DecodeWindows1252(reference.TrackName())), {});
            return AcceptResult::Rejected;
        }
        if (header.TrackConfig() != reference.TrackConfig()) {
            say(WrongConfigMessage(path, DecodeWindows1252(header.TrackConfig()), DecodeWindows1252(reference.TrackConfig())),
                {});
            return AcceptResult::Rejected;
        }
    } else {
        if (set->meshLoaded) {
            ReleaseTrackMesh(&set->trackMesh);
            set->meshLoaded = false;
        }
        // The current folder's catalogue first, then the further folders' ones, built only
        // when needed.
        std::string entryPath;
        if (const auto entry = FindCatalogueTrack(catalogue, header.TrackName())) {
            entryPath = catalogue.paths[static_cast<std::size_t>(*entry)];
        } else {
            for (const std::string& folder : further) {
                TrackCatalogue other;
                BuildTrackCatalogueAt(folder, &other);
                if (const auto e = FindCatalogueTrack(other, header.TrackName())) {
                    entryPath = other.paths[static_cast<std::size_t>(*e)];
                    break;
                }
            }
        }
        if (!entryPath.empty()) {
            if (!LoadTrackMesh(entryPath, &set->trackMesh)) {
                ReleaseTrackMesh(&set->trackMesh);
                say(CouldNotLoadTrackMessage(entryPath), LastLoadFailure().Reason());
                return AcceptResult::Rejected;
            }
            set->meshLoaded = true;
        }
        if (!set->meshLoaded) {
            say(NoTrackMessage(DecodeWindows1252(header.TrackName())),
                "No track mesh (.smx) for \"" + DecodeWindows1252(header.TrackName()) + "\" was found.\n" +
                    SearchedFoldersText(further));
            return AcceptResult::Rejected;
        }
    }

    set->replayTitles[n] = ReplayTitleFromPath(path);
    set->replayPaths[n] = path;
    BuildDistanceSearch(candidate, &set->distanceSearches[n]);
    if (n == 0) {
        const std::string segmentPath = SegmentFilePath(header.TrackName(), header.TrackConfig());
        set->segmentMarkerNames.clear();
        set->segmentMarkerDistances.clear();
        // A name that would walk out of data/smx/ never reaches the file system.
        const bool safe =
            SafeSegmentFileName(header.TrackName()) && SafeSegmentFileName(header.TrackConfig());
        if (!safe) Fail("unsafe track name");
        bool segmentsLoaded = safe && LoadTrackSegmentFile(segmentPath, &set->segmentFile);
        std::string segmentReason = LastLoadFailure().Reason();
        const std::string segmentName =
            segmentPath.substr(segmentPath.find_last_of('/') + 1);
        for (std::size_t f = 0; safe && !segmentsLoaded && f < further.size(); ++f) {
            const std::string other = further[f] + "/" + segmentName;
            segmentsLoaded = LoadTrackSegmentFile(other, &set->segmentFile);
            // A file that is there but cannot be read says more than one that is missing.
            if (!segmentsLoaded && LastLoadFailure().kind != LoadFailureKind::Missing) {
                segmentReason = other + ": " + LastLoadFailure().Reason();
            }
        }
        if (segmentsLoaded) {
            for (const SegmentMarkerRecord& record : set->segmentFile.records) {
                set->segmentMarkerNames.emplace_back(record.Name());
                set->segmentMarkerDistances.push_back(record.markerDistance);
            }
        } else {
            ReleaseTrackSegmentFile(&set->segmentFile);
            set->segmentFile.SetMarkerCount(0);
            // Messages are UTF-8 text: the names, and the path made of them, are decoded.
            say(NoSegmentsMessage(DecodeWindows1252(header.TrackName()), DecodeWindows1252(header.TrackConfig()),
                                  DecodeWindows1252(segmentPath)),
                "No segment file \"" + DecodeWindows1252(segmentName) + "\" could be loaded (" + segmentReason + ").\n" +
                    SearchedFoldersText(further));
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
        set->replayPaths[i].clear();
        set->distanceSearches[i].runningMax.clear();
    }
    set->trackMesh = TrackMesh{};
    set->replayCount = 0;
}

}  // namespace lapquill
