#pragma once
// The security-access key routine: maps the 4-byte seed a sensor sends to the 4-byte key it
// accepts. Shared by the plug-in's diagnostic client and the virtual sensor's diagnostic server,
// so that both sides of the exchange use one definition.

#include <cstdint>

namespace trvaxx {

// Seed and key are big-endian numbers as they travel in the SecurityAccess messages. A seed of 0
// means "unlocked already" and is never passed here.
uint32_t securityKeyFromSeed(uint32_t seed);

} // namespace trvaxx
