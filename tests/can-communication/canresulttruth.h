#pragma once
// Test support for the CAN result receivers: the virtual sensor's encoding of one cycle as the
// frames a decoder sees (CANopen on the COB-IDs that the decoder's map configures), the comparison
// of a decoded record with the scene's truth to the encoding's resolution, and a wait that serves
// the queued signals.

#include "can-communication/canresultdecoder.h"
#include "simulator/can/canresultencoder.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace canresults {

template <class Done> bool waitFor(Done done, int ms = 20000) {
    QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

inline trvsim::CanFunction simFunction(ResultFrameMap::Function f) {
    return f == ResultFrameMap::Function::OD   ? trvsim::CanFunction::OD
           : f == ResultFrameMap::Function::BF ? trvsim::CanFunction::BF
                                               : trvsim::CanFunction::LG;
}

inline CanFrame canFrame(uint32_t id, const uint8_t* data, uint8_t length = 8) {
    CanFrame frame;
    frame.identifier = id;
    std::memcpy(frame.data, data, std::min<size_t>(length, 8));
    frame.length = length;
    return frame;
}

// One cycle as the sensor sends it.
inline std::vector<CanFrame> sensorCycle(const ResultFrameMap& map, const trvsim::FrameTruth& truth,
                                         const trvsim::BasicFunctionValues& values) {
    const int generation = map.generation();
    const uint8_t sa = uint8_t(map.address()), global = uint8_t(truth.available & 0xFF);
    std::vector<trvsim::SimCanFrame> frames;
    std::vector<trvsim::PdoMessage> pdos;
    switch (map.function()) {
    case ResultFrameMap::Function::OD:
        if (map.canopen())
            pdos = trvsim::canopenOdCycle(truth, generation);
        else
            frames = trvsim::j1939OdCycle(truth, generation, sa, trvsim::kObjectSlots);
        break;
    case ResultFrameMap::Function::BF:
        if (map.canopen())
            pdos = trvsim::canopenBfCycle(values, global, generation);
        else
            frames = trvsim::j1939BfCycle(values, global, generation, sa);
        break;
    case ResultFrameMap::Function::LG:
        if (map.canopen())
            pdos = trvsim::canopenLgCycle(truth);
        else
            frames = trvsim::j1939LgCycle(truth, sa, trvsim::kLineSlots);
        break;
    }
    std::vector<CanFrame> out;
    for (const trvsim::SimCanFrame& f : frames)
        out.push_back(canFrame(f.id, f.data.data(), f.length));
    for (const trvsim::PdoMessage& m : pdos) {
        const int index = trvsim::tpdoIndex(simFunction(map.function()), generation, m.tpdo);
        for (const ResultFrameMap::PdoAssignment& a : map.pdoAssignments())
            if (a.index == index)
                out.push_back(canFrame(a.cobId, m.data.data()));
    }
    return out;
}

// A field as the sensor encodes it: offset, scale and largest raw value.
template <class Decoded, class Truth> struct Field {
    const char* name;
    float Decoded::*decoded;
    float Truth::*truth;
    float offset, scale, largest;
};

class Mismatches {
public:
    void near(const char* name, int i, double decoded, double truth, double tolerance) {
        if (!(std::fabs(decoded - truth) <= tolerance))
            out << name << '[' << i << "] " << decoded << " != " << truth << "; ";
    }
    template <class D, class T, size_t N>
    void fields(const D& d, const T& t, const Field<D, T> (&table)[N], int i) {
        for (const auto& f : table)
            near(f.name, i, d.*f.decoded, std::clamp(t.*f.truth, f.offset, f.offset + f.largest * f.scale),
                 f.scale * 0.52);
    }
    std::string text() const { return out.str(); }

private:
    std::ostringstream out;
};

using ObjectField = Field<DetectedObject_TRVAXX, trvsim::ObjectTruth>;
inline const ObjectField kObjectFields[] = {
    {"x1", &DetectedObject_TRVAXX::x1, &trvsim::ObjectTruth::x1, -80, 0.02f, 0x1FFF},
    {"y1", &DetectedObject_TRVAXX::y1, &trvsim::ObjectTruth::y1, -80, 0.02f, 0x1FFF},
    {"zMin", &DetectedObject_TRVAXX::zMin, &trvsim::ObjectTruth::zMin, -10, 0.02f, 0x7FF},
    {"vX", &DetectedObject_TRVAXX::vX, &trvsim::ObjectTruth::vX, -30, 0.5f, 0x7F},
    {"vY", &DetectedObject_TRVAXX::vY, &trvsim::ObjectTruth::vY, -30, 0.5f, 0x7F},
    {"vZ", &DetectedObject_TRVAXX::vZ, &trvsim::ObjectTruth::vZ, -6, 0.5f, 0x1F},
    {"aX", &DetectedObject_TRVAXX::aX, &trvsim::ObjectTruth::aX, -10, 1, 0x1F},
    {"aY", &DetectedObject_TRVAXX::aY, &trvsim::ObjectTruth::aY, -10, 1, 0x1F},
    {"aZ", &DetectedObject_TRVAXX::aZ, &trvsim::ObjectTruth::aZ, -5, 1, 0xF},
    {"existence", &DetectedObject_TRVAXX::existenceProbability, &trvsim::ObjectTruth::existenceProbability, 0,
     1, 7},
    {"vXQuality", &DetectedObject_TRVAXX::vXQuality, &trvsim::ObjectTruth::vXQuality, 0, 1, 7},
    {"vYQuality", &DetectedObject_TRVAXX::vYQuality, &trvsim::ObjectTruth::vYQuality, 0, 1, 7},
};

using LineField = Field<DetectedLine_TRVAXX, trvsim::LineTruth>;
inline const LineField kLineFields[] = {
    {"alpha", &DetectedLine_TRVAXX::alpha, &trvsim::LineTruth::alpha, 0, 1, 0x1FF},
    {"offset", &DetectedLine_TRVAXX::offset, &trvsim::LineTruth::offset, -10, 0.01f, 0x7FF},
    {"curvature", &DetectedLine_TRVAXX::curvature, &trvsim::LineTruth::curvature, -0.05f, 0.0005f, 0xFF},
    {"quality", &DetectedLine_TRVAXX::quality, &trvsim::LineTruth::quality, 0, 1, 0x7F},
    {"foresight", &DetectedLine_TRVAXX::foresight, &trvsim::LineTruth::foresight, 0, 1, 0x1F},
    {"heap_area", &DetectedLine_TRVAXX::heap_area, &trvsim::LineTruth::heap_area, 0, 0.01f, 0x3FF},
    {"heap_width", &DetectedLine_TRVAXX::heap_width, &trvsim::LineTruth::heap_width, 0, 1, 0x7F},
    {"cog_offset", &DetectedLine_TRVAXX::center_of_gravity_offset,
     &trvsim::LineTruth::center_of_gravity_offset, -5, 0.05f, 0xFF},
    {"max_height_offset", &DetectedLine_TRVAXX::max_height_offset, &trvsim::LineTruth::max_height_offset, -5,
     0.05f, 0xFF},
    {"heap_height", &DetectedLine_TRVAXX::heap_height, &trvsim::LineTruth::heap_height, 0, 0.01f, 0x1FF},
    {"z_step", &DetectedLine_TRVAXX::z_step_detection_height, &trvsim::LineTruth::z_step_detection_height, 0,
     0.01f, 0x1FF},
};

// Empty when the record is the truth's cycle.
inline std::string compare(const DetectedObjectData_TRVAXX& d, const trvsim::FrameTruth& t) {
    Mismatches m;
    for (int i = 0; i < TRVAXX_OBJECT_COUNT; ++i) {
        const DetectedObject_TRVAXX& o = d.objects[size_t(i)];
        if (i >= t.numberOfObjects) {
            m.near("id of an empty slot", i, o.id, 0, 0);
            continue;
        }
        const trvsim::ObjectTruth& w = t.objects[size_t(i)];
        m.near("id", i, o.id, w.id & 0xFF, 0);
        m.near("type", i, o.type, w.type & 1, 0);
        m.near("measured", i, o.measured, w.measured & 1, 0);
        m.near("age", i, o.age, w.age & 3, 0);
        m.near("history", i, o.history, w.history & 1, 0);
        m.fields(o, w, kObjectFields, i);
        m.near("x2", i, o.x2, w.x2, 0.021);
        m.near("y2", i, o.y2, w.y2, 0.021);
        m.near("zMax", i, o.zMax, w.zMax, 0.021);
    }
    m.near("crashObjectID", 0, d.crashObjectID, t.crashPredictor.crashObjectID & 0xFF, 0);
    m.near("crashPredictTime", 0, d.crashPredictTime, t.crashPredictor.crashPredictTime, 0.021);
    m.near("relImpactVelocity", 0, d.relImpactVelocity, t.crashPredictor.relImpactVelocity, 0.051);
    m.near("crashPredicted", 0, d.crashPredicted, t.crashPredictor.crashPredicted, 0);
    return m.text();
}

inline std::string compare(const DetectedLineData_TRVAXX& d, const trvsim::FrameTruth& t) {
    Mismatches m;
    for (int i = 0; i < TRVAXX_LINE_COUNT; ++i) {
        const DetectedLine_TRVAXX& l = d.lines[size_t(i)];
        if (i >= t.numberOfLines) {
            m.near("id of an empty slot", i, l.id, 0, 0);
            continue;
        }
        const trvsim::LineTruth& w = t.lines[size_t(i)];
        m.near("id", i, l.id, w.id & 0x7F, 0);
        m.fields(l, w, kLineFields, i);
        const std::pair<int32_t DetectedLine_TRVAXX::*, int32_t trvsim::LineTruth::*> flags[] = {
            {&DetectedLine_TRVAXX::history, &trvsim::LineTruth::history},
            {&DetectedLine_TRVAXX::measured, &trvsim::LineTruth::measured},
            {&DetectedLine_TRVAXX::type, &trvsim::LineTruth::type},
            {&DetectedLine_TRVAXX::heap_area_valid, &trvsim::LineTruth::heap_area_valid},
            {&DetectedLine_TRVAXX::heap_width_valid, &trvsim::LineTruth::heap_width_valid},
            {&DetectedLine_TRVAXX::center_of_gravity_offset_valid,
             &trvsim::LineTruth::center_of_gravity_offset_valid},
            {&DetectedLine_TRVAXX::max_height_offset_valid, &trvsim::LineTruth::max_height_offset_valid},
            {&DetectedLine_TRVAXX::heap_height_valid, &trvsim::LineTruth::heap_height_valid},
            {&DetectedLine_TRVAXX::z_step_detection_valid, &trvsim::LineTruth::z_step_detection_valid},
        };
        for (const auto& [decoded, truth] : flags)
            m.near("flag", i, l.*decoded, w.*truth & 1, 0);
    }
    return m.text();
}

inline std::string compare(const BasicFunctionsData_TRVAXX& d, const trvsim::BasicFunctionValues& v) {
    Mismatches m;
    m.near("count", 0, d.count, v.count, 0);
    auto value = [&](const char* name, int g, float decoded, float truth, float lo, float hi, double step) {
        if (g >= v.count || std::isnan(truth))
            m.near(name, g, std::isnan(decoded) ? 0 : 1, 0, 0); // not available
        else
            m.near(name, g, decoded, std::clamp(truth, lo, hi), step / 2 + 1e-3);
    };
    for (int g = 0; g < TRVAXX_ROI_GROUP_COUNT; ++g) {
        const RoiGroupValues_TRVAXX& r = d.roiGroups[size_t(g)];
        const trvsim::RoiGroupValue& w = v.groups[size_t(g)];
        value("x", g, r.x, w.x, -100, 227.8f, 0.01);
        value("y", g, r.y, w.y, -100, 227.8f, 0.01);
        value("z", g, r.z, w.z, -100, 227.8f, 0.01);
        value("amplitude", g, r.amplitude, w.amplitude, 2, 65534, 2); // a present amplitude is at least 1 raw
    }
    return m.text();
}

} // namespace canresults
