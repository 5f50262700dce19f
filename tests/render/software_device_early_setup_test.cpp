// With more than one thread, SoftwareDevice sets up the triangles of a frame while the frame is
// still being queued. None of that may show: random streams of clears, state changes, draws and
// buffer rewrites give, frame by frame, exactly the pixels one thread gives when it draws them
// all at Present, and a frame dropped half-queued leaves the device as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "math/math3d.h"
#include "render/software_device.h"
#include "render/vertex_types.h"
#include "support/frame_hash.h"
#include "support/triangle_soup.h"

namespace lapquill {
namespace {

constexpr int kWidth = 157, kHeight = 93;  // several units of bands, not a multiple of them

std::vector<MapVertex> Soup(int triangles, std::mt19937& random) {
    return test::TriangleSoup(triangles, random, 25.0f, 9);
}

enum class Op {
    Clear,        // a rectangle, or the whole picture when rect is empty
    State,        // one render state
    World,        // the world transform: a turn about z and a shift
    Draw,         // triangles [first, first + count) of buffer `buffer`
    Rewrite,      // new vertices for buffer `buffer`, by a discarding or a plain lock
    ScreenQuads,  // pre-transformed quads from the screen buffer
    Present,      // the frame ends; the next one begins
};

struct Step {
    Op op;
    std::uint32_t a = 0, b = 0, c = 0;  // per op: state and value; buffer, first, count; ...
    D3DRECT rect{};
    float angle = 0, shift = 0;
    unsigned seed = 0;
};

// The buffers a stream draws from: the last one is rewritten between draws.
constexpr std::uint32_t kBufferTriangles[] = {40, 2500, 7000, 300};
constexpr int kBuffers = 4;
constexpr std::uint32_t kScreenQuads = 64;

std::vector<Step> RandomStream(unsigned seed, int steps) {
    std::mt19937 random(seed);
    auto pick = [&random](std::uint32_t n) {
        return std::uniform_int_distribution<std::uint32_t>(0, n - 1)(random);
    };
    std::vector<Step> stream;
    for (int i = 0; i < steps; ++i) {
        Step s;
        const std::uint32_t kind = pick(20);
        if (kind < 2) {
            s.op = Op::Clear;
            s.a = static_cast<std::uint32_t>(random()) | 0xFF000000u;
            if (pick(2) == 0) {
                const auto x = static_cast<std::int32_t>(pick(kWidth));
                const auto y = static_cast<std::int32_t>(pick(kHeight));
                s.rect = D3DRECT{x - 20, y - 10, x + static_cast<std::int32_t>(pick(60)),
                                 y + static_cast<std::int32_t>(pick(40))};
            }
        } else if (kind < 6) {
            s.op = Op::State;
            static constexpr std::uint32_t kStates[][3] = {
                {D3DRS_CULLMODE, D3DCULL_NONE, D3DCULL_CW},
                {D3DRS_ALPHABLENDENABLE, 0, 1},
                {D3DRS_SHADEMODE, D3DSHADE_GOURAUD, D3DSHADE_FLAT},
                {D3DRS_ALPHATESTENABLE, 0, 1},
                {D3DRS_ALPHAREF, 0x40, 0xC0},
            };
            const std::uint32_t which = pick(5);
            s.a = kStates[which][0];
            s.b = kStates[which][1 + pick(2)];
        } else if (kind < 7) {
            s.op = Op::World;
            s.angle = static_cast<float>(pick(628)) / 100.0f;
            s.shift = static_cast<float>(pick(40)) - 20.0f;
        } else if (kind < 14) {
            s.op = Op::Draw;
            s.a = pick(kBuffers);
            s.b = pick(kBufferTriangles[s.a]);
            s.c = 1 + pick(kBufferTriangles[s.a] - s.b);
        } else if (kind < 16) {
            s.op = Op::Rewrite;
            s.a = kBuffers - 1;
            s.b = pick(2);  // 0: discarding lock, 1: plain lock
            s.seed = static_cast<unsigned>(random());
        } else if (kind < 18) {
            s.op = Op::ScreenQuads;
            s.b = pick(kScreenQuads);
            s.c = 1 + pick(kScreenQuads - s.b);
        } else {
            s.op = Op::Present;
        }
        stream.push_back(s);
    }
    stream.push_back(Step{Op::Present});
    return stream;
}

constexpr int kAll = 1 << 30;  // settle after every large draw

class Player {
  public:
    explicit Player(int threads) {
        SoftwareDeviceOptions options;
        options.threadCount = threads;
        device = std::make_unique<SoftwareDevice>(kWidth, kHeight, options);
        Matrix4 view, projection;
        const Vector3 eye{0, -40, 100}, at{0, 0, 0}, up{0, 0, 1};
        D3DXMatrixLookAtRH(&view, &eye, &at, &up);
        D3DXMatrixPerspectiveFovRH(&projection, 1.0f, static_cast<float>(kWidth) / kHeight, 1.0f,
                                   500);
        device->SetTransform(D3DTS_VIEW, &view);
        device->SetTransform(D3DTS_PROJECTION, &projection);
        device->SetRenderState(D3DRS_LIGHTING, 0);
        device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
        device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
        device->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATEREQUAL);
        std::mt19937 random(99);
        for (int b = 0; b < kBuffers; ++b) {
            Fill(b, Soup(static_cast<int>(kBufferTriangles[b]), random), 0);
        }
        std::vector<ScreenVertex> quads;
        for (std::uint32_t q = 0; q < kScreenQuads; ++q) {
            const float x = static_cast<float>(q % 8) * 19.0f + 0.5f;
            const float y = static_cast<float>(q / 8) * 11.0f + 0.25f;
            const std::uint32_t colour = 0x80000000u | (q * 2654435761u >> 8);
            const ScreenVertex a{x, y, 0, 1, colour}, b{x + 23, y, 0, 1, colour},
                c{x + 23, y + 14, 0, 1, colour}, d{x, y + 14, 0, 1, colour};
            quads.insert(quads.end(), {a, b, c, a, c, d});
        }
        const auto bytes = static_cast<std::uint32_t>(quads.size() * sizeof(ScreenVertex));
        EXPECT_EQ(device->CreateVertexBuffer(bytes, 0, kScreenVertexFvf, D3DPOOL_MANAGED, &screen_),
                  D3D_OK);
        std::uint8_t* data = nullptr;
        screen_->Lock(0, 0, &data, 0);
        std::memcpy(data, quads.data(), bytes);
        screen_->Unlock();
        device->BeginScene();
    }
    ~Player() {
        for (VertexBuffer* b : buffers_) {
            if (b != nullptr) b->Release();
        }
        if (screen_ != nullptr) screen_->Release();
    }
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;

