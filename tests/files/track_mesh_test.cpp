#include "files/track_mesh.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "files/le_reader.h"
#include "support/compare.h"
#include "support/sample_files.h"

namespace lapquill {
namespace {

using Bytes = std::vector<std::uint8_t>;

bool Load(const Bytes& bytes, TrackMesh* mesh) { return LoadTrackMeshFromMemory(bytes, mesh); }

TEST(LoadTrackMesh, RoundTripsEveryField) {
    const TrackMesh original = test::SampleMesh();
    test::TempDir dir;
    ASSERT_TRUE(WriteBytesToFile(dir.File("vale.smx"), EncodeTrackMesh(original)));
    TrackMesh m;
    ASSERT_TRUE(LoadTrackMesh(dir.File("vale.smx"), &m)) << LastLoadFailure().step;
    EXPECT_EQ(m.header.TrackName(), "Harrow Vale");
    EXPECT_EQ(m.header.BackgroundColour(), 0xFF285A1Eu);
    EXPECT_EQ(m.header.ObjectCount(), 2);
    ASSERT_EQ(m.objects.size(), 2u);
    const MeshObject& a = m.objects[0];
    EXPECT_EQ(a.centre.x, 10.0f);
    EXPECT_EQ(a.centre.y, 20.0f);
    EXPECT_EQ(a.centre.z, 0.5f);
    EXPECT_EQ(a.radius, 15.25f);
    EXPECT_EQ(a.vertexCount, 3);
    EXPECT_EQ(a.triangleCount, 1);
    ASSERT_EQ(a.vertices.size(), 3u);
    EXPECT_EQ(a.vertices[1].x, 10.0f);
    EXPECT_EQ(a.vertices[2].z, 1.5f);
    EXPECT_EQ(a.vertices[2].colour, 0xFFFF0000u);
    ASSERT_EQ(a.triangles.size(), 1u);
    EXPECT_EQ(a.triangles[0].index[2], 2);
    EXPECT_TRUE(m.objects[1].vertices.empty());
    EXPECT_EQ(m.trailerCount, 2);
    EXPECT_EQ(m.trailer, (std::vector<std::uint32_t>{7, 0xDEADBEEFu}));
}

TEST(LoadTrackMesh, EmptyMeshLoads) {
    TrackMesh empty;
    empty.header = BuildTrackMeshHeader("Empty", 0, 0, 0);
    TrackMesh m;
    const Bytes bytes = EncodeTrackMesh(empty);
    EXPECT_EQ(bytes.size(), 68u);
    ASSERT_TRUE(Load(bytes, &m));
    EXPECT_TRUE(m.objects.empty());
    EXPECT_TRUE(m.trailer.empty());
}

TEST(LoadTrackMesh, FailsWhenCutAnywhere) {
    const Bytes full = EncodeTrackMesh(test::SampleMesh());
    TrackMesh m;
    for (std::size_t n = 0; n < full.size(); ++n) {
        ASSERT_FALSE(Load(Bytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n)), &m))
            << "cut at " << n;
    }
    Bytes longer = full;
    longer.push_back(0xAB);  // anything after the trailer is ignored
    EXPECT_TRUE(Load(longer, &m));
}

TEST(LoadTrackMesh, RejectsBadHeaders) {
    const Bytes good = EncodeTrackMesh(test::SampleMesh());
    TrackMesh m;
    Bytes b = good;
    b[6] = '!';
    EXPECT_FALSE(Load(b, &m));
    b = good;
    b[8] = 1;
    EXPECT_FALSE(Load(b, &m));
}

TEST(LoadTrackMesh, RejectsNegativeTrailerCount) {
    Bytes b = EncodeTrackMesh(test::SampleMesh());
    SetHeaderI32(&b[b.size() - 12], -1);
    TrackMesh m;
    EXPECT_FALSE(Load(b, &m));
    EXPECT_EQ(LastLoadFailure().step, "trailer count");
}

TEST(LoadTrackMesh, RejectsTriangleIndexBeyondItsObject) {
    TrackMesh mesh = test::SampleMesh();
    mesh.objects[0].triangles[0].index[1] = 3;  // the object has vertices 0..2
    TrackMesh m;
    EXPECT_FALSE(Load(EncodeTrackMesh(mesh), &m));
    EXPECT_EQ(LastLoadFailure().step, "triangle index");
}

