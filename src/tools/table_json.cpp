// lapquill-cli table --json: the view's state and, per replay, the values of the statistics
// rows in SI (from the same gathering the table draws), the segment indices and the rows as
// drawn.
#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "files/text_encoding.h"
#include "tools/cli.h"

namespace lapquill::cli {

namespace {

Json ValueJson(const StatsValue& v) {
    switch (v.type) {
        case StatsValue::Type::Integer:
            return v.integer;
        case StatsValue::Type::Real:
            return v.real;
        case StatsValue::Type::Text:
            return DecodeWindows1252(v.text);  // names, as in the files
        case StatsValue::Type::None:
            break;
    }
    return nullptr;
}

// The JSON values of one column, in the order of the rows; a per-sector row as a list.
void AddRowValues(const StatsColumnInput& column, const DisplayUnits& units, Json* out) {
    for (const StatsRow& row : StatsRows()) {
        if (!row.jsonKey) continue;
        Json& value = (*out)[row.jsonKey];
        if (row.perSector) {
            value = Json::array();
            for (std::size_t k = 0; k < column.splitTimes.size(); ++k)
                value.push_back(ValueJson(row.json({column, units, k, {}, {}})));
        } else {
            value = ValueJson(row.json({column, units, 0, {}, {}}));
        }
    }
}

}  // namespace

Json StatsTableJson(const CAnalysisView& v, const std::vector<std::string>& messages,
                    const StatsTable& t) {
    const ReplaySet& set = v.Replays();
    const SegmentData& seg = v.Segments();
    const PlaybackState& p = v.Playback();
    CAnalysisView::StatsGathered gathered;
    v.GatherStats(&gathered);
    const std::int32_t n = set.replayCount;
    Json j;
    j["replayCount"] = n;
    j["track"] = DecodeWindows1252(n ? set.replays[0].header.TrackName() : "");
    j["config"] = DecodeWindows1252(n ? set.replays[0].header.TrackConfig() : "");
    Json& markers = j["markers"] = Json::array();
    for (std::size_t m = 0; m < set.segmentMarkerNames.size(); ++m) {
        markers.push_back({{"name", DecodeWindows1252(set.segmentMarkerNames[m])},
                           {"distance", set.segmentMarkerDistances[m]}});
    }
    j["messages"] = messages;
    j["playbackTime"] = p.playbackTime;
    j["syncMode"] = static_cast<int>(p.syncMode);
    j["currentSegment"] = seg.currentSegment;
    j["segmentText"] = DecodeWindows1252(t.segmentText);
    j["isPlaying"] = p.isPlaying;
    j["playbackSpeed"] = p.playbackSpeed;
    j["playForward"] = p.playForward;
    j["customStartDistance"] = seg.customStartDistance;
    j["customEndDistance"] = seg.customEndDistance;
    Json& replays = j["replays"] = Json::array();
    for (std::int32_t r = 0; r < n; ++r) {
        const StatsColumnInput& column = gathered.columns[r];
        Json replay;
        replay["slot"] = r;
        replay["title"] = column.title;
        AddRowValues(column, gathered.input.units, &replay);
        replay["markerStartIndices"] = seg.markerStartIndices[r];
        replay["cornerStartIndices"] = seg.cornerStartIndices[r];
        replay["customStartIndex"] = seg.customStartIndices[r];
        replay["customEndIndex"] = seg.customEndIndices[r];
        replay["customCornerIndex"] = seg.customCornerIndices[r];
        Json& rows = replay["rows"] = Json::object();
        for (const StatsCell& c : t.columns[r].cells) {
            if (c.kind == StatsRowKind::Time || c.kind == StatsRowKind::Number) rows[c.label] = c.text;
        }
        replays.push_back(std::move(replay));
    }
    return j;
}

}  // namespace lapquill::cli
