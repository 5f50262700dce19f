// The program's settings block and where it lives: the user's settings store (QSettings
// "Harrowmere"/"Lapquill"; on Windows that is the registry key Software\Harrowmere\Lapquill) and
// the read-only options file "<executable>.opt" in the current directory, which overrides the
// store on every start. CAnalyzerApp owns the one AppSettings; the dialogs and the view read it.
#pragma once

#include <cstdint>
#include <string>

#include "analysis/stats_text.h"

class QSettings;

namespace lapquill {

// Laid out as the options file stores it, byte for byte.
struct AppSettings {
    std::int32_t mouseWheelZooms = 1;  // 0: the wheel does nothing; else it zooms the map
    DisplayUnits units;                // distance, speed, acceleration unit bytes
    std::uint8_t spare = 0;            // carried along from the options file
};
static_assert(sizeof(DisplayUnits) == 3);
static_assert(sizeof(AppSettings) == 8);

// Reads the four values with their defaults; each unit keeps the low byte of what is stored.
void ReadSettings(QSettings& store, AppSettings* settings);
// Writes the four values; the units as their one byte, zero-extended.
void WriteSettings(QSettings& store, const AppSettings& settings);
// When the file exists and starts with the little-endian version 1, the next 8 bytes replace
// the block (a short read replaces what arrived). Returns true when the file was applied.
bool ApplyOptionsFile(const std::string& path, AppSettings* settings);
// "<executable base name>.opt", e.g. "lapquill.opt".
std::string OptionsFileName(const std::string& executablePath);

}  // namespace lapquill
