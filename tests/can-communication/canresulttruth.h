#pragma once
// Test support for the CAN result receivers: one sensor cycle as the frames a decoder sees, and a
// decoded record compared with the scene's truth to the encoding's resolution.

#include "can-communication/canresultdecoder.h"
#include "simulator/can/canresultencoder.h"
#include "simulator/can/canresultsender.h"
#include "simulator/virtualsensor.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <algorithm>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

namespace canresults {

template <class Done> bool waitFor(Done done, int ms = 20000) {
    QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

inline CanFrame canFrame(uint32_t id, const uint8_t* data, uint8_t length = 8) {
    CanFrame frame;
    frame.identifier = id;
    std::memcpy(frame.data, data, std::min<size_t>(length, 8));
    frame.length = length;
    return frame;
}

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
        // Both enumerations list OD, BF, LG.
        const int index = trvsim::tpdoIndex(trvsim::CanFunction(map.function()), generation, m.tpdo);
        for (const ResultFrameMap::PdoAssignment& a : map.pdoAssignments())
            if (a.index == index)
                out.push_back(canFrame(a.cobId, m.data.data()));
    }
    return out;
}

// The decoded values in the simulator's terms (both records list their fields in the same order).
inline trvsim::ObjectTruth simObject(const DetectedObject_TRVAXX& o) {
    return {o.id,        o.history,  o.measured, o.type, o.age, o.x1, o.y1, o.x2, o.y2,
            o.zMin,      o.zMax,     o.vX,       o.vY,   o.vZ,  o.aX, o.aY, o.aZ, o.existenceProbability,
            o.vXQuality, o.vYQuality};
}
// clang-format off
inline trvsim::LineTruth simLine(const DetectedLine_TRVAXX& l) {
    return {l.id, l.history, l.measured, l.type, l.alpha, l.offset, l.curvature, l.quality, l.foresight,
            l.heap_area, l.heap_area_valid, l.heap_width, l.heap_width_valid, l.center_of_gravity_offset,
            l.center_of_gravity_offset_valid, l.max_height_offset, l.max_height_offset_valid, l.heap_height,
            l.heap_height_valid, l.z_step_detection_height, l.z_step_detection_valid};
}
// clang-format on

// Empty when the record is the truth's cycle: the sensor's encoding of the decoded values gives
// the same raw bits as the encoding of the truth (so every field is exact to its resolution);
// else the first item that differs. Slots beyond the cycle's items must carry id 0.
inline std::string compare(const DetectedObjectData_TRVAXX& d, const trvsim::FrameTruth& t) {
    for (int i = 0; i < TRVAXX_OBJECT_COUNT; ++i) {
        const DetectedObject_TRVAXX& o = d.objects[size_t(i)];
        if (i < t.numberOfObjects
                ? trvsim::encodeObject(simObject(o)) != trvsim::encodeObject(t.objects[size_t(i)])
                : o.id != 0)
            return "object " + std::to_string(i);
    }
    const trvsim::CrashPredictorTruth crash{d.crashObjectID, d.crashPredictTime, d.relImpactVelocity,
                                            d.crashPredicted};
    return trvsim::encodeCrashPredictor(crash) == trvsim::encodeCrashPredictor(t.crashPredictor)
               ? ""
               : "crash predictor";
}

inline std::string compare(const DetectedLineData_TRVAXX& d, const trvsim::FrameTruth& t) {
    for (int i = 0; i < TRVAXX_LINE_COUNT; ++i) {
        const DetectedLine_TRVAXX& l = d.lines[size_t(i)];
        if (i < t.numberOfLines ? trvsim::encodeLine(simLine(l)) != trvsim::encodeLine(t.lines[size_t(i)])
                                : l.id != 0)
            return "line " + std::to_string(i);
    }
    return "";
}

inline std::string compare(const BasicFunctionsData_TRVAXX& d, const trvsim::BasicFunctionValues& v) {
    if (d.count != v.count)
        return "count " + std::to_string(d.count);
    trvsim::BasicFunctionValues decoded;
    decoded.count = d.count;
    for (int g = 0; g < TRVAXX_ROI_GROUP_COUNT; ++g) {
        const RoiGroupValues_TRVAXX& r = d.roiGroups[size_t(g)];
        decoded.groups[size_t(g)] = {r.x, r.y, r.z, r.amplitude};
    }
    for (int k = 0; k < TRVAXX_ROI_GROUP_COUNT; ++k)
        if (trvsim::encodeBasicFunctionMessage(decoded, k) != trvsim::encodeBasicFunctionMessage(v, k))
            return "data message " + std::to_string(k);
    return "";
}

// Empty when the record is the sensor's cycle `frame`, else the first item that differs.
template <class Record>
std::string mismatch(const Record& r, const trvsim::VirtualSensor& s, uint32_t frame) {
    if constexpr (std::is_same_v<Record, BasicFunctionsData_TRVAXX>)
        return compare(r, trvsim::basicFunctionValues(s.truth(frame), s.dspParameters()));
    else
        return compare(r, s.truth(frame));
}

} // namespace canresults
