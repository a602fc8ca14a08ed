#include "simulator/resultframewriter.h"

namespace trvsim {

namespace {

// Members of one object and one line in the order of the result records; each either an i32 or
// an f32 field of the truth.
struct ObjectField {
    const char* name;
    int32_t ObjectTruth::*i;
    float ObjectTruth::*f;
};
const ObjectField kObjectFields[20] = {
    {"id", &ObjectTruth::id, nullptr},
    {"history", &ObjectTruth::history, nullptr},
    {"measured", &ObjectTruth::measured, nullptr},
    {"type", &ObjectTruth::type, nullptr},
    {"age", &ObjectTruth::age, nullptr},
    {"x1", nullptr, &ObjectTruth::x1},
    {"y1", nullptr, &ObjectTruth::y1},
    {"x2", nullptr, &ObjectTruth::x2},
    {"y2", nullptr, &ObjectTruth::y2},
    {"zMin", nullptr, &ObjectTruth::zMin},
    {"zMax", nullptr, &ObjectTruth::zMax},
    {"vX", nullptr, &ObjectTruth::vX},
    {"vY", nullptr, &ObjectTruth::vY},
    {"vZ", nullptr, &ObjectTruth::vZ},
    {"aX", nullptr, &ObjectTruth::aX},
    {"aY", nullptr, &ObjectTruth::aY},
    {"aZ", nullptr, &ObjectTruth::aZ},
    {"existenceProbability", nullptr, &ObjectTruth::existenceProbability},
    {"vXQuality", nullptr, &ObjectTruth::vXQuality},
    {"vYQuality", nullptr, &ObjectTruth::vYQuality},
};

struct LineField {
    const char* name;
    int32_t LineTruth::*i;
    float LineTruth::*f;
};
const LineField kLineFields[21] = {
    {"id", &LineTruth::id, nullptr},
    {"history", &LineTruth::history, nullptr},
    {"measured", &LineTruth::measured, nullptr},
    {"type", &LineTruth::type, nullptr},
    {"alpha", nullptr, &LineTruth::alpha},
    {"offset", nullptr, &LineTruth::offset},
    {"curvature", nullptr, &LineTruth::curvature},
    {"quality", nullptr, &LineTruth::quality},
    {"foresight", nullptr, &LineTruth::foresight},
    {"heap_area", nullptr, &LineTruth::heap_area},
    {"heap_area_valid", &LineTruth::heap_area_valid, nullptr},
    {"heap_width", nullptr, &LineTruth::heap_width},
    {"heap_width_valid", &LineTruth::heap_width_valid, nullptr},
    {"center_of_gravity_offset", nullptr, &LineTruth::center_of_gravity_offset},
    {"center_of_gravity_offset_valid", &LineTruth::center_of_gravity_offset_valid, nullptr},
    {"max_height_offset", nullptr, &LineTruth::max_height_offset},
    {"max_height_offset_valid", &LineTruth::max_height_offset_valid, nullptr},
    {"heap_height", nullptr, &LineTruth::heap_height},
    {"heap_height_valid", &LineTruth::heap_height_valid, nullptr},
    {"z_step_detection_height", nullptr, &LineTruth::z_step_detection_height},
    {"z_step_detection_valid", &LineTruth::z_step_detection_valid, nullptr},
};

const char* const kCameraNames[6] = {"transX", "transY", "transZ", "rotX", "rotY", "rotZ"};
const char* const kFovNames[4] = {"upperLeft", "upperRight", "lowerRight", "lowerLeft"};
const char* const kCalibResultNames[4] = {"transZ", "rotX", "rotY", "rotZ"};

} // namespace

bool ResultFrameWriter::init(DescribedBlock& block, Variant variant, std::string& error) {
    m_block = &block;
    std::string missing;
    auto need = [&](A accessor, const std::string& path) {
        if (!accessor && missing.empty())
            missing = path;
        return accessor;
    };
    const std::string d = "AlgoIFOutput.distanceImageResult.";
    m_width = need(block.accessor<uint16_t>(d + "sensorWidth"), d + "sensorWidth");
    m_height = need(block.accessor<uint16_t>(d + "sensorHeight"), d + "sensorHeight");
    m_distance = need(block.accessor<uint16_t>(d + "distanceData"), d + "distanceData");
    m_x = need(block.accessor<float>(d + "X"), d + "X");
    m_y = need(block.accessor<float>(d + "Y"), d + "Y");
    m_z = need(block.accessor<float>(d + "Z"), d + "Z");
    m_confidence = need(block.accessor<uint16_t>(d + "confidence"), d + "confidence");
    m_amplitude = need(block.accessor<uint16_t>(d + "amplitude"), d + "amplitude");
    m_normalization =
        need(block.accessor<float>(d + "amplitude_normalization"), d + "amplitude_normalization");
    m_timestamp = need(block.accessor<uint32_t>(d + "masterclockTimestamp"), d + "masterclockTimestamp");
    m_frameCounter = need(block.accessor<uint32_t>(d + "frameCounter"), d + "frameCounter");
    m_available = need(block.accessor<uint32_t>(d + "available"), d + "available");
    for (int i = 0; i < 6; ++i) {
        const std::string p = d + "cameraCalibration." + kCameraNames[i];
        m_camera[i] = need(block.accessor<float>(p), p);
    }
    for (int i = 0; i < 4; ++i) {
        const std::string p = d + "fieldOfView." + kFovNames[i];
        m_fov[i] = need(block.accessor<float>(p), p);
    }

    m_hasCalibration2d = block.has(d + "intrExtrCalib_2d");
    if (m_hasCalibration2d)
        for (int i = 0; i < 19; ++i) {
            const std::string p = d + "intrExtrCalib_2d." + kCalibration2dNames[i];
            m_calibration2d[i] = need(block.accessor<float>(p), p);
        }

    m_hasObjects = variant == Variant::OD;
    if (m_hasObjects) {
        const std::string o = "AlgoIFOutput.objectDetectionResult.";
        m_numberOfObjects = block.accessor<int32_t>(o + "numberOfObjects"); // optional
        for (int k = 0; k < kObjectSlots; ++k)
            for (int f = 0; f < 20; ++f) {
                const std::string p = o + "objectList[" + std::to_string(k) + "]." + kObjectFields[f].name;
                m_objects[k][f] =
                    need(kObjectFields[f].i ? block.accessor<int32_t>(p) : block.accessor<float>(p), p);
            }
        const std::string c = o + "crashPredictorResult.";
        m_crash[0] = need(block.accessor<int32_t>(c + "crashObjectID"), c + "crashObjectID");
        m_crash[1] = need(block.accessor<float>(c + "crashPredictTime"), c + "crashPredictTime");
        m_crash[2] = need(block.accessor<float>(c + "relImpactVelocity"), c + "relImpactVelocity");
        m_crash[3] = need(block.accessor<int32_t>(c + "crashPredicted"), c + "crashPredicted");
    }

    m_hasLines = variant == Variant::LG;
    if (m_hasLines) {
        const std::string l = "AlgoIFOutput.lineGuidanceResult.";
        m_numberOfLines = block.accessor<int32_t>(l + "numberOfLines"); // optional
        for (int k = 0; k < kLineSlots; ++k)
            for (int f = 0; f < 21; ++f) {
                const std::string p = l + "lineList[" + std::to_string(k) + "]." + kLineFields[f].name;
                m_lines[k][f] =
                    need(kLineFields[f].i ? block.accessor<int32_t>(p) : block.accessor<float>(p), p);
            }
        m_refPoint = need(block.accessor<float>(l + "ref_Point"), l + "ref_Point");
        const std::string c = "AlgoIFOutput.calibrationResult.commonCalibrationResult.";
        for (int i = 0; i < 4; ++i) {
            const std::string p = c + "calibResult." + kCalibResultNames[i];
            m_calibResult[i] = need(block.accessor<float>(p), p);
        }
        m_calibResult[4] =
            need(block.accessor<int32_t>(c + "calibrationStableCounter"), c + "calibrationStableCounter");
        m_calibResult[5] = need(block.accessor<int32_t>(c + "calibValid"), c + "calibValid");
    }

    if (!missing.empty()) {
        error = "the channel 8 description has no usable member " + missing;
        return false;
    }
    return true;
}

void ResultFrameWriter::write(const FrameTruth& t) {
    DescribedBlock& b = *m_block;
    b.put(m_width, t.sensorWidth);
    b.put(m_height, t.sensorHeight);
    b.put(m_timestamp, t.masterclockTimestamp);
    b.put(m_frameCounter, t.frameCounter);
    b.put(m_available, t.available);
    b.put(m_distance, t.distanceData.data(), kPixelCount);
    b.put(m_x, t.X.data(), kPixelCount);
    b.put(m_y, t.Y.data(), kPixelCount);
    b.put(m_z, t.Z.data(), kPixelCount);
    b.put(m_confidence, t.confidence.data(), kPixelCount);
    b.put(m_amplitude, t.amplitude.data(), kPixelCount);
    b.put(m_normalization, t.amplitude_normalization.data(), 4);
    const CameraPose& p = t.cameraCalibration;
    const float camera[6] = {p.transX, p.transY, p.transZ, p.rotX, p.rotY, p.rotZ};
    for (int i = 0; i < 6; ++i)
        b.put(m_camera[i], camera[i]);
    b.put(m_fov[0], t.fovUpperLeft.data(), 3);
    b.put(m_fov[1], t.fovUpperRight.data(), 3);
    b.put(m_fov[2], t.fovLowerRight.data(), 3);
    b.put(m_fov[3], t.fovLowerLeft.data(), 3);
    if (m_hasCalibration2d)
        for (int i = 0; i < 19; ++i)
            b.put(m_calibration2d[i], t.calibration2d[i]);

    if (m_hasObjects) {
        b.put(m_numberOfObjects, t.numberOfObjects);
        for (int k = 0; k < kObjectSlots; ++k)
            for (int f = 0; f < 20; ++f) {
                const ObjectField& field = kObjectFields[f];
                if (field.i)
                    b.put(m_objects[k][f], t.objects[k].*field.i);
                else
                    b.put(m_objects[k][f], t.objects[k].*field.f);
            }
        b.put(m_crash[0], t.crashPredictor.crashObjectID);
        b.put(m_crash[1], t.crashPredictor.crashPredictTime);
        b.put(m_crash[2], t.crashPredictor.relImpactVelocity);
        b.put(m_crash[3], t.crashPredictor.crashPredicted);
    }
    if (m_hasLines) {
        b.put(m_numberOfLines, t.numberOfLines);
        for (int k = 0; k < kLineSlots; ++k)
            for (int f = 0; f < 21; ++f) {
                const LineField& field = kLineFields[f];
                if (field.i)
                    b.put(m_lines[k][f], t.lines[k].*field.i);
                else
                    b.put(m_lines[k][f], t.lines[k].*field.f);
            }
        b.put(m_refPoint, t.refPoint.data(), 3);
        const CalibResultTruth& c = t.calibResult;
        b.put(m_calibResult[0], c.transZ);
        b.put(m_calibResult[1], c.rotX);
        b.put(m_calibResult[2], c.rotY);
        b.put(m_calibResult[3], c.rotZ);
        b.put(m_calibResult[4], c.calibrationStableCounter);
        b.put(m_calibResult[5], c.calibValid);
    }
}

} // namespace trvsim
