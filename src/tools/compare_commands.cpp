// lapquill-cli compare and export: the files loaded as table loads them, compared against a
// reference lap; compare prints the sections by laps (text or JSON), export writes the
// distance-aligned channels of every lap as CSV.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "compare/compare.h"
#include "compare/export_table.h"
#include "tools/cli.h"
#include "tools/command_line.h"
#include "tools/headless_view.h"

namespace lapquill::cli {

namespace {

// More samples than any lap needs at a centimetre step; a smaller step is a typing error.
constexpr double kMaxSamples = 1e7;

struct CompareArgs {
    CompareOptions options;
    bool json = false;
    double trace = 0;  // m; 0: no trace
    double step = 1;   // m, export
    std::string out;   // export
    std::vector<std::string> files;
    std::string dataFolder;  // --data-folder
};

bool ParseStep(const std::string& text, double* out) {
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != 0 || !std::isfinite(v) || !(v > 0)) return false;
    *out = v;
    return true;
}

// A positive length in metres for `option`, else a usage error.
std::function<void(const std::string&)> Metres(const std::string& option, double* out) {
    return [option, out](const std::string& v) {
        if (!ParseStep(v, out))
            throw UsageProblem(option + " takes a positive number of metres, not '" + v + "'");
    };
}

// Reads the options of compare (forExport false) or export.
ParseOutcome ParseCompareArgs(const Args& args, bool forExport, CompareArgs* a) {
    const std::string name = forExport ? "export" : "compare";
    CommandParser parser(name,
                         forExport ? "Write every lap's time, delta and channels per step of distance as CSV."
                                   : "Time per section of every lap against a reference lap.",
                         UnknownOption(" for " + name));
    if (forExport) {
        parser.Value("--out", "FILE.csv", "the CSV file to write", [a](const std::string& v) { a->out = v; });
        parser.Value("--step", "M", "metres between rows (default 1)", Metres("--step", &a->step));
    }
    parser.Value("--reference", "N|fastest", "the reference lap: a slot from 0 to 5 or the fastest (default 0)",
                 [a](const std::string& v) {
                     if (v == "fastest") {
                         a->options.reference = kFastestReference;
                         return;
                     }
                     char* end = nullptr;
                     const long n = std::strtol(v.c_str(), &end, 10);
                     if (v.empty() || *end != 0 || n < 0 || n >= kMaxReplays)
                         throw UsageProblem("--reference takes a slot from 0 to 5 or 'fastest', not '" + v + "'");
                     a->options.reference = static_cast<std::int32_t>(n);
                 });
    parser.Value("--align", "distance|position", "align the laps by their distance channel (default) or their position",
                 [a](const std::string& v) {
                     if (v == "distance") {
                         a->options.align = AlignMode::Distance;
                     } else if (v == "position") {
                         a->options.align = AlignMode::Position;
                     } else {
                         throw UsageProblem("--align takes distance or position, not '" + v + "'");
                     }
                 });
    if (!forExport) {
        parser.Value("--trace", "STEP", "add the delta trace every STEP metres to the JSON", Metres("--trace", &a->trace));
        parser.Flag("--json", "print one JSON object", [a] { a->json = true; });
    }
    AddDataFolderOption(&parser, &a->dataFolder);
    parser.Files("RAF", "the replays, in slot order (at most six)", &a->files);
    ParseOutcome outcome = parser.Parse(args);
    if (!outcome.Run()) return outcome;
    if (forExport && a->out.empty()) return {ParseOutcome::Kind::Usage, "export needs --out FILE.csv"};
    if (a->files.empty()) return {ParseOutcome::Kind::Usage, "no replay files given"};
    return outcome;
}

// Loads the files into a view as table does and compares them. A usage error found only
// after loading (a reference naming no loaded lap, a step too small) is returned as a reason.
struct Loaded {
    ViewOptions view;
    std::unique_ptr<HeadlessSession> session;
    Comparison cmp;
    std::string usage;
};

void LoadAndCompare(const CompareArgs& a, double step, Loaded* l) {
    l->view.files = a.files;
    l->view.dataFolder = a.dataFolder;
    l->session = std::make_unique<HeadlessSession>(l->view);
    l->session->Run();
    const ReplaySet& set = l->session->View().Replays();
    if (set.replayCount > 0 && a.options.reference >= set.replayCount) {
        l->usage = "--reference " + std::to_string(a.options.reference) +
                   " names no loaded lap (" + std::to_string(set.replayCount) + " loaded)";
        return;
    }
    l->cmp = CompareLaps(set, a.options);
    if (step > 0 && !l->cmp.Empty() && (l->cmp.end - l->cmp.start) / step > kMaxSamples)
        l->usage = "a step of " + NumberText(step) + " m gives more than 10000000 samples";
}

// The start both commands share: reads the options, then loads and compares the laps at the
// export's step or the trace's. Returns the exit status when that already ends the command
// (--help, --version or a usage error), nothing when the command goes on.
std::optional<int> ParseAndLoad(const Args& args, bool forExport, CompareArgs* a, Loaded* l) {
    if (const ParseOutcome p = ParseCompareArgs(args, forExport, a); !p.Run())
        return Report(p, UsageStyle::OneLine);
    LoadAndCompare(*a, forExport ? a->step : a->trace, l);
    if (!l->usage.empty()) return OneLineUsageError(l->usage);
    return std::nullopt;
}

std::string Fixed(double v, const char* format) {
    char buf[48];
    std::snprintf(buf, sizeof buf, format, v);
    return buf;
}

std::string Pad(std::string s, std::size_t w, bool right) {
    if (s.size() >= w) return s;
    return right ? std::string(w - s.size(), ' ') + s : s + std::string(w - s.size(), ' ');
}

// Sections down, laps across: each time with its gain or loss against the reference, the
// best of each section marked, the lap totals and the theoretical best at the foot.
void PrintText(const Comparison& cmp, std::ostream& out) {
    const std::size_t n = cmp.laps.size();
    std::vector<std::string> header = {"Section", "From (m)"};
    for (const ComparedLap& lap : cmp.laps)
        header.push_back(lap.title + (lap.slot == cmp.reference ? " (ref)" : ""));
    std::vector<std::vector<std::string>> rows;
    auto cell = [&](double time, double lost, bool isRef, bool best) {
        std::string s = Fixed(time, "%.3f");
        s += isRef ? std::string(7, ' ') : " " + Fixed(lost, "%+.3f");
        return s + (best ? " *" : "  ");
    };
    for (const ComparedSection& s : cmp.sections) {
        std::vector<std::string> row = {s.name, Fixed(s.start, "%.1f")};
        for (std::size_t b = 0; b < n; ++b) {
            row.push_back(cell(s.times[b], s.lost[b], static_cast<std::int32_t>(b) == cmp.reference,
                               static_cast<std::int32_t>(b) == s.best));
        }
        rows.push_back(row);
    }
    std::vector<std::string> total = {"Lap", ""};
    for (const ComparedLap& lap : cmp.laps)
        total.push_back(cell(lap.time, lap.delta, lap.slot == cmp.reference, false));
    std::vector<std::size_t> widths(header.size());
    for (std::size_t c = 0; c < header.size(); ++c) {
        widths[c] = header[c].size();
        for (const auto& r : rows) widths[c] = std::max(widths[c], r[c].size());
        widths[c] = std::max(widths[c], total[c].size());
    }
    auto print = [&](const std::vector<std::string>& r) {
        std::string line;
        for (std::size_t c = 0; c < r.size(); ++c)
            line += (c ? "  " : "") + Pad(r[c], widths[c], c > 0);
        while (!line.empty() && line.back() == ' ') line.pop_back();
        out << line << "\n";
    };
    print(header);
    for (const auto& r : rows) print(r);
    std::size_t width = 0;
    for (std::size_t w : widths) width += w + 2;
    out << std::string(width - 2, '-') << "\n";
    print(total);
    out << "\nTheoretical best " << Fixed(cmp.theoreticalBest, "%.3f") << " s (the best of each section, *)\n";
    out << "Aligned by " << (cmp.align == AlignMode::Position ? "position" : "distance")
        << " from " << Fixed(cmp.start, "%.1f") << " m to " << Fixed(cmp.end, "%.1f")
        << " m; times in s, gain or loss against the reference.\n";
}

void PrintJson(const Comparison& cmp, const std::vector<std::string>& messages, double trace,
               std::ostream& out) {
    const bool any = !cmp.Empty();
    Json j;
    j["replayCount"] = cmp.laps.size();
    j["messages"] = messages;
    j["reference"] = any ? Json(cmp.reference) : Json(nullptr);
    j["align"] = cmp.align == AlignMode::Position ? "position" : "distance";
    j["start"] = any ? Json(cmp.start) : Json(nullptr);
    j["end"] = any ? Json(cmp.end) : Json(nullptr);
    Json laps = Json::array();
    for (const ComparedLap& lap : cmp.laps)
        laps.push_back({{"slot", lap.slot}, {"title", lap.title}, {"time", lap.time}, {"delta", lap.delta}});
    j["laps"] = std::move(laps);
    Json sections = Json::array();
    for (const ComparedSection& sec : cmp.sections) {
        Json minSpeed = Json::array();
        for (const std::optional<float>& v : sec.minSpeed) minSpeed.push_back(v ? Json(*v) : Json(nullptr));
        sections.push_back({{"name", sec.name},
                            {"start", sec.start},
                            {"end", sec.end},
                            {"times", sec.times},
                            {"lost", sec.lost},
                            {"best", sec.best},
                            {"minSpeed", std::move(minSpeed)}});
    }
    j["sections"] = std::move(sections);
    j["theoreticalBest"] = any ? Json(cmp.theoreticalBest) : Json(nullptr);
    if (trace > 0) {
        const DeltaTrace t = BuildDeltaTrace(cmp, trace);
        Json points = Json::array();
        for (std::size_t k = 0; k < t.distance.size(); ++k) {
            Json delta = Json::array(), speed = Json::array();
            for (std::size_t b = 0; b < t.delta.size(); ++b) {
                delta.push_back(t.delta[b][k]);
                speed.push_back(t.speed[b][k]);
            }
            points.push_back({{"distance", t.distance[k]}, {"delta", std::move(delta)}, {"speed", std::move(speed)}});
        }
        j["trace"] = std::move(points);
    }
    out << JsonText(j) << "\n";
}

}  // namespace

