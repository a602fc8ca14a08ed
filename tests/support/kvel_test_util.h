#pragma once

// Helpers of the kvel tests: hand-made record streams and containers, and sample type trees.

#include "kvel/kvel_interpret.h"

#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kvel_test {

using Bytes = std::vector<uint8_t>;

// Writes record streams byte by byte, so that malformed streams can be made as easily as good ones.
class Records {
public:
    Records& tag(uint8_t t) {
        m_bytes.push_back(t);
        return *this;
    }
    Records& u32(uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8)
            m_bytes.push_back(uint8_t(v >> shift));
        return *this;
    }
    Records& name(const std::string& n) {
        tag(100).u32(uint32_t(n.size()));
        m_bytes.insert(m_bytes.end(), n.begin(), n.end());
        return *this;
    }
    Records& dims(std::vector<uint32_t> d) {
        tag(101).u32(uint32_t(d.size()));
        for (uint32_t e : d)
            u32(e);
        return *this;
    }
    Records& offset(uint32_t o) { return tag(102).u32(o); }
    Records& size(uint32_t s) { return tag(103).u32(s); }
    Records& order(uint32_t wire) { return tag(104).u32(wire); }
    Records& type(uint32_t id) { return tag(150).u32(id); }
    Records& end() { return type(255); }
    // A complete elementary member record (no byte order).
    Records& member(const std::string& n, std::vector<uint32_t> d, uint32_t o, uint32_t s, uint32_t id) {
        return name(n).dims(std::move(d)).offset(o).size(s).type(id);
    }
    Records& raw(const Bytes& b) {
        m_bytes.insert(m_bytes.end(), b.begin(), b.end());
        return *this;
    }
    const Bytes& bytes() const { return m_bytes; }

private:
    Bytes m_bytes;
};

inline Bytes zlibCompress(const Bytes& in, int level = 9) {
    uLongf length = compressBound(uLong(in.size()));
    Bytes out(length);
    compress2(out.data(), &length, in.data(), uLong(in.size()), level);
    out.resize(length);
    return out;
}

// Version 0x0300 container: compressed (flag 1, at zlib's level) or plain (flag 0), padded to a
// multiple of 4.
inline Bytes container0300(const Bytes& records, bool compressed, uint8_t cipher = 0, uint16_t key = 0,
                           int level = 9) {
    const Bytes body = compressed ? zlibCompress(records, level) : records;
    const uint8_t pad = uint8_t((4 - ((body.size() + 1) % 4)) % 4);
    Bytes out = {0xDA,        0xDE, 0x03, 0x00, uint8_t(compressed ? 1 : 0), cipher, uint8_t(key >> 8),
                 uint8_t(key)};
    out = Records().raw(out).u32(uint32_t(records.size())).tag(pad).bytes();
    out.insert(out.end(), body.begin(), body.end());
    out.insert(out.end(), pad, 0);
    return out;
}

inline Bytes container0100(const Bytes& records) {
    Bytes out = Records().raw({0xDA, 0xDE, 0x01, 0x00}).u32(uint32_t(records.size())).bytes();
    const Bytes body = zlibCompress(records);
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

// A chunk over a description and a data block (byte containers), on a channel.
template <class D, class B> KvelChunk chunkOf(const D& description, const B& data, int32_t channel) {
    return KvelChunk(reinterpret_cast<const char*>(description.data()), uint32_t(description.size()),
                     reinterpret_cast<const char*>(data.data()), uint32_t(data.size()), channel);
}

// Wire values of the byte order.
constexpr uint32_t LE = 200, BE = 201;

// Parameter-block-like tree of 296 bytes (little- or big-endian):
//   BlockIdName i8[21] @0, BlockVersion u8[3] @21, CycleTime u16 @24, Temperature i16 @26,
//   Counter u32 @28, Matrix i32[4][3] @32, AutoCalibParam_xPattern f32[8] @80,
//   AutoCalibParam_patternType u8[8] @112, Big i64 @120, Huge u64 @128, Ratio f64 @136,
//   Inner {a u8 @144, b f32 @148} (size 8) @144,
//   objectList[3] {id i32 @152, x1 f32 @156, v u16[2] @160} (size 12) @152, Tail u8[108] @188.
inline kvel::ITypePtr sampleTree(uint32_t byteOrder = kvel::LittleEndian,
                                 const std::string& rootName = "DSP_CPARType") {
    using namespace kvel;
    auto e = [&](const char* n, Dimensions d, uint32_t o, uint32_t s, uint32_t k) {
        return ITypePtr(make_kvel_shared<ElementaryType>(n, std::move(d), o, s, k, byteOrder));
    };
    auto root = make_kvel_shared<StructType>(rootName, Dimensions{}, 0, 296, byteOrder);
    root->addMember(e("BlockIdName", {21}, 0, 1, KindSigned));
    root->addMember(e("BlockVersion", {3}, 21, 1, KindUnsigned));
    root->addMember(e("CycleTime", {}, 24, 2, KindUnsigned));
    root->addMember(e("Temperature", {}, 26, 2, KindSigned));
    root->addMember(e("Counter", {}, 28, 4, KindUnsigned));
    root->addMember(e("Matrix", {4, 3}, 32, 4, KindSigned));
    root->addMember(e("AutoCalibParam_xPattern", {8}, 80, 4, KindFloat));
    root->addMember(e("AutoCalibParam_patternType", {8}, 112, 1, KindUnsigned));
    root->addMember(e("Big", {}, 120, 8, KindSigned));
    root->addMember(e("Huge", {}, 128, 8, KindUnsigned));
    root->addMember(e("Ratio", {}, 136, 8, KindFloat));
    auto inner = make_kvel_shared<StructType>("Inner", Dimensions{}, 144, 8, byteOrder);
    inner->addMember(e("a", {}, 144, 1, KindUnsigned));
    inner->addMember(e("b", {}, 148, 4, KindFloat));
    root->addMember(inner);
    auto object = make_kvel_shared<StructType>("objectList", Dimensions{3}, 152, 12, byteOrder);
    object->addMember(e("id", {}, 152, 4, KindSigned));
    object->addMember(e("x1", {}, 156, 4, KindFloat));
    object->addMember(e("v", {2}, 160, 2, KindUnsigned));
    root->addMember(object);
    root->addMember(e("Tail", {108}, 188, 1, KindUnsigned));
    return root;
}

// A root of rootSize bytes holding one elementary member.
inline kvel::ITypePtr singleMember(const std::string& rootName, const std::string& name,
                                   kvel::Dimensions dims, uint32_t offset, uint32_t size, uint32_t kind,
                                   uint32_t order, uint32_t rootSize) {
    auto root = kvel::make_kvel_shared<kvel::StructType>(rootName, kvel::Dimensions{}, 0, rootSize, order);
    root->addMember(
        kvel::make_kvel_shared<kvel::ElementaryType>(name, std::move(dims), offset, size, kind, order));
    return root;
}

// Structural equality of two trees, byte order included.
inline bool sameTree(const kvel::IType& a, const kvel::IType& b) {
    if (a.name() != b.name() || a.dimensions() != b.dimensions() || a.offset() != b.offset() ||
        a.size() != b.size() || a.byteOrder() != b.byteOrder() || a.typeKind() != b.typeKind() ||
        a.members().size() != b.members().size())
        return false;
    for (size_t i = 0; i < a.members().size(); ++i)
        if (!sameTree(*a.members()[i], *b.members()[i]))
            return false;
    return true;
}

} // namespace kvel_test
