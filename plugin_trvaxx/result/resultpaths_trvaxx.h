#pragma once

#include "result/resultdata_trvaxx.h"

#include <QVariant>

#include <cstddef>
#include <string>
#include <vector>

class CycleReader_TRVAXX;

// The member paths that the package processor reads and the info-map rows (parameter key, path,
// value type) of every firmware type, each built once on first use and then read only. Paths are
// strings of static storage, as the cycle reader keys its accessors by their addresses.
namespace ResultPaths_TRVAXX {

// Element type of an info-map row; decides the read and the variant type of the value.
enum class ValueType { U8, U16, U32, F32, Ipv4, F32x8, U8x8 };

// The channel a path is read from, by its prefix.
int channelOf(const std::string& path);

struct InfoRow {
    int key;
    std::string path;
    ValueType type;
    int channel = channelOf(path);
};

// Reads one info row from its channel. The value types follow the Qt value bridge of the
// parameter model (small integers as int, u32 as uint, f32 as float, byte arrays as QByteArray),
// so a parameter reads the same whether it came over CAN or Ethernet. Throws what the interpreter
// throws.
QVariant readInfo(const InfoRow& row, CycleReader_TRVAXX& reader);

// Rows every cycle reads.
const std::vector<InfoRow>& commonRows();
// Rows of the variant step of a firmware type (none for 8 and unknown types).
const std::vector<InfoRow>& variantRows(int firmwareType);

// prefix + name for each name.
std::vector<std::string> prefixed(const std::string& prefix, const char* const* names, size_t count);

// Members of one object, in record order: five integers, then fifteen floats.
constexpr size_t OBJECT_INT_MEMBERS = 5;
constexpr size_t OBJECT_FLOAT_MEMBERS = 15;
extern const char* const objectIntNames[OBJECT_INT_MEMBERS];
extern int32_t DetectedObject_TRVAXX::*const objectInts[OBJECT_INT_MEMBERS];
extern const char* const objectFloatNames[OBJECT_FLOAT_MEMBERS];
extern float DetectedObject_TRVAXX::*const objectFloats[OBJECT_FLOAT_MEMBERS];

// Members of one line in record order; integers and floats interleave.
struct LineMember {
    const char* name;
    int32_t DetectedLine_TRVAXX::*integer;
    float DetectedLine_TRVAXX::*real;
};
constexpr size_t LINE_MEMBERS = 21;
extern const LineMember lineMembers[LINE_MEMBERS];

// Member paths of the result lists: objectList[i].member and lineList[i].member.
struct ListPaths {
    std::vector<std::string> objects; // TRVAXX_OBJECT_COUNT × 20
    std::vector<std::string> lines;   // TRVAXX_LINE_COUNT × 21
    ListPaths();
};
const ListPaths& listPaths();

} // namespace ResultPaths_TRVAXX
