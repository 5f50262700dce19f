#include "tools/demo_vehicle.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "tools/data_writers.h"

namespace lapquill {

namespace {

constexpr double kG = 9.81;               // m/s^2
constexpr double kRolling = 0.12;         // m/s^2 of rolling resistance
constexpr double kGrid = 1.0;             // m of centre line between speed-profile samples
constexpr double kTopSpeed = 110.0;       // m/s, stands for "no corner limit"
constexpr double kCarHeight = 0.35;       // m, recorded position above the road
constexpr double kAxisLength = 0.49;      // stored axes fit the 16-bit fields scaled by 2^-16
constexpr double kSlipPerAccel = 0.0045;  // rad of body slip per m/s^2 of lateral accel
constexpr double kUndersteer = 0.0015;    // rad of extra wheel angle per m/s^2
constexpr double kRecordStep = 0.01;      // s between records

double Wrap(double s, double length) {
    s = std::fmod(s, length);
    return s < 0 ? s + length : s;
}

// Signed distance from a to s along the lap, in [-length/2, length/2).
double Along(double s, double a, double length) {
    return Wrap(s - a + 0.5 * length, length) - 0.5 * length;
}

struct Frame {
    double scale;          // m of line per m of centre line
    double curvature;      // 1/m of the line, positive left
    double headingOffset;  // rad, line direction minus centre-line direction
    double slope;          // dz per m of line
};

class Driving {
  public:
    Driving(const DemoTrack& track, const DemoCar& car, const DemoDriver& driver,
            const DemoLapOptions& options)
        : track_(track), car_(car), driver_(driver), options_(options) {
        // The line and its geometry do not depend on the pace; only the profile does.
        n_ = static_cast<int>(std::ceil(track.length / kGrid));
        h_ = track.length / n_;
        usable_ = track.halfWidth - 0.5 * car.frontTrack - 0.25;
        frames_.resize(n_ + 1);
        baseUse_.resize(n_ + 1);
        for (int i = 0; i <= n_; ++i) {
            frames_[i] = FrameAt(i * h_);
            baseUse_[i] = BaseGripUse(i * h_);
        }
        BuildProfile();
    }

    void SetPace(double pace) {
        options_.pace = pace;
        BuildProfile();
    }

    double LapTime() const {
        double t = 0;
        const auto& first = options_.standingStart ? standing_ : periodic_;
        for (int i = 0; i < n_; ++i) {
            t += frames_[i].scale * h_ / std::max(0.05, 0.5 * (first[i] + first[i + 1]));
        }
        double lap = 0;
        for (int i = 0; i < n_; ++i) {
            lap += frames_[i].scale * h_ / std::max(0.05, 0.5 * (periodic_[i] + periodic_[i + 1]));
        }
        return t + (options_.circuits - 1) * lap;
    }

    ReplayFile Records() const;

  private:
    // Lateral offset of the driver's line from the centre line, positive to the left: the
    // racing line, narrowed to the driver's taste and shifted to their apexes, plus the
    // moment they run wide.
    double Offset(double s) const {
        const double room = (track_.halfWidth - track_.lineMargin);
        double d = usable_ / room * driver_.lineWidth * RacingLineAt(track_, s - driver_.apexShift);
        if (driver_.mistakeCorner >= 0) {
            const DemoCorner& k = track_.corners[driver_.mistakeCorner];
            const double out = k.end - k.apex + 40;
            const double u = (Along(s, k.apex, track_.length) - 0.6 * out) / (0.3 * out);
            d -= k.direction * driver_.mistakeSeverity * 1.3 * std::exp(-u * u);
        }
        return d;
    }

    Frame FrameAt(double s) const {
        const double e = 0.25;
        const double d = Offset(s), dp = Offset(s + e), dm = Offset(s - e);
        const double d1 = (dp - dm) / (2 * e), d2 = (dp - 2 * d + dm) / (e * e);
        const DemoTrackPoint p = CentreLineAt(track_, s);
        const double k = p.curvature;
        const double k1 =
            (CentreLineAt(track_, s + e).curvature - CentreLineAt(track_, s - e).curvature) /
            (2 * e);
        // Derivatives of centre + d * left along the centre line, in the (tangent, left) basis.
        const double a1 = 1 - d * k, a2 = d1;
        const double b1 = -(2 * d1 * k + d * k1), b2 = (1 - d * k) * k + d2;
        Frame f;
        f.scale = std::hypot(a1, a2);
        f.curvature = (a1 * b2 - a2 * b1) / (f.scale * f.scale * f.scale);
        f.headingOffset = std::atan2(a2, a1);
        f.slope = p.slope / f.scale;
        return f;
    }