int RunCompare(const Args& args) {
    CompareArgs a;
    Loaded l;
    if (const std::optional<int> status = ParseAndLoad(args, false, &a, &l)) return *status;
    const std::vector<std::string>& messages = l.session->Window().messages;
    if (a.json) {
        PrintJson(l.cmp, messages, a.trace, std::cout);
    } else {
        for (const std::string& m : messages) std::cerr << m << "\n";
        if (!l.cmp.Empty()) PrintText(l.cmp, std::cout);
    }
    return l.cmp.Empty() ? 1 : 0;
}

int RunExport(const Args& args) {
    CompareArgs a;
    Loaded l;
    if (const std::optional<int> status = ParseAndLoad(args, true, &a, &l)) return *status;
    for (const std::string& m : l.session->Window().messages) std::cerr << m << "\n";
    if (l.cmp.Empty()) {
        std::cerr << "lapquill-cli: no lap loaded, nothing exported\n";
        return 1;
    }
    std::ofstream file(a.out, std::ios::binary | std::ios::trunc);
    if (file) WriteCsv(BuildExportTable(l.cmp, a.step), file);
    file.close();
    if (!file) {
        std::cerr << "lapquill-cli: cannot write " << a.out << "\n";
        return 1;
    }
    return 0;
}

}  // namespace lapquill::cli
