// What a browser of the lap library works out from listed laps, kept apart from any toolkit so
// that every client and the tests share it: which laps are the best of their track, and which
// files to open when one lap is to lead the laps shown.
#pragma once

#include <string>
#include <vector>

#include "library/lap_library.h"

namespace lapquill {

// One flag per lap: true for the laps with the smallest lap time of their track and
// configuration (every one of them when several share it). Laps without a time are never best.
std::vector<bool> BestLapFlags(const std::vector<LapEntry>& laps);

// The files to open, in slot order, so that `first` becomes the reference lap: `first`, then
// the laps shown now that are other files, up to the six a set holds. When `first` is of
// another track or configuration than the shown laps, those could not join it: only `first`.
std::vector<std::string> LapsWithFirst(const std::string& first, const std::vector<std::string>& shown,
                                       bool sameTrack);

// The files of `paths` that are not among the laps shown now (as the same file under any
// name), in their order: adding a lap to the comparison twice shows nothing new.
std::vector<std::string> LapsNotShown(const std::vector<std::string>& paths, const std::vector<std::string>& shown);

}  // namespace lapquill
