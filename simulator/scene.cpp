#include "simulator/scene.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace trvsim {

const std::array<const char*, 19> kCalibration2dNames = {
    "intrCalib_2D_fx",     "intrCalib_2D_fy",    "intrCalib_2D_mx",     "intrCalib_2D_my",
    "intrCalib_alpha",     "intrCalib_k1",       "intrCalib_k2",        "intrCalib_k3",
    "intrCalib_k4",        "intrCalib_k5",       "extrCalib_center_tx", "extrCalib_center_ty",
    "extrCalib_center_tz", "extrCalib_delta_tx", "extrCalib_delta_ty",  "extrCalib_delta_tz",
    "extrCalib_rot_x",     "extrCalib_rot_y",    "extrCalib_rot_z"};

namespace {

constexpr double kPi = 3.14159265358979323846;
// Angular pitch of one pixel (both axes): 64 columns span about 76 degrees, 16 rows about 19.
constexpr double kPixelPitch = 0.0207;
constexpr std::array<float, 4> kNormalization = {1.0f, 2.0f, 4.0f, 8.0f};
constexpr float kAmplitudeScale = 2.0e5f;

// Stateless random numbers: a 64-bit mix of the seed and the coordinates of what is drawn.
uint64_t mix(uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}
double unit(uint64_t seed, uint64_t a, uint64_t b = 0, uint64_t c = 0) {
    const uint64_t h = mix(mix(mix(seed ^ 0x5DEECE66Dull) ^ a) ^ (b * 0x100000001B3ull)) ^ (c << 17);
    return static_cast<double>(mix(h) >> 11) * (1.0 / 9007199254740992.0); // [0, 1)
}

bool rayBox(const float o[3], const std::array<float, 3>& d, const float lo[3], const float hi[3], float& t,
            int& axis) {
    float tNear = 0.0f, tFar = std::numeric_limits<float>::max();
    axis = -1;
    for (int i = 0; i < 3; ++i) {
        if (std::fabs(d[i]) < 1e-9f) {
            if (o[i] < lo[i] || o[i] > hi[i])
                return false;
            continue;
        }
        float t0 = (lo[i] - o[i]) / d[i];
        float t1 = (hi[i] - o[i]) / d[i];
        if (t0 > t1)
            std::swap(t0, t1);
        if (t0 > tNear) {
            tNear = t0;
            axis = i;
        }
        tFar = std::min(tFar, t1);
        if (tNear > tFar)
            return false;
    }
    if (axis < 0)
        return false; // camera inside the box
    t = tNear;
    return true;
}

int exposureIndex(float distance) {
    if (distance < 5.0f)
        return 0;
    if (distance < 10.0f)
        return 1;
    if (distance < 20.0f)
        return 2;
    return 3;
}

enum Surface { NoSurface = 0, GroundSurface, BoxSurface, WindrowSurface, SpraySurface };

} // namespace

CameraPose defaultCameraPose() {
    CameraPose p;
    p.transX = 0.0f;
    p.transY = 0.0f;
    p.transZ = 1.5f;
    p.rotX = 0.0f;
    p.rotY = static_cast<float>(kPi / 2 + 0.2);
    p.rotZ = static_cast<float>(-kPi / 2);
    return p;
}

std::array<float, 19> cameraCalibration2d(const CameraPose& pose) {
    // fx, fy, mx, my, alpha, k1..k5, centre t, delta t, rotation.
    return {420.0f,      420.0f,      320.0f,      240.0f, 0.0f, -0.21f, 0.043f,    0.0012f,   -0.0008f, 0.0f,
            pose.transX, pose.transY, pose.transZ, 0.0f,   0.1f, 0.0f,   pose.rotX, pose.rotY, pose.rotZ};
}