    // Which corner's pace applies at s, and whether the mistake slows the car there.
    // The driver's grip use at s before the pace is applied.
    double BaseGripUse(double s) const {
        double use = driver_.gripUse;
        for (std::size_t c = 0; c < track_.corners.size(); ++c) {
            const DemoCorner& k = track_.corners[c];
            const double x = Along(s, k.apex, track_.length);
            if (x < k.start - k.apex - 40 || x > k.end - k.apex + 40) continue;
            if (c < driver_.cornerPace.size()) use *= driver_.cornerPace[c];
            if (static_cast<int>(c) == driver_.mistakeCorner && x > -10) {
                use *= 1 - 0.12 * driver_.mistakeSeverity;
            }
        }
        return use;
    }

    double MaxGrip(double v, double use) const {
        return car_.grip * use * (kG + car_.downforce * v * v);
    }

    double Resistance(double v, double slope) const {
        return car_.dragArea * v * v / car_.mass + kRolling + kG * slope;
    }

  public:
    int IdealGear(double v) const {
        const int top = static_cast<int>(car_.gearTopSpeeds.size());
        for (int g = 1; g <= top; ++g) {
            if (v <= car_.gearTopSpeeds[g - 1]) return g;
        }
        return top;
    }

    // Drive force per mass the engine gives at full throttle, in the best gear.
    double PowerAccel(double v) const {
        const double rpm = DemoEngineRpm(car_, IdealGear(v), v);
        const double x = (rpm - car_.peakPowerRpm) / (car_.peakPowerRpm - 2000);
        const double curve = std::clamp(1 - 0.5 * x * x, 0.35, 1.0);
        return car_.power * curve / (car_.mass * std::max(v, 3.0));
    }

  private:
    void BuildProfile() {
        std::vector<double> limit(n_ + 1), use(n_ + 1);
        for (int i = 0; i <= n_; ++i) {
            use[i] = std::min(1.0, baseUse_[i] * options_.pace);
            const double mu = car_.grip * use[i];
            const double k = std::abs(frames_[i].curvature);
            const double den = k - mu * car_.downforce;
            limit[i] = den > 1e-9 ? std::min(kTopSpeed, std::sqrt(mu * kG / den)) : kTopSpeed;
        }
        // Forward: accelerate as hard as power and the grip left over from cornering allow.
        // Two passes round the lap so the start speed is the speed the lap ends with.
        const auto forward = [&](std::vector<double>* v, bool wrap) {
            for (int pass = 0; pass < (wrap ? 2 : 1); ++pass) {
                for (int i = 0; i < n_; ++i) {
                    const double vi = (*v)[i];
                    const double lat = vi * vi * frames_[i].curvature;
                    const double grip = MaxGrip(vi, use[i]);
                    const double traction = std::sqrt(std::max(0.0, grip * grip - lat * lat));
                    const double a =
                        std::min(PowerAccel(vi), traction) - Resistance(vi, frames_[i].slope);
                    const double next =
                        std::sqrt(std::max(0.0, vi * vi + 2 * a * frames_[i].scale * h_));
                    (*v)[i + 1] = std::min(limit[i + 1], next);
                }
                if (wrap) (*v)[0] = (*v)[n_];
            }
        };
        // Backward: brake as late as the driver dares within the friction circle.
        const auto backward = [&](std::vector<double>* v) {
            for (int pass = 0; pass < 2; ++pass) {
                for (int i = n_; i > 0; --i) {
                    const double vi = (*v)[i];
                    const double lat = vi * vi * frames_[i].curvature;
                    const double grip = MaxGrip(vi, use[i]);
                    const double brakeUse = std::min(1.0, driver_.brakeUse * options_.pace);
                    const double tyres =
                        brakeUse * std::sqrt(std::max(0.0, grip * grip - lat * lat));
                    const double a =
                        std::min(tyres, car_.brakeLimit) + Resistance(vi, frames_[i].slope);
                    const double prev = std::sqrt(vi * vi + 2 * a * frames_[i - 1].scale * h_);
                    (*v)[i - 1] = std::min((*v)[i - 1], prev);
                }
                (*v)[n_] = std::min((*v)[n_], (*v)[0]);
            }
        };
        periodic_ = limit;
        periodic_[0] = std::min(limit[0], 40.0);
        forward(&periodic_, true);
        backward(&periodic_);
        for (int i = 0; i <= n_; ++i) periodic_[i] = std::min(periodic_[i], limit[i]);
        periodic_[n_] = periodic_[0];
        if (options_.standingStart) {
            standing_ = periodic_;
            standing_[0] = 0;
            forward(&standing_, false);
            for (int i = 0; i <= n_; ++i) standing_[i] = std::min(standing_[i], periodic_[i]);
        }
    }

