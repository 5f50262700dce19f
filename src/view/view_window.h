// What the analysis view asks of the window it lives in: repaint requests, the client size,
// scroll bars, modal messages, the open-replays dialog, the finished frame and a drawing
// device. Three windows implement it: the Qt widget, the headless window of lapquill-cli and
// the recording fake of the tests. Sizes are pixels; all calls come from the window's thread.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "render/render_device.h"

namespace lapquill {

// The client area: left and top are 0, right and bottom are its width and height.
struct ClientRect {
    std::int32_t left = 0, top = 0, right = 0, bottom = 0;  // pixels
};

enum class ScrollBarId : std::int32_t { Horizontal = 0, Vertical = 1, Both = 3 };

inline constexpr std::uint32_t SIF_RANGE = 0x1;
inline constexpr std::uint32_t SIF_PAGE = 0x2;
inline constexpr std::uint32_t SIF_POS = 0x4;
inline constexpr std::uint32_t SIF_DISABLENOSCROLL = 0x8;
inline constexpr std::uint32_t SIF_TRACKPOS = 0x10;
inline constexpr std::uint32_t SIF_ALL = SIF_RANGE | SIF_PAGE | SIF_POS | SIF_TRACKPOS;

struct ScrollInfo {
    std::uint32_t cbSize = 28;
    std::uint32_t fMask = 0;  // SIF_* bits
    std::int32_t nMin = 0;
    std::int32_t nMax = 0;
    std::uint32_t nPage = 0;
    std::int32_t nPos = 0;
    std::int32_t nTrackPos = 0;
};

// What a window without real scroll bars keeps of one: the masked fields of `info` replace the
// bar's, the position is kept inside the range less the page, and the thumb stands at the
// position.
inline void ApplyScrollInfo(ScrollInfo* bar, const ScrollInfo& info) {
    if (info.fMask & SIF_RANGE) {
        bar->nMin = info.nMin;
        bar->nMax = info.nMax;
    }
    if (info.fMask & SIF_PAGE) bar->nPage = info.nPage;
    if (info.fMask & SIF_POS) bar->nPos = info.nPos;
    const std::int64_t page = bar->nPage > 0 ? static_cast<std::int64_t>(bar->nPage) - 1 : 0;
    const std::int64_t last = std::max<std::int64_t>(bar->nMin, bar->nMax - page);
    bar->nPos = static_cast<std::int32_t>(std::clamp<std::int64_t>(bar->nPos, bar->nMin, last));
    bar->nTrackPos = bar->nPos;
    bar->fMask = SIF_ALL;
}

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