Scene::Scene(const SceneSettings& settings) : m_settings(settings) {
    const double a = settings.pose.rotX, b = settings.pose.rotY, g = settings.pose.rotZ;
    const double rx[3][3] = {{1, 0, 0}, {0, std::cos(a), -std::sin(a)}, {0, std::sin(a), std::cos(a)}};
    const double ry[3][3] = {{std::cos(b), 0, std::sin(b)}, {0, 1, 0}, {-std::sin(b), 0, std::cos(b)}};
    const double rz[3][3] = {{std::cos(g), -std::sin(g), 0}, {std::sin(g), std::cos(g), 0}, {0, 0, 1}};
    double rxy[3][3] = {};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k)
                rxy[i][j] += rx[i][k] * ry[k][j];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            double s = 0;
            for (int k = 0; k < 3; ++k)
                s += rxy[i][k] * rz[k][j];
            m_rot[i][j] = static_cast<float>(s);
        }

    // Camera frame: x to the right of the image, y down the image, z along the optical axis.
    for (int r = 0; r < kSensorHeight; ++r)
        for (int c = 0; c < kSensorWidth; ++c) {
            const double cx = std::tan((c - 31.5) * kPixelPitch);
            const double cy = std::tan((r - 7.5) * kPixelPitch);
            const double n = std::sqrt(cx * cx + cy * cy + 1.0);
            const double cam[3] = {cx / n, cy / n, 1.0 / n};
            auto& ray = m_rays[r * kSensorWidth + c];
            for (int i = 0; i < 3; ++i)
                ray[i] =
                    static_cast<float>(m_rot[i][0] * cam[0] + m_rot[i][1] * cam[1] + m_rot[i][2] * cam[2]);
        }

    if (settings.variant != Variant::LG) {
        const float lanes[3] = {-2.6f, 0.0f, 2.8f};
        for (int i = 0; i < 3; ++i) {
            const uint64_t s = settings.seed;
            Box box;
            box.lengthX = static_cast<float>(1.2 + unit(s, 1, i) * 1.0);
            box.widthY = static_cast<float>(0.8 + unit(s, 2, i) * 0.6);
            box.height = static_cast<float>(0.8 + unit(s, 3, i) * 1.0);
            box.laneY = lanes[i] + static_cast<float>((unit(s, 4, i) - 0.5) * 0.6);
            box.xMin = 3.0f;
            box.xMax = 18.0f;
            box.speed = static_cast<float>(0.6 + unit(s, 5, i) * 1.2);
            box.phase = static_cast<float>(unit(s, 6, i) * 30.0);
            box.objectId = i + 1;
            box.objectType = 1;
            box.reflectivity = 0.6f;
            box.moving = true;
            m_boxes.push_back(box);
        }
    }
    // The retro-reflective post beside the track: every variant sees it.
    Box post;
    post.lengthX = 0.15f;
    post.widthY = 0.15f;
    post.height = 1.2f;
    post.laneY = -2.2f;
    post.xMin = post.xMax = 8.0f;
    post.speed = 0.0f;
    post.phase = 0.0f;
    post.objectId = 4;
    post.objectType = 2;
    post.reflectivity = 150.0f;
    post.moving = false;
    m_boxes.push_back(post);
}

Scene::BoxState Scene::boxAt(const Box& box, double seconds) const {
    BoxState s;
    s.cy = box.laneY;
    if (!box.moving || box.xMax <= box.xMin) {
        s.cx = box.xMin;
        s.vx = 0.0f;
    } else {
        // Back and forth between xMin and xMax (a triangle wave).
        const double span = box.xMax - box.xMin;
        const double period = 2.0 * span / box.speed;
        const double p = std::fmod(seconds + box.phase, period);
        if (p < span / box.speed) {
            s.cx = static_cast<float>(box.xMax - p * box.speed);
            s.vx = -box.speed;
        } else {
            s.cx = static_cast<float>(box.xMin + (p - span / box.speed) * box.speed);
            s.vx = box.speed;
        }
    }
    s.lo[0] = s.cx - box.lengthX / 2;
    s.hi[0] = s.cx + box.lengthX / 2;
    s.lo[1] = s.cy - box.widthY / 2;
    s.hi[1] = s.cy + box.widthY / 2;
    s.lo[2] = 0.0f;
    s.hi[2] = box.height;
    return s;
}

