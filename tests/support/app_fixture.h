// The main window on a folder of sample data: the sample track's mesh (and, unless a test
// asks otherwise, its segments) under data/smx and a few laps under data/raf, the folder made
// the current directory for the test's life (the view finds tracks relative to it) and the
// settings store cleared, so no earlier run leaks into the window.
#pragma once

#include <gtest/gtest.h>

#include <QSettings>
#include <QString>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/app_settings.h"
#include "app/main_frame.h"
#include "app/view_widget.h"
#include "support/sample_files.h"
#include "view/analysis_view.h"

namespace lapquill::test {

class MainWindowFixture : public ::testing::Test {
protected:
    // A test fixture derived from this one sets these in its constructor.
    int lapCount_ = 7;         // laps written, lap i with 300 + i records
    bool withSegments_ = true;  // whether the track's segment file is there

    void SetUp() override {
        previous_ = std::filesystem::current_path();
        std::filesystem::create_directories(dir_.path() / "data/smx");
        std::filesystem::create_directories(dir_.path() / "data/raf");
        std::filesystem::current_path(dir_.path());
        ASSERT_TRUE(WriteBytesToFile("data/smx/vale.smx", EncodeTrackMesh(SampleMesh())));
        if (withSegments_) {
            ASSERT_TRUE(WriteBytesToFile("data/smx/Harrow Vale GP.tsf",
                                         EncodeTrackSegmentFile(SampleSegments())));
        }
        for (int i = 0; i < lapCount_; ++i) {
            ASSERT_TRUE(WriteBytesToFile(LapPath(i), EncodeReplayFile(SampleReplay(300 + i, 2))));
        }
        QSettings(QStringLiteral("Harrowmere"), QStringLiteral("Lapquill")).clear();
        frame_ = std::make_unique<CMainFrame>(&settings_);
        frame_->View().SetQuietMessages(true);
        frame_->resize(800, 600);
    }
    void TearDown() override {
        frame_.reset();
        std::filesystem::current_path(previous_);
    }

    std::string LapPath(int i) const {
        return (dir_.path() / ("data/raf/lap" + std::to_string(i) + ".raf")).string();
    }
    std::vector<std::string> Laps(int n) const {
        std::vector<std::string> v;
        for (int i = 0; i < n; ++i) v.push_back(LapPath(i));
        return v;
    }
    CAnalysisView& View() { return frame_->View().View(); }

    TempDir dir_;
    std::filesystem::path previous_;
    AppSettings settings_;
    std::unique_ptr<CMainFrame> frame_;
};

}  // namespace lapquill::test
