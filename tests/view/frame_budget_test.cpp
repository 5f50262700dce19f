// A frame of the map ends in bounded time whatever the mesh holds: 100 000 copies of one
// triangle larger than the screen are drawn only up to the frame's budget, and the window is told
// once. The demo circuit, from every camera and zoom, stays far inside the budget.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "support/demo_folder.h"
#include "support/fake_window.h"
#include "support/replay_builder.h"
#include "view/analysis_view.h"

namespace lapquill {
namespace {

using test::FakeWindow;

// Runs `body` in a child process and gives it `seconds` to finish; returns the child's exit
// status, or -1 when it ran past the deadline (it is then killed). A frame that takes minutes
// thus fails the test instead of holding the whole run.
int ExitStatusWithin(int seconds, const std::function<int()>& body) {
    const pid_t child = fork();
    if (child == 0) _exit(body());
    if (child < 0) return -2;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    int status = 0;
    while (waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -3;
}

// The straight test track whose mesh is 100 000 copies of one triangle covering the whole map.
constexpr std::uint32_t kDenseColour = 0xFF2E6B3Cu;
TrackMesh DenseMesh() {
    TrackMesh mesh = test::StraightMesh("Harrow Vale");
    MeshObject& o = mesh.objects[0];
    o.vertices = {{-1e5f, -1e5f, 0, kDenseColour}, {3e5f, -1e5f, 0, kDenseColour},
                  {-1e5f, 3e5f, 0, kDenseColour}};
    o.triangles.assign(100000, MeshTriangle{{0, 1, 2}});
    o.triangleCount = 100000;
    return mesh;
}

// What the child found wrong, as its exit status.
enum Finding : int {
    kFine = 0,
    kNotLoaded = 10,
    kNoFrame,
    kNotCut,
    kOverBudget,
    kNotNotedOnce,
    kMeshNotShown,
    kPathsCut,
};

TEST(FrameBudget, AHundredThousandFullScreenTrianglesDrawWithinTheBudgetAndSaySoOnce) {
    test::TestWorld world;
    const std::vector<std::uint8_t> bytes = EncodeTrackMesh(DenseMesh());
    EXPECT_GT(bytes.size(), 600000u);  // the 800 KB file of the report
    WriteBytesToFile("data/smx/dense.smx", bytes);
    const std::string lap = world.AddLap("a", test::BuildLap({}));

    const int status = ExitStatusWithin(60, [&] {
        FakeWindow window;  // 1280 x 800
        double now = 0;
        CAnalysisView view(window, [&now] { return now; });
        view.OnSize(1280, 800);
        view.OnPaint();
        if (!view.AddReplay(lap)) return int{kNotLoaded};
        for (int frame = 0; frame < 3; ++frame) {
            now += 0.01;
            view.RenderFrame();
        }
        view.ZoomOut();
        view.RenderFrame();
        if (window.presents < 4) return int{kNoFrame};
        const auto& cost = view.LastMapCost();
        if (!cost.mesh.cut) return int{kNotCut};
        if (cost.mesh.spent > cost.mesh.limit) return int{kOverBudget};
        if (cost.paths.cut) return int{kPathsCut};
        if (window.statusNotes.size() != 1 ||
            window.statusNotes[0].find("too dense") == std::string::npos) {
            return int{kNotNotedOnce};
        }
        // What was drawn covers the map: zoomed out, the triangle fills the lower-left half of
        // the frame, less what the legend's panel in that corner covers.
        const auto dense = std::count(window.lastFrame.begin(), window.lastFrame.end(),
                                      kDenseColour | 0xFF000000u);
        if (dense < static_cast<long>(window.lastFrame.size() * 2 / 5)) return int{kMeshNotShown};
        return int{kFine};
    });
    EXPECT_EQ(status, kFine) << "-1: past the deadline; " << kNotLoaded
                             << " and up: see Finding";
}

TEST(FrameBudget, TheDemoCircuitFromEveryCameraIsDrawnWhole) {
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(test::DemoFolder());
    FakeWindow window;
    window.AnswerDialog(test::DemoLapPaths());
    double now = 0;
    double worstShare = 0;  // of the smaller layer limit
    {
        CAnalysisView view(window, [&now] { return now; });
        view.OnSize(1280, 800);
        view.OnPaint();
        view.OpenReplays(true);
        ASSERT_EQ(view.ReplayCount(), 6);
        view.HandleKeyAction(VK_END);
        const auto check = [&](const char* what) {
            now += 0.01;
            view.RenderFrame();
            const auto& cost = view.LastMapCost();
            EXPECT_FALSE(cost.mesh.cut) << what;
            EXPECT_FALSE(cost.paths.cut) << what;
            EXPECT_GT(cost.mesh.spent, 0) << what;
            worstShare = std::max({worstShare, cost.mesh.spent / cost.mesh.limit,
                                   cost.paths.spent / cost.paths.limit});
        };
        check("top-down");
        for (int i = 0; i < 4; ++i) view.ZoomIn();
        check("zoomed in");
        for (int i = 0; i < 12; ++i) view.ZoomOut();
        check("zoomed out");
        view.FrameWholeTrack();
        check("whole track");
        view.HandleKeyAction('T');
        check("chase");
        for (int i = 0; i < 6; ++i) view.ZoomIn();
        check("chase, close");
        view.HandleKeyAction(VK_HOME);
        view.HandleKeyAction('S');
        for (int i = 0; i < 40; ++i) {
            now += 0.5;
            check("chase, playing");
        }
        EXPECT_TRUE(window.statusNotes.empty());
    }
    std::filesystem::current_path(previous);
    // Real tracks stay well inside the budget, not just under it.
    EXPECT_LT(worstShare, 0.25);
    RecordProperty("worst_share_of_budget", std::to_string(worstShare));
}

}  // namespace
}  // namespace lapquill
