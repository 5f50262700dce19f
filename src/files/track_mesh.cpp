#include "files/track_mesh.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "files/le_reader.h"
#include "files/load_entry.h"
#include "files/replay_file.h"

namespace lapquill {

namespace {

bool ReadHeader(LeReader& r, TrackMeshHeader* header) {
    header->bytes.fill(0);
    return ReadMarkedHeader(r, header->bytes.data(), kTrackMeshHeaderSize, smx::kMagic, smx::kVersion,
                            "a track mesh");
}

// The least bytes the file must still hold: n items of a given size, plus more.
bool Holds(const LeReader& r, std::int64_t count, std::int64_t size, std::int64_t more = 0) {
    std::int64_t bytes = 0;
    return MulSizes(count, size, &bytes) && AddSizes(bytes, more, &bytes) && bytes <= r.Remaining();
}

bool ReadObject(LeReader& r, MeshObject* obj) {
    FieldReader io(r);
    if (!smx::ObjectSphere(io, obj->centre, obj->radius)) return Fail(r, "object sphere");
    if (!smx::ObjectCounts(io, obj->vertexCount, obj->triangleCount)) return Fail(r, "object counts");
    const std::int64_t vertices = std::max(obj->vertexCount, 0);
    const std::int64_t triangles = std::max(obj->triangleCount, 0);
    // Vertices, triangles and at least the trailer's count must still fit in the file.
    std::int64_t triangleBytes = 0;
    if (!MulSizes(triangles, smx::kTriangleSize, &triangleBytes) ||
        !AddSizes(triangleBytes, smx::kTrailerCountSize, &triangleBytes) ||
        !Holds(r, vertices, smx::kVertexSize, triangleBytes)) {
        return Fail(r, "object size", LoadFailureKind::CountTooLarge,
                    std::to_string(vertices) + " vertices, " + std::to_string(triangles) + " triangles");
    }
    obj->vertices.resize(static_cast<std::size_t>(vertices));
    obj->triangles.resize(static_cast<std::size_t>(triangles));
    for (auto& v : obj->vertices) {
        if (!smx::VertexRecord(io, v)) return Fail(r, "vertex");
    }
    for (auto& t : obj->triangles) {
        if (!smx::TriangleRecord(io, t)) return Fail(r, "triangle");
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
    if (!Holds(r, objectCount, smx::kObjectHeadSize, smx::kTrailerCountSize)) {
        return Fail(r, "object count", LoadFailureKind::CountTooLarge,
                    std::to_string(objectCount) + " objects");
    }
    mesh->objects.resize(static_cast<std::size_t>(objectCount));
    for (auto& obj : mesh->objects) {
        if (!ReadObject(r, &obj)) return false;
    }
    if (!r.ReadI32(&mesh->trailerCount)) return Fail(r, "trailer count");
    if (mesh->trailerCount < 0) return Fail(r, "trailer count", LoadFailureKind::Invalid);
    if (!Holds(r, mesh->trailerCount, smx::kTrailerValueSize)) {
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
    return LoadFrom(path, header, ReadHeader);
}

bool LoadTrackMesh(const std::string& path, TrackMesh* mesh) {
    return LoadFrom(path, mesh, LoadMesh);
}

bool LoadTrackMeshFromMemory(std::span<const std::uint8_t> data, TrackMesh* mesh) {
    return LoadFrom(data, mesh, LoadMesh);
}

void ReleaseTrackMesh(TrackMesh* mesh) {
    ReleaseStorage(mesh->objects, mesh->trailer);
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
