// The demo data set (one flying lap per replay) written once per test binary into a temporary
// folder laid out as the program expects (data/smx, data/raf), and the paths of its laps.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "tools/demo_data.h"

namespace lapquill::test {

// Removed again when the test binary exits: ctest runs every test in a process of its own, so
// a folder left behind would be one more in /tmp for each test of each run.
class DemoFolderOwner {
public:
    DemoFolderOwner() {
        char pattern[] = "/tmp/lapquill-demo-XXXXXX";
        if (mkdtemp(pattern) == nullptr) {
            ADD_FAILURE() << "cannot make a temporary folder for the demo data";
            return;
        }
        path_ = pattern;
        std::vector<DemoWrittenFile> written;
        std::string error;
        if (!WriteDemoDataSet(BuildDemoDataSet(DemoOptions{}), path_.string(), &written, &error)) {
            ADD_FAILURE() << error;
        }
    }
    ~DemoFolderOwner() {
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }
    DemoFolderOwner(const DemoFolderOwner&) = delete;
    DemoFolderOwner& operator=(const DemoFolderOwner&) = delete;
    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
};

inline const std::filesystem::path& DemoFolder() {
    static const DemoFolderOwner folder;
    return folder.Path();
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
