// Where the track data of a replay is looked for. The catalogue of data/smx below the current
// folder comes first; when it has no mesh for the track, the data folder that holds the replay
// (the folder above a "raf" folder that sits beside an "smx" folder) and then the data folder
// the user set are tried, each through its smx folder. Segment files are looked for the same way.
#pragma once

#include <string>
#include <vector>

namespace lapquill {

struct TrackSearch {
    std::string userDataFolder;  // empty when the user set none
};

// The data folder of a replay at path "…/DATA/raf/NAME.raf" when DATA/smx is a folder; empty
// otherwise.
std::string ReplayDataFolder(const std::string& replayPath);

// The smx folders tried after data/smx, in order, without repeats and only those that exist.
// A user data folder counts both as a data folder (its smx below) and as an smx folder itself.
std::vector<std::string> FurtherSmxFolders(const std::string& replayPath, const TrackSearch& search);

// "Searched in: …" for a detail text: data/smx with the current folder, then the others.
std::string SearchedFoldersText(const std::vector<std::string>& further);

}  // namespace lapquill
