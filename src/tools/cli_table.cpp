// lapquill-cli table: opens the files as Open Replay(s) does, applies the STATE options and
// prints the statistics table of the view: as text laid out like the overlay (labels down the
// left, one column per replay) or, with --json, as one object with the analysis values in SI.
#include <algorithm>
#include <cmath>
#include <iostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "files/text_encoding.h"
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
    out << TerminalText(line) << "\n";
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
        // The cells hold the replays' names as they are in the files.
        out << TerminalText(DecodeWindows1252(line)) << "\n";
    }
    if (!t.speedText.empty()) out << "\n" << t.speedText << "\n";
}

}  // namespace

int RunTable(const Args& args) {
    ViewOptions options;
    if (const ParseOutcome p = ParseViewOptions(args, false, &options); !p.Run())
        return Report(p, UsageStyle::WithUsage);
    HeadlessSession session(options);
    session.Run();
    CAnalysisView& view = session.View();
    const StatsTable table = view.BuildStatsTableNow();
    if (options.json) {
        std::cout << JsonText(StatsTableJson(view, session.Window().messages, table)) << "\n";
    } else {
        for (const std::string& m : session.Window().MessagesWithDetails())
            std::cerr << TerminalText(m) << "\n";
        if (view.ReplayCount() > 0) PrintText(table, std::cout);
    }
    return view.ReplayCount() > 0 ? 0 : 1;
}

}  // namespace lapquill::cli
