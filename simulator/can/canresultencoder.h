#pragma once
// Encodes one measurement cycle's function results as the sensor sends them on CAN: the object
// list with its crash predictor (OD), the basic-function values per ROI group (DI) and the
// guidance lines (LG), as J1939 messages or as the payloads of CANopen process data objects.
// Pure functions of the cycle's truth, so tests can decode them against the same truth.

#include "simulator/can/simcanbus.h"
#include "simulator/frametruth.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

namespace trvsim {

constexpr int kRoiGroups = 64;

// One ROI group's basic-function values; NaN where not available.
struct RoiGroupValue {
    float x = NAN, y = NAN, z = NAN, amplitude = NAN;
};
struct BasicFunctionValues {
    int count = 0; // configured ROI groups
    std::array<RoiGroupValue, kRoiGroups> groups{};
};

// Result-frame layout generation from the firmware version: below 3.2 -> 1, 3.2 and 3.3 -> 2,
// from 3.4 on -> 3.
int canResultGeneration(int major, int minor);

// 16 bytes per object / line, 8 per crash predictor, as four little-endian words.
std::array<uint8_t, 16> encodeObject(const ObjectTruth& object);
std::array<uint8_t, 8> encodeCrashPredictor(const CrashPredictorTruth& crash);
std::array<uint8_t, 16> encodeLine(const LineTruth& line);
// Data message k of a BF cycle: quantity k % 4 (x, y, z, amplitude) of groups 4 (k / 4) .. + 3.
std::array<uint8_t, 8> encodeBasicFunctionMessage(const BasicFunctionValues& values, int k);
// The state message carrying the global information byte (byte 4).
std::array<uint8_t, 8> globalInformationMessage(uint8_t globalInformation);

// J1939 message numbers (PDU format and specific) by function and generation.
struct J1939Numbers {
    uint16_t cycleEnd, secondState, firstData;
};
J1939Numbers odNumbers(int generation);
J1939Numbers bfNumbers(int generation);

// The 29-bit identifier of message number pgn from source address sa, priority 6.
uint32_t j1939Id(uint16_t messageNumber, uint8_t sourceAddress);

// One cycle's J1939 frames, in sending order. maxItems limits objects or lines (the sensor's CAN
// parameters).
std::vector<SimCanFrame> j1939OdCycle(const FrameTruth& truth, int generation, uint8_t sa, int maxObjects);
std::vector<SimCanFrame> j1939BfCycle(const BasicFunctionValues& values, uint8_t globalInformation,
                                      int generation, uint8_t sa);
std::vector<SimCanFrame> j1939LgCycle(const FrameTruth& truth, uint8_t sa, int maxLines);

// The messages of one cycle in CANopen transmit-PDO order: entry i is sent on the COB-ID the
// master configured for TPDO i (see tpdoIndex()); entries without one are not sent.
struct PdoMessage {
    int tpdo = 0;
    std::array<uint8_t, 8> data{};
};
std::vector<PdoMessage> canopenOdCycle(const FrameTruth& truth, int generation);
std::vector<PdoMessage> canopenBfCycle(const BasicFunctionValues& values, uint8_t globalInformation,
                                       int generation);
std::vector<PdoMessage> canopenLgCycle(const FrameTruth& truth);

// The object-dictionary index (communication parameter) of TPDO i of a function and generation,
// and the inverse (-1: not one of its TPDOs).
enum class CanFunction { OD, BF, LG };
int tpdoIndex(CanFunction function, int generation, int tpdo);
int tpdoFromIndex(CanFunction function, int generation, int index);
int tpdoCount(CanFunction function);

} // namespace trvsim