Scene::Windrow Scene::windrowAt(double seconds) const {
    Windrow w;
    w.y0 =
        static_cast<float>(0.4 * std::sin(2 * kPi * seconds / 15.0) + (unit(m_settings.seed, 7) - 0.5) * 0.4);
    w.alpha = static_cast<float>(0.06 * std::sin(2 * kPi * seconds / 20.0));
    w.width = 1.8f;
    w.height = 0.6f;
    return w;
}

bool Scene::sprayActive(uint32_t frameCounter) const {
    const uint32_t offset = static_cast<uint32_t>(unit(m_settings.seed, 8) * 250);
    return (frameCounter + offset) % 250 < 40;
}

// What one frame's steps share: the moving things at its time and what the rays hit.
struct Scene::Frame {
    uint32_t counter = 0;
    double seconds = 0;
    float origin[3] = {};
    BoxState boxes[8];
    size_t boxCount = 0;
    int boxHits[8] = {};
    bool hasWindrow = false;
    Windrow wr{};
    float ca = 0, sa = 0, ta = 0, slope = 0;
    int windrowHits = 0;
    float windrowFarthest = 0.0f;
    bool clipping = false;
};

// The nearest surface along one pixel's ray.
struct Scene::Hit {
    float t = std::numeric_limits<float>::max();
    int surface = NoSurface;
    int box = -1;
    float cosIncidence = 1.0f;
    float reflectivity = 0.25f;
    uint16_t sprayBits = 0;
};

void Scene::render(uint32_t frameCounter, FrameTruth& out) const {
    Frame f = beginFrame(frameCounter, out);
    for (int i = 0; i < kPixelCount; ++i) {
        Hit hit = traceRay(f, m_rays[i]);
        if (out.sprayActive)
            traceSpray(f, i, hit);
        writePixel(f, i, hit, out);
    }
    fillGeometry(out);
    fillObjects(f, out);
    fillLines(f, out);
    fillStatus(f, out);
}

Scene::Frame Scene::beginFrame(uint32_t frameCounter, FrameTruth& out) const {
    const SceneSettings& st = m_settings;
    Frame f;
    f.counter = frameCounter;
    f.seconds = static_cast<double>(frameCounter) * st.cycleTimeMs / 1000.0;
    f.origin[0] = st.pose.transX;
    f.origin[1] = st.pose.transY;
    f.origin[2] = st.pose.transZ;

    out.frameCounter = frameCounter;
    out.masterclockTimestamp =
        static_cast<uint32_t>(static_cast<uint64_t>(frameCounter) * st.cycleTimeMs * 1000u);
    out.sensorWidth = kSensorWidth;
    out.sensorHeight = kSensorHeight;
    out.cameraCalibration = st.pose;
    out.amplitude_normalization = kNormalization;
    out.sprayActive = sprayActive(frameCounter);

    f.boxCount = std::min<size_t>(m_boxes.size(), 8);
    for (size_t i = 0; i < f.boxCount; ++i)
        f.boxes[i] = boxAt(m_boxes[i], f.seconds);
    f.hasWindrow = st.variant == Variant::LG;
    f.wr = windrowAt(f.seconds);
    f.ca = std::cos(f.wr.alpha);
    f.sa = std::sin(f.wr.alpha);
    f.ta = std::tan(f.wr.alpha);
    f.slope = 2.0f * f.wr.height / f.wr.width;
    return f;
}

