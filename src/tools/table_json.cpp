// lapquill-cli table --json: the view's state and, per replay, the values of the statistics
// rows in SI (from the same gathering the table draws), the segment indices and the rows as
// drawn.
#include <string>
#include <vector>

#include "files/text_encoding.h"
#include "tools/cli.h"

namespace lapquill::cli {

namespace {

std::string IntList(const std::vector<std::int32_t>& v) {
    std::string s = "[";
    for (std::size_t i = 0; i < v.size(); ++i) s += (i ? ", " : "") + std::to_string(v[i]);
    return s + "]";
}

std::string ValueJson(const StatsValue& v) {
    switch (v.type) {
        case StatsValue::Type::Integer:
            return std::to_string(v.integer);
        case StatsValue::Type::Real:
            return JsonNumber(v.real);
        case StatsValue::Type::Text:
            return JsonString(DecodeWindows1252(v.text));  // names, as in the files
        case StatsValue::Type::None:
            break;
    }
    return "null";
}

// The JSON values of one column, in the order of the rows; a per-sector row as a list.
std::string RowValuesJson(const StatsColumnInput& column, const DisplayUnits& units) {
    std::string s;
    for (const StatsRow& row : StatsRows()) {
        if (!row.jsonKey) continue;
        s += std::string(", ") + JsonString(row.jsonKey) + ": ";
        if (row.perSector) {
            s += "[";
            for (std::size_t k = 0; k < column.splitTimes.size(); ++k)
                s += (k ? ", " : "") + ValueJson(row.json({column, units, k, {}, {}}));
            s += "]";
        } else {
            s += ValueJson(row.json({column, units, 0, {}, {}}));
        }
    }
    return s;
}

}  // namespace

std::string StatsTableJson(const CAnalysisView& v, const std::vector<std::string>& messages,
                           const StatsTable& t) {
    const ReplaySet& set = v.Replays();
    const SegmentData& seg = v.Segments();
    const PlaybackState& p = v.Playback();
    CAnalysisView::StatsGathered gathered;
    v.GatherStats(&gathered);
    const std::int32_t n = set.replayCount;
    std::string s = "{\"replayCount\": " + std::to_string(n);
    s += ", \"track\": " + JsonString(DecodeWindows1252(n ? set.replays[0].header.TrackName() : ""));
    s += ", \"config\": " + JsonString(DecodeWindows1252(n ? set.replays[0].header.TrackConfig() : ""));
    s += ", \"markers\": [";
    for (std::size_t m = 0; m < set.segmentMarkerNames.size(); ++m) {
        s += std::string(m ? ", " : "") + "{\"name\": " + JsonString(DecodeWindows1252(set.segmentMarkerNames[m])) +
             ", \"distance\": " + JsonNumber(set.segmentMarkerDistances[m]) + "}";
    }
    s += "], \"messages\": [";
    for (std::size_t m = 0; m < messages.size(); ++m)
        s += (m ? ", " : "") + JsonString(messages[m]);
    s += "], \"playbackTime\": " + std::to_string(p.playbackTime);
    s += ", \"syncMode\": " + std::to_string(static_cast<int>(p.syncMode));
    s += ", \"currentSegment\": " + std::to_string(seg.currentSegment);
    s += ", \"segmentText\": " + JsonString(DecodeWindows1252(t.segmentText));
    s += std::string(", \"isPlaying\": ") + (p.isPlaying ? "true" : "false");
    s += ", \"playbackSpeed\": " + JsonNumber(p.playbackSpeed);
    s += std::string(", \"playForward\": ") + (p.playForward ? "true" : "false");
    s += ", \"customStartDistance\": " + JsonNumber(seg.customStartDistance);
    s += ", \"customEndDistance\": " + JsonNumber(seg.customEndDistance);
    s += ", \"replays\": [";
    for (std::int32_t r = 0; r < n; ++r) {
        const StatsColumnInput& column = gathered.columns[r];
        s += std::string(r ? ", " : "") + "{\"slot\": " + std::to_string(r);
        s += ", \"title\": " + JsonString(column.title);
        s += RowValuesJson(column, gathered.input.units);
        s += ", \"markerStartIndices\": " + IntList(seg.markerStartIndices[r]);
        s += ", \"cornerStartIndices\": " + IntList(seg.cornerStartIndices[r]);
        s += ", \"customStartIndex\": " + std::to_string(seg.customStartIndices[r]);
        s += ", \"customEndIndex\": " + std::to_string(seg.customEndIndices[r]);
        s += ", \"customCornerIndex\": " + std::to_string(seg.customCornerIndices[r]);
        s += ", \"rows\": {";
        bool first = true;
        for (const StatsCell& c : t.columns[r].cells) {
            if (c.kind != StatsRowKind::Time && c.kind != StatsRowKind::Number) continue;
            s += std::string(first ? "" : ", ") + JsonString(c.label) + ": " + JsonString(c.text);
            first = false;
        }
        s += "}}";
    }
    return s + "]}";
}

}  // namespace lapquill::cli
