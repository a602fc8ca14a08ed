// Copy between two expressions: every elementary object addressed by one path converted into the
// objects addressed by another.

#include "kvel/kvel_elements.h"
#include "kvel/kvel_internal.h"

#include <cstdio>
#include <vector>

namespace kvel {
using namespace detail;

namespace {

// A run of consecutive elementary elements in one data block.
struct Run {
    uint64_t byteOffset;
    uint64_t count;
    uint32_t kind;
    uint32_t size;
    bool reverse;
};

// True when count elements of size bytes starting at node offset + running lie inside dataLength.
bool runFits(const IType& node, uint64_t running, uint64_t count, uint64_t dataLength) {
    uint64_t start = 0, bytes = 0, end = 0;
    return !__builtin_add_overflow(uint64_t(node.offset()), running, &start) &&
           !__builtin_mul_overflow(count, uint64_t(node.size()), &bytes) &&
           !__builtin_add_overflow(start, bytes, &end) && end <= dataLength;
}

// Every range is checked against the block before it is walked, so a hostile count cannot make
// the walk long; the number of runs is capped like the listed paths.
void collectRuns(const IType& node, uint64_t running, uint64_t count, uint64_t dataLength,
                 std::string_view path, std::vector<Run>& runs) {
    if (!runFits(node, running, count, dataLength))
        throw outsideRoot(path);
    if (node.typeKind() != KindStruct) {
        checkListSize(runs.size() + 1);
        runs.push_back(
            {node.offset() + running, count, node.typeKind(), node.size(), node.byteOrder() == BigEndian});
        return;
    }
    for (uint64_t e = 0; e < count; ++e)
        for (const ITypePtr& member : node.members())
            if (member)
                collectRuns(*member, running + e * node.size(), member->elementCount(), dataLength, path,
                            runs);
}

std::vector<Run> runsOf(const ITypePtr& root, std::string_view path, size_t dataLength, uint64_t& objects) {
    const Resolved resolved = resolve(root.get(), path, Purpose::Accessor);
    if (dataLength != root->size())
        throw sizeMismatch(root->size(), dataLength);
    std::vector<Run> runs;
    collectRuns(*resolved.node, resolved.byteOffset - resolved.node->offset(), resolved.elementCount,
                dataLength, path, runs);
    objects = 0;
    for (const Run& run : runs)
        objects += run.count;
    return runs;
}

// One elementary value, held exactly for integers and as double for floating point.
struct Number {
    enum { Signed, Unsigned, Floating } kind;
    int64_t s;
    uint64_t u;
    double f;
};

Number loadNumber(const uint8_t* src, const Run& run) {
    Number number{Number::Floating, 0, 0, 0.0};
    const bool known = withElementType(run.kind, run.size, [&](auto prototype) {
        using E = decltype(prototype);
        const E value = loadElement<E>(src, run.reverse);
        if constexpr (std::is_floating_point<E>::value)
            number = {Number::Floating, 0, 0, double(value)};
        else if constexpr (std::is_signed<E>::value)
            number = {Number::Signed, int64_t(value), 0, 0.0};
        else
            number = {Number::Unsigned, 0, uint64_t(value), 0.0};
    });
    if (!known)
        throw KVEL_INTERPRET_ERROR(InterpretError::Unknown);
    return number;
}

void storeNumber(uint8_t* dest, const Run& run, const Number& number) {
    const bool known = withElementType(run.kind, run.size, [&](auto prototype) {
        using E = decltype(prototype);
        E value;
        if (number.kind == Number::Floating)
            value = convertNumber<E>(number.f);
        else if (number.kind == Number::Signed)
            value = static_cast<E>(number.s);
        else
            value = static_cast<E>(number.u);
        storeElement<E>(dest, value, run.reverse);
    });
    if (!known)
        throw KVEL_INTERPRET_ERROR(InterpretError::Unknown);
}

} // namespace

void copy(const ITypePtr& srcRoot, std::string_view srcPath, const void* srcData, size_t srcLength,
          const ITypePtr& destRoot, std::string_view destPath, void* destData, size_t destLength) {
    uint64_t srcObjects = 0, destObjects = 0;
    const std::vector<Run> src = runsOf(srcRoot, srcPath, srcLength, srcObjects);
    const std::vector<Run> dest = runsOf(destRoot, destPath, destLength, destObjects);
    if (srcObjects != destObjects) {
        char detail[256];
        std::snprintf(
            detail, sizeof detail,
            "Logical Error: Number of objects (%d) addressed by srcExpression is different than number "
            "of objects (%d) addressed by destExpression.",
            int(srcObjects), int(destObjects));
        throw KVEL_INTERPRET_ERROR(InterpretError::Unknown, detail);
    }
    const auto* in = static_cast<const uint8_t*>(srcData);
    auto* out = static_cast<uint8_t*>(destData);
    size_t d = 0;
    uint64_t dIndex = 0;
    for (const Run& s : src) {
        for (uint64_t i = 0; i < s.count; ++i) {
            while (dIndex == dest[d].count) {
                ++d;
                dIndex = 0;
            }
            const Run& t = dest[d];
            const Number number = loadNumber(in + s.byteOffset + i * s.size, s);
            storeNumber(out + t.byteOffset + dIndex * t.size, t, number);
            ++dIndex;
        }
    }
}

} // namespace kvel