Scene::Hit Scene::traceRay(const Frame& f, const std::array<float, 3>& d) const {
    const float* origin = f.origin;
    Hit h;
    if (d[2] < -1e-6f) {
        h.t = -origin[2] / d[2];
        h.surface = GroundSurface;
        h.cosIncidence = -d[2];
    }
    for (size_t b = 0; b < f.boxCount; ++b) {
        float t;
        int axis;
        if (rayBox(origin, d, f.boxes[b].lo, f.boxes[b].hi, t, axis) && t < h.t) {
            h.t = t;
            h.surface = BoxSurface;
            h.box = static_cast<int>(b);
            h.cosIncidence = std::fabs(d[axis]);
        }
    }
    if (f.hasWindrow) {
        const Windrow& wr = f.wr;
        const float ca = f.ca, sa = f.sa, ta = f.ta, slope = f.slope;
        // Lateral coordinate v across the windrow's centre line y = y0 + tan(alpha) x.
        const float v0 = (origin[1] - wr.y0 - ta * origin[0]) * ca;
        const float dv = (d[1] - ta * d[0]) * ca;
        for (int side = -1; side <= 1; side += 2) {
            // Flank z = height - slope * side * v for side * v in [0, width / 2].
            const float denom = d[2] + slope * side * dv;
            if (std::fabs(denom) < 1e-9f)
                continue;
            const float t = (wr.height - slope * side * v0 - origin[2]) / denom;
            const float v = v0 + t * dv;
            const float x = origin[0] + t * d[0];
            if (t > 0 && t < h.t && side * v >= 0 && side * v <= wr.width / 2 && x > 1.0f && x < 40.0f) {
                h.t = t;
                h.surface = WindrowSurface;
                const float nz = 1.0f / std::sqrt(1.0f + slope * slope);
                h.cosIncidence = std::fabs(d[2] * nz + side * slope * nz * (d[1] * ca - d[0] * sa));
            }
        }
    }
    if (h.surface == BoxSurface)
        h.reflectivity = m_boxes[h.box].reflectivity;
    else if (h.surface == WindrowSurface)
        h.reflectivity = 0.35f;
    return h;
}

// Spray: some rays return from inside the cloud in front of whatever they hit.
void Scene::traceSpray(const Frame& f, int i, Hit& h) const {
    static const float sprayLo[3] = {4.0f, -2.0f, 0.0f}, sprayHi[3] = {7.0f, 2.0f, 1.8f};
    const uint32_t seed = m_settings.seed;
    const auto& d = m_rays[i];
    const float* origin = f.origin;
    float tIn;
    int axis;
    if (!rayBox(origin, d, sprayLo, sprayHi, tIn, axis) || tIn >= h.t)
        return;
    const double u = unit(seed, 100 + f.counter, i);
    if (u >= 0.35)
        return;
    // Exit of the cloud: step through until outside (the cloud is small).
    float tFar = std::numeric_limits<float>::max();
    for (int k = 0; k < 3; ++k)
        if (std::fabs(d[k]) > 1e-9f)
            tFar = std::min(tFar, std::max((sprayLo[k] - origin[k]) / d[k], (sprayHi[k] - origin[k]) / d[k]));
    const float tOut = std::min(tFar, h.t);
    h.t = tIn + static_cast<float>(unit(seed, 200 + f.counter, i)) * (tOut - tIn);
    h.surface = SpraySurface;
    h.box = -1;
    h.reflectivity = 0.05f;
    h.cosIncidence = 1.0f;
    h.sprayBits = u < 0.12 ? confidence::kSpray : confidence::kSprayLight;
}

void Scene::writePixel(Frame& f, int i, const Hit& h, FrameTruth& out) const {
    const SceneSettings& st = m_settings;
    const auto& d = m_rays[i];
    const float* origin = f.origin;
    if (h.surface == NoSurface || h.t > kMaxRange) {
        out.distanceData[i] = 0;
        out.X[i] = out.Y[i] = out.Z[i] = 0.0f;
        out.amplitude[i] = 0;
        out.confidence[i] = confidence::kInvalid;
        return;
    }
    // Range noise of a few millimetres growing with distance.
    const float noise = static_cast<float>((unit(st.seed, 300 + f.counter, i) - 0.5) * (0.004 + 0.001 * h.t));
    const float dist = h.t + noise;
    out.X[i] = origin[0] + dist * d[0];
    out.Y[i] = origin[1] + dist * d[1];
    out.Z[i] = origin[2] + dist * d[2];
    out.distanceData[i] = static_cast<uint16_t>(std::min(65535.0f, std::round(dist / kDistanceUnitMetres)));
    const int exposure = exposureIndex(dist);
    const float normalised =
        h.reflectivity * kAmplitudeScale * std::max(h.cosIncidence, 0.05f) / (dist * dist);
    float raw = normalised / kNormalization[exposure];
    uint16_t conf = static_cast<uint16_t>(exposure << confidence::kExposureShift) | h.sprayBits;
    if (raw >= 65535.0f) {
        raw = 65535.0f;
        conf |= confidence::kClipping;
        f.clipping = true;
    }
    out.amplitude[i] = static_cast<uint16_t>(std::max(1.0f, raw));
    if (h.surface == GroundSurface)
        conf |= confidence::kGround;
    out.confidence[i] = conf;
    if (h.surface == BoxSurface)
        ++f.boxHits[h.box];
    if (h.surface == WindrowSurface) {
        ++f.windrowHits;
        f.windrowFarthest = std::max(f.windrowFarthest, out.X[i]);
    }
}

