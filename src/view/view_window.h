// What the analysis view asks of the window it lives in: repaint requests, the client size,
// scroll bars, modal messages, the open-replays dialog, the finished frame and a drawing
// device. Three windows implement it: the Qt widget, the headless window of lapquill-cli and
// the recording fake of the tests. Sizes are pixels; all calls come from the window's thread.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "render/render_device.h"
#include "render/window_types.h"

namespace lapquill {

// How the open dialog is set up: one filter, several files, files must exist.
struct OpenReplayDialog {
    std::string filter = "QZR Replay files (*.raf)|*.raf||";
    std::string defaultExtension = "raf";
    std::string initialDirectory = "data/raf";  // relative to the current directory
    bool allowMultiple = true;
};

class ViewWindow {
  public:
    virtual ~ViewWindow() = default;

    // Asks for a repaint of the whole client area, without erasing it first.
    virtual void InvalidateRect() = 0;
    virtual ClientRect GetClientRect() const = 0;
    virtual void SetScrollInfo(ScrollBarId bar, const ScrollInfo& info, bool redraw) = 0;
    // The bar's own state as last set (range including the page, position) and, in
    // nTrackPos, where its thumb is now, also while it is being dragged. Horizontal or
    // Vertical only.
    virtual ScrollInfo GetScrollInfo(ScrollBarId bar) const = 0;
    virtual void ShowScrollBar(ScrollBarId bar, bool show) = 0;
    // A modal message box with an OK button and the caption "Lapquill"; returns when closed.
    virtual void MessageBox(const std::string& text) = 0;
    // The same box with a detail below the text (why a file failed, where it was looked
    // for); a window that cannot show one shows the text alone.
    virtual void MessageBoxWithDetails(const std::string& text, const std::string& details) {
        (void)details;
        MessageBox(text);
    }
    // A passing note for the status bar (not modal): something the user should know that needs
    // no answer. A window without a status bar may drop it.
    virtual void ShowStatusNote(const std::string& text) { (void)text; }
    // The open dialog: the chosen files' full paths in the dialog's order, or nothing when the
    // user cancels.
    virtual std::optional<std::vector<std::string>> ChooseReplayFiles(
        const OpenReplayDialog& dialog) = 0;
    // The finished frame, valid only during the call.
    virtual void Present(const PresentedFrame& frame) = 0;
    // Logical pixels per inch of the window's screen; the fonts are rasterised at this size.
    virtual int LogicalDpi() const { return 96; }
    // A device drawing into a back buffer of the given size; null when none can be made.
    virtual std::unique_ptr<RenderDevice> CreateDevice(std::int32_t width, std::int32_t height) {
        (void)width;
        (void)height;
        return nullptr;
    }
};

}  // namespace lapquill
