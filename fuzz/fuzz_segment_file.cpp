// Fuzz target: the track segment file loader on arbitrary bytes.
#include <cstddef>
#include <cstdint>

#include "files/segment_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    lapquill::TrackSegmentFile file;
    if (lapquill::LoadTrackSegmentFileFromMemory({data, size}, &file)) {
        if (file.records.size() != file.MarkerCount()) __builtin_trap();
        for (const auto& r : file.records) {
            if (r.Name().size() > sizeof r.name) __builtin_trap();
        }
    }
    return 0;
}
