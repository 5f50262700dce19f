// lapquill-cli compare and export: the files loaded as table loads them, compared against a
// reference lap; compare prints the sections by laps (text or JSON), export writes the
// distance-aligned channels of every lap as CSV.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "compare/compare.h"
#include "compare/export_table.h"
#include "tools/cli.h"
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
};

// "lapquill-cli: REASON" on one line, status 2.
int Usage(const std::string& reason) {
    std::cerr << "lapquill-cli: " << reason << "\n";
    return 2;
}

bool ParseStep(const std::string& text, double* out) {
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != 0 || !std::isfinite(v) || !(v > 0)) return false;
    *out = v;
    return true;
}

// Parses the options of compare (forExport false) or export; empty on success, else the reason.
std::string ParseCompareArgs(const Args& args, bool forExport, CompareArgs* a) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& o = args[i];
        const bool takesValue = o == "--reference" || o == "--align" ||
                                (!forExport && o == "--trace") ||
                                (forExport && (o == "--step" || o == "--out"));
        if (takesValue && i + 1 >= args.size()) return o + " needs a value";
        const std::string v = takesValue ? args[++i] : std::string();
        if (o == "--reference") {
            if (v == "fastest") {
                a->options.reference = kFastestReference;
            } else {
                char* end = nullptr;
                const long n = std::strtol(v.c_str(), &end, 10);
                if (v.empty() || *end != 0 || n < 0 || n >= kMaxReplays)
                    return "--reference takes a slot from 0 to 5 or 'fastest', not '" + v + "'";
                a->options.reference = static_cast<std::int32_t>(n);
            }
        } else if (o == "--align") {
            if (v == "distance") {
                a->options.align = AlignMode::Distance;
            } else if (v == "position") {
                a->options.align = AlignMode::Position;
            } else {
                return "--align takes distance or position, not '" + v + "'";
            }
        } else if (o == "--trace" || o == "--step") {
            if (!ParseStep(v, o == "--trace" ? &a->trace : &a->step))
                return o + " takes a positive number of metres, not '" + v + "'";
        } else if (o == "--out") {
            a->out = v;
        } else if (!forExport && o == "--json") {
            a->json = true;
        } else if (o.size() > 1 && o[0] == '-' && o[1] == '-') {
            return "unknown option '" + o + "' for " + (forExport ? "export" : "compare");
        } else {
            a->files.push_back(o);
        }
    }
    if (forExport && a->out.empty()) return "export needs --out FILE.csv";
    if (a->files.empty()) return "no replay files given";
    return {};
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
        l->usage = "a step of " + JsonNumber(step) + " m gives more than 10000000 samples";
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

std::string NumberList(const std::vector<double>& v) {
    std::string s = "[";
    for (std::size_t i = 0; i < v.size(); ++i) s += (i ? ", " : "") + JsonNumber(v[i]);
    return s + "]";
}

void PrintJson(const Comparison& cmp, const std::vector<std::string>& messages, double trace,
               std::ostream& out) {
    const bool any = !cmp.Empty();
    std::string s = "{\"replayCount\": " + std::to_string(cmp.laps.size()) + ", \"messages\": [";
    for (std::size_t m = 0; m < messages.size(); ++m)
        s += (m ? ", " : "") + JsonString(messages[m]);
    s += "], \"reference\": " + (any ? std::to_string(cmp.reference) : std::string("null"));
    s += std::string(", \"align\": ") + (cmp.align == AlignMode::Position ? "\"position\"" : "\"distance\"");
    s += ", \"start\": " + (any ? JsonNumber(cmp.start) : "null");
    s += ", \"end\": " + (any ? JsonNumber(cmp.end) : "null");
    s += ", \"laps\": [";
    for (std::size_t b = 0; b < cmp.laps.size(); ++b) {
        const ComparedLap& lap = cmp.laps[b];
        s += std::string(b ? ", " : "") + "{\"slot\": " + std::to_string(lap.slot) +
             ", \"title\": " + JsonString(lap.title) + ", \"time\": " + JsonNumber(lap.time) +
             ", \"delta\": " + JsonNumber(lap.delta) + "}";
    }
    s += "], \"sections\": [";
    for (std::size_t k = 0; k < cmp.sections.size(); ++k) {
        const ComparedSection& sec = cmp.sections[k];
        s += std::string(k ? ", " : "") + "{\"name\": " + JsonString(sec.name) +
             ", \"start\": " + JsonNumber(sec.start) + ", \"end\": " + JsonNumber(sec.end) +
             ", \"times\": " + NumberList(sec.times) + ", \"lost\": " + NumberList(sec.lost) +
             ", \"best\": " + std::to_string(sec.best) + ", \"minSpeed\": [";
        for (std::size_t b = 0; b < sec.minSpeed.size(); ++b)
            s += (b ? ", " : "") + (sec.minSpeed[b] ? JsonNumber(*sec.minSpeed[b]) : "null");
        s += "]}";
    }
    s += "], \"theoreticalBest\": " + (any ? JsonNumber(cmp.theoreticalBest) : "null");
    if (trace > 0) {
        const DeltaTrace t = BuildDeltaTrace(cmp, trace);
        s += ", \"trace\": [";
        for (std::size_t k = 0; k < t.distance.size(); ++k) {
            std::vector<double> delta, speed;
            for (std::size_t b = 0; b < t.delta.size(); ++b) {
                delta.push_back(t.delta[b][k]);
                speed.push_back(t.speed[b][k]);
            }
            s += std::string(k ? ", " : "") + "{\"distance\": " + JsonNumber(t.distance[k]) +
                 ", \"delta\": " + NumberList(delta) + ", \"speed\": " + NumberList(speed) + "}";
        }
        s += "]";
    }
    out << s << "}\n";
}

}  // namespace

int RunCompare(const Args& args) {
    CompareArgs a;
    if (const std::string reason = ParseCompareArgs(args, false, &a); !reason.empty())
        return Usage(reason);
    Loaded l;
    LoadAndCompare(a, a.trace, &l);
    if (!l.usage.empty()) return Usage(l.usage);
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
    if (const std::string reason = ParseCompareArgs(args, true, &a); !reason.empty())
        return Usage(reason);
    Loaded l;
    LoadAndCompare(a, a.step, &l);
    if (!l.usage.empty()) return Usage(l.usage);
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
