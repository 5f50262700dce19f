// lapquill-cli table: opens the files as Open Replay(s) does, applies the STATE options and
// prints the statistics table of the view: as text laid out like the overlay (labels down the
// left, one column per replay) or, with --json, as one object with the analysis values in SI.
#include <algorithm>
#include <cmath>
#include <iostream>
#include <string>
#include <vector>

#include "analysis/channels.h"
#include "tools/cli.h"
#include "tools/headless_view.h"

namespace lapquill::cli {

namespace {

// A gauge as text: a bar of ten cells, the steering bar centred on its mark.
std::string GaugeText(const StatsCell& c) {
    if (c.kind == StatsRowKind::CentredGauge) {
        const int n = static_cast<int>(std::trunc(std::fabs(c.gauge) * 0.2f));  // 25 degrees: 5
        std::string bar(11, ' ');
        bar[5] = '|';
        // A positive steer draws left of the centre, a negative one right of it.
        for (int i = 1; i <= n; ++i)
            bar[static_cast<std::size_t>(c.gauge >= 0 ? 5 - i : 5 + i)] = '#';
        bar.insert(bar.begin(), '[');
        bar.push_back(']');
        return bar;
    }
    const float f = std::clamp(c.gauge, 0.0f, 1.0f);
    const int n = static_cast<int>(std::lround(f * 10.0f));
    std::string bar = "[";
    bar.append(static_cast<std::size_t>(n), '#');
    bar.append(static_cast<std::size_t>(10 - n), ' ');
    bar.push_back(']');
    return bar;
}

std::string CellText(const StatsCell& c) {
    return c.kind == StatsRowKind::Gauge || c.kind == StatsRowKind::CentredGauge ? GaugeText(c)
                                                                                 : c.text;
}

void PrintText(const StatsTable& t, std::ostream& out) {
    std::size_t labelWidth = 0;
    for (const std::string& l : t.labels) labelWidth = std::max(labelWidth, l.size());
    std::vector<std::size_t> widths;
    std::size_t rows = t.labels.size();
    for (const StatsColumn& col : t.columns) {
        std::size_t w = col.title.size();
        for (const StatsCell& c : col.cells) {
            if (c.kind != StatsRowKind::SpanText) w = std::max(w, CellText(c).size());
        }
        widths.push_back(w);
        rows = std::max(rows, col.cells.size());
    }
    auto pad = [](std::string s, std::size_t w) {
        if (s.size() < w) s.append(w - s.size(), ' ');
        return s;
    };
    std::string line = pad("", labelWidth);
    for (std::size_t i = 0; i < t.columns.size(); ++i)
        line += "  " + pad(t.columns[i].title, widths[i]);
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out << line << "\n";
    for (std::size_t r = 0; r < rows; ++r) {
        line = pad(r < t.labels.size() ? t.labels[r] : "", labelWidth);
        for (std::size_t i = 0; i < t.columns.size(); ++i) {
            const auto& cells = t.columns[i].cells;
            if (r >= cells.size()) {
                line += "  " + pad("", widths[i]);
            } else if (cells[r].kind == StatsRowKind::SpanText) {
                line += "  " + cells[r].text;  // the segment and sync texts span the columns
            } else {
                line += "  " + pad(CellText(cells[r]), widths[i]);
            }
        }
        while (!line.empty() && line.back() == ' ') line.pop_back();
        out << line << "\n";
    }
    if (!t.speedText.empty()) out << "\n" << t.speedText << "\n";
}

std::string IntList(const std::vector<std::int32_t>& v) {
    std::string s = "[";
    for (std::size_t i = 0; i < v.size(); ++i) s += (i ? ", " : "") + std::to_string(v[i]);
    return s + "]";
}

std::string F(double v) {
    return JsonNumber(v);
}

void PrintJson(CAnalysisView& v, const HeadlessWindow& w, const StatsTable& t, std::ostream& out) {
    const ReplaySet& set = v.Replays();
    const SegmentData& seg = v.Segments();
    const PlaybackState& p = v.Playback();
    const std::int32_t n = set.replayCount;
    std::string s = "{\"replayCount\": " + std::to_string(n);
    s += ", \"track\": " + JsonString(n ? set.replays[0].header.TrackName() : "");
    s += ", \"config\": " + JsonString(n ? set.replays[0].header.TrackConfig() : "");
    s += ", \"markers\": [";
    for (std::size_t m = 0; m < set.segmentMarkerNames.size(); ++m) {
        s += std::string(m ? ", " : "") + "{\"name\": " + JsonString(set.segmentMarkerNames[m]) +
             ", \"distance\": " + F(set.segmentMarkerDistances[m]) + "}";
    }
    s += "], \"messages\": [";
    for (std::size_t m = 0; m < w.messages.size(); ++m)
        s += (m ? ", " : "") + JsonString(w.messages[m]);
    s += "], \"playbackTime\": " + std::to_string(p.playbackTime);
    s += ", \"syncMode\": " + std::to_string(static_cast<int>(p.syncMode));
    s += ", \"currentSegment\": " + std::to_string(seg.currentSegment);
    s += ", \"segmentText\": " + JsonString(t.segmentText);
    s += std::string(", \"isPlaying\": ") + (p.isPlaying ? "true" : "false");
    s += ", \"playbackSpeed\": " + F(p.playbackSpeed);
    s += std::string(", \"playForward\": ") + (p.playForward ? "true" : "false");
    s += ", \"customStartDistance\": " + F(seg.customStartDistance);
    s += ", \"customEndDistance\": " + F(seg.customEndDistance);
    s += ", \"replays\": [";
    for (std::int32_t r = 0; r < n; ++r) {
        const ReplayFile& replay = set.replays[r];
        const ReplayHeader& h = replay.header;
        const std::int32_t k = v.RecordIndexAt(r, p.playbackTime);
        const ReplayRecord& rec = replay.records[k];
        const LateralLongitudinal acc = LateralLongitudinalAccel(replay, k);
        std::vector<std::int32_t> splits;
        for (int i = 0; i < h.SectorCount(); ++i) splits.push_back(h.SplitTime(i));
        s += std::string(r ? ", " : "") + "{\"slot\": " + std::to_string(r);
        s += ", \"title\": " + JsonString(set.replayTitles[r]);
        s += ", \"player\": " + JsonString(StripColourCodes(h.PlayerName()));
        s += ", \"car\": " + JsonString(h.CarName());
        s += ", \"weather\": " + JsonString(h.Weather());
        s += ", \"sectorTimesMs\": [";
        for (std::size_t i = 0; i < splits.size(); ++i) {
            s += (i ? ", " : "") + std::to_string(i == 0 ? splits[0] : splits[i] - splits[i - 1]);
        }
        s += "], \"lapTimeMs\": " +
             (splits.empty() ? std::string("null") : std::to_string(splits.back()));
        s += ", \"record\": " + std::to_string(k);
        s += ", \"throttle\": " + F(rec.throttle) + ", \"brake\": " + F(rec.brake);
        s += ", \"steer\": " + F(rec.steer) + ", \"clutch\": " + F(rec.clutch);
        s += ", \"handbrake\": " + F(rec.handbrake);
        s += ", \"gear\": " + std::to_string(static_cast<int>(rec.gear) - 1);
        s += ", \"speed\": " + F(rec.speed) + ", \"distance\": " + F(rec.distance);
        s += ", \"timingDifference\": " + F(v.PlaybackTimingDifference(r));
        s += ", \"longitudinalAccel\": " + F(acc.longitudinal);
        s += ", \"lateralAccel\": " + F(acc.lateral);
        s += ", \"yaw\": " + F(YawAngle(replay, k));
        s += ", \"segmentTime\": " + F(SegmentTime(seg, replay, r));
        s += ", \"timeFromSync\": " + F(v.TimeFromSync(r));
        s += ", \"entranceSpeed\": " + F(EntranceSpeed(seg, replay, r, p.syncMode));
        s += ", \"exitSpeed\": " + F(ExitSpeed(seg, replay, r, p.syncMode));
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
    s += "]}";
    out << s << "\n";
}

}  // namespace

int RunTable(const Args& args) {
    ViewOptions options;
    std::string error;
    if (!ParseViewOptions(args, false, &options, &error)) return UsageError(error);
    HeadlessSession session(options);
    session.Run();
    CAnalysisView& view = session.View();
    const StatsTable table = view.BuildStatsTableNow();
    if (options.json) {
        PrintJson(view, session.Window(), table, std::cout);
    } else {
        for (const std::string& m : session.Window().MessagesWithDetails()) std::cerr << m << "\n";
        if (view.ReplayCount() > 0) PrintText(table, std::cout);
    }
    return view.ReplayCount() > 0 ? 0 : 1;
}

}  // namespace lapquill::cli
