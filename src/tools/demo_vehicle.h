// The vehicle model that drives the demo laps: a car (friction circle with downforce, power
// and drag, gears, brakes), a driver (how much of the grip they use, their line, their
// braking, one small mistake), and the lap simulation that turns both into a replay with
// one record every 0.01 s. Pure functions; the demo data set and the benchmarks call them.
// SI units throughout; lateral axes point to the car's right, steering is positive to the left.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "files/replay_file.h"
#include "tools/demo_track.h"

namespace lapquill {

struct DemoCar {
    std::string name;                   // written into the replay header
    double mass = 1300;                 // kg
    double power = 400e3;               // W at the power peak
    double dragArea = 0.9;              // N per (m/s)^2: drag force = dragArea * v^2
    double downforce = 6e-4;            // 1/m: grip grows as grip * (g + downforce * v^2)
    double grip = 1.3;                  // tyre friction coefficient
    double brakeLimit = 10;             // m/s^2, most the brakes give (drag comes on top)
    std::vector<double> gearTopSpeeds;  // m/s at shiftRpm in each forward gear, rising
    double shiftRpm = 7800;             // rpm where the driver changes up
    double downshiftRpm = 6000;  // rpm the next lower gear must stay below before changing down
    double peakPowerRpm = 7000;  // rpm of the power peak
    double frontTrack = 1.6;     // m between the front wheel centres
    double rearTrack = 1.56;     // m between the rear wheel centres
    double wheelbase = 2.65;     // m
    double steeringRatio = 13;   // steering wheel angle per front wheel angle
};

struct DemoDriver {
    std::string name;        // with colour codes, e.g. "^1Ma^7rta"
    std::string fileName;    // plain name for the replay's file, e.g. "Marta"
    int car = 0;             // index into the car list
    double gripUse = 0.96;   // fraction of the car's grip used in corners
    double brakeUse = 0.92;  // fraction of the grip used under braking: lower brakes earlier
    double lineWidth = 0.9;  // fraction of the usable track width the line takes
    double apexShift = 0;    // m the apex lies after (positive) the corner's geometric apex
    std::vector<double> cornerPace;  // per corner, a factor around 1 on gripUse
    int mistakeCorner = -1;          // corner where the driver runs wide and snaps; -1 none
    double mistakeSeverity = 0;      // 0 to 1
    std::uint32_t noiseSeed = 0;     // small input noise
};

struct DemoLapOptions {
    double pace = 1.0;           // scales gripUse and brakeUse together
    int circuits = 1;            // laps of the circuit in one replay; distance keeps rising
    bool standingStart = false;  // start at rest with a clutch launch instead of a flying lap
    std::string weather = "Sunny, 24 C, dry";
};

// The three demo cars.
std::vector<DemoCar> DemoCars();

// Engine speed in a selected forward gear (1 = first) at a road speed.
double DemoEngineRpm(const DemoCar& car, int gear, double speed);

// Lap time in seconds of the speed profile alone (no records): cheap, for tuning the pace.
double DemoLapTime(const DemoTrack& track, const DemoCar& car, const DemoDriver& driver,
                   const DemoLapOptions& options);

// The pace at which this driver's lap takes targetTime seconds (profile time), found by
// bisection between 0.8 and 1.1; at the ends of that range the lap is as slow or fast as it gets.
double TuneDemoPace(const DemoTrack& track, const DemoCar& car, const DemoDriver& driver,
                    const DemoLapOptions& options, double targetTime);

// The full replay: header (driver, car, track, configuration, weather, three split times),
// four wheel blocks and the records.
ReplayFile SimulateDemoLap(const DemoTrack& track, const DemoCar& car, const DemoDriver& driver,
                           const DemoLapOptions& options);

// Small deterministic generator (splitmix64) for everything seeded in the demo.
class DemoRandom {
  public:
    explicit DemoRandom(std::uint64_t seed) : state_(seed) {}
    std::uint64_t Next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    double Uniform(double lo, double hi) {
        return lo + (hi - lo) * static_cast<double>(Next() >> 11) * 0x1.0p-53;
    }
    int Below(int n) { return static_cast<int>(Next() % static_cast<std::uint64_t>(n)); }

  private:
    std::uint64_t state_;
};

}  // namespace lapquill
