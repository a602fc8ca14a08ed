#pragma once
// The pure half of the CAN function-result receivers: which frame is which message of a result
// cycle (J1939 message numbers or CANopen COB-IDs), and the decoders that collect one cycle's
// messages and turn them into a new result record. Frames in, records out: no threads, no bus, no
// clock of their own (the caller passes the time of arrival), so tests and fuzzers drive them
// directly. The worker threads of Receiver_OD/BF/LG run them.
//
// Identifiers and order follow what the sensor sends (simulator/can/CAN_RESULTS.md):
// - J1939: a frame belongs to the sensor when its source address (bits 0..7) is the sensor's; its
//   message number is bits 8..23.
//   | Function | Generation | Global information | Second state       | Data           | Other |
//   | OD       | 1          | 0xFF04 (cycle end) | crash pred. 0xFF05 | 40 from 0xFF06 |       |
//   | OD       | 2, 3       | 0xFF01 (cycle end) | crash pred. 0xFF02 | 40 from 0xFF10 |       |
//   | BF       | 1          | 0xFF04 (cycle end) | configur.   0xFF01 | 64 from 0xFF06 | 0xFF00 frame counter
//   | | BF       | 2, 3       | 0xFF01 (cycle end) | configur.   0xFF02 | 64 from 0xFF10 | 0xFF00 frame
//   counter | | LG       | any        | 0xFF01             | line count  0xFF02 | 10 from 0xFF10 | 0xFF00
//   frame counter |
// - CANopen (node N): data message k on (0x100 x (k mod 4 + 1)) + 0x80 + N + k div 4, one higher
//   for OD and BF generations 2 and 3 and for LG. The three state messages:
//   OD 1: crash predictor 0x18A + N, global information 0x28A + N, cycle end 0x38A + N (indices
//         0x1828, 0x1829, 0x182A; data from 0x1800);
//   BF 1: configuration 0x190 + N, global information 0x290 + N, frame counter 0x390 + N (indices
//         0x1840, 0x1841, 0x1842; data from 0x1800): just after the 16 data identifiers, as OD's
//         follow its 10;
//   OD, BF 2 and 3, LG: frame counter (index 0x1800) 0x180 + N, global information (0x1801)
//         0x280 + N, second state (0x1802: crash predictor, configuration, line count) 0x380 + N;
//         data from 0x1810. 0x18A + N would be object 18's first half in these generations.
// - A cycle is decoded: OD on its cycle-end message (J1939 global information, CANopen generation
//   1 0x38A + N) or, CANopen generations 2 and 3, once object 19's second half is stored (the
//   sensor sends it last); BF on the global information message; LG once data message 4 (line 2,
//   first half) is stored: the sensor sends the second halves 5..9 first, so every line of the
//   cycle is there by then.
// Frames of another source, of an unknown number, of a length other than 8, or with values out of
// range (a ROI group count above 64, a line count above 5, vehicle values in the J1939 error /
// not-available range) change nothing and are counted by reason.

#include "can-communication/canframe.h"
#include "result/resultdata_trvaxx.h"

#include <array>
#include <cstdint>
#include <utility>
#include <vector>

// The message of a result cycle that a frame carries.
struct CycleMessage {
    enum Kind : uint8_t { None, Data, GlobalInformation, SecondState, CycleEnd, FrameCounter };
    Kind kind = None;
    uint8_t index = 0; // data message number within the cycle
    bool operator==(const CycleMessage& other) const { return kind == other.kind && index == other.index; }
};

// Where one function's messages travel for one protocol, generation and sensor address.
class ResultFrameMap {
public:
    enum class Function { OD, BF, LG };
    struct PdoAssignment {
        uint16_t index; // object-dictionary index of the transmit PDO's communication parameter
        uint16_t cobId;
    };

    // False when the generation (1..3) or the address (J1939 0..253, CANopen 1..127) is not one.
    static bool isValid(bool canopen, int generation, int address);
    // Only for valid arguments.
    ResultFrameMap(Function function, bool canopen, int generation, int address);

    Function function() const { return m_function; }
    bool canopen() const { return m_canopen; }
    int address() const { return m_address; }
    int generation() const { return m_generation; }
    int dataCount() const { return m_dataCount; }
    // The message whose arrival completes a cycle.
    CycleMessage trigger() const { return m_trigger; }
    // Kind None for frames that are none of the sensor's; fromSensor tells "another source" from
    // "an unknown message of the sensor".
    CycleMessage classify(const CanFrame& frame, bool* fromSensor = nullptr) const;
    // CANopen: the transmit PDOs to configure, data messages first.
    const std::vector<PdoAssignment>& pdoAssignments() const { return m_pdos; }

private:
    struct StateNumber {
        uint16_t number; // J1939 message number
        CycleMessage::Kind kind;
    };
    Function m_function;
    bool m_canopen;
    int m_generation;
    int m_address;
    int m_dataCount = 0;
    uint16_t m_firstData = 0;
    std::vector<StateNumber> m_states;
    CycleMessage m_trigger;
    std::vector<PdoAssignment> m_pdos;
    std::array<CycleMessage, kCanMaxStandardId + 1> m_byCobId{};
};

