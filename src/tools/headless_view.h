// The headless side of lapquill-cli shared by `table` and `render`: a window without a screen
// (messages collected, the open dialog answered with the files of the command line, frames kept
// in memory), the STATE options and their parsing, and a session that builds the view the way
// the program does, opens the files and applies the options in order on a simulated clock.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tools/cli.h"
#include "view/analysis_view.h"

namespace lapquill::cli {

class HeadlessWindow final : public ViewWindow {
  public:
    HeadlessWindow(std::int32_t width, std::int32_t height) : width_(width), height_(height) {}

    std::vector<std::string> messages;     // every message box, in order
    std::vector<std::string> details;      // the detail of each, empty when it has none
    // Each message followed by its detail, indented, as the command line prints them.
    std::vector<std::string> MessagesWithDetails() const {
        std::vector<std::string> out;
        for (std::size_t m = 0; m < messages.size(); ++m) {
            std::string text = messages[m];
            if (m < details.size() && !details[m].empty()) {
                std::string detail = details[m];
                for (std::size_t at = 0; (at = detail.find('\n', at)) != std::string::npos; at += 3) {
                    detail.replace(at, 1, "\n  ");
                }
                text += "\n  " + detail;
            }
            out.push_back(std::move(text));
        }
        return out;
    }
    std::vector<std::string> notes;        // every status-bar note, in order
    void ShowStatusNote(const std::string& text) override { notes.push_back(text); }
    std::vector<std::string> chosenFiles;  // what the open dialog answers
    std::vector<std::uint32_t> lastFrame;  // the last presented picture, row by row
    std::int32_t lastFrameWidth = 0, lastFrameHeight = 0;
    int invalidations = 0;

    void InvalidateRect() override { ++invalidations; }
    ClientRect GetClientRect() const override { return {0, 0, width_, height_}; }
    void SetScrollInfo(ScrollBarId bar, const ScrollInfo& info, bool) override {
        if (bar != ScrollBarId::Vertical) ApplyScrollInfo(&bars_[0], info);
        if (bar != ScrollBarId::Horizontal) ApplyScrollInfo(&bars_[1], info);
    }
    ScrollInfo GetScrollInfo(ScrollBarId bar) const override {
        return bars_[bar == ScrollBarId::Vertical ? 1 : 0];
    }
    void ShowScrollBar(ScrollBarId, bool) override {}
    void MessageBox(const std::string& text) override { MessageBoxWithDetails(text, {}); }
    void MessageBoxWithDetails(const std::string& text, const std::string& detail) override {
        messages.push_back(text);
        details.push_back(detail);
    }
    std::optional<std::vector<std::string>> ChooseReplayFiles(const OpenReplayDialog&) override {
        if (chosenFiles.empty()) return std::nullopt;
        return chosenFiles;
    }
    void Present(const PresentedFrame& frame) override;
    std::unique_ptr<RenderDevice> CreateDevice(std::int32_t width, std::int32_t height) override;

  private:
    std::int32_t width_, height_;
    ScrollInfo bars_[2];  // horizontal, vertical
};

struct StateOption {
    enum class Kind { Key, Sync, Time, Frames, WholeTrack } kind;
    std::uint32_t key = 0;          // Key: a virtual-key code
    SyncMode sync = SyncMode::Lap;  // Sync
    std::int32_t time = 0;          // Time: records
    std::int32_t frames = 0;        // Frames
};

struct ViewOptions {
    std::vector<StateOption> state;  // in command-line order
    double fps = 100.0;              // frames per second of the simulated clock
    DisplayUnits units;
    bool json = false;
    std::int32_t width = 1280, height = 800;
    std::string out;  // render only
    RibbonColouring colouring = RibbonColouring::ByLap;  // render only: --colour
    std::vector<std::string> files;
};

// A key name of the command line (Home, PageUp, A, 1, Comma, Backslash ...) or a code such as
// 0x24; false when it is neither.
bool ParseKeyName(const std::string& name, std::uint32_t* code);
// --units DIST,SPEED,ACCEL with m|km|mi, kmh|mph, ms2|g.
bool ParseUnits(const std::string& text, DisplayUnits* units);
class CommandParser;
// Adds the options of table (and, with allowRender, those of render) to a parser: the STATE
// options append to options->state in command-line order.
void AddViewOptions(CommandParser* parser, bool allowRender, ViewOptions* options);
// The options of table (allowRender false) or render, with at least one file. The outcome
// says whether to run, print the help or report a usage error.
ParseOutcome ParseViewOptions(const Args& args, bool allowRender, ViewOptions* options);

// The view as the program builds it: sized and painted once, then the files opened, then the
// STATE options applied. The simulated clock reads 0 until the first frame.
class HeadlessSession {
  public:
    explicit HeadlessSession(const ViewOptions& options);
    void Run();
    CAnalysisView& View() { return *view_; }
    HeadlessWindow& Window() { return window_; }
    double Now() const { return now_; }

  private:
    const ViewOptions& options_;
    HeadlessWindow window_;
    double now_ = 0;
    std::int64_t framesRun_ = 0;
    std::unique_ptr<CAnalysisView> view_;
};

// lapquill-cli render after its options are parsed: runs the session, paints one more frame (the
// picture RenderFrame draws after all STATE options; its playback step runs after it) and
// writes it to options.out as a PNG. `messages` receives every message box of the run, then
// every status note. Returns
// 0 when the file is written with a replay loaded, 1 when none is loaded (the frame is written
// all the same) or the file cannot be written (`error` says why).
int RenderToPng(const ViewOptions& options, std::vector<std::string>* messages, std::string* error);

}  // namespace lapquill::cli