  public:
    // Profile value at centre-line distance s, counted from the start of the replay.
    double SpeedAt(double s) const {
        const bool first = s < track_.length && options_.standingStart;
        const auto& v = first ? standing_ : periodic_;
        const double w = Wrap(s, track_.length) / h_;
        const int i = std::min(static_cast<int>(w), n_ - 1);
        const double f = w - i;
        return v[i] + (v[i + 1] - v[i]) * f;
    }
    double AccelAt(double s) const {
        const bool first = s < track_.length && options_.standingStart;
        const auto& v = first ? standing_ : periodic_;
        const int i = std::min(static_cast<int>(Wrap(s, track_.length) / h_), n_ - 1);
        return (v[i + 1] * v[i + 1] - v[i] * v[i]) / (2 * frames_[i].scale * h_);
    }
    Frame FrameOf(double s) const {
        const double w = Wrap(s, track_.length) / h_;
        const int i = std::min(static_cast<int>(w), n_ - 1);
        const double f = w - i;
        const Frame& a = frames_[i];
        const Frame& b = frames_[i + 1];
        return {a.scale + (b.scale - a.scale) * f, a.curvature + (b.curvature - a.curvature) * f,
                a.headingOffset + (b.headingOffset - a.headingOffset) * f,
                a.slope + (b.slope - a.slope) * f};
    }
    double OffsetAt(double s) const { return Offset(Wrap(s, track_.length)); }
    // Body slip added by the mistake: the rear steps out after the apex, caught again.
    double SnapAt(double s) const {
        if (driver_.mistakeCorner < 0) return 0;
        const DemoCorner& k = track_.corners[driver_.mistakeCorner];
        const double at = k.apex + driver_.apexShift + 0.5 * (k.end - k.apex);
        const double u = Along(s, at, track_.length) / 10.0;
        return k.direction * 0.11 * driver_.mistakeSeverity * std::exp(-u * u);
    }
    double ResistanceAt(double v, double slope) const { return Resistance(v, slope); }

