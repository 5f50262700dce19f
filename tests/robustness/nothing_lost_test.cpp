// However a file is damaged, rejecting it must leave everything the user had loaded exactly as
// it was: the replays, the markers, the segment selection and the playback time.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "support/fake_window.h"
#include "support/replay_builder.h"
#include "view/analysis_view.h"

namespace lapquill {
namespace {

// Everything a rejected file must not touch, compared byte for byte.
struct Snapshot {
    std::int32_t replayCount = 0;
    std::vector<std::vector<std::uint8_t>> replays;  // header and record bytes per slot
    std::vector<std::string> titles;
    std::vector<std::string> markerNames;
    std::vector<float> markerDistances;
    std::int32_t currentSegment = 0;
    std::int32_t playbackTime = 0;
    float customStart = 0, customEnd = 0;
    std::vector<std::vector<std::int32_t>> markerStarts, cornerStarts;
    bool operator==(const Snapshot&) const = default;
};

Snapshot Take(const CAnalysisView& view) {
    Snapshot s;
    const ReplaySet& set = view.Replays();
    s.replayCount = set.replayCount;
    for (std::int32_t i = 0; i < set.replayCount; ++i) {
        const ReplayFile& f = set.replays[i];
        std::vector<std::uint8_t> bytes(f.header.bytes.begin(), f.header.bytes.end());
        const auto* r = reinterpret_cast<const std::uint8_t*>(f.records.data());
        bytes.insert(bytes.end(), r, r + f.records.size() * sizeof(ReplayRecord));
        s.replays.push_back(std::move(bytes));
        s.titles.push_back(set.replayTitles[i]);
    }
    s.markerNames = set.segmentMarkerNames;
    s.markerDistances = set.segmentMarkerDistances;
    s.currentSegment = view.Segments().currentSegment;
    s.playbackTime = view.Playback().playbackTime;
    s.customStart = view.Segments().customStartDistance;
    s.customEnd = view.Segments().customEndDistance;
    s.markerStarts = view.Segments().markerStartIndices;
    s.cornerStarts = view.Segments().cornerStartIndices;
    return s;
}

class NothingLost : public ::testing::Test {
protected:
    void SetUp() override {
        world_.AddMarkedTrack(100.0f, 300.0f);
        test::LapPlan a;
        a.records = 1600;
        a.braking = {{500, 573}};
        good_.push_back(world_.AddLap("a", test::BuildLap(a)));
        a.step = 0.26f;
        good_.push_back(world_.AddLap("b", test::BuildLap(a)));
        a.step = 0.24f;
        goodBytes_ = EncodeReplayFile(test::BuildLap(a));
        good_.push_back(world_.AddLap("c", test::BuildLap(a)));
        view_ = std::make_unique<CAnalysisView>(window_, [] { return 0.0; });
    }

    void LoadBaseSet() {
        view_->ClearReplays();
        ASSERT_TRUE(view_->AddReplay(good_[0]));
        ASSERT_TRUE(view_->AddReplay(good_[1]));
        view_->HandleKeyAction(0x22);  // Page Down: another segment
        view_->SetPlaybackTime(120);
    }

    // A good lap with a random kind of damage.
    std::vector<std::uint8_t> Damage(std::mt19937& rng) {
        std::vector<std::uint8_t> bytes = goodBytes_;
        std::uniform_int_distribution<int> kind(0, 4);
        auto at = [&](std::size_t limit) { return std::uniform_int_distribution<std::size_t>(0, limit - 1)(rng); };
        switch (kind(rng)) {
            case 0: bytes.resize(at(bytes.size())); break;  // cut anywhere
            case 1:  // flip bytes in the header
                for (int i = 0; i < 4; ++i) bytes[at(512)] ^= static_cast<std::uint8_t>(1 + at(255));
                break;
            case 2: {  // a count or stride set to something large or negative
                static constexpr std::size_t kFields[] = {12, 14, 16, 20};
                const std::size_t f = kFields[at(4)];
                const std::int32_t v = std::uniform_int_distribution<std::int32_t>(INT32_MIN, INT32_MAX)(rng);
                if (f == 20) SetHeaderI32(&bytes[f], v); else SetHeaderI16(&bytes[f], static_cast<std::int16_t>(v));
                break;
            }
            case 3:  // another track or configuration
                bytes[96 + at(48)] ^= 0x20;
                break;
            default:  // block and sector counts
                bytes[169 + 2 * at(2)] = static_cast<std::uint8_t>(at(256));
                break;
        }
        return bytes;
    }

    test::TestWorld world_;
    test::FakeWindow window_;
    std::unique_ptr<CAnalysisView> view_;
    std::vector<std::string> good_;
    std::vector<std::uint8_t> goodBytes_;
};

TEST_F(NothingLost, RejectedFilesLeaveTheSetAsItWas) {
    std::mt19937 rng(20261208);
    int rejected = 0;
    LoadBaseSet();
    for (int i = 0; i < 400; ++i) {
        const std::string path = "data/raf/damaged.raf";
        ASSERT_TRUE(WriteBytesToFile(path, Damage(rng)));
        const Snapshot before = Take(*view_);
        const std::size_t messages = window_.messages.size();
        if (view_->AddReplay(path)) {
            LoadBaseSet();  // the damage left a valid lap: start again from the base set
            continue;
        }
        ++rejected;
        ASSERT_EQ(window_.messages.size(), messages + 1) << "file " << i;
        ASSERT_TRUE(Take(*view_) == before) << "file " << i << ": " << window_.messages.back();
    }
    EXPECT_GT(rejected, 200);  // the damage must mostly be fatal, or the test proves little
}

TEST_F(NothingLost, DamagedFilesAmongSeveralChangeNothingButTheGoodOnes) {
    std::mt19937 rng(7);
    for (int round = 0; round < 20; ++round) {
        std::vector<std::string> chosen;
        for (int k = 0; k < 3; ++k) {
            const std::string path = "data/raf/bad" + std::to_string(k) + ".raf";
            ASSERT_TRUE(WriteBytesToFile(path, Damage(rng)));
            chosen.push_back(path);
        }
        chosen.insert(chosen.begin() + 1, good_[2]);

        LoadBaseSet();
        window_.AnswerDialog(chosen);
        view_->OpenReplays(false);  // Add
        const Snapshot mixed = Take(*view_);

        LoadBaseSet();
        std::vector<std::string> accepted;
        for (const auto& p : chosen) {
            if (view_->ReplayCount() < kMaxReplays && view_->AddReplay(p)) accepted.push_back(p);
        }
        LoadBaseSet();
        window_.AnswerDialog(accepted);
        view_->OpenReplays(false);
        EXPECT_TRUE(Take(*view_) == mixed) << "round " << round;
    }
}

}  // namespace
}  // namespace lapquill
