#pragma once
// The result record the plug-in would interpret from one frame of the virtual sensor's scene:
// pixels, poses, field of view, objects and the 2D calibration, without going through datagrams.
// For view tests and benchmarks that need a realistic scene.

#include "result/resultdata_trvaxx.h"
#include "simulator/frametruth.h"
#include "simulator/scene.h"

namespace resulttest {

inline ResultDataSP_TRVAXX recordFromTruth(const trvsim::FrameTruth& t, const char* variant) {
    ResultDataSP_TRVAXX r(new ResultData_TRVAXX);
    r->sensorWidth = trvsim::kSensorWidth;
    r->sensorHeight = trvsim::kSensorHeight;
    for (std::size_t i = 0; i < std::size_t(trvsim::kPixelCount); ++i) {
        r->X[i] = t.X[i];
        r->Y[i] = t.Y[i];
        r->Z[i] = t.Z[i];
        r->confidence[i] = t.confidence[i];
        r->distanceData[i] = t.distanceData[i];
        r->cameraAxisDistance[i] = t.cameraAxisDistance[i];
    }
    const trvsim::CameraPose& p = t.cameraCalibration;
    r->cameraCalibration = {p.transX, p.transY, p.transZ, p.rotX, p.rotY, p.rotZ};
    r->fieldOfView = {t.fovUpperLeft, t.fovUpperRight, t.fovLowerRight, t.fovLowerLeft};
    for (int i = 0; i < t.numberOfObjects && i < int(r->objects.objects.size()); ++i) {
        const trvsim::ObjectTruth& o = t.objects[std::size_t(i)];
        DetectedObject_TRVAXX& d = r->objects.objects[std::size_t(i)];
        d.id = o.id;
        d.type = o.type;
        d.x1 = o.x1, d.y1 = o.y1, d.x2 = o.x2, d.y2 = o.y2, d.zMin = o.zMin, d.zMax = o.zMax;
    }
    const auto c = t.hasCalibration2d ? t.calibration2d : trvsim::cameraCalibration2d(p);
    r->calibration2d = {c[0],  c[1],  c[2],  c[3],  c[4],  c[5],  c[6],  c[7],  c[8], c[9],
                        c[10], c[11], c[12], c[13], c[14], c[15], c[16], c[17], c[18]};
    r->cameraVariant = QString::fromLatin1(variant);
    return r;
}

} // namespace resulttest
