#pragma once

// Builds result cycles for the tests: the three channels a sensor sends (algorithm output 8 and
// identification 256 with the embedded descriptions, DSP parameters 14 with one layout holding
// every variant's members), data blocks filled through the interpreter's own writer, and chunk
// lists of whole cycles.

#include "kvel/kvel_chunk.h"
#include "kvel/kvel_interpret.h"

#include <cstdint>
#include <string>
#include <vector>

namespace resulttest {

using Bytes = std::vector<uint8_t>;

// One data channel with its description, holding the bytes the chunks point into.
struct Channel {
    int number = 0;
    kvel::ITypePtr root;
    Bytes description;
    Bytes data;

    template <class T> void set(const std::string& path, const T* values, uint32_t count) {
        kvel::write(root, path, values, count, data.data(), data.size());
    }
    template <class T> void set(const std::string& path, T value) { set(path, &value, 1); }
};

enum class Variant { DI, OD, LG };

struct Identification {
    uint8_t softwareVersion[3] = {3, 4, 1};
    std::string variant = "OD";
    std::string partNumber = "TRVAFN";
    std::string serialNumber = "  0001234567 ";
    bool unsignedVariant = true; // the element kind of CameraVariant
};

// A full cycle of one variant with deterministic contents.
class CycleBuilder {
public:
    CycleBuilder(Variant variant, const Identification& id);

    Channel algo;       // 8
    Channel parameters; // 14
    Channel identity;   // 256

    // Fills the distance image: pixel i gets X, Y, Z, confidence and amplitude from simple formulas,
    // a fixed calibration, and frameCounter.
    void fillImage(uint32_t frameCounter);

    // The chunk list over the channels given (default: all three).
    std::vector<KvelChunk> chunks(const std::vector<const Channel*>& which) const;
    std::vector<KvelChunk> chunks() const { return chunks({&algo, &parameters, &identity}); }

    static std::string variantText(Variant v);
};

} // namespace resulttest
