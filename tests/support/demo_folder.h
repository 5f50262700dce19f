// The demo data set (one flying lap per replay) written once per test binary into a temporary
// folder laid out as the program expects (data/smx, data/raf), and the paths of its laps.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/demo_data.h"

namespace lapquill::test {

inline const std::filesystem::path& DemoFolder() {
    static const std::filesystem::path folder = [] {
        char pattern[] = "/tmp/lapquill-demo-XXXXXX";
        std::filesystem::path dir = mkdtemp(pattern);
        std::vector<DemoWrittenFile> written;
        std::string error;
        if (!WriteDemoDataSet(BuildDemoDataSet(DemoOptions{}), dir.string(), &written, &error)) {
            ADD_FAILURE() << error;
        }
        return dir;
    }();
    return folder;
}

// The demo laps as "data/raf/NAME.raf", relative to DemoFolder(), in name order.
inline std::vector<std::string> DemoLapPaths() {
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(DemoFolder() / "data" / "raf")) {
        files.push_back("data/raf/" + entry.path().filename().string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace lapquill::test
