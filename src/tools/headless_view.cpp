#include "tools/headless_view.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>

#include "render/software_device.h"
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

bool ParseViewOptions(const Args& args, bool allowRender, ViewOptions* o, std::string* error) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string* v) {
            if (i + 1 >= args.size()) {
                *error = a + " needs a value";
                return false;
            }
            *v = args[++i];
            return true;
        };
        std::string v;
        if (a == "--json" && !allowRender) {
            o->json = true;
        } else if (a == "--key") {
            if (!value(&v)) return false;
            StateOption s{StateOption::Kind::Key};
            if (!ParseKeyName(v, &s.key)) return *error = "unknown key '" + v + "'", false;
            o->state.push_back(s);
        } else if (a == "--sync") {
            if (!value(&v)) return false;
            StateOption s{StateOption::Kind::Sync};
            if (v == "lap")
                s.sync = SyncMode::Lap;
            else if (v == "marker")
                s.sync = SyncMode::SegmentMarker;
            else if (v == "corner")
                s.sync = SyncMode::DetectedCorner;
            else
                return *error = "--sync takes lap, marker or corner", false;
            o->state.push_back(s);
        } else if (a == "--time") {
            if (!value(&v)) return false;
            StateOption s{StateOption::Kind::Time};
            if (!ParseInt(v, 0, kTimeBeyondEnd, &s.time))
                return *error = "bad --time '" + v + "'", false;
            o->state.push_back(s);
        } else if (a == "--frames") {
            if (!value(&v)) return false;
            StateOption s{StateOption::Kind::Frames};
            if (!ParseInt(v, 0, 100000000, &s.frames))
                return *error = "bad --frames '" + v + "'", false;
            o->state.push_back(s);
        } else if (a == "--fps") {
            if (!value(&v)) return false;
            char* end = nullptr;
            o->fps = std::strtod(v.c_str(), &end);
            if (v.empty() || *end != 0 || !(o->fps > 0) || o->fps > 1e6) {
                return *error = "bad --fps '" + v + "'", false;
            }
        } else if (a == "--units") {
            if (!value(&v)) return false;
            if (!ParseUnits(v, &o->units)) return *error = "bad --units '" + v + "'", false;
        } else if (allowRender && a == "--size") {
            if (!value(&v)) return false;
            const std::size_t x = v.find('x');
            if (x == std::string::npos || !ParseInt(v.substr(0, x), 1, 8192, &o->width) ||
                !ParseInt(v.substr(x + 1), 1, 8192, &o->height)) {
                return *error = "bad --size '" + v + "'", false;
            }
        } else if (a == "--whole-track") {
            o->state.push_back(StateOption{StateOption::Kind::WholeTrack});
        } else if (allowRender && a == "--colour") {
            if (!value(&v)) return false;
            const std::optional<RibbonColouring> c = ParseRibbonColouring(v);
            if (!c) return *error = "--colour takes lap, speed, pedals or delta", false;
            o->colouring = *c;
        } else if (allowRender && a == "--out") {
            if (!value(&o->out)) return false;
        } else if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
            *error = "unknown option '" + a + "'";
            return false;
        } else {
            o->files.push_back(a);
        }
    }
    if (o->files.empty()) {
        *error = "no replay files given";
        return false;
    }
    return true;
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
