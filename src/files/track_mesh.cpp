#include "files/track_mesh.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "files/le_reader.h"
#include "files/replay_file.h"

namespace lapquill {

namespace {

bool ReadHeader(LeReader& r, TrackMeshHeader* header) {
    header->bytes.fill(0);
    if (!r.IsOpen()) return FailOpen(r);
    if (!r.ReadBytes(header->bytes.data(), 9)) return Fail(r, "magic");
    if (!MagicMatches(header->bytes.data(), "QZRSMX")) {
        return Fail(r, "magic", LoadFailureKind::WrongType, "a track mesh");
    }
    if (header->bytes[8] != 0) {
        return Fail(r, "version", LoadFailureKind::WrongVersion,
                    "version " + std::to_string(header->bytes[8]) + ", this program reads version 0");
    }
    if (!r.ReadBytes(header->bytes.data() + 9, kTrackMeshHeaderSize - 9)) return Fail(r, "header");
    return true;
}

constexpr std::int64_t kObjectMinSize = 24;  // sphere and counts
constexpr std::int64_t kVertexSize = 16;
constexpr std::int64_t kTriangleSize = 8;
constexpr std::int64_t kTrailerCountSize = 4;

bool ReadObject(LeReader& r, MeshObject* obj) {
    std::int32_t sphere[4];
    for (auto& v : sphere) {
        if (!r.ReadI32(&v)) return Fail(r, "object sphere");
    }
    obj->centre = {FixedToFloat(sphere[0]), FixedToFloat(sphere[1]), FixedToFloat(sphere[2])};
    obj->radius = FixedToFloat(sphere[3]);
    if (!r.ReadI32(&obj->vertexCount) || !r.ReadI32(&obj->triangleCount)) {
        return Fail(r, "object counts");
    }
    const std::int64_t vertices = std::max(obj->vertexCount, 0);
    const std::int64_t triangles = std::max(obj->triangleCount, 0);
    // Vertices, triangles and at least the trailer's count must still fit in the file.
    if (vertices * kVertexSize + triangles * kTriangleSize + kTrailerCountSize > r.Remaining()) {
        return Fail(r, "object size", LoadFailureKind::CountTooLarge,
                    std::to_string(vertices) + " vertices, " + std::to_string(triangles) + " triangles");
    }
    obj->vertices.resize(static_cast<std::size_t>(vertices));
    obj->triangles.resize(static_cast<std::size_t>(triangles));
    for (auto& v : obj->vertices) {
        std::int32_t x, y, z;
        if (!r.ReadI32(&x) || !r.ReadI32(&y) || !r.ReadI32(&z) || !r.ReadU32(&v.colour)) {
            return Fail(r, "vertex");
        }
        v.x = FixedToFloat(x);
        v.y = FixedToFloat(y);
        v.z = FixedToFloat(z);
    }
    for (auto& t : obj->triangles) {
        if (!r.ReadU16(&t.index[0]) || !r.ReadU16(&t.index[1]) || !r.ReadU16(&t.index[2]) ||
            !r.Skip(2)) {
            return Fail(r, "triangle");
        }
        // An index beyond the object's vertices would be read from outside it when drawn.
        for (std::uint16_t i : t.index) {
            if (i >= vertices) return Fail(r, "triangle index", LoadFailureKind::Invalid);
        }
    }
    return true;
}

bool LoadMesh(LeReader& r, TrackMesh* mesh) {
    ClearLoadFailure();
    ReleaseTrackMesh(mesh);
    if (!ReadHeader(r, &mesh->header)) return false;
    const std::int64_t objectCount = std::max(mesh->header.ObjectCount(), 0);
    if (objectCount * kObjectMinSize + kTrailerCountSize > r.Remaining()) {
        return Fail(r, "object count", LoadFailureKind::CountTooLarge,
                    std::to_string(objectCount) + " objects");
    }
    mesh->objects.resize(static_cast<std::size_t>(objectCount));
    for (auto& obj : mesh->objects) {
        if (!ReadObject(r, &obj)) return false;
    }
    if (!r.ReadI32(&mesh->trailerCount)) return Fail(r, "trailer count");
    if (mesh->trailerCount < 0) return Fail(r, "trailer count", LoadFailureKind::Invalid);
    if (static_cast<std::int64_t>(mesh->trailerCount) * 4 > r.Remaining()) {
        return Fail(r, "trailer", LoadFailureKind::CountTooLarge,
                    std::to_string(mesh->trailerCount) + " values");
    }
    mesh->trailer.resize(static_cast<std::size_t>(mesh->trailerCount));
    for (auto& v : mesh->trailer) {
        if (!r.ReadU32(&v)) return Fail(r, "trailer");
    }
    return true;
}

std::string Lowered(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

bool ProbeTrackMeshHeader(const std::string& path, TrackMeshHeader* header) {
    ClearLoadFailure();
    LeReader r(path);
    return ReadHeader(r, header);
}

bool LoadTrackMesh(const std::string& path, TrackMesh* mesh) {
    LeReader r(path);
    return LoadMesh(r, mesh);
}

bool LoadTrackMeshFromMemory(std::span<const std::uint8_t> data, TrackMesh* mesh) {
    LeReader r(data);
    return LoadMesh(r, mesh);
}

void ReleaseTrackMesh(TrackMesh* mesh) {
    mesh->objects.clear();
    mesh->objects.shrink_to_fit();
    mesh->trailer.clear();
    mesh->trailer.shrink_to_fit();
    mesh->trailerCount = 0;
}

namespace {
void BuildCatalogue(const std::string& folder, const std::string& pathPrefix,
                    TrackCatalogue* catalogue) {
    catalogue->entries.clear();
    catalogue->paths.clear();
    std::vector<std::string> names;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
         it.increment(ec)) {
        std::error_code typeEc;
        if (!it->is_regular_file(typeEc)) continue;
        const std::string name = it->path().filename().string();
        if (name.size() > 4 && Lowered(name.substr(name.size() - 4)) == ".smx") {
            names.push_back(name);
        }
    }
    // The order Windows lists a folder in: by name, ignoring letter case; ties broken by
    // the exact bytes so that the order never depends on the file system.
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        const std::string la = Lowered(a), lb = Lowered(b);
        return la != lb ? la < lb : a < b;
    });
    for (const auto& name : names) {
        TrackMeshHeader header;
        if (!ProbeTrackMeshHeader(folder + "/" + name, &header)) continue;
        if (!header.IsListable()) continue;
        if (FindCatalogueTrack(*catalogue, header.TrackName())) continue;  // first one wins
        catalogue->entries.push_back(header);
        catalogue->paths.push_back(pathPrefix + name);
    }
}
}  // namespace

void BuildTrackCatalogueFrom(const std::string& folder, TrackCatalogue* catalogue) {
    BuildCatalogue(folder, "data/smx/", catalogue);
}

void BuildTrackCatalogueAt(const std::string& folder, TrackCatalogue* catalogue) {
    BuildCatalogue(folder, folder + "/", catalogue);
}

void BuildTrackCatalogue(TrackCatalogue* catalogue) { BuildTrackCatalogueFrom("data/smx", catalogue); }

std::optional<int> FindCatalogueTrack(const TrackCatalogue& catalogue, std::string_view trackName) {
    for (std::size_t i = 0; i < catalogue.entries.size(); ++i) {
        if (catalogue.entries[i].TrackName() == trackName) return static_cast<int>(i);
    }
    return std::nullopt;
}

}  // namespace lapquill