    // Plays the stream and returns the hash of every presented frame. After each of the first
    // `settleDraws` large draws, waits until another thread has set up one more batch (for at
    // most a second), so that the early phase has work in flight while the stream goes on.
    std::vector<std::string> Play(const std::vector<Step>& stream, int settleDraws) {
        std::vector<std::string> frames;
        for (const Step& s : stream) {
            switch (s.op) {
                case Op::Clear:
                    if (s.rect.x2 > s.rect.x1) {
                        device->Clear(1, &s.rect, D3DCLEAR_TARGET, s.a, 1.0f, 0);
                    } else {
                        device->Clear(0, nullptr, D3DCLEAR_TARGET, s.a, 1.0f, 0);
                    }
                    break;
                case Op::State:
                    device->SetRenderState(static_cast<D3DRENDERSTATETYPE>(s.a), s.b);
                    break;
                case Op::World: {
                    Matrix4 world;
                    const Vector3 z{0, 0, 1};
                    D3DXMatrixRotationAxis(&world, &z, s.angle);
                    world.m[3][0] = s.shift;  // row vectors: the shift is the last row
                    world.m[3][1] = -s.shift;
                    device->SetTransform(D3DTS_WORLD, &world);
                    break;
                }
                case Op::Draw: {
                    device->SetVertexShader(kMapVertexFvf);
                    device->SetStreamSource(0, buffers_[s.a], sizeof(MapVertex));
                    EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLELIST, 3 * s.b, s.c), D3D_OK);
                    if (s.c > 2048 && settleDraws-- > 0) Settle();
                    break;
                }
                case Op::Rewrite: {
                    std::mt19937 random(s.seed);
                    Fill(static_cast<int>(s.a),
                         Soup(static_cast<int>(kBufferTriangles[s.a]), random),
                         s.b == 0 ? D3DLOCK_DISCARD : 0);
                    break;
                }
                case Op::ScreenQuads:
                    device->SetVertexShader(kScreenVertexFvf);
                    device->SetStreamSource(0, screen_, sizeof(ScreenVertex));
                    EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLELIST, 6 * s.b, 2 * s.c), D3D_OK);
                    break;
                case Op::Present: {
                    device->EndScene();
                    EXPECT_EQ(device->Present(), D3D_OK);
                    const PresentedFrame f = device->GetPresentedFrame();
                    frames.push_back(test::FrameHash(f.pixels, f.width, f.height));
                    device->BeginScene();
                    break;
                }
            }
        }
        return frames;
    }

    // Waits until the other threads have set up one more batch than before, for at most a
    // second: on a busy machine they may not get to it, which only makes the test weaker.
    void Settle() {
        const std::uint64_t before = device->EarlySetupBatches();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        while (device->EarlySetupBatches() == before && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    }

    std::unique_ptr<SoftwareDevice> device;

  private:
    void Fill(int b, const std::vector<MapVertex>& vertices, std::uint32_t flags) {
        const auto bytes = static_cast<std::uint32_t>(vertices.size() * sizeof(MapVertex));
        if (buffers_[b] == nullptr) {
            EXPECT_EQ(device->CreateVertexBuffer(bytes, 0, kMapVertexFvf, D3DPOOL_MANAGED,
                                                 &buffers_[b]),
                      D3D_OK);
        }
        std::uint8_t* data = nullptr;
        ASSERT_EQ(buffers_[b]->Lock(0, 0, &data, flags), D3D_OK);
        std::memcpy(data, vertices.data(), bytes);
        buffers_[b]->Unlock();
    }

    VertexBuffer* buffers_[kBuffers] = {};
    VertexBuffer* screen_ = nullptr;
};