void Scene::fillGeometry(FrameTruth& out) const {
    const SceneSettings& st = m_settings;
    // Camera-axis distance as a receiver computes it from X/Y/Z and the calibration, in floats.
    {
        const CameraPose& p = st.pose;
        const float a = std::sin(p.rotY);
        const float b = std::sin(p.rotX) * std::cos(p.rotY);
        const float c = std::cos(p.rotX) * std::cos(p.rotY);
        for (int i = 0; i < kPixelCount; ++i)
            out.cameraAxisDistance[i] =
                a * (out.X[i] - p.transX) - b * (out.Y[i] - p.transY) + c * (out.Z[i] - p.transZ);
    }

    auto corner = [&](int r, int c, std::array<float, 3>& dst) { dst = m_rays[r * kSensorWidth + c]; };
    corner(0, 0, out.fovUpperLeft);
    corner(0, kSensorWidth - 1, out.fovUpperRight);
    corner(kSensorHeight - 1, kSensorWidth - 1, out.fovLowerRight);
    corner(kSensorHeight - 1, 0, out.fovLowerLeft);
}

void Scene::fillObjects(const Frame& f, FrameTruth& out) const {
    // Objects: every box or post seen by at least three pixels, nearest first.
    const SceneSettings& st = m_settings;
    const uint32_t frameCounter = f.counter;
    const BoxState* boxes = f.boxes;
    const size_t boxCount = f.boxCount;
    const int* boxHits = f.boxHits;
    out.hasObjects = st.variant == Variant::OD;
    out.objects.fill(ObjectTruth{});
    out.numberOfObjects = 0;
    out.crashPredictor = CrashPredictorTruth{};
    if (out.hasObjects) {
        std::array<int, 8> order{};
        int n = 0;
        for (size_t b = 0; b < boxCount; ++b)
            if (boxHits[b] >= 3)
                order[n++] = static_cast<int>(b);
        // Nearest first (insertion sort: at most a handful of objects).
        for (int a = 1; a < n; ++a)
            for (int k = a; k > 0 && boxes[order[k]].lo[0] < boxes[order[k - 1]].lo[0]; --k)
                std::swap(order[k], order[k - 1]);
        const int history = static_cast<int>(std::min<uint32_t>(frameCounter, 100));
        out.numberOfObjects = std::min(n, kObjectSlots);
        for (int k = 0; k < n && k < kObjectSlots; ++k) {
            const Box& box = m_boxes[order[k]];
            const BoxState& s = boxes[order[k]];
            ObjectTruth& o = out.objects[k];
            o.id = box.objectId;
            o.history = history;
            o.measured = 1;
            o.type = box.objectType;
            o.age = static_cast<int32_t>(frameCounter);
            o.x1 = s.lo[0];
            o.y1 = s.lo[1];
            o.x2 = s.hi[0];
            o.y2 = s.hi[1];
            o.zMin = s.lo[2];
            o.zMax = s.hi[2];
            o.vX = s.vx;
            o.existenceProbability = std::min(1.0f, 0.5f + boxHits[order[k]] / 40.0f);
            o.vXQuality = box.moving ? 0.9f : 1.0f;
            o.vYQuality = 0.8f;
            // Crash predictor: an object in the vehicle's path closing in within two seconds.
            if (s.vx < 0 && s.hi[1] > st.vehicleYMin && s.lo[1] < st.vehicleYMax &&
                s.lo[0] > st.vehicleXMax) {
                const float ttc = (s.lo[0] - st.vehicleXMax) / -s.vx;
                if (ttc < 2.0f && out.crashPredictor.crashPredicted != 1) {
                    out.crashPredictor.crashPredicted = 1;
                    out.crashPredictor.crashObjectID = o.id;
                    out.crashPredictor.crashPredictTime = ttc;
                    out.crashPredictor.relImpactVelocity = -s.vx;
                } else if (ttc < 3.0f && out.crashPredictor.crashPredicted == -1) {
                    out.crashPredictor.crashPredicted = 0;
                    out.crashPredictor.crashObjectID = o.id;
                }
            }
        }
    }
}

