// The window types shared by the renderer and every layer above it: the client rectangle, the
// scroll-bar ids, masks, state and scroll codes, and the virtual-key codes of the keys the view
// handles. Plain values only, so that the camera, the view, the windows and the tools all read
// them without pulling in each other.
#pragma once

#include <algorithm>
#include <cstdint>

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

// Scroll codes of the horizontal and vertical scroll messages.
inline constexpr std::uint32_t SB_LINELEFT = 0, SB_LINEUP = 0;
inline constexpr std::uint32_t SB_LINERIGHT = 1, SB_LINEDOWN = 1;
inline constexpr std::uint32_t SB_PAGELEFT = 2, SB_PAGEUP = 2;
inline constexpr std::uint32_t SB_PAGERIGHT = 3, SB_PAGEDOWN = 3;
inline constexpr std::uint32_t SB_THUMBPOSITION = 4;
inline constexpr std::uint32_t SB_THUMBTRACK = 5;
inline constexpr std::uint32_t SB_LEFT = 6, SB_TOP = 6;
inline constexpr std::uint32_t SB_RIGHT = 7, SB_BOTTOM = 7;
inline constexpr std::uint32_t SB_ENDSCROLL = 8;

// The virtual-key codes the view handles; menu commands send the same codes.
inline constexpr std::uint32_t VK_PRIOR = 0x21;  // Page Up
inline constexpr std::uint32_t VK_NEXT = 0x22;   // Page Down
inline constexpr std::uint32_t VK_END = 0x23;
inline constexpr std::uint32_t VK_HOME = 0x24;
inline constexpr std::uint32_t VK_LEFT = 0x25;
inline constexpr std::uint32_t VK_UP = 0x26;
inline constexpr std::uint32_t VK_RIGHT = 0x27;
inline constexpr std::uint32_t VK_DOWN = 0x28;
inline constexpr std::uint32_t VK_OEM_COMMA = 0xBC;
inline constexpr std::uint32_t VK_OEM_PERIOD = 0xBE;
inline constexpr std::uint32_t VK_OEM_5 = 0xDC;  // the backslash key

}  // namespace lapquill
