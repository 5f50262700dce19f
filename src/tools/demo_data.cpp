#include "tools/demo_data.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <numbers>
#include <system_error>

#include "tools/data_writers.h"

namespace lapquill {

namespace {

struct DriverDef {
    const char* name;  // with colour codes
    int car;
};

constexpr DriverDef kDrivers[6] = {
    {"^1Ma^7rta", 0},  {"^4Jonas^7.K", 1}, {"^2Ines ^7Vidal", 2},
    {"^3Tobi^7as", 0}, {"^5Ravi^7S", 1},   {"^6Le^7na", 2},
};

// The name as displays show it, reduced to letters and digits for a file name.
std::string PlainName(const std::string& name) {
    std::string out;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '^' && i + 1 < name.size()) {
            ++i;
            continue;
        }
        if (std::isalnum(static_cast<unsigned char>(name[i]))) out += name[i];
    }
    return out;
}

}  // namespace

std::vector<DemoDriver> DemoDrivers(std::uint64_t seed, const DemoTrack& track) {
    DemoRandom rng(seed * 0x2545F4914F6CDD1Dull + 17);
    std::vector<DemoDriver> drivers;
    for (const DriverDef& def : kDrivers) {
        DemoDriver d;
        d.name = def.name;
        d.fileName = PlainName(def.name);
        d.car = def.car;
        d.gripUse = rng.Uniform(0.93, 0.98);
        d.brakeUse = rng.Uniform(0.84, 0.97);
        d.lineWidth = rng.Uniform(0.70, 1.0);
        d.apexShift = rng.Uniform(-5, 8);
        for (std::size_t c = 0; c < track.corners.size(); ++c) {
            d.cornerPace.push_back(rng.Uniform(0.95, 1.06));
        }
        d.mistakeCorner = rng.Below(static_cast<int>(track.corners.size()));
        d.mistakeSeverity = rng.Uniform(0.5, 1.0);
        d.noiseSeed = static_cast<std::uint32_t>(rng.Next());
        drivers.push_back(d);
    }
    return drivers;
}

TrackSegmentFile BuildDemoSegments(const DemoTrack& track, const DemoCar& car) {
    DemoDriver reference;
    reference.name = "reference";
    const ReplayFile lap = SimulateDemoLap(track, car, reference, DemoLapOptions{});
    const auto& r = lap.records;
    TrackSegmentFile file;
    double previousEnd = 0;
    for (const DemoComplex& complex : track.complexes) {
        const DemoCorner& first = track.corners[complex.corners.front()];
        // Walk back from the apex while the car was slowing: there the braking began.
        std::size_t k = 0;
        while (k + 1 < r.size() && r[k].distance < first.apex) ++k;
        while (k > 0 && r[k - 1].speed >= r[k].speed - 1e-4f && r[k - 1].distance > previousEnd)
            --k;
        const double entry = std::min(static_cast<double>(r[k].distance), first.start);
        const double earliest = previousEnd + 25;
        double at = std::max(earliest, entry - 120);
        if (at > entry - 10) at = 0.5 * (previousEnd + entry);
        const DemoTrackPoint p = CentreLineAt(track, at);
        // The marker line runs along (sin a, cos a) and the track crosses it along
        // (cos a, -sin a), which is the direction of travel.
        const double heading = std::atan2(-p.tangent.y, p.tangent.x);
        file.records.push_back(MakeSegmentMarker(
            complex.name, static_cast<float>(at),
            {static_cast<float>(p.position.x), static_cast<float>(p.position.y),
             static_cast<float>(p.position.z)},
            static_cast<float>(heading < 0 ? heading + 2 * std::numbers::pi : heading),
            static_cast<float>(2 * track.halfWidth + 2)));
        previousEnd = track.corners[complex.corners.back()].end;
    }
    file.SetMarkerCount(static_cast<std::uint8_t>(file.records.size()));
    return file;
}

