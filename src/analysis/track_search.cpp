#include "analysis/track_search.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace lapquill {

namespace fs = std::filesystem;

namespace {
bool IsFolder(const fs::path& p) {
    std::error_code ec;
    return fs::is_directory(p, ec);
}

// The same folder written two ways (relative, with "..") is tried once.
std::string Canonical(const fs::path& p) {
    std::error_code ec;
    const fs::path c = fs::weakly_canonical(p, ec);
    return ec ? p.lexically_normal().string() : c.string();
}
}  // namespace

std::string ReplayDataFolder(const std::string& replayPath) {
    const fs::path folder = fs::path(replayPath).parent_path();
    if (folder.filename() != "raf") return {};
    const fs::path data = folder.parent_path();
    if (!IsFolder(data.empty() ? fs::path("smx") : data / "smx")) return {};
    return data.empty() ? std::string(".") : data.string();
}

std::vector<std::string> FurtherSmxFolders(const std::string& replayPath, const TrackSearch& search) {
    std::vector<std::string> folders;
    std::vector<std::string> seen{Canonical("data/smx")};
    const auto add = [&](const fs::path& p) {
        if (!IsFolder(p)) return;
        const std::string c = Canonical(p);
        if (std::find(seen.begin(), seen.end(), c) != seen.end()) return;
        seen.push_back(c);
        folders.push_back(p.string());
    };
    const std::string replayData = ReplayDataFolder(replayPath);
    if (!replayData.empty()) add(fs::path(replayData) / "smx");
    if (!search.userDataFolder.empty()) {
        add(fs::path(search.userDataFolder) / "smx");
        add(fs::path(search.userDataFolder));
    }
    return folders;
}

std::string SearchedFoldersText(const std::vector<std::string>& further) {
    std::error_code ec;
    const fs::path cwd = fs::current_path(ec);
    std::string text = "Searched in:\n  data/smx";
    if (!ec) text += " (in " + cwd.string() + ")";
    for (const std::string& f : further) text += "\n  " + f;
    if (further.empty()) {
        text += "\nNo other data folder was found: none beside the replay's raf folder, and none "
                "set with File > Set Data Folder.";
    }
    return text;
}

}  // namespace lapquill
