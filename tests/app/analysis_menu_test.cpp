// The Analysis menu in the running window: its place after the first program's menus, the
// whole-track command from the menu and its key, and the path colouring it switches.
#include "app/analysis_menu.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QSettings>
#include <QTest>
#include <filesystem>

#include "app/app_settings.h"
#include "app/main_frame.h"
#include "app/view_widget.h"
#include "support/app_fixture.h"
#include "support/sample_files.h"
#include "view/analysis_view.h"

namespace lapquill {
namespace {

// One lap on the sample track, without its segment file, in a shown window.
class AnalysisMenuTest : public test::MainWindowFixture {
protected:
    AnalysisMenuTest() {
        lapCount_ = 1;
        withSegments_ = false;
    }
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(MainWindowFixture::SetUp());
        frame_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(frame_.get()));
        frame_->OpenFiles({LapPath(0)}, true);
        frame_->View().repaint();  // builds the map, so the track's box is known
    }
};

TEST_F(AnalysisMenuTest, WholeTrackFromTheMenuOrItsKeyHoldsUntilAZoom) {
    AnalysisMenu& menu = frame_->Analysis();
    EXPECT_EQ(frame_->menuBar()->actions().back()->menu(), menu.Menu());
    EXPECT_FALSE(menu.WholeTrack()->statusTip().isEmpty());
    ASSERT_EQ(View().ReplayCount(), 1);
    ASSERT_NE(View().TrackBounds(), nullptr);

    menu.WholeTrack()->trigger();
    EXPECT_TRUE(View().WholeTrackFramed());
    const float height = View().Camera().cameraHeight;
    // Playback moves the car, not the framed camera.
    View().SetPlaybackTime(150);
    View().ApplyPlaybackTime();
    EXPECT_TRUE(View().WholeTrackFramed());
    EXPECT_EQ(View().Camera().cameraHeight, height);
    // Z zooms in as it always did and ends the framing; W frames the circuit again.
    QTest::keyClick(&frame_->View(), Qt::Key_Z);
    EXPECT_FALSE(View().WholeTrackFramed());
    EXPECT_LT(View().Camera().cameraHeight, height);
    QTest::keyClick(&frame_->View(), Qt::Key_W);
    EXPECT_TRUE(View().WholeTrackFramed());
    EXPECT_EQ(View().Camera().cameraHeight, height);
}

TEST_F(AnalysisMenuTest, ColouringChoiceReachesTheViewAndMovesTheCheckMark) {
    AnalysisMenu& menu = frame_->Analysis();
    ASSERT_NE(menu.Colouring(2), nullptr);
    EXPECT_TRUE(menu.Colouring(0)->isChecked());
    const int resets = View().ResetDeviceCalls();
    menu.Colouring(1)->trigger();
    EXPECT_EQ(View().RibbonColouringNow(), RibbonColouring::BySpeed);
    EXPECT_GT(View().ResetDeviceCalls(), resets);  // the ribbons are rebuilt in the new colours
    EXPECT_TRUE(menu.Colouring(1)->isChecked());
    EXPECT_FALSE(menu.Colouring(0)->isChecked());
    menu.Colouring(2)->trigger();
    EXPECT_EQ(View().RibbonColouringNow(), RibbonColouring::ByPedals);
    EXPECT_EQ(View().RibbonLegendNow().back().text, "Brake");
}

}  // namespace
}  // namespace lapquill
