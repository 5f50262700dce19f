// lapquill-cli info: a summary of each .raf, .smx or .tsf file, as text or one JSON object
// per file.
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>
#include <type_traits>

#include "files/le_reader.h"
#include "files/replay_file.h"
#include "files/segment_file.h"
#include "files/text_encoding.h"
#include "files/track_mesh.h"
#include "tools/cli.h"
#include "tools/command_line.h"

namespace lapquill::cli {

namespace {

enum class Kind { Replay, Mesh, Segments, Unknown };

Kind KindOf(const std::string& path) {
    const auto dot = path.find_last_of('.');
    if (dot == std::string::npos) return Kind::Unknown;
    std::string ext = path.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (ext == "raf") return Kind::Replay;
    if (ext == "smx") return Kind::Mesh;
    if (ext == "tsf") return Kind::Segments;
    return Kind::Unknown;
}

// Collects "key": value pairs and prints them either as one JSON object or as aligned text
// lines.
class Summary {
public:
    // A name from a data file: Windows-1252 text.
    void Name(const std::string& key, std::string_view v) { Text(key, DecodeWindows1252(v)); }
    void Text(const std::string& key, std::string_view v) { Add(key, std::string(v), TerminalText(v)); }
    void Number(const std::string& key, double v) { Add(key, v, NumberText(v)); }
    void Add(const std::string& key, Json json, const std::string& text) {
        json_[key] = std::move(json);
        text_.push_back("  " + key + ": " + text + "\n");
    }
    // A list of numbers: "[a, b]" in JSON, "a b" as text; whole numbers as they are, others
    // as NumberText.
    template <typename T>
    void List(const std::string& key, const std::vector<T>& values) {
        std::string text;
        for (std::size_t i = 0; i < values.size(); ++i) {
            if (i) text += " ";
            if constexpr (std::is_integral_v<T>) {
                text += std::to_string(values[i]);
            } else {
                text += NumberText(values[i]);
            }
        }
        Add(key, values, text);
    }
    std::string JsonLine() const { return JsonText(json_); }
    std::string Plain() const {
        std::string out;
        for (const std::string& line : text_) out += line;
        return out;
    }

private:
    Json json_ = Json::object();
    std::vector<std::string> text_;
};

void SummariseReplay(const ReplayFile& f, Summary* s) {
    const ReplayHeader& h = f.header;
    s->Text("kind", "replay");
    s->Name("player", h.PlayerName());
    s->Name("car", h.CarName());
    s->Name("track", h.TrackName());
    s->Name("config", h.TrackConfig());
    s->Name("weather", h.Weather());
    s->Number("blockCount", h.BlockCount());
    s->Number("recordCount", f.RecordCount());
    s->Number("dataOffset", h.DataOffset());
    s->Number("recordStride", h.RecordStride());
    s->Number("sampleStride", h.SampleStride());
    std::vector<std::int32_t> splits;
    std::vector<double> offsets;
    for (int k = 0; k < h.SectorCount(); ++k) splits.push_back(h.SplitTime(k));
    for (const auto& block : f.blocks) offsets.push_back(block.LateralOffset());
    s->List("splitTimesMs", splits);
    s->List("lateralOffsets", offsets);
    s->Number("durationSeconds", f.RecordCount() * 0.01);
    if (!f.records.empty()) {
        s->Number("firstDistance", f.records.front().distance);
        s->Number("lastDistance", f.records.back().distance);
        float top = 0;
        for (const auto& r : f.records) top = std::max(top, r.speed);
        s->Number("topSpeed", top);
    }
}

void SummariseMesh(const TrackMesh& m, Summary* s) {
    s->Text("kind", "mesh");
    s->Name("track", m.header.TrackName());
    char colour[16];
    std::snprintf(colour, sizeof colour, "0x%08X", m.header.BackgroundColour());
    s->Text("backgroundColour", colour);
    s->Add("listed", m.header.IsListable(), m.header.IsListable() ? "yes" : "no");
    s->Number("objectCount", static_cast<double>(m.objects.size()));
    std::int64_t vertices = 0, triangles = 0;
    for (const auto& o : m.objects) {
        vertices += static_cast<std::int64_t>(o.vertices.size());
        triangles += static_cast<std::int64_t>(o.triangles.size());
    }
    s->Number("vertexCount", static_cast<double>(vertices));
    s->Number("triangleCount", static_cast<double>(triangles));
    s->Number("trailerCount", m.trailerCount);
}

void SummariseSegments(const TrackSegmentFile& f, Summary* s) {
    s->Text("kind", "segments");
    s->Number("markerCount", f.MarkerCount());
    Json markers = Json::array();
    std::string text;
    for (const auto& r : f.records) {
        markers.push_back({{"name", DecodeWindows1252(r.Name())},
                           {"distance", r.markerDistance},
                           {"position", {r.position.x, r.position.y, r.position.z}},
                           {"heading", r.heading},
                           {"width", r.width}});
        text += "\n    " + TerminalText(DecodeWindows1252(r.Name())) + " at " + NumberText(r.markerDistance) + " m";
    }
    s->Add("markers", std::move(markers), text);
}

}  // namespace

int RunInfo(const Args& args) {
    bool json = false;
    std::vector<std::string> files;
    CommandParser parser("info", "Summarise .raf, .smx and .tsf files, chosen by extension.",
                         UnknownOption(" for info"));
    parser.Flag("--json", "print one JSON object per file", [&] { json = true; });
    parser.Files("FILE", "the files to summarise", &files);
    if (const ParseOutcome p = parser.Parse(args); !p.Run()) return Report(p, UsageStyle::WithUsage);
    if (files.empty()) return UsageError("info needs at least one file");
    int status = 0;
    for (const auto& path : files) {
        Summary s;
        s.Text("path", path);
        bool ok = false;
        switch (KindOf(path)) {
            case Kind::Replay: {
                ReplayFile f;
                ok = LoadReplayFile(path, &f);
                if (ok) SummariseReplay(f, &s);
                break;
            }
            case Kind::Mesh: {
                TrackMesh m;
                ok = LoadTrackMesh(path, &m);
                if (ok) SummariseMesh(m, &s);
                break;
            }
            case Kind::Segments: {
                TrackSegmentFile f;
                ok = LoadTrackSegmentFile(path, &f);
                if (ok) SummariseSegments(f, &s);
                break;
            }
            case Kind::Unknown:
                break;
        }
        if (!ok) {
            std::cerr << "error: could not load " << TerminalText(path) << "\n";
            if (KindOf(path) == Kind::Unknown) {
                std::cerr << "  not a .raf, .smx or .tsf file\n";
            } else if (!LastLoadFailure().step.empty()) {
                std::cerr << "  " << LastLoadFailure().Reason() << "\n";
                std::cerr << "  stopped at " << LastLoadFailure().step << ", byte "
                          << LastLoadFailure().offset << "\n";
            }
            status = 1;
            continue;
        }
        if (json) {
            std::cout << s.JsonLine() << "\n";
        } else {
            std::cout << TerminalText(path) << "\n" << s.Plain();
        }
    }
    return status;
}

}  // namespace lapquill::cli
