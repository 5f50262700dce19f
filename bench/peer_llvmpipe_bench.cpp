// The terrain-and-ribbons scene at full HD drawn through SoftwareDevice and through Mesa's
// llvmpipe (OpenGL on the EGL surfaceless platform, into a framebuffer object) in the same run:
// the same triangles in the same calls of 200, the same colours, source-alpha blending, culling,
// viewport and camera. Each iteration draws one frame on each and times both. llvmpipe's time
// includes glReadPixels of the whole frame, since SoftwareDevice's frame is already in memory
// when Present returns. Both use two threads (LP_NUM_THREADS=2 unless already set). The counters
// give each time, the ratio SoftwareDevice / llvmpipe, and the share of pixels where the two
// pictures differ by more than 8 levels in some channel (a check that they drew the same scene).
#include <benchmark/benchmark.h>

#define EGL_EGLEXT_PROTOTYPES
#define GL_GLEXT_PROTOTYPES
#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <GL/glext.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "render/software_device.h"
#include "render/software_peer_scene.h"

namespace lapquill {
namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kThreads = 2;

// An OpenGL context on the surfaceless platform rendering into a kWidth x kHeight RGBA8
// framebuffer object. ok is false with the reason in error when any step fails.
struct GlContext {
    EGLDisplay display = EGL_NO_DISPLAY;
    EGLContext context = EGL_NO_CONTEXT;
    GLuint framebuffer = 0, colour = 0;
    bool ok = false;
    std::string error;

    GlContext() {
        setenv("EGL_PLATFORM", "surfaceless", 0);
        setenv("LP_NUM_THREADS", "2", 0);
        display = eglGetPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
        EGLint major = 0, minor = 0;
        if (display == EGL_NO_DISPLAY || !eglInitialize(display, &major, &minor)) {
            error = "no EGL surfaceless display";
            return;
        }
        if (!eglBindAPI(EGL_OPENGL_API)) {
            error = "EGL cannot bind desktop OpenGL";
            return;
        }
        const EGLint configAttributes[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_NONE};
        EGLConfig config = nullptr;
        EGLint configs = 0;
        if (!eglChooseConfig(display, configAttributes, &config, 1, &configs) || configs < 1) {
            config = nullptr;  // EGL_KHR_no_config_context
        }
        context = eglCreateContext(display, config, EGL_NO_CONTEXT, nullptr);
        if (context == EGL_NO_CONTEXT ||
            !eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context)) {
            error = "no OpenGL context without a surface";
            return;
        }
        glGenFramebuffers(1, &framebuffer);
        glGenRenderbuffers(1, &colour);
        glBindRenderbuffer(GL_RENDERBUFFER, colour);
        glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, kWidth, kHeight);
        glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colour);
        if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
            error = "framebuffer object incomplete";
            return;
        }
        ok = true;
    }
    ~GlContext() {
        if (display == EGL_NO_DISPLAY) return;
        if (context != EGL_NO_CONTEXT) {
            glDeleteRenderbuffers(1, &colour);
            glDeleteFramebuffers(1, &framebuffer);
            eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
            eglDestroyContext(display, context);
        }
        eglTerminate(display);
    }
    std::string Renderer() const { return reinterpret_cast<const char*>(glGetString(GL_RENDERER)); }
};

// The scene in OpenGL's fixed-function pipeline: one vertex buffer per mesh, drawn in the same
// calls as SoftwareDevice's, the world-view-projection matrix loaded as it is (Direct3D's row
// vectors read column-major are OpenGL's column vectors), colours as BGRA bytes.
struct GlScene {
    GLuint terrain = 0;
    std::vector<GLuint> ribbons;
    std::uint32_t terrainTriangles = 0, ribbonTriangles = 0;

    static GLuint Upload(const std::vector<MapVertex>& v) {
        GLuint buffer = 0;
        glGenBuffers(1, &buffer);
        glBindBuffer(GL_ARRAY_BUFFER, buffer);
        glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(v.size() * sizeof(MapVertex)),
                     v.data(), GL_STATIC_DRAW);
        return buffer;
    }
    GlScene(const std::vector<MapVertex>& terrainVertices,
            const std::vector<std::vector<MapVertex>>& ribbonVertices) {
        terrain = Upload(terrainVertices);
        terrainTriangles = static_cast<std::uint32_t>(terrainVertices.size() / 3);
        for (const auto& r : ribbonVertices) {
            ribbons.push_back(Upload(r));
            ribbonTriangles = static_cast<std::uint32_t>(r.size() / 3);
        }
        Matrix4 view, projection, viewProjection;
        peer::Camera(kWidth, kHeight, &view, &projection);
        D3DXMatrixMultiply(&viewProjection, &view, &projection);
        glViewport(0, 0, kWidth, kHeight);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glMatrixMode(GL_MODELVIEW);
        glLoadMatrixf(&viewProjection.m[0][0]);
        glDisable(GL_DEPTH_TEST);
        glDisable(GL_LIGHTING);
        glShadeModel(GL_SMOOTH);
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        glFrontFace(GL_CCW);
        glCullFace(GL_BACK);
        glEnableClientState(GL_VERTEX_ARRAY);
        glEnableClientState(GL_COLOR_ARRAY);
    }
    ~GlScene() {
        glDeleteBuffers(1, &terrain);
        glDeleteBuffers(static_cast<GLsizei>(ribbons.size()), ribbons.data());
    }
    static void DrawBatched(GLuint buffer, std::uint32_t triangles) {
        glBindBuffer(GL_ARRAY_BUFFER, buffer);
        glVertexPointer(3, GL_FLOAT, sizeof(MapVertex), nullptr);
        glColorPointer(GL_BGRA, GL_UNSIGNED_BYTE, sizeof(MapVertex),
                       reinterpret_cast<const void*>(3 * sizeof(float)));
        for (std::uint32_t first = 0; first < triangles; first += peer::kBatch) {
            const std::uint32_t count = std::min<std::uint32_t>(peer::kBatch, triangles - first);
            glDrawArrays(GL_TRIANGLES, static_cast<GLint>(3 * first),
                         static_cast<GLsizei>(3 * count));
        }
    }
    // One frame, read back into `pixels` as ARGB words, bottom row first.
    void Frame(std::vector<std::uint32_t>& pixels) const {
        const std::uint32_t c = peer::kClearColour;
        glClearColor(((c >> 16) & 0xFF) / 255.0f, ((c >> 8) & 0xFF) / 255.0f, (c & 0xFF) / 255.0f,
                     (c >> 24) / 255.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        glEnable(GL_CULL_FACE);
        DrawBatched(terrain, terrainTriangles);
        glDisable(GL_CULL_FACE);
        for (GLuint r : ribbons) DrawBatched(r, ribbonTriangles);
        glReadPixels(0, 0, kWidth, kHeight, GL_BGRA, GL_UNSIGNED_BYTE, pixels.data());
    }
};