TEST(SoftwareDeviceEarlySetup, RandomStreamsGiveTheFramesOfOneThread) {
    std::uint64_t early = 0;
    for (unsigned seed = 1; seed <= 12; ++seed) {
        const std::vector<Step> stream = RandomStream(seed, 90);
        const std::vector<std::string> one = Player(1).Play(stream, 0);
        ASSERT_GE(one.size(), 2u);
        EXPECT_NE(std::set<std::string>(one.begin(), one.end()).size(), 1u)
            << "seed " << seed << " draws nothing that shows";
        for (int threads : {2, 3}) {
            Player player(threads);
            EXPECT_EQ(player.Play(stream, kAll), one) << "seed " << seed << ", " << threads
                                                      << " threads";
            early += player.device->EarlySetupBatches();
        }
        EXPECT_EQ(Player(4).Play(stream, 0), one) << "seed " << seed << ", 4 threads";
    }
    // The streams must have exercised the early phase, or the comparison above proves nothing
    // about it.
    EXPECT_GT(early, 0u);
}

TEST(SoftwareDeviceEarlySetup, AFrameOfMoreThanTheListsHoldGrowsThemSafely) {
    // Far more draws, states and batches than the device keeps room for at first, with other
    // threads setting up the early batches while the lists must grow.
    std::vector<Step> stream;
    for (int i = 0; i < 3000; ++i) {
        stream.push_back(Step{Op::State, D3DRS_CULLMODE,
                              i % 2 == 0 ? std::uint32_t{D3DCULL_NONE} : std::uint32_t{D3DCULL_CW}});
        stream.push_back(Step{Op::Draw, 1, static_cast<std::uint32_t>(i % 400), 3});
        if (i % 300 == 0) stream.push_back(Step{Op::Draw, 2, 0, 7000});
        if (i % 500 == 0) stream.push_back(Step{Op::Clear, 0xFF102030u + static_cast<unsigned>(i)});
    }
    stream.push_back(Step{Op::Present});
    stream.push_back(Step{Op::Draw, 2, 0, 7000});
    stream.push_back(Step{Op::Present});
    const std::vector<std::string> one = Player(1).Play(stream, 0);
    for (int threads : {2, 4}) {
        Player player(threads);
        EXPECT_EQ(player.Play(stream, kAll), one) << threads << " threads";
    }
}

TEST(SoftwareDeviceEarlySetup, MoreTrianglesThanOneChunkDrawLikeOneThread) {
    // Over 2^18 triangles in one frame: the first chunk is set up early, the rest at Present.
    std::vector<Step> stream;
    for (int i = 0; i < 40; ++i) stream.push_back(Step{Op::Draw, 2, 0, 7000});
    stream.push_back(Step{Op::ScreenQuads, 0, 0, kScreenQuads});
    stream.push_back(Step{Op::Present});
    stream.push_back(Step{Op::Draw, 1, 0, 2500});
    stream.push_back(Step{Op::Present});
    const std::vector<std::string> one = Player(1).Play(stream, 0);
    Player player(2);
    EXPECT_EQ(player.Play(stream, 30), one);
}

