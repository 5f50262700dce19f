// A ViewWindow for the tests: it records every call the view makes and answers the open
// dialog from a script (one answer per call, "cancel" when the script runs out). Its device
// factory makes NullDevices unless told to fail.
#pragma once

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/null_device.h"
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
    std::vector<ScrollCall> scrollInfos;
    std::vector<std::pair<ScrollBarId, bool>> shownBars;
    std::vector<OpenReplayDialog> dialogs;
    int presents = 0;
    int devicesCreated = 0;
    NullDevice* device = nullptr;  // the last device made (owned by the view)

    // What the window answers.
    ClientRect client{0, 0, 1280, 800};
    struct DialogAnswer {
        bool cancelled = false;
        std::vector<std::string> paths;
    };
    std::deque<DialogAnswer> dialogAnswers;
    bool deviceFails = false;

    void AnswerDialog(std::vector<std::string> paths) {
        dialogAnswers.push_back({false, std::move(paths)});
    }
    void CancelDialog() { dialogAnswers.push_back({true, {}}); }

    void InvalidateRect() override { ++invalidations; }
    ClientRect GetClientRect() const override { return client; }
    void SetScrollInfo(ScrollBarId bar, const ScrollInfo& info, bool redraw) override {
        scrollInfos.push_back({bar, info, redraw});
    }
    void ShowScrollBar(ScrollBarId bar, bool show) override { shownBars.emplace_back(bar, show); }
    void MessageBox(const std::string& text) override { messages.push_back(text); }
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
    void Present(const PresentedFrame&) override { ++presents; }
    std::unique_ptr<RenderDevice> CreateDevice(std::int32_t width, std::int32_t height) override {
        if (deviceFails) return nullptr;
        ++devicesCreated;
        auto made = std::make_unique<NullDevice>(width, height);
        device = made.get();
        return made;
    }
};

}  // namespace lapquill::test
