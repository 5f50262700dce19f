// A ViewWindow for the tests: it records every call the view makes, keeps its scroll bars' state
// as a window would, and answers the open dialog from a script (one answer per call, "cancel"
// when the script runs out). Its device factory makes SoftwareDevices unless told to fail.
#pragma once

#include <cstring>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "render/software_device.h"
#include "view/view_window.h"

namespace lapquill::test {

class FakeWindow final : public ViewWindow {
  public:
    struct ScrollCall {
        ScrollBarId bar;
        ScrollInfo info;
        bool redraw;
    };

    // What the view did, in order.
    int invalidations = 0;
    std::vector<std::string> messages;
    std::vector<std::string> details;  // one per message, empty when it had none
    std::vector<std::string> statusNotes;
    std::vector<ScrollCall> scrollInfos;
    std::vector<std::pair<ScrollBarId, bool>> shownBars;
    std::vector<OpenReplayDialog> dialogs;
    int presents = 0;
    int devicesCreated = 0;
    SoftwareDevice* device = nullptr;      // the last device made (owned by the view)
    std::vector<std::uint32_t> lastFrame;  // the last presented picture, row by row

    // What the window answers.
    ClientRect client{0, 0, 1280, 800};
    struct DialogAnswer {
        bool cancelled = false;
        std::vector<std::string> paths;
    };
    std::deque<DialogAnswer> dialogAnswers;
    bool deviceFails = false;
    SoftwareDeviceOptions deviceOptions{1};  // one rasterising thread keeps the tests light
    int dpi = 96;
    ScrollInfo bars[2];  // horizontal, vertical: the state SetScrollInfo left

    // The user drags a bar's thumb to `position` (the bar's nTrackPos while dragging).
    void DragThumb(ScrollBarId bar, std::int32_t position) {
        bars[bar == ScrollBarId::Vertical ? 1 : 0].nTrackPos = position;
    }

    void AnswerDialog(std::vector<std::string> paths) {
        dialogAnswers.push_back({false, std::move(paths)});
    }
    void CancelDialog() { dialogAnswers.push_back({true, {}}); }

    void InvalidateRect() override { ++invalidations; }
    ClientRect GetClientRect() const override { return client; }
    void SetScrollInfo(ScrollBarId bar, const ScrollInfo& info, bool redraw) override {
        scrollInfos.push_back({bar, info, redraw});
        if (bar != ScrollBarId::Vertical) ApplyScrollInfo(&bars[0], info);
        if (bar != ScrollBarId::Horizontal) ApplyScrollInfo(&bars[1], info);
    }
    ScrollInfo GetScrollInfo(ScrollBarId bar) const override {
        return bars[bar == ScrollBarId::Vertical ? 1 : 0];
    }
    int LogicalDpi() const override { return dpi; }
    void ShowScrollBar(ScrollBarId bar, bool show) override { shownBars.emplace_back(bar, show); }
    void MessageBox(const std::string& text) override { MessageBoxWithDetails(text, {}); }
    void MessageBoxWithDetails(const std::string& text, const std::string& detail) override {
        messages.push_back(text);
        details.push_back(detail);
    }
    void ShowStatusNote(const std::string& text) override { statusNotes.push_back(text); }
    std::optional<std::vector<std::string>> ChooseReplayFiles(
        const OpenReplayDialog& dialog) override {
        dialogs.push_back(dialog);
        if (dialogAnswers.empty() || dialogAnswers.front().cancelled) {
            if (!dialogAnswers.empty()) dialogAnswers.pop_front();
            return std::nullopt;
        }
        std::vector<std::string> paths = dialogAnswers.front().paths;
        dialogAnswers.pop_front();
        return paths;
    }
    void Present(const PresentedFrame& frame) override {
        ++presents;
        lastFrame.resize(static_cast<std::size_t>(frame.width) *
                         static_cast<std::size_t>(frame.height));
        for (std::int32_t y = 0; y < frame.height; ++y) {
            const auto* row = reinterpret_cast<const std::uint8_t*>(frame.pixels) +
                              static_cast<std::ptrdiff_t>(y) * frame.pitch;
            std::memcpy(&lastFrame[static_cast<std::size_t>(y) * frame.width], row,
                        static_cast<std::size_t>(frame.width) * 4);
        }
    }
    std::unique_ptr<RenderDevice> CreateDevice(std::int32_t width, std::int32_t height) override {
        if (deviceFails) return nullptr;
        ++devicesCreated;
        auto made = std::make_unique<SoftwareDevice>(width, height, deviceOptions);
        device = made.get();
        return made;
    }
};

}  // namespace lapquill::test