TEST(SoftwareDeviceEarlySetup, AFrameDroppedWhileItIsSetUpLeavesTheNextOneIntact) {
    std::vector<Step> frame;
    frame.push_back(Step{Op::Clear, 0xFF335577u});
    for (int i = 0; i < 6; ++i) frame.push_back(Step{Op::Draw, 2, 0, 7000});
    frame.push_back(Step{Op::ScreenQuads, 0, 0, kScreenQuads});
    std::vector<Step> presented = frame;
    presented.push_back(Step{Op::Present});
    const std::vector<std::string> one = Player(1).Play(presented, 0);

    // Lost while the batches are being set up: Present fails, nothing is drawn, and the device
    // draws the next frame as if the dropped one had never been queued.
    Player lost(2);
    lost.Play(frame, kAll);
    lost.device->SimulateDeviceLost(true);
    lost.device->EndScene();
    EXPECT_EQ(lost.device->Present(), D3DERR_DEVICELOST);
    ASSERT_EQ(lost.device->Reset(kWidth, kHeight), D3D_OK);
    Matrix4 view, projection;
    const Vector3 eye{0, -40, 100}, at{0, 0, 0}, up{0, 0, 1};
    D3DXMatrixLookAtRH(&view, &eye, &at, &up);
    D3DXMatrixPerspectiveFovRH(&projection, 1.0f, static_cast<float>(kWidth) / kHeight, 1.0f, 500);
    lost.device->SetTransform(D3DTS_VIEW, &view);
    lost.device->SetTransform(D3DTS_PROJECTION, &projection);
    lost.device->SetRenderState(D3DRS_LIGHTING, 0);
    lost.device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    lost.device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    lost.device->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATEREQUAL);
    lost.device->BeginScene();
    EXPECT_EQ(lost.Play(presented, kAll), one);

    // Destroyed with a frame half set up: the threads stop without touching freed memory.
    for (int threads : {2, 3}) {
        Player dropped(threads);
        dropped.Play(frame, kAll);
    }
}

TEST(SoftwareDeviceEarlySetup, TrianglesCrowdedIntoTheLastRowsDrawLikeOneThread) {
    // Most of the frame in the bottom unit, which the threads then take first: thousands of
    // small blended triangles there, a few large ones over the rest.
    std::mt19937 random(5);
    std::uniform_real_distribution<float> x(-2.0f, kWidth + 2.0f), y(kHeight - 12.0f, kHeight);
    std::vector<ScreenVertex> vertices;
    for (int t = 0; t < 6000; ++t) {
        const float cx = x(random), cy = y(random);
        const auto colour = static_cast<std::uint32_t>(random()) | 0x40000000u;
        vertices.insert(vertices.end(), {ScreenVertex{cx, cy, 0, 1, colour},
                                         ScreenVertex{cx + 3.5f, cy + 0.5f, 0, 1, colour},
                                         ScreenVertex{cx + 1.0f, cy + 2.75f, 0, 1, colour}});
    }
    for (int t = 0; t < 8; ++t) {
        const auto colour = static_cast<std::uint32_t>(random()) | 0x80000000u;
        const float top = static_cast<float>(t) * 9.0f;
        vertices.insert(vertices.end(), {ScreenVertex{0, top, 0, 1, colour},
                                         ScreenVertex{kWidth, top + 5.0f, 0, 1, colour},
                                         ScreenVertex{10.0f, top + 60.0f, 0, 1, colour}});
    }
    auto picture = [&vertices](int threads) {
        SoftwareDeviceOptions options;
        options.threadCount = threads;
        SoftwareDevice d(kWidth, kHeight, options);
        VertexBuffer* buffer = nullptr;
        const auto bytes = static_cast<std::uint32_t>(vertices.size() * sizeof(ScreenVertex));
        EXPECT_EQ(d.CreateVertexBuffer(bytes, 0, kScreenVertexFvf, D3DPOOL_MANAGED, &buffer),
                  D3D_OK);
        std::uint8_t* data = nullptr;
        buffer->Lock(0, 0, &data, 0);
        std::memcpy(data, vertices.data(), bytes);
        buffer->Unlock();
        d.SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        d.SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
        d.SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
        d.SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
        d.Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF102030u, 1.0f, 0);
        d.BeginScene();
        d.SetVertexShader(kScreenVertexFvf);
        d.SetStreamSource(0, buffer, sizeof(ScreenVertex));
        const auto triangles = static_cast<std::uint32_t>(vertices.size() / 3);
        for (std::uint32_t first = 0; first < triangles; first += 700) {
            d.DrawPrimitive(D3DPT_TRIANGLELIST, 3 * first, std::min(700u, triangles - first));
        }
        d.EndScene();
        d.Present();
        d.SetStreamSource(0, nullptr, 0);
        buffer->Release();
        const PresentedFrame f = d.GetPresentedFrame();
        return test::FrameHash(f.pixels, f.width, f.height);
    };
    const std::string one = picture(1);
    for (int threads : {2, 3, 5}) EXPECT_EQ(picture(threads), one) << threads << " threads";
}

}  // namespace
}  // namespace lapquill
