#include "tools/headless_view.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>

#include "render/software_device.h"
#include "tools/command_line.h"
#include "tools/png_writer.h"

namespace lapquill::cli {

void HeadlessWindow::Present(const PresentedFrame& frame) {
    if (!frame.pixels) return;
    lastFrameWidth = frame.width;
    lastFrameHeight = frame.height;
    lastFrame.resize(static_cast<std::size_t>(frame.width) *
                     static_cast<std::size_t>(frame.height));
    for (std::int32_t y = 0; y < frame.height; ++y) {
        const auto* row = reinterpret_cast<const std::uint8_t*>(frame.pixels) +
                          static_cast<std::ptrdiff_t>(y) * frame.pitch;
        std::memcpy(&lastFrame[static_cast<std::size_t>(y) * static_cast<std::size_t>(frame.width)],
                    row, static_cast<std::size_t>(frame.width) * 4);
    }
}

std::unique_ptr<RenderDevice> HeadlessWindow::CreateDevice(std::int32_t width,
                                                           std::int32_t height) {
    return std::make_unique<SoftwareDevice>(width, height);
}

bool ParseKeyName(const std::string& name, std::uint32_t* code) {
    static const std::map<std::string, std::uint32_t> kNames = {{"Home", VK_HOME},
                                                                {"End", VK_END},
                                                                {"Left", VK_LEFT},
                                                                {"Right", VK_RIGHT},
                                                                {"Up", VK_UP},
                                                                {"Down", VK_DOWN},
                                                                {"PageUp", VK_PRIOR},
                                                                {"PageDown", VK_NEXT},
                                                                {"A", 'A'},
                                                                {"D", 'D'},
                                                                {"S", 'S'},
                                                                {"F", 'F'},
                                                                {"Z", 'Z'},
                                                                {"X", 'X'},
                                                                {"Q", 'Q'},
                                                                {"T", 'T'},
                                                                {"1", '1'},
                                                                {"2", '2'},
                                                                {"3", '3'},
                                                                {"Comma", VK_OEM_COMMA},
                                                                {"Period", VK_OEM_PERIOD},
                                                                {"Backslash", VK_OEM_5}};
    if (const auto it = kNames.find(name); it != kNames.end()) {
        *code = it->second;
        return true;
    }
    if (name.size() > 2 && name[0] == '0' && (name[1] == 'x' || name[1] == 'X')) {
        char* end = nullptr;
        const unsigned long v = std::strtoul(name.c_str() + 2, &end, 16);
        if (*end == 0 && v <= 0xFFFFFFFFul) {
            *code = static_cast<std::uint32_t>(v);
            return true;
        }
    }
    return false;
}

bool ParseUnits(const std::string& text, DisplayUnits* units) {
    const std::size_t a = text.find(',');
    const std::size_t b = a == std::string::npos ? a : text.find(',', a + 1);
    if (b == std::string::npos) return false;
    const std::string d = text.substr(0, a), s = text.substr(a + 1, b - a - 1),
                      c = text.substr(b + 1);
    static const std::map<std::string, std::uint8_t> kDist = {{"m", 0}, {"km", 1}, {"mi", 2}};
    static const std::map<std::string, std::uint8_t> kSpeed = {{"kmh", 0}, {"mph", 1}};
    static const std::map<std::string, std::uint8_t> kAccel = {{"ms2", 0}, {"g", 1}};
    if (!kDist.count(d) || !kSpeed.count(s) || !kAccel.count(c)) return false;
    *units = {kDist.at(d), kSpeed.at(s), kAccel.at(c)};
    return true;
}

namespace {

bool ParseInt(const std::string& text, long long lo, long long hi, std::int32_t* out) {
    if (text.empty()) return false;
    char* end = nullptr;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (*end != 0 || v < lo || v > hi) return false;
    *out = static_cast<std::int32_t>(v);
    return true;
}

}  // namespace

void AddViewOptions(CommandParser* parser, bool allowRender, ViewOptions* o) {
    const auto bad = [](const std::string& option, const std::string& v) {
        return UsageProblem("bad " + option + " '" + v + "'");
    };
    if (!allowRender) parser->Flag("--json", "print one JSON object, the values in SI", [o] { o->json = true; });
    parser->Value("--units", "D,S,A", "display units: m|km|mi, kmh|mph, ms2|g (default m,kmh,ms2)",
                  [o, bad](const std::string& v) {
                      if (!ParseUnits(v, &o->units)) throw bad("--units", v);
                  });
    if (allowRender) {
        parser->Value("--size", "WxH", "the frame's size in pixels (default 1280x800)",
                      [o, bad](const std::string& v) {
                          const std::size_t x = v.find('x');
                          if (x == std::string::npos || !ParseInt(v.substr(0, x), 1, 8192, &o->width) ||
                              !ParseInt(v.substr(x + 1), 1, 8192, &o->height))
                              throw bad("--size", v);
                      });
        parser->Value("--colour", "lap|speed|pedals|delta", "colour the ribbons by lap (default), speed, pedals or delta",
                      [o](const std::string& v) {
                          const std::optional<RibbonColouring> c = ParseRibbonColouring(v);
                          if (!c) throw UsageProblem("--colour takes lap, speed, pedals or delta");
                          o->colouring = *c;
                      });
        parser->Value("--out", "FILE.png", "the PNG file to write", [o](const std::string& v) { o->out = v; });
    }
    // The STATE options, applied in the order given.
    parser->Value("--key", "NAME", "press the key NAME (the names are below)",
                  [o](const std::string& v) {
                      StateOption s{StateOption::Kind::Key};
                      if (!ParseKeyName(v, &s.key)) throw UsageProblem("unknown key '" + v + "'");
                      o->state.push_back(s);
                  });
    parser->Value("--sync", "lap|marker|corner", "synchronise the laps by lap, segment marker or detected corner",
                  [o](const std::string& v) {
                      StateOption s{StateOption::Kind::Sync};
                      if (v == "lap")
                          s.sync = SyncMode::Lap;
                      else if (v == "marker")
                          s.sync = SyncMode::SegmentMarker;
                      else if (v == "corner")
                          s.sync = SyncMode::DetectedCorner;
                      else
                          throw UsageProblem("--sync takes lap, marker or corner");
                      o->state.push_back(s);
                  });
    parser->Value("--time", "N", "set the playback time, in records (0.01 s)",
                  [o, bad](const std::string& v) {
                      StateOption s{StateOption::Kind::Time};
                      if (!ParseInt(v, 0, kTimeBeyondEnd, &s.time)) throw bad("--time", v);
                      o->state.push_back(s);
                  });
    parser->Value("--frames", "N", "run N frames on a simulated clock",
                  [o, bad](const std::string& v) {
                      StateOption s{StateOption::Kind::Frames};
                      if (!ParseInt(v, 0, 100000000, &s.frames)) throw bad("--frames", v);
                      o->state.push_back(s);
                  });
    parser->Value("--fps", "F", "frames per second of the simulated clock (default 100)",
                  [o, bad](const std::string& v) {
                      char* end = nullptr;
                      o->fps = std::strtod(v.c_str(), &end);
                      if (v.empty() || *end != 0 || !(o->fps > 0) || o->fps > 1e6) throw bad("--fps", v);
                  });
    parser->Flag("--whole-track", "frame the whole circuit from above",
                 [o] { o->state.push_back(StateOption{StateOption::Kind::WholeTrack}); });
    parser->Files("RAF", "the replays, opened in this order (at most six)", &o->files);
    parser->Footer(
        "The STATE options --key, --sync, --time, --frames and --whole-track apply in the order\n"
        "given, after the replays are opened. Key names: Home End Left Right Up Down PageUp\n"
        "PageDown A D S F Z X Q T 1 2 3 Comma Period Backslash, or a code such as 0x24.\n");
}

ParseOutcome ParseViewOptions(const Args& args, bool allowRender, ViewOptions* o) {
    CommandParser parser(allowRender ? "render" : "table",
                         allowRender ? "Write the frame the view draws, after the STATE options, as a PNG."
                                     : "Print the statistics table of the view after the STATE options.",
                         UnknownOption(""));
    AddViewOptions(&parser, allowRender, o);
    ParseOutcome outcome = parser.Parse(args);
    if (outcome.Run() && o->files.empty()) return {ParseOutcome::Kind::Usage, "no replay files given"};
    return outcome;
}

HeadlessSession::HeadlessSession(const ViewOptions& options)
    : options_(options), window_(options.width, options.height) {
    view_ = std::make_unique<CAnalysisView>(window_, [this] { return now_; });
    view_->SetDisplayUnits(options.units);
}

void HeadlessSession::Run() {
    CAnalysisView& v = *view_;
    v.OnSize(options_.width, options_.height);
    v.OnPaint();
    window_.chosenFiles = options_.files;
    v.OpenReplays(true);
    v.SetRibbonColouring(options_.colouring);
    for (const StateOption& s : options_.state) {
        switch (s.kind) {
            case StateOption::Kind::Key:
                v.HandleKeyAction(s.key);
                break;
            case StateOption::Kind::Sync:
                v.SetSyncMode(s.sync);
                break;
            case StateOption::Kind::Time:
                v.SetPlaybackTime(s.time);
                break;
            case StateOption::Kind::WholeTrack:
                v.FrameWholeTrack();
                break;
            case StateOption::Kind::Frames:
                for (std::int32_t f = 0; f < s.frames; ++f) {
                    // Each frame first moves the clock on, then ends with the playback step.
                    ++framesRun_;
                    now_ = static_cast<double>(framesRun_) / options_.fps;
                    v.AdvancePlayback();
                }
                break;
        }
    }
}

int RenderToPng(const ViewOptions& options, std::vector<std::string>* messages,
                std::string* error) {
    HeadlessSession session(options);
    session.Run();
    HeadlessWindow& window = session.Window();
    window.lastFrame.clear();
    session.View().OnPaint();
    *messages = window.MessagesWithDetails();
    messages->insert(messages->end(), window.notes.begin(), window.notes.end());
    if (window.lastFrame.empty()) {
        *error = "no frame was drawn";
        return 1;
    }
    const PresentedFrame frame{window.lastFrameWidth, window.lastFrameHeight,
                               window.lastFrameWidth * 4, window.lastFrame.data()};
    if (!WritePng(options.out, frame, error)) return 1;
    return session.View().ReplayCount() > 0 ? 0 : 1;
}

}  // namespace lapquill::cli
