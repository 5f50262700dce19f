// Fuzz target: the replay file loader on arbitrary bytes.
#include <cstddef>
#include <cstdint>

#include "files/replay_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    lapquill::ReplayFile file;
    if (lapquill::LoadReplayFileFromMemory({data, size}, &file)) {
        // Touch what a successful load promises: every record's samples are there.
        for (std::int32_t i = 0; i < file.RecordCount(); ++i) {
            if (file.SamplesOf(i).size() != file.header.BlockCount()) __builtin_trap();
        }
        if (file.blocks.size() != file.header.BlockCount()) __builtin_trap();
    }
    return 0;
}
