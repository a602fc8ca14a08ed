#pragma once
// Writes a frame's truth into the algorithm output (channel 8) through the accessors of its
// description, resolved once: a cycle costs one copy per member and no lookups.

#include "simulator/describedblock.h"
#include "simulator/frametruth.h"
#include "simulator/simconfig.h"

#include <array>
#include <string>
#include <vector>

namespace trvsim {

class ResultFrameWriter {
public:
    // Resolves every member the variant sends; false with error naming the first missing path.
    bool init(DescribedBlock& block, Variant variant, std::string& error);
    void write(const FrameTruth& truth);

    // Whether the description carries the 2D calibration block (the OD output does).
    bool carriesCalibration2d() const { return m_hasCalibration2d; }

private:
    using A = kvel::AccessorPtr;
    DescribedBlock* m_block = nullptr;
    bool m_hasObjects = false, m_hasLines = false, m_hasCalibration2d = false;

    A m_width, m_height, m_distance, m_x, m_y, m_z, m_confidence, m_amplitude, m_normalization;
    A m_timestamp, m_frameCounter, m_available;
    std::array<A, 6> m_camera;
    std::array<A, 4> m_fov;
    std::array<A, 19> m_calibration2d;

    A m_numberOfObjects;
    std::array<std::array<A, 20>, kObjectSlots> m_objects;
    std::array<A, 4> m_crash;

    A m_numberOfLines;
    std::array<std::array<A, 21>, kLineSlots> m_lines;
    A m_refPoint;
    std::array<A, 6> m_calibResult;
};

} // namespace trvsim