// Field decoders on the raw bytes (little-endian 32-bit words).
DetectedObject_TRVAXX decodeObject(const uint8_t* bytes16);
void decodeCrashPredictor(const uint8_t* bytes8, DetectedObjectData_TRVAXX& record);
DetectedLine_TRVAXX decodeLine(const uint8_t* bytes16);

// The vehicle's own J1939 messages (speed, tachograph, yaw rate) from any source, with their
// times of arrival and the last ten intervals between arrivals.
class VehicleMessages {
public:
    static constexpr uint32_t kSpeedIds[2] = {0x1803EFFE, 0x1803FFFE};
    static constexpr uint32_t kTachographId = 0x0CFE6CFE;
    static constexpr uint32_t kYawRateId = 0x18F009FE;
    static constexpr qint64 kFreshMs = 150;
    enum class Taken { No, Yes, WrongLength, OutOfRange };

    Taken take(const CanFrame& frame, qint64 nowMs);
    // Speed, direction and yaw rate when fresh at nowMs; the fields stay 0 otherwise.
    void fill(DetectedObjectData_TRVAXX& record, qint64 nowMs) const;

private:
    struct Message {
        std::array<uint8_t, 8> data{};
        qint64 arrival = -1;
        std::array<qint64, 10> intervals{};
        int intervalCount = 0, next = 0;
        void store(const uint8_t* bytes, qint64 nowMs);
        bool freshAt(qint64 nowMs) const { return arrival >= 0 && nowMs - arrival < kFreshMs; }
        int32_t meanInterval() const;
    };
    Message speed, tachograph, yawRate;
};

// Collects the messages of one function's cycles and decodes each complete cycle. feed() returns
// true when the frame completed a cycle; the derived class's take() then gives the new record.
class ResultDecoder {
public:
    enum Ignored { OtherSource, UnknownMessage, WrongLength, OutOfRange, IgnoredKinds };

    explicit ResultDecoder(const ResultFrameMap& map) : m_map(map) {}
    virtual ~ResultDecoder() = default;

    bool feed(const CanFrame& frame, qint64 nowMs);
    const ResultFrameMap& frameMap() const { return m_map; }
    // The global information byte of the last cycle (byte 4 of its message).
    uint8_t globalInformation() const { return m_global[4]; }
    uint64_t ignored(Ignored reason) const { return m_ignored[reason]; }
    static const char* ignoredName(Ignored reason);

protected:
    // Stores a data or second state message; false when a value is out of range (nothing stored).
    virtual bool store(const CycleMessage& message, const uint8_t* data) = 0;
    // A frame that is no message of the sensor's cycle; Yes when the decoder uses it.
    virtual VehicleMessages::Taken takeOther(const CanFrame&, qint64) { return VehicleMessages::Taken::No; }
    // Decodes the collected messages into a new record and prepares the next cycle.
    virtual void finishCycle(qint64 nowMs) = 0;

    std::array<uint8_t, 8> m_global{};

private:
    ResultFrameMap m_map;
    std::array<uint64_t, IgnoredKinds> m_ignored{};
};

// Object list, crash predictor and vehicle data.
class ObjectResultDecoder : public ResultDecoder {
public:
    explicit ObjectResultDecoder(const ResultFrameMap& map) : ResultDecoder(map) {}
    DetectedObjectData_TRVAXX_t take() { return std::exchange(m_record, {}); }

protected:
    bool store(const CycleMessage& message, const uint8_t* data) override;
    VehicleMessages::Taken takeOther(const CanFrame& frame, qint64 nowMs) override;
    void finishCycle(qint64 nowMs) override;

private:
    std::array<std::array<uint8_t, 16>, TRVAXX_OBJECT_COUNT> m_objects{};
    int m_objectCount = 0;
    std::array<uint8_t, 8> m_crash{};
    VehicleMessages m_vehicle;
    DetectedObjectData_TRVAXX_t m_record;
};

// Basic-function values per ROI group; every value returns to "not available" after a cycle.
class BasicFunctionResultDecoder : public ResultDecoder {
public:
    explicit BasicFunctionResultDecoder(const ResultFrameMap& map) : ResultDecoder(map) { reset(); }
    BasicFunctionsData_TRVAXX_t take() { return std::exchange(m_record, {}); }

protected:
    bool store(const CycleMessage& message, const uint8_t* data) override;
    void finishCycle(qint64 nowMs) override;

private:
    void reset();
    // Raw x, y, z, amplitude per group: 0x7FFF (x, y, z) and 0 (amplitude) are "not available".
    std::array<std::array<uint16_t, 4>, TRVAXX_ROI_GROUP_COUNT> m_raw{};
    int m_configuredCount = -1;
    BasicFunctionsData_TRVAXX_t m_record;
};

// The five guidance lines.
class LineResultDecoder : public ResultDecoder {
public:
    explicit LineResultDecoder(const ResultFrameMap& map) : ResultDecoder(map) {}
    DetectedLineData_TRVAXX_t take() { return std::exchange(m_record, {}); }

protected:
    bool store(const CycleMessage& message, const uint8_t* data) override;
    void finishCycle(qint64 nowMs) override;

private:
    std::array<std::array<uint8_t, 16>, TRVAXX_LINE_COUNT> m_lines{};
    DetectedLineData_TRVAXX_t m_record;
};