DemoDataSet BuildDemoDataSet(const DemoOptions& options) {
    DemoDataSet set;
    set.track = BuildDemoTrack();
    set.cars = DemoCars();
    set.mesh = BuildDemoTrackMesh(set.track, options.meshDensity);
    set.segments = BuildDemoSegments(set.track, set.cars[0]);

    // Pace: the quickest natural lap sets the reference; every other driver is tuned to a
    // seeded gap behind it, so the laps lie within three seconds of each other.
    const std::vector<DemoDriver> drivers = DemoDrivers(options.seed, set.track);
    DemoLapOptions lapOptions;
    lapOptions.standingStart = options.standingStart;
    std::vector<double> natural;
    for (const DemoDriver& d : drivers) {
        natural.push_back(DemoLapTime(set.track, set.cars[d.car], d, lapOptions));
    }
    const std::size_t fastest = static_cast<std::size_t>(
        std::min_element(natural.begin(), natural.end()) - natural.begin());
    // The gaps are spread over the field: one in each fifth of 0.1 to 2.7 s, in seeded order.
    DemoRandom rng(options.seed ^ 0x5DEECE66Dull);
    std::vector<double> gaps;
    for (int k = 0; k < 5; ++k) gaps.push_back(0.1 + 0.52 * (k + rng.Uniform(0.2, 0.8)));
    for (std::size_t k = gaps.size(); k > 1; --k)
        std::swap(gaps[k - 1], gaps[rng.Below(static_cast<int>(k))]);
    for (std::size_t i = 0, next = 0; i < drivers.size(); ++i) {
        const double gap = i == fastest ? 0.0 : gaps[next++];
        DemoLapOptions o = lapOptions;
        o.pace = i == fastest ? 1.0
                              : TuneDemoPace(set.track, set.cars[drivers[i].car], drivers[i], o,
                                             natural[fastest] + gap);
        if (options.lapsMinutes > 0) {
            const double lap = DemoLapTime(set.track, set.cars[drivers[i].car], drivers[i], o);
            o.circuits = std::max(1, static_cast<int>(std::ceil(options.lapsMinutes * 60 / lap)));
        }
        DemoLap lap;
        lap.driver = drivers[i];
        lap.lapTime = DemoLapTime(set.track, set.cars[drivers[i].car], drivers[i], o);
        lap.replay = SimulateDemoLap(set.track, set.cars[drivers[i].car], drivers[i], o);
        lap.fileName =
            drivers[i].fileName + "_" + PlainName(set.cars[drivers[i].car].name) + ".raf";
        set.laps.push_back(std::move(lap));
    }
    return set;
}

bool WriteDemoDataSet(const DemoDataSet& set, const std::string& dir,
                      std::vector<DemoWrittenFile>* written, std::string* error) {
    namespace fs = std::filesystem;
    const fs::path root(dir.empty() ? "." : dir);
    const fs::path smx = root / "data" / "smx";
    const fs::path raf = root / "data" / "raf";
    for (const fs::path& folder : {smx, raf}) {
        std::error_code ec;
        fs::create_directories(folder, ec);
        if (ec) {
            *error = "cannot create folder " + folder.string() + ": " + ec.message();
            return false;
        }
    }
    const auto store = [&](const fs::path& path, const std::vector<std::uint8_t>& bytes) {
        if (!WriteBytesToFile(path.string(), bytes)) {
            *error = "cannot write " + path.string();
            return false;
        }
        written->push_back({path.string(), bytes.size()});
        return true;
    };
    if (!store(smx / (set.track.name + ".smx"), EncodeTrackMesh(set.mesh))) return false;
    if (!store(smx / (set.track.name + " " + set.track.config + ".tsf"),
               EncodeTrackSegmentFile(set.segments))) {
        return false;
    }
    for (const DemoLap& lap : set.laps) {
        if (!store(raf / lap.fileName, EncodeReplayFile(lap.replay))) return false;
    }
    return true;
}

}  // namespace lapquill