// Pixels where some channel differs by more than 8, over all pixels; `gl` is bottom row first.
double DifferingShare(const std::uint32_t* software, const std::vector<std::uint32_t>& gl) {
    std::size_t differing = 0;
    for (int y = 0; y < kHeight; ++y) {
        const std::uint32_t* a = software + static_cast<std::size_t>(y) * kWidth;
        const std::uint32_t* b = gl.data() + static_cast<std::size_t>(kHeight - 1 - y) * kWidth;
        for (int x = 0; x < kWidth; ++x) {
            for (int shift = 0; shift < 32; shift += 8) {
                const int d = static_cast<int>((a[x] >> shift) & 0xFF) -
                              static_cast<int>((b[x] >> shift) & 0xFF);
                if (d > 8 || d < -8) {
                    ++differing;
                    break;
                }
            }
        }
    }
    return static_cast<double>(differing) / (static_cast<double>(kWidth) * kHeight);
}

void BM_PeerSceneSoftwareDeviceVersusLlvmpipe(benchmark::State& state) {
    GlContext gl;
    if (!gl.ok) {
        state.SkipWithError(("skipped: EGL/OpenGL absent or unusable (" + gl.error + ")").c_str());
        for (auto _ : state) {
        }
        return;
    }
    const std::vector<MapVertex> terrainVertices = peer::Terrain();
    std::vector<std::vector<MapVertex>> ribbonVertices;
    for (int i = 0; i < 6; ++i) ribbonVertices.push_back(peer::RibbonNumber(i));
    GlScene glScene(terrainVertices, ribbonVertices);

    SoftwareDeviceOptions options;
    options.threadCount = kThreads;
    SoftwareDevice device(kWidth, kHeight, options);
    VertexBuffer* terrain = peer::MakeBuffer(device, terrainVertices);
    std::vector<VertexBuffer*> ribbons;
    for (const auto& r : ribbonVertices) ribbons.push_back(peer::MakeBuffer(device, r));
    Matrix4 view, projection;
    peer::Camera(kWidth, kHeight, &view, &projection);
    device.SetTransform(D3DTS_VIEW, &view);
    device.SetTransform(D3DTS_PROJECTION, &projection);
    device.SetRenderState(D3DRS_LIGHTING, 0);
    device.SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
    device.SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device.SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);

    std::vector<std::uint32_t> glPixels(static_cast<std::size_t>(kWidth) * kHeight);
    glScene.Frame(glPixels);  // the first frame compiles llvmpipe's shaders: not timed
    using Clock = std::chrono::steady_clock;
    double softwareSeconds = 0, glSeconds = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        peer::DrawFrame(device, terrain, glScene.terrainTriangles, ribbons,
                        glScene.ribbonTriangles);
        const auto t1 = Clock::now();
        glScene.Frame(glPixels);
        const auto t2 = Clock::now();
        const double software = std::chrono::duration<double>(t1 - t0).count();
        softwareSeconds += software;
        glSeconds += std::chrono::duration<double>(t2 - t1).count();
        state.SetIterationTime(software);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["SoftwareDevice_ms"] = 1e3 * softwareSeconds / n;
    state.counters["llvmpipe_ms_with_readback"] = 1e3 * glSeconds / n;
    state.counters["ratio"] = softwareSeconds / glSeconds;
    state.counters["differing_pixels"] =
        DifferingShare(device.GetPresentedFrame().pixels, glPixels);
    state.SetLabel(gl.Renderer() + "; its time includes glReadPixels");
    device.SetStreamSource(0, nullptr, 0);
    terrain->Release();
    for (VertexBuffer* r : ribbons) r->Release();
}
BENCHMARK(BM_PeerSceneSoftwareDeviceVersusLlvmpipe)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();

}  // namespace
}  // namespace lapquill