  private:
    const DemoTrack& track_;
    const DemoCar& car_;
    const DemoDriver& driver_;
    DemoLapOptions options_;
    int n_ = 0;
    double h_ = 0;
    double usable_ = 0;
    std::vector<Frame> frames_;
    std::vector<double> baseUse_;   // grip use per sample before the pace
    std::vector<double> periodic_;  // m/s along the lap, flying
    std::vector<double> standing_;  // m/s along the first lap from rest
};

// Smooth noise in [-1, 1]: a few incommensurate sines with seeded phases.
double Wobble(std::uint32_t seed, double t) {
    const double p = (seed % 1000) * 0.00628;
    return 0.5 * std::sin(1.7 * t + p) + 0.3 * std::sin(4.3 * t + 2 * p) +
           0.2 * std::sin(9.1 * t + 3 * p);
}

ReplayFile Driving::Records() const {
    const double total = options_.circuits * track_.length;
    // Time steps: the car follows ds/dt = v(s) / scale(s) (speed along the line, distance
    // along the centre line), integrated with four midpoint steps per record.
    std::vector<double> at;  // centre-line distance of each record
    std::vector<double> sectorEnds = {
        (options_.circuits - 1) * track_.length + track_.sectorEnds[0],
        (options_.circuits - 1) * track_.length + track_.sectorEnds[1], total};
    std::vector<double> splits;
    const auto rate = [&](double s) { return std::max(SpeedAt(s), 0.4) / FrameOf(s).scale; };
    double s = 0, t = 0;
    constexpr int kSub = 4;
    constexpr double dt = kRecordStep / kSub;
    while (true) {
        at.push_back(s);
        bool done = false;
        for (int q = 0; q < kSub && !done; ++q) {
            const double mid = s + 0.5 * dt * rate(s);
            const double next = s + dt * rate(mid);
            while (splits.size() < sectorEnds.size() && next >= sectorEnds[splits.size()]) {
                const double f = (sectorEnds[splits.size()] - s) / (next - s);
                splits.push_back(t + f * dt);
            }
            s = next;
            t += dt;
            done = splits.size() == sectorEnds.size();
        }
        if (done) break;
    }
    // Records are those before the line is crossed again.
    const double lapTime = splits.back();
    const int count = static_cast<int>(std::ceil(lapTime / kRecordStep - 1e-9));
    at.resize(std::min<std::size_t>(at.size(), static_cast<std::size_t>(count)));

    ReplayFile file;
    ReplayHeaderFields fields;
    fields.playerName = driver_.name;
    fields.carName = car_.name;
    fields.trackName = track_.name;
    fields.trackConfig = track_.config;
    fields.weather = options_.weather;
    for (double split : splits)
        fields.splitTimes.push_back(static_cast<std::int32_t>(std::lround(split * 1000)));
    fields.blockCount = 4;
    fields.recordCount = static_cast<std::int32_t>(at.size());
    file.header = BuildReplayHeader(fields);
    // Wheel blocks: front left, front right, rear left, rear right; the lateral axis points
    // right, so the left wheels sit at negative offsets.
    file.blocks.resize(4);
    const float offsets[4] = {
        static_cast<float>(-0.5 * car_.frontTrack), static_cast<float>(0.5 * car_.frontTrack),
        static_cast<float>(-0.5 * car_.rearTrack), static_cast<float>(0.5 * car_.rearTrack)};
    for (int b = 0; b < 4; ++b) SetBlockLateralOffset(&file.blocks[b], offsets[b]);
    file.samples.resize(at.size() * 4);
    file.records.resize(at.size());

    const int topGear = static_cast<int>(car_.gearTopSpeeds.size());
    int gear = options_.standingStart ? 1 : IdealGear(SpeedAt(0));
    int lastShift = -100;
    bool shiftUp = false;
    double throttle = 0, brake = 0;
    for (std::size_t k = 0; k < at.size(); ++k) {
        const double sk = at[k];
        const double time = static_cast<double>(k) * kRecordStep;
        const DemoTrackPoint c = CentreLineAt(track_, sk);
        const Frame f = FrameOf(sk);
        const double d = OffsetAt(sk);
        const double v = SpeedAt(sk);
        ReplayRecord& r = file.records[k];

        // Pose: on the line, pointing along it with a little slip into the corner.
        const double lat = v * v * f.curvature;
        const double snap = SnapAt(sk);
        const double yaw = c.heading + f.headingOffset + kSlipPerAccel * lat + snap;
        const double pitch = std::atan(f.slope);
        r.position = {static_cast<float>(c.position.x + d * c.left.x),
                      static_cast<float>(c.position.y + d * c.left.y),
                      static_cast<float>(c.position.z + kCarHeight)};
        r.forwardAxis = {static_cast<float>(kAxisLength * std::cos(pitch) * std::cos(yaw)),
                         static_cast<float>(kAxisLength * std::cos(pitch) * std::sin(yaw)),
                         static_cast<float>(kAxisLength * std::sin(pitch))};
        r.lateralAxis = {static_cast<float>(kAxisLength * std::sin(yaw)),
                         static_cast<float>(-kAxisLength * std::cos(yaw)), 0.0f};
        r.speed = static_cast<float>(v);
        r.distance = static_cast<float>(sk);

        // Pedals from what the speed profile asks of the car, moved at human rates.
        const double need = AccelAt(sk) + ResistanceAt(v, f.slope);
        double wantThrottle = 0, wantBrake = 0;
        if (need > 0.05) {
            wantThrottle = std::clamp(need / PowerAccel(v), 0.0, 1.0);
        } else if (need < -0.6) {
            wantBrake = std::clamp(-need / (car_.brakeLimit * 1.05), 0.0, 1.0);
        }
        throttle += std::clamp(wantThrottle - throttle, -0.15, 0.08);
        brake += std::clamp(wantBrake - brake, -0.12, 0.15);

        // Gears: up at the shift point, down under braking once the lower gear has room.
        const bool braking = wantBrake > 0;
        if (gear < topGear && DemoEngineRpm(car_, gear, v) >= car_.shiftRpm) {
            ++gear;
            lastShift = static_cast<int>(k);
            shiftUp = true;
        } else if (gear > 1 && static_cast<int>(k) - lastShift > 25 &&
                   DemoEngineRpm(car_, gear - 1, v) < car_.downshiftRpm &&
                   (braking || DemoEngineRpm(car_, gear, v) < 0.45 * car_.shiftRpm)) {
            --gear;
            lastShift = static_cast<int>(k);
            shiftUp = false;
        }
        // How far the clutch pedal is down: 0 while driving, fully down at the start of a
        // shift and let out over the next few records. The file stores the engagement, 1 - this.
        double pedal = 0, throttleOut = throttle;
        const int since = static_cast<int>(k) - lastShift;
        if (since >= 0 && since < 8) {
            pedal = since < 2 ? 1.0 : 1.0 - (since - 1) / 7.0;
            // A lift for an upshift, a blip of throttle for a downshift.
            if (since < 5) throttleOut = shiftUp ? 0.25 * throttle : std::max(throttle, 0.45);
        }
        if (options_.standingStart && time < 1.2) {
            pedal = std::max(pedal, time < 0.25 ? 1.0 : 1.0 - (time - 0.25) / 0.95);
            throttleOut = std::max(throttleOut, 0.65);
        }
        r.throttle = static_cast<float>(throttleOut);
        r.brake = static_cast<float>(brake);
        r.clutch = static_cast<float>(1.0 - pedal);
        r.handbrake = 0;
        r.gear = static_cast<std::uint8_t>(gear + 1);

        // Steering from the line's curvature, a touch of understeer, correction of the snap.
        const double wheel = std::atan(car_.wheelbase * f.curvature) + kUndersteer * lat -
                             1.2 * snap + 0.002 * Wobble(driver_.noiseSeed, time);
        r.steer = static_cast<float>(car_.steeringRatio * wheel);
    }
    return file;
}

}  // namespace

std::vector<DemoCar> DemoCars() {
    std::vector<DemoCar> cars(3);
    cars[0].name = "Kestrel GT";
    cars[0].mass = 1300;
    cars[0].power = 410e3;
    cars[0].dragArea = 0.92;
    cars[0].downforce = 6e-4;
    cars[0].grip = 1.32;
    cars[0].brakeLimit = 10.2;
    cars[0].gearTopSpeeds = {24, 34, 44, 54, 65, 80};
    cars[0].frontTrack = 1.62;
    cars[0].rearTrack = 1.58;

    cars[1].name = "Morrow RS";
    cars[1].mass = 1380;
    cars[1].power = 480e3;
    cars[1].dragArea = 0.98;
    cars[1].downforce = 6e-4;
    cars[1].grip = 1.28;
    cars[1].brakeLimit = 10.0;
    cars[1].gearTopSpeeds = {23, 33, 43, 53, 64, 78};
    cars[1].shiftRpm = 7400;
    cars[1].downshiftRpm = 5800;
    cars[1].peakPowerRpm = 6600;
    cars[1].frontTrack = 1.66;
    cars[1].rearTrack = 1.62;
    cars[1].wheelbase = 2.72;

    cars[2].name = "Sable 400";
    cars[2].mass = 1180;
    cars[2].power = 340e3;
    cars[2].dragArea = 0.86;
    cars[2].downforce = 1e-3;
    cars[2].grip = 1.38;
    cars[2].brakeLimit = 10.5;
    cars[2].gearTopSpeeds = {25, 35, 45, 55, 66, 81};
    cars[2].shiftRpm = 8400;
    cars[2].downshiftRpm = 6600;
    cars[2].peakPowerRpm = 7600;
    cars[2].frontTrack = 1.58;
    cars[2].rearTrack = 1.54;
    cars[2].wheelbase = 2.58;
    cars[2].steeringRatio = 12;
    return cars;
}

double DemoEngineRpm(const DemoCar& car, int gear, double speed) {
    const int g = std::clamp(gear, 1, static_cast<int>(car.gearTopSpeeds.size()));
    return car.shiftRpm * speed / car.gearTopSpeeds[g - 1];
}

double DemoLapTime(const DemoTrack& track, const DemoCar& car, const DemoDriver& driver,
                   const DemoLapOptions& options) {
    return Driving(track, car, driver, options).LapTime();
}

double TuneDemoPace(const DemoTrack& track, const DemoCar& car, const DemoDriver& driver,
                    const DemoLapOptions& options, double targetTime) {
    Driving d(track, car, driver, options);
    double lo = 0.80, hi = 1.10;
    for (int iter = 0; iter < 13; ++iter) {
        const double mid = 0.5 * (lo + hi);
        d.SetPace(mid);
        (d.LapTime() > targetTime ? lo : hi) = mid;
    }
    return 0.5 * (lo + hi);
}

ReplayFile SimulateDemoLap(const DemoTrack& track, const DemoCar& car, const DemoDriver& driver,
                           const DemoLapOptions& options) {
    return Driving(track, car, driver, options).Records();
}

}  // namespace lapquill
