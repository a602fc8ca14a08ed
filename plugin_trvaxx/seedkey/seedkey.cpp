#include "seedkey/seedkey.h"

namespace trvaxx {

uint32_t securityKeyFromSeed(uint32_t seed) {
    // A few rounds of rotate, multiply and xor: every seed bit reaches every key bit, and no seed
    // maps to itself or to 0, so a tester that echoes the seed is refused.
    uint32_t key = seed ^ 0x5A17C3E9u;
    for (int round = 0; round < 4; ++round) {
        key = (key << 7) | (key >> 25);
        key *= 0x9E3779B1u;
        key ^= key >> 15;
    }
    return key == 0 || key == seed ? ~seed : key;
}

} // namespace trvaxx