TEST(LoadTrackMesh, HugeCountsFailBeforeAllocating) {
    const Bytes good = EncodeTrackMesh(test::SampleMesh());
    TrackMesh m;
    Bytes objects = good;
    SetHeaderI32(&objects[60], INT32_MAX);
    EXPECT_FALSE(Load(objects, &m));
    EXPECT_EQ(LastLoadFailure().step, "object count");
    Bytes vertices = good;
    SetHeaderI32(&vertices[64 + 16], INT32_MAX);
    EXPECT_FALSE(Load(vertices, &m));
    EXPECT_EQ(LastLoadFailure().step, "object size");
    Bytes trailer = good;
    SetHeaderI32(&trailer[trailer.size() - 12], INT32_MAX);
    EXPECT_FALSE(Load(trailer, &m));
    EXPECT_EQ(LastLoadFailure().step, "trailer");
}

TEST(LoadTrackMesh, NegativeObjectCountsMeanNone) {
    TrackMesh mesh;
    mesh.header = BuildTrackMeshHeader("Neg", 0, 0, 0);
    Bytes b = EncodeTrackMesh(mesh);
    SetHeaderI32(&b[60], -5);
    TrackMesh m;
    ASSERT_TRUE(Load(b, &m));
    EXPECT_TRUE(m.objects.empty());
}

class CatalogueTest : public ::testing::Test {
protected:
    void Write(const std::string& name, const TrackMesh& mesh) {
        ASSERT_TRUE(WriteBytesToFile(dir.File(name), EncodeTrackMesh(mesh)));
    }
    TrackCatalogue Build() {
        TrackCatalogue c;
        BuildTrackCatalogueFrom(dir.path().string(), &c);
        return c;
    }
    test::TempDir dir;
};

TEST_F(CatalogueTest, ListsInCaseInsensitiveNameOrderAnyExtensionCase) {
    Write("b.SMX", test::SampleMesh("Bravo"));
    Write("a.smx", test::SampleMesh("Alpha"));
    Write("C.Smx", test::SampleMesh("Charlie"));
    Write("d.txt", test::SampleMesh("Delta"));
    const TrackCatalogue c = Build();
    ASSERT_EQ(c.paths, (std::vector<std::string>{"data/smx/a.smx", "data/smx/b.SMX", "data/smx/C.Smx"}));
    EXPECT_EQ(c.entries[2].TrackName(), "Charlie");
    EXPECT_EQ(FindCatalogueTrack(c, "Bravo"), 1);
}

TEST_F(CatalogueTest, FirstFileOfATrackNameWins) {
    Write("one.smx", test::SampleMesh("Same"));
    Write("two.smx", test::SampleMesh("Same"));
    const TrackCatalogue c = Build();
    ASSERT_EQ(c.paths.size(), 1u);
    EXPECT_EQ(c.paths[0], "data/smx/one.smx");
}

TEST_F(CatalogueTest, LeavesOutUnlistableAndBrokenFiles) {
    TrackMesh byte9 = test::SampleMesh("Nine");
    byte9.header.bytes[9] = 2;
    TrackMesh byte11 = test::SampleMesh("Eleven");
    byte11.header.bytes[11] = 0;
    Write("nine.smx", byte9);
    Write("eleven.smx", byte11);
    ASSERT_TRUE(WriteBytesToFile(dir.File("short.smx"), {'Q', 'Z', 'R'}));
    std::filesystem::create_directory(dir.path() / "folder.smx");
    EXPECT_TRUE(Build().entries.empty());
    // LoadTrackMesh itself accepts the unlisted ones.
    TrackMesh m;
    EXPECT_TRUE(LoadTrackMesh(dir.File("nine.smx"), &m));
}

TEST_F(CatalogueTest, MissingFolderGivesEmptyCatalogue) {
    TrackCatalogue c;
    BuildTrackCatalogueFrom(dir.File("nowhere"), &c);
    EXPECT_TRUE(c.entries.empty());
}

TEST(FindCatalogueTrack, ComparesExactlyAndCaseSensitively) {
    TrackCatalogue c;
    c.entries.push_back(BuildTrackMeshHeader("Harrow Vale", 0, 0, 0));
    c.paths.push_back("data/smx/vale.smx");
    EXPECT_EQ(FindCatalogueTrack(c, "Harrow Vale"), 0);
    EXPECT_FALSE(FindCatalogueTrack(c, "harrow vale"));
    EXPECT_FALSE(FindCatalogueTrack(c, "Harrow Vale "));
    EXPECT_FALSE(FindCatalogueTrack(c, "Harrow"));
}

}  // namespace
}  // namespace lapquill
