// Fuzz target: the track mesh loader on arbitrary bytes.
#include <cstddef>
#include <cstdint>

#include "files/track_mesh.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    lapquill::TrackMesh mesh;
    if (lapquill::LoadTrackMeshFromMemory({data, size}, &mesh)) {
        // A loaded mesh can be drawn: every index names a vertex of its own object.
        for (const auto& o : mesh.objects) {
            for (const auto& t : o.triangles) {
                for (auto i : t.index) {
                    if (i >= o.vertices.size()) __builtin_trap();
                }
            }
        }
    }
    return 0;
}
