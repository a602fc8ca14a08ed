// What a hostile description may cost: index arithmetic that overflows, descriptions too large to
// parse, and the bound of the description cache.

#include "tests/support/kvel_test_util.h"

#include <gtest/gtest.h>

#include <functional>
#include <thread>
#include <vector>

namespace {

using namespace kvel;

constexpr uint32_t MAX_EXTENT = 0xFFFFFFFFu;

// Root "R" of 8 bytes holding m with three huge extents of one-byte elements at offset 0.
ITypePtr hugeExtentsTree(uint32_t kind) {
    auto root = make_kvel_shared<StructType>("R", Dimensions{}, 0, 8, LittleEndian);
    root->addMember(make_kvel_shared<ElementaryType>("m", Dimensions{MAX_EXTENT, MAX_EXTENT, MAX_EXTENT}, 0,
                                                     1, kind, LittleEndian));
    return root;
}

void expectOutsideRoot(const std::function<void()>& call, const std::string& path) {
    try {
        call();
        FAIL() << path << " was accepted";
    } catch (const InterpretError& error) {
        EXPECT_EQ(error.code(), InterpretError::Expression) << error.what();
        EXPECT_EQ(error.detail(), path);
    }
}

} // namespace

// (2^32-1)^2 + 2 (2^32-1) wraps to 2^64-1 in 64 bits: the path once resolved to offset 0xFFFFFFFF.
TEST(KvelLimits, IndexArithmeticOverflowIsOutsideTheRoot) {
    const ITypePtr root = hugeExtentsTree(KindUnsigned);
    uint8_t block[8] = {};
    uint8_t value = 0x5A;
    for (const std::string path : {"R.m[1][2][0]", "R.m[1][2][1]", "R.m[4294967294][4294967294][4294967294]",
                                   "R.m[0][1]", "R.m[0][0]"}) {
        expectOutsideRoot([&] { resolveAccessor(root, path, TC_UINT8); }, path);
        expectOutsideRoot([&] { read<uint8_t>(root, path, &value, 1, block, sizeof block); }, path);
        expectOutsideRoot([&] { write<uint8_t>(root, path, &value, 1, block, sizeof block); }, path);
        expectOutsideRoot([&] { read<double>(root, path, reinterpret_cast<double*>(block), 1, block, 8); },
                          path);
    }
    for (uint8_t byte : block)
        EXPECT_EQ(byte, 0);
    // The one element that does lie inside the block is still served.
    block[0] = 7;
    read<uint8_t>(root, "R.m[0][0][0]", &value, 1, block, sizeof block);
    EXPECT_EQ(value, 7);
}

// A copy between expressions walks the addressed ranges only after checking them.
TEST(KvelLimits, CopyRefusesRangesOutsideTheRoot) {
    const ITypePtr root = hugeExtentsTree(KindUnsigned);
    uint8_t src[8] = {1, 2, 3, 4, 5, 6, 7, 8}, dest[8] = {};
    expectOutsideRoot([&] { copy(root, "R.m[1][2][0]", src, 8, root, "R.m[0][0][0]", dest, 8); },
                      "R.m[1][2][0]");
    expectOutsideRoot([&] { copy(root, "R.m", src, 8, root, "R.m", dest, 8); }, "R.m");
    EXPECT_EQ(dest[0], 0);
}

