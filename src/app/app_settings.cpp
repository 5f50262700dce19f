#include "app/app_settings.h"

#include <QSettings>
#include <QVariant>
#include <cstdio>

#include "files/le_bytes.h"
#include "files/le_reader.h"

namespace lapquill {

namespace {
constexpr const char* kWheel = "Mousewheel zooms";
constexpr const char* kDistance = "Distance";
constexpr const char* kSpeed = "Speed";
constexpr const char* kAcceleration = "Acceleration";

std::int32_t ReadInt(QSettings& store, const char* name, std::int32_t fallback) {
    bool ok = false;
    const std::int32_t v = store.value(name, fallback).toInt(&ok);
    return ok ? v : fallback;
}
}  // namespace

void ReadSettings(QSettings& store, AppSettings* s) {
    s->mouseWheelZooms = ReadInt(store, kWheel, 1);
    s->units.distanceUnit = static_cast<std::uint8_t>(ReadInt(store, kDistance, 0) & 0xFF);
    s->units.speedUnit = static_cast<std::uint8_t>(ReadInt(store, kSpeed, 0) & 0xFF);
    s->units.accelerationUnit = static_cast<std::uint8_t>(ReadInt(store, kAcceleration, 0) & 0xFF);
}

void WriteSettings(QSettings& store, const AppSettings& s) {
    store.setValue(kWheel, s.mouseWheelZooms);
    store.setValue(kDistance, static_cast<int>(s.units.distanceUnit));
    store.setValue(kSpeed, static_cast<int>(s.units.speedUnit));
    store.setValue(kAcceleration, static_cast<int>(s.units.accelerationUnit));
    store.sync();
}

bool ApplyOptionsFile(const std::string& path, AppSettings* settings) {
    LeReader r(path);
    std::int32_t version = 0;
    if (!r.IsOpen() || !r.ReadI32(&version) || version != 1) return false;
    // The block as the file lays it out (little-endian), so that a short read keeps the
    // bytes it did not reach.
    std::uint8_t block[8] = {0, 0, 0, 0, settings->units.distanceUnit, settings->units.speedUnit,
                             settings->units.accelerationUnit, settings->spare};
    StoreLeI32(block, settings->mouseWheelZooms);
    r.ReadAvailable(block, sizeof block);
    settings->mouseWheelZooms = LoadLeI32(block);
    settings->units = {block[4], block[5], block[6]};
    settings->spare = block[7];
    return true;
}

std::string OptionsFileName(const std::string& executablePath) {
    const auto slash = executablePath.find_last_of("/\\");
    const std::string base = slash == std::string::npos ? executablePath : executablePath.substr(slash + 1);
    return base + ".opt";
}

}  // namespace lapquill
