// A loaded track mesh (.smx): objects of coloured triangles plus the map's background colour,
// and the catalogue of installed meshes in data/smx/. The view owns one TrackMesh (released
// with ReleaseTrackMesh when the replay set is cleared) and one TrackCatalogue, built once.
// Positions are metres, Z up; colours are ARGB with alpha in the top byte.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "files/file_text.h"
#include "files/le_bytes.h"
#include "files/track_mesh_layout.h"
#include "math/math_types.h"

namespace lapquill {

struct TrackMeshHeader {
    std::array<std::uint8_t, kTrackMeshHeaderSize> bytes{};  // as read

    std::string_view TrackName() const { return FieldText(bytes.data(), smx::kTrackName); }
    // ARGB with alpha 255, from the red, green, blue bytes of the background.
    std::uint32_t BackgroundColour() const {
        const std::uint8_t* rgb = &bytes[smx::kBackgroundAt];
        return 0xFF000000u | (static_cast<std::uint32_t>(rgb[0]) << 16) |
               (static_cast<std::uint32_t>(rgb[1]) << 8) | rgb[2];
    }
    std::int32_t ObjectCount() const { return LoadLeI32(&bytes[smx::kObjectCountAt]); }
    bool IsListable() const {
        return bytes[smx::kListedKindAt] == smx::kListedKind && bytes[smx::kListedFlagAt] == smx::kListedFlag;
    }
};

struct MeshVertex {
    float x, y, z;       // m
    std::uint32_t colour;  // ARGB diffuse colour
};

struct MeshTriangle {
    std::uint16_t index[3];  // into the object's own vertices
};

struct MeshObject {
    Vector3 centre{};  // bounding sphere centre, m
    float radius = 0;  // bounding sphere radius, m
    std::int32_t vertexCount = 0;    // as read (a count below 1 means none)
    std::int32_t triangleCount = 0;  // as read (a count below 1 means none)
    std::vector<MeshVertex> vertices;
    std::vector<MeshTriangle> triangles;
};

struct TrackMesh {
    TrackMeshHeader header;
    std::vector<MeshObject> objects;
    std::int32_t trailerCount = 0;
    std::vector<std::uint32_t> trailer;  // carried, never interpreted
};

// True when the file starts with a valid 64-byte mesh header (magic, version 0).
bool ProbeTrackMeshHeader(const std::string& path, TrackMeshHeader* header);
bool LoadTrackMesh(const std::string& path, TrackMesh* mesh);
bool LoadTrackMeshFromMemory(std::span<const std::uint8_t> data, TrackMesh* mesh);
void ReleaseTrackMesh(TrackMesh* mesh);

struct TrackCatalogue {
    std::vector<TrackMeshHeader> entries;  // one per listed track, in listing order
    std::vector<std::string> paths;        // "data/smx/" + file name, one per entry
};

// Lists data/smx/*.smx (extension in any letter case) below the current directory, in
// case-insensitive name order; keeps valid listable headers, the first file per track name.
void BuildTrackCatalogue(TrackCatalogue* catalogue);
// Same, from another folder standing in for data/smx (paths still read "data/smx/" + name).
void BuildTrackCatalogueFrom(const std::string& folder, TrackCatalogue* catalogue);
// Same, with the paths read from that folder ("FOLDER/" + name).
void BuildTrackCatalogueAt(const std::string& folder, TrackCatalogue* catalogue);
// Index of the first entry whose track name equals the given one exactly, or none.
std::optional<int> FindCatalogueTrack(const TrackCatalogue& catalogue, std::string_view trackName);

}  // namespace lapquill
