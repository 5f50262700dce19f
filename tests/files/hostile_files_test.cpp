// Paths that do not name a regular file: FIFOs and folders. Each is refused with its reason,
// and none makes a loader wait.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <thread>

#include "files/le_reader.h"
#include "files/replay_file.h"
#include "files/segment_file.h"
#include "files/track_mesh.h"
#include "support/sample_files.h"

namespace lapquill {
namespace {

// Runs load on its own thread. If it has not returned within the deadline it is stuck in
// open(): opening the FIFO's writing end releases it, so the test fails instead of hanging.
// Returns whether the load finished in time, and its result and failure step.
struct TimedLoad {
    bool inTime = false;
    bool loaded = false;
    std::string step;
};
TimedLoad LoadWithDeadline(const std::string& fifo, const std::function<bool()>& load) {
    std::promise<TimedLoad> done;
    std::future<TimedLoad> result = done.get_future();
    std::thread worker([&] {
        TimedLoad t;
        t.loaded = load();
        t.step = LastLoadFailure().step;  // the failure record is per thread
        done.set_value(t);
    });
    TimedLoad t;
    t.inTime = result.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    if (!t.inTime) {
        const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        result.wait();
        if (fd >= 0) ::close(fd);
    }
    worker.join();
    const TimedLoad finished = result.get();
    t.loaded = finished.loaded;
    t.step = finished.step;
    return t;
}

TEST(HostileFiles, FifosAndFoldersAreRefusedWithoutWaiting) {
    test::TempDir dir;
    const std::string fifo = dir.File("lap.raf");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ReplayFile replay;
    TrackSegmentFile segments;
    TrackMesh mesh;
    TrackMeshHeader header;
    const std::vector<std::pair<const char*, std::function<bool()>>> loaders = {
        {"replay", [&] { return LoadReplayFile(fifo, &replay); }},
        {"segments", [&] { return LoadTrackSegmentFile(fifo, &segments); }},
        {"mesh", [&] { return LoadTrackMesh(fifo, &mesh); }},
        {"mesh header", [&] { return ProbeTrackMeshHeader(fifo, &header); }},
    };
    for (const auto& [name, load] : loaders) {
        SCOPED_TRACE(name);
        const TimedLoad t = LoadWithDeadline(fifo, load);
        EXPECT_TRUE(t.inTime) << "the loader waited for a writer";
        EXPECT_FALSE(t.loaded);
        EXPECT_EQ(t.step, "not a regular file");
    }
    EXPECT_FALSE(LoadReplayFile(dir.path().string(), &replay));
    EXPECT_EQ(LastLoadFailure().step, "not a regular file");
    EXPECT_FALSE(LoadReplayFile(dir.File("missing.raf"), &replay));
    EXPECT_EQ(LastLoadFailure().step, "open");
}

}  // namespace
}  // namespace lapquill
