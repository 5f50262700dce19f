// Why a load failed, as the program tells its users: one kind and one sentence per fault, for
// files on disk (missing, folders, pipes, unreadable) and for their content.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <limits>

#include "files/le_reader.h"
#include "files/replay_file.h"
#include "files/segment_file.h"
#include "support/sample_files.h"
#include "tools/data_writers.h"

namespace lapquill {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

class LoadFailureReasons : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("lapquill_reasons_" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string Put(const std::string& name, const Bytes& bytes) {
        const std::string path = (dir_ / name).string();
        WriteBytesToFile(path, bytes);
        return path;
    }
    LoadFailure LoadReplay(const std::string& path) {
        ReplayFile f;
        EXPECT_FALSE(LoadReplayFile(path, &f)) << path;
        return LastLoadFailure();
    }
    fs::path dir_;
};

TEST_F(LoadFailureReasons, FilesThatCannotBeOpened) {
    const LoadFailure missing = LoadReplay((dir_ / "none.raf").string());
    EXPECT_EQ(missing.kind, LoadFailureKind::Missing);
    EXPECT_EQ(missing.Reason(), "The file does not exist.");

    fs::create_directory(dir_ / "x.raf");
    const LoadFailure folder = LoadReplay((dir_ / "x.raf").string());
    EXPECT_EQ(folder.kind, LoadFailureKind::NotRegularFile);
    EXPECT_NE(folder.Reason().find("not a regular file"), std::string::npos);

    // A pipe without a writer: opening it would wait for one, so it is refused unopened.
    const std::string fifo = (dir_ / "pipe.raf").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(LoadReplay(fifo).kind, LoadFailureKind::NotRegularFile);

    const std::string locked = Put("locked.raf", EncodeReplayFile(test::SampleReplay()));
    fs::permissions(locked, fs::perms::none);
    if (::geteuid() != 0) {  // root reads it regardless
        const LoadFailure denied = LoadReplay(locked);
        EXPECT_EQ(denied.kind, LoadFailureKind::PermissionDenied);
        EXPECT_EQ(denied.Reason(), "Permission to read the file is denied.");
    }
}

TEST_F(LoadFailureReasons, ContentOfTheFile) {
    const Bytes good = EncodeReplayFile(test::SampleReplay(3, 2));

    const LoadFailure text = LoadReplay(Put("text.raf", Bytes{'h', 'e', 'l', 'l', 'o', '\n'}));
    EXPECT_EQ(text.kind, LoadFailureKind::WrongType);
    EXPECT_EQ(text.Reason(), "It is not a replay file: it does not start with the right marker.");

    Bytes v3 = good;
    v3[8] = 3;
    const LoadFailure version = LoadReplay(Put("v3.raf", v3));
    EXPECT_EQ(version.kind, LoadFailureKind::WrongVersion);
    EXPECT_EQ(version.Reason(), "It has the wrong version (version 3, this program reads version 2).");

    // Cut inside the header: the field and the byte where the data ran out.
    const LoadFailure cut = LoadReplay(Put("cut.raf", Bytes(good.begin(), good.begin() + 300)));
    EXPECT_EQ(cut.kind, LoadFailureKind::Truncated);
    EXPECT_EQ(cut.Reason(),
              "The file is cut short: it ends inside the header at byte 300 (the file has 300 bytes).");

    // Cut among the records: the record count no longer fits in what is left.
    const LoadFailure records = LoadReplay(Put("short.raf", Bytes(good.begin(), good.end() - 10)));
    EXPECT_EQ(records.kind, LoadFailureKind::CountTooLarge);
    EXPECT_NE(records.Reason().find("record count (3 records) needs more bytes than the file holds"),
              std::string::npos)
        << records.Reason();

    Bytes huge = good;
    SetHeaderI32(&huge[20], std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(LoadReplay(Put("huge.raf", huge)).kind, LoadFailureKind::CountTooLarge);

    // A success clears the record.
    ReplayFile f;
    ASSERT_TRUE(LoadReplayFile(Put("good.raf", good), &f));
    EXPECT_EQ(LastLoadFailure().kind, LoadFailureKind::None);
    EXPECT_EQ(LastLoadFailure().Reason(), "");
}

TEST_F(LoadFailureReasons, OtherLoadersNameTheirOwnKind) {
    TrackSegmentFile s;
    EXPECT_FALSE(LoadTrackSegmentFile(Put("r.tsf", EncodeReplayFile(test::SampleReplay())), &s));
    EXPECT_EQ(LastLoadFailure().Reason(),
              "It is not a segment file: it does not start with the right marker.");
}

}  // namespace
}  // namespace lapquill