void Scene::fillLines(const Frame& f, FrameTruth& out) const {
    // Lines: the windrow as line 0 while it is seen.
    const SceneSettings& st = m_settings;
    const uint32_t frameCounter = f.counter;
    const Windrow& wr = f.wr;
    const float ta = f.ta;
    const int windrowHits = f.windrowHits;
    const float windrowFarthest = f.windrowFarthest;
    out.hasLines = st.variant == Variant::LG;
    out.lines.fill(LineTruth{});
    out.numberOfLines = 0;
    out.refPoint = st.refPoint;
    out.calibResult = CalibResultTruth{};
    if (out.hasLines) {
        if (windrowHits >= 5) {
            LineTruth& l = out.lines[0];
            out.numberOfLines = 1;
            const float offsetAtRef = wr.y0 + ta * st.refPoint[0] - st.refPoint[1];
            l.id = 1;
            l.history = static_cast<int32_t>(std::min<uint32_t>(frameCounter, 100));
            l.measured = 1;
            l.type = 1;
            l.alpha = wr.alpha;
            l.offset = offsetAtRef;
            l.curvature = 0.0f;
            l.quality = std::min(1.0f, windrowHits / 120.0f);
            l.foresight = windrowFarthest;
            l.heap_area = 0.5f * wr.width * wr.height;
            l.heap_area_valid = 1;
            l.heap_width = wr.width;
            l.heap_width_valid = 1;
            l.center_of_gravity_offset = offsetAtRef;
            l.center_of_gravity_offset_valid = 1;
            l.max_height_offset = offsetAtRef;
            l.max_height_offset_valid = 1;
            l.heap_height = wr.height;
            l.heap_height_valid = 1;
        }
        out.calibResult.transZ = st.pose.transZ;
        out.calibResult.rotX = st.pose.rotX;
        out.calibResult.rotY = st.pose.rotY;
        out.calibResult.rotZ = st.pose.rotZ;
        out.calibResult.calibrationStableCounter =
            static_cast<int32_t>(std::min<uint32_t>(frameCounter, 1000));
        out.calibResult.calibValid = frameCounter >= 50 ? 1 : 0;
    }
}

void Scene::fillStatus(const Frame& f, FrameTruth& out) const {
    const SceneSettings& st = m_settings;
    out.hasCalibration2d = st.carriesCalibration2d;
    if (out.hasCalibration2d) {
        out.calibration2d = cameraCalibration2d(st.pose);
    } else {
        out.calibration2d.fill(0.0f);
    }

    out.cameraMainTemperature = static_cast<float>(41.5 + 1.5 * std::sin(2 * kPi * f.seconds / 600.0));
    out.illuTemperature = out.cameraMainTemperature + 6.25f;
    out.opMode = 34;

    out.available = available::kDistanceImage;
    if (out.hasObjects)
        out.available |= available::kObjectList;
    if (out.hasLines) {
        out.available |= available::kLineList;
        if (out.calibResult.calibValid)
            out.available |= available::kCalibrationResult;
    }
    if (out.hasCalibration2d)
        out.available |= available::kCalibration2d;
    if (out.sprayActive)
        out.available |= available::kSprayDetected;
    if (f.clipping)
        out.available |= available::kClipping;
}

} // namespace trvsim
