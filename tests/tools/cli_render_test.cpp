// lapquill-cli render: the frame of the view after the STATE options, written as a PNG and read
// back through libpng.
#include <gtest/gtest.h>

#include <string>

#include "render/car_markers.h"
#include "render/ribbon_colours.h"
#include "support/replay_builder.h"
#include "tools/headless_view.h"
#include "tools/png_writer.h"

namespace lapquill::cli {
namespace {

constexpr std::uint32_t kBackground = 0xFF143C14u;  // the test mesh's 20, 60, 20

class RenderCommand : public ::testing::Test {
  protected:
    RenderCommand() {
        world.AddTrack("Harrow Vale", "harrow.smx");
        world.AddSegments("Harrow Vale", "GP", test::MarkersAt({{"Turn 1", 50.0f}}));
        lap = world.AddLap("a", test::BuildLap({}));
    }
    // As lapquill-cli render runs after parsing: the status, with usage errors as 2.
    int Render(const Args& args) {
        ViewOptions options;
        if (!ParseViewOptions(args, true, &options).Run() || options.out.empty()) return 2;
        std::string error;
        return RenderToPng(options, &messages, &error);
    }
    PngImage Read(const std::string& path) {
        PngImage image;
        std::string error;
        EXPECT_TRUE(ReadPng(path, &image, &error)) << error;
        return image;
    }

    test::TestWorld world;
    std::string lap;
    std::vector<std::string> messages;
};

TEST_F(RenderCommand, WritesTheFrameOfTheMapAndTheTable) {
    ASSERT_EQ(Render({"--size", "480x300", "--out", "top.png", lap}), 0);
    const PngImage top = Read("top.png");
    ASSERT_EQ(top.width, 480);
    ASSERT_EQ(top.height, 300);
    EXPECT_EQ(top.At(0, 299), kBackground);
    // The car sits at the start of the straight, under the centre of the picture: the grey
    // mesh runs from there to the right, 20 m (about 14 pixels) high; left of it is ground.
    EXPECT_EQ(top.At(260, 150), 0xFF808080u);
    EXPECT_EQ(top.At(220, 150), kBackground);
    // The table fills the top-right corner with text on the map.
    int ink = 0;
    for (int y = 0; y < 100; ++y) {
        for (int x = 300; x < 480; ++x) ink += top.At(x, y) != kBackground;
    }
    EXPECT_GT(ink, 500);

    // Half-way down the straight the blue ribbon has grown over the grey mesh left of the car;
    // with Q the table is gone.
    ASSERT_EQ(
        Render({"--time", "1000", "--key", "Q", "--size", "480x300", "--out", "mid.png", lap}), 0);
    const PngImage mid = Read("mid.png");
    const std::uint32_t ribbon = mid.At(200, 150);
    EXPECT_GT(ribbon & 0xFF, (ribbon >> 16) & 0xFF);  // blue over grey at half alpha
    for (int y = 0; y < 100; ++y) {
        for (int x = 300; x < 480; x += 7) ASSERT_EQ(mid.At(x, y), kBackground) << x << "," << y;
    }
}

TEST_F(RenderCommand, CarMarkerAtTheCarAndLegendInTheBottomLeftCorner) {
    // The top-down camera follows the car to the centre of the picture; it heads along +x.
    ASSERT_EQ(Render({"--time", "1000", "--key", "Q", "--colour", "pedals", "--size", "480x300",
                      "--out", "car.png", lap}),
              0);
    const PngImage car = Read("car.png");
    EXPECT_EQ(car.At(240, 150), 0xFF0000FFu);  // slot 0's blue, opaque
    // Past the arrow's nose, inside the outline grown around it: the dark edge.
    EXPECT_EQ(car.At(255, 150), kCarOutlineColour);
    // Behind the car the ribbon is in the pedal colours: the lap holds a steady 75 % throttle.
    EXPECT_EQ(car.At(200, 150) | 0xFF000000u,
              (car.At(200, 150) & 0xFF000000u) | PedalColour(0.75f, 0.0f) |
                  0xFF000000u);
    // The legend's three lines fill the bottom-left corner: green, grey and red ink.
    int green = 0, red = 0;
    for (int y = 230; y < 300; ++y) {
        for (int x = 0; x < 120; ++x) {
            const std::uint32_t c = car.At(x, y);
            const int r = static_cast<int>((c >> 16) & 0xFF), g = static_cast<int>((c >> 8) & 0xFF);
            green += g > 150 && r < 100;
            red += r > 150 && g < 100;
        }
    }
    EXPECT_GT(green, 10);
    EXPECT_GT(red, 10);
    // Coloured by lap, the corner names the lap instead, in blue.
    ASSERT_EQ(Render({"--time", "1000", "--key", "Q", "--size", "480x300", "--out", "lap.png",
                      lap}),
              0);
    const PngImage byLap = Read("lap.png");
    int blue = 0;
    for (int y = 230; y < 300; ++y) {
        for (int x = 0; x < 120; ++x) blue += (byLap.At(x, y) & 0xFF) > 0xC0u;
    }
    EXPECT_GT(blue, 8);
    EXPECT_EQ(Render({"--colour", "rainbow", "--out", "x.png", lap}), 2);
}

TEST_F(RenderCommand, UsageErrorsAndFilesThatDoNotLoad) {
    EXPECT_EQ(Render({lap}), 2);  // no --out
    EXPECT_EQ(Render({"--size", "0x10", "--out", "x.png", lap}), 2);
    EXPECT_EQ(Render({"--json", "--out", "x.png", lap}), 2);
    // Nothing loaded: the frame is still written, the status says it.
    EXPECT_EQ(Render({"--size", "40x30", "--out", "none.png", "data/raf/none.raf"}), 1);
    EXPECT_EQ(Read("none.png").At(0, 0), 0xFF000000u);
    // The message word for word, then why, indented.
    EXPECT_EQ(messages, std::vector<std::string>{
                            "Could not load replay \"data/raf/none.raf\"!\n  The file does not exist."});
    EXPECT_EQ(Render({"--out", "no/such/folder/x.png", lap}), 1);
}

}  // namespace
}  // namespace lapquill::cli