namespace {

// Record stream of a root "R" (little-endian, one byte) with members one-byte members named name
// plus their index; with a short name each member record is 29 bytes.
kvel_test::Bytes wideRecords(const std::string& rootName, uint32_t members, const std::string& name) {
    kvel_test::Records records;
    records.name(rootName).dims({}).offset(0).size(1).order(kvel_test::LE).type(254);
    for (uint32_t i = 0; i < members; ++i)
        records.member(name.empty() ? "a" : name + std::to_string(i), {}, 0, 1, 2);
    records.end();
    return records.bytes();
}

// A compressed version 0x0300 container made at zlib's fastest level (the crafted stream is 75 MB).
kvel_test::Bytes fastContainer(const kvel_test::Bytes& records) {
    uLongf length = compressBound(uLong(records.size()));
    kvel_test::Bytes body(length);
    compress2(body.data(), &length, records.data(), uLong(records.size()), 1);
    body.resize(length);
    kvel_test::Bytes out = {0xDA, 0xDE, 0x03, 0x00, 1, 0, 0, 0};
    kvel_test::putBE32(out, uint32_t(records.size()));
    out.push_back(0);
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

void expectRefused(const kvel_test::Bytes& container) {
    const DescriptionCacheStats before = descriptionCacheStats();
    EXPECT_THROW(cachedParse(container.data(), container.size()), ParseError);
    const DescriptionCacheStats after = descriptionCacheStats();
    EXPECT_EQ(after.entries, before.entries);
    EXPECT_EQ(after.bytes, before.bytes);
}

} // namespace

// The reported container: 2.58 million one-byte members, 163 kB at zlib level 9, once parsed for
// seconds under the library lock into half a gigabyte of cache.
TEST(KvelLimits, HostileDescriptionsAreRefusedBeforeTheirCostIsPaid) {
    const kvel_test::Bytes crafted = fastContainer(wideRecords("R", 2580000, ""));
    ASSERT_LT(crafted.size(), 1024u * 1024u);
    expectRefused(crafted); // its record stream claims 75 MB

    // Within the stream bound but with more type records than any description has.
    const kvel_test::Bytes many = kvel_test::container0300(wideRecords("R", MAX_DESCRIPTION_NODES, ""), true);
    ASSERT_LT(many.size(), size_t(MAX_DESCRIPTION_BYTES));
    expectRefused(many);
    // Sent again (as a stream would, every cycle), it is refused without being parsed.
    const uint64_t repeated = descriptionCacheStats().repeatedRefusals;
    for (int cycle = 0; cycle < 3; ++cycle)
        expectRefused(many);
    EXPECT_EQ(descriptionCacheStats().repeatedRefusals, repeated + 3);

    // Nested deeper than allowed.
    kvel_test::Records deep;
    for (int depth = 0; depth <= MAX_DESCRIPTION_DEPTH + 1; ++depth)
        deep.name("s").dims({}).offset(0).size(1).order(kvel_test::LE).type(254);
    expectRefused(kvel_test::container0300(deep.bytes(), false));

    // An uncompressed container beyond the byte bound.
    expectRefused(kvel_test::container0300(kvel_test::Bytes(MAX_DESCRIPTION_BYTES, 0), false));
}

// Misses are parsed outside the library lock: threads that miss the same description at once all
// end with the one entry that was stored.
TEST(KvelLimits, ConcurrentMissesOfOneDescriptionShareOneEntry) {
    const kvel_test::Bytes container = kvel::write(kvel_test::sampleTree(LittleEndian, "Concurrent"));
    const size_t before = descriptionCacheSize();
    std::vector<ITypePtr> roots(4);
    std::vector<std::thread> threads;
    for (ITypePtr& root : roots)
        threads.emplace_back([&root, &container] { root = cachedParse(container.data(), container.size()); });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(descriptionCacheSize(), before + 1);
    for (const ITypePtr& root : roots)
        EXPECT_EQ(root.get(), roots[0].get());
}

// Distinct descriptions near the limits fill the byte budget; then new ones are refused and
// counted, and what is cached is still served.
TEST(KvelLimits, DescriptionCacheIsBoundedByBytes) {
    const kvel_test::Bytes first = kvel_test::container0300(wideRecords("R0", 3, "m"), true);
    const ITypePtr firstRoot = cachedParse(first.data(), first.size());
    const uint64_t refusalsBefore = descriptionCacheStats().refusals;
    size_t accepted = 0;
    for (int i = 1; descriptionCacheStats().refusals == refusalsBefore; ++i) {
        ASSERT_LT(i, 200) << "the budget never ran out";
        const kvel_test::Bytes big = kvel_test::container0300(
            wideRecords("R" + std::to_string(i), MAX_DESCRIPTION_NODES - 1, std::string(20, 'n')), true);
        try {
            cachedParse(big.data(), big.size());
            ++accepted;
        } catch (const ParseError& error) {
            EXPECT_NE(std::string(error.what()).find("description cache full"), std::string::npos)
                << error.what();
        }
    }
    const DescriptionCacheStats stats = descriptionCacheStats();
    EXPECT_GT(accepted, 0u);
    EXPECT_EQ(stats.refusals, refusalsBefore + 1);
    EXPECT_LE(stats.bytes, DESCRIPTION_CACHE_BUDGET);
    EXPECT_EQ(cachedParse(first.data(), first.size()).get(), firstRoot.get());
}
