// Type model, path resolution, typed reads and writes, caches, the shared pointer.

#include "kvel/kvel_interpret.h"
#include "kvel/kvel_shared_ptr.h"
#include "tests/support/kvel_test_util.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <functional>
#include <numeric>
#include <thread>

using namespace kvel_test;
using kvel::InterpretError;

namespace {

template <class F> std::pair<int, std::string> interpretError(F&& f) {
    try {
        f();
    } catch (const InterpretError& e) {
        return {e.code(), e.detail()};
    }
    ADD_FAILURE() << "no InterpretError";
    return {-1, ""};
}

} // namespace

TEST(KvelInterpret, ErrorTextLayout) {
    EXPECT_STREQ(InterpretError("/some/dir/kvel_interpret.cpp", 42, 2, "A.b").what(),
                 "kvel_interpret.cpp (line 42): Error while interpreting expression:\"A.b\"");
    EXPECT_STREQ(InterpretError("f.cpp", 1, 17).what(), "f.cpp (line 1): Interpret Error, unknown error.");
}

TEST(KvelInterpret, IndexArithmeticOnTwoDimensions) {
    const kvel::ITypePtr root = sampleTree();
    const auto row = kvel::getAccessor<int32_t>(root, "DSP_CPARType.Matrix[1]");
    EXPECT_EQ(row->elementCount, 3u);
    EXPECT_EQ(row->byteOffset, 32u + 3 * 4);
    const auto cell = kvel::getAccessor<int32_t>(root, "DSP_CPARType.Matrix[1][2]");
    EXPECT_EQ(cell->elementCount, 1u);
    EXPECT_EQ(cell->byteOffset, 32u + 5 * 4);
    // Offsets inside arrays of structures are absolute; element strides add up.
    EXPECT_EQ(kvel::getAccessor<uint16_t>(root, "DSP_CPARType.objectList[2].v[1]")->byteOffset,
              160u + 2 * 12 + 2);
    EXPECT_EQ(interpretError([&] { kvel::getAccessor<int32_t>(root, "DSP_CPARType.Matrix[1][2][0]"); }),
              std::make_pair(2, std::string("DSP_CPARType.Matrix[1][2][0]")));
    EXPECT_EQ(interpretError([&] { kvel::typeOfPath(root, "DSP_CPARType.Matrix[1][2][0]"); }),
              std::make_pair(2, std::string("Referenced dimension does not exist")));
    const kvel::PathType rowType = kvel::typeOfPath(root, "DSP_CPARType.Matrix[1]");
    EXPECT_EQ(rowType.code, kvel::TC_INT32);
    EXPECT_EQ(rowType.uncoveredDimensions, kvel::Dimensions{3});
    EXPECT_EQ(kvel::typeOfPath(root, "DSP_CPARType.Matrix").uncoveredDimensions, (kvel::Dimensions{4, 3}));
    EXPECT_TRUE(kvel::typeOfPath(root, "DSP_CPARType.Matrix[0][0]").uncoveredDimensions.empty());
    EXPECT_EQ(kvel::typeOfPath(root, "DSP_CPARType.Inner").code, kvel::TC_STRUCT);
    EXPECT_EQ(kvel::typeOfPath(root, "").code, kvel::TC_STRUCT);

    // Too many indices for linearIndex is a size error.
    EXPECT_EQ(root->members()[5]->linearIndex({3, 1}), 10u);
    EXPECT_EQ(interpretError([&] {
                  root->members()[5]->linearIndex({1, 1, 1});
              }),
              std::make_pair(3, std::string("index has more dimensions (3) than the actual data type (2)")));
}

TEST(KvelInterpret, NumericConversionToFloatingTargets) {
    const kvel::ITypePtr root = sampleTree(kvel::BigEndian);
    std::vector<uint8_t> data(296);
    data[26] = data[27] = 0xFF; // Temperature, -1
    float f = 0;
    const auto readFloat = [&](const std::string& member) {
        kvel::read<float>(root, "DSP_CPARType." + member, &f, 1, data.data(), data.size());
        return f;
    };
    EXPECT_EQ(readFloat("Temperature"), -1.0f);
    // Writing a float converts back to the element type (saturating out of range).
    const float big = 1e9f;
    kvel::write<float>(root, "DSP_CPARType.Temperature", &big, 1, data.data(), data.size());
    EXPECT_EQ(std::vector<uint8_t>(data.begin() + 26, data.begin() + 28), (std::vector<uint8_t>{0x7F, 0xFF}));
    const double seven = 7.0;
    kvel::write<double>(root, "DSP_CPARType.Temperature", &seven, 1, data.data(), data.size());
    EXPECT_EQ(readFloat("Temperature"), 7.0f);
}

TEST(KvelInterpret, SizeAndCountChecks) {
    const kvel::ITypePtr root = sampleTree();
    std::vector<uint8_t> block(297);
    uint16_t u = 0;
    float f = 0, pattern[7];
    const uint8_t types[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    const std::string cycleTime = "DSP_CPARType.CycleTime",
                      sizeText = "expected 296 bytes (from kvel description), got ";
    const std::pair<std::function<void()>, std::pair<int, std::string>> cases[] = {
        // A shorter or a longer block: description and data do not belong together.
        {[&] { kvel::read<uint16_t>(root, cycleTime, &u, 1, block.data(), 295); },
         {3, sizeText + "295 bytes"}},
        {[&] { kvel::read<uint16_t>(root, cycleTime, &u, 1, block.data(), 297); },
         {3, sizeText + "297 bytes"}},
        {[&] { kvel::read<float>(root, cycleTime, &f, 1, block.data(), 295); }, {0, ""}},
        {[&] {
             kvel::read<float>(root, "DSP_CPARType.AutoCalibParam_xPattern", pattern, 7, block.data(), 296);
         },
         {0, ""}},
        // A write with a wrong count leaves the block alone (checked below).
        {[&] {
             kvel::write<uint8_t>(root, "DSP_CPARType.AutoCalibParam_patternType", types, 9, block.data(),
                                  296);
         },
         {0, ""}},
        {[&] { kvel::getAccessor<uint8_t>(kvel::ITypePtr(), "x"); }, {1, ""}},
        {[&] { kvel::write<uint8_t>(kvel::AccessorPtr(), types, 1, block.data(), 296); },
         {1, "Interpreter is null"}},
    };
    for (const auto& [call, error] : cases)
        EXPECT_EQ(interpretError(call), error);
    EXPECT_EQ(block, std::vector<uint8_t>(297));
}

TEST(KvelInterpret, PathErrors) {
    const kvel::ITypePtr root = sampleTree();
    auto expression = [&](const std::string& path) {
        return interpretError([&] { kvel::getAccessor<uint8_t>(root, path); });
    };
    for (const std::string path :
         {"DSP_CPARType.BlockVersion[3]", "KP_CPARType.BlockVersion[0]", "DSP_CPARType.NoSuchMember",
          "DSP_CPARType.objectList.id", "DSP_CPARType.objectList[3].id", "DSP_CPARType.Inner.a.b",
          "DSP_CPARType[0].Inner.a"})
        EXPECT_EQ(expression(path), std::make_pair(2, path));
    EXPECT_EQ(expression("DSP_CPARType.Inner"),
              std::make_pair(2, std::string("type conversion not possible DSP_CPARType.Inner")));
    EXPECT_EQ(expression("DSP_CPARType.CycleTime"), // u16 is not u8
              std::make_pair(2, std::string("type conversion not possible DSP_CPARType.CycleTime")));
    for (const std::string path :
         {"DSP_CPARType.[1]", "DSP_CPARType.BlockVersion[x]", "DSP_CPARType.BlockVersion[1x]",
          "DSP_CPARType.BlockVersion[]", "DSP_CPARType.BlockVersion[99999999999]"})
        EXPECT_EQ(expression(path), std::make_pair(0, std::string())) << path;
}

TEST(KvelInterpret, MembersOutsideTheRootAreRefused) {
    // A hostile description: the member claims bytes beyond the root's size.
    auto root = kvel::make_kvel_shared<kvel::StructType>("R", kvel::Dimensions{}, 0, 8, 0);
    root->addMember(
        kvel::make_kvel_shared<kvel::ElementaryType>("a", kvel::Dimensions{4}, 4, 4, kvel::KindUnsigned, 0));
    root->addMember(kvel::make_kvel_shared<kvel::ElementaryType>("b", kvel::Dimensions{}, 0xFFFFFFFC, 8,
                                                                 kvel::KindFloat, 0));
    root->addMember(kvel::make_kvel_shared<kvel::ElementaryType>("c", kvel::Dimensions{0x80000000, 4}, 0, 2,
                                                                 kvel::KindSigned, 0));
    const kvel::ITypePtr tree = root;
    EXPECT_EQ(interpretError([&] { kvel::getAccessor<uint32_t>(tree, "R.a"); }).first, 2);
    EXPECT_EQ(interpretError([&] { kvel::getAccessor<double>(tree, "R.b"); }).first, 2);
    EXPECT_EQ(interpretError([&] { kvel::getAccessor<int16_t>(tree, "R.c"); }).first, 2);
    EXPECT_NO_THROW(kvel::getAccessor<uint32_t>(tree, "R.a[0]")); // bytes 4 to 7 fit
}

template <class T> class KvelRoundTrip : public ::testing::Test {};
using NativeTypes =
    ::testing::Types<int8_t, int16_t, int32_t, int64_t, uint8_t, uint16_t, uint32_t, uint64_t, float, double>;
TYPED_TEST_SUITE(KvelRoundTrip, NativeTypes);

TYPED_TEST(KvelRoundTrip, WriteThenReadBothByteOrders) {
    using T = TypeParam;
    const uint32_t kind = std::is_floating_point<T>::value ? kvel::KindFloat
                          : std::is_signed<T>::value       ? kvel::KindSigned
                                                           : kvel::KindUnsigned;
    const T values[3] = {T(1), T(-3), std::numeric_limits<T>::max()};
    for (uint32_t order : {kvel::LittleEndian, kvel::BigEndian}) {
        const kvel::ITypePtr tree =
            singleMember("Root", "v", {3}, 4, sizeof(T), kind, order, 4 + 3 * sizeof(T));
        std::vector<uint8_t> data(tree->size(), 0xAB);
        kvel::write<T>(tree, "Root.v", values, 3, data.data(), data.size());
        // Bytes outside the member untouched, the first element's bytes in the description's order.
        EXPECT_EQ(data[0], 0xAB);
        T first = T(1);
        uint8_t expected[sizeof(T)];
        std::memcpy(expected, &first, sizeof(T));
        if (order == kvel::BigEndian)
            std::reverse(expected, expected + sizeof(T));
        EXPECT_EQ(std::memcmp(data.data() + 4, expected, sizeof(T)), 0);
        T back[3] = {};
        kvel::read<T>(tree, "Root.v", back, 3, data.data(), data.size());
        EXPECT_EQ(std::memcmp(back, values, sizeof values), 0);
    }
}

TEST(KvelInterpret, ReadsFromChunksShareOneCachedTree) {
    const std::vector<uint8_t> description = kvel::write(sampleTree(kvel::LittleEndian, "ChunkSharingRoot"));
    // Two copies of the same bytes at different addresses, on different channels.
    const std::string d1(description.begin(), description.end()), d2 = d1;
    std::vector<uint8_t> data8(296), data14(296);
    data8[24] = 5;
    data14[24] = 9;
    std::vector<KvelChunk> chunks = {chunkOf(d1, data8, 8), chunkOf(d2, data14, 14)};
    const size_t before = kvel::descriptionCacheSize();
    uint16_t cycleTime = 0;
    kvel::read<uint16_t>("ChunkSharingRoot.CycleTime", cycleTime, chunks, 8);
    EXPECT_EQ(cycleTime, 5);
    kvel::read<uint16_t>("ChunkSharingRoot.CycleTime", cycleTime, chunks, 14);
    EXPECT_EQ(cycleTime, 9);
    EXPECT_EQ(kvel::descriptionCacheSize(), before + 1);
    EXPECT_EQ(kvel::cachedParse(chunks[0]).get(), kvel::cachedParse(chunks[1]).get());
    EXPECT_EQ(kvel::cachedParse(d1.data(), d1.size()).get(), kvel::cachedParse(chunks[1]).get());

    try {
        kvel::read<uint16_t>("ChunkSharingRoot.CycleTime", cycleTime, chunks, 256);
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Unable to find requested channel 256 in KvelChunk vector");
    }
    // A chunk re-pointed at other bytes must not be served from what it held before.
    std::vector<uint8_t> otherDescription =
        kvel::write(singleMember("Root", "w", {}, 0, 2, kvel::KindUnsigned, 0, 296));
    chunks[0].description = reinterpret_cast<const char*>(otherDescription.data());
    chunks[0].descriptionLength = uint32_t(otherDescription.size());
    EXPECT_THROW(kvel::read<uint16_t>("ChunkSharingRoot.CycleTime", cycleTime, chunks, 8), InterpretError);
    kvel::read<uint16_t>("Root.w", cycleTime, chunks, 8);
    // A broken description is a ParseError and leaves no cache entry.
    const size_t entries = kvel::descriptionCacheSize();
    const std::string broken = d1.substr(0, d1.size() - 4);
    std::vector<KvelChunk> bad = {KvelChunk(broken.data(), uint32_t(broken.size()), chunks[0].data, 296, 8)};
    EXPECT_THROW(kvel::read<uint16_t>("ChunkSharingRoot.CycleTime", cycleTime, bad, 8), kvel::ParseError);
    EXPECT_EQ(kvel::descriptionCacheSize(), entries);
}

TEST(KvelInterpret, ConcurrentReadersOfTheCaches) {
    const std::vector<uint8_t> description = kvel::write(sampleTree(kvel::BigEndian, "ConcurrentRoot"));
    std::vector<uint8_t> data(296);
    const kvel::ITypePtr tree = kvel::parse(description);
    auto cell = [](int i) {
        return "ConcurrentRoot.Matrix[" + std::to_string(i / 3) + "][" + std::to_string(i % 3) + "]";
    };
    for (int32_t i = 0; i < 12; ++i)
        kvel::write<int32_t>(tree, cell(i), &i, 1, data.data(), data.size());
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&, t] {
            // Each thread has its own copy of the description bytes, as each cycle has.
            const std::string own(description.begin(), description.end());
            const std::vector<KvelChunk> chunks = {chunkOf(own, data, 8)};
            for (int n = 0; n < 300; ++n) {
                const int i = (n + t) % 12;
                int32_t value = -1;
                kvel::read<int32_t>(cell(i), value, chunks, 8);
                double asDouble = -1;
                kvel::read<double>(cell(i), asDouble, chunks, 8);
                if (value != i || asDouble != i)
                    ++failures;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(failures.load(), 0);
}

TEST(KvelInterpret, MemberPaths) {
    const kvel::ITypePtr root = sampleTree();
    const std::vector<std::string> matrix = kvel::memberPaths(root, "DSP_CPARType.Matrix");
    ASSERT_EQ(matrix.size(), 12u);
    EXPECT_EQ(matrix[5], "DSP_CPARType.Matrix[1][2]");
    EXPECT_EQ(kvel::memberPaths(root, "DSP_CPARType.Matrix[2]")[1], "DSP_CPARType.Matrix[2][1]");

    const std::vector<std::string> direct = kvel::memberPaths(root, "DSP_CPARType");
    ASSERT_EQ(direct.size(), root->members().size());
    EXPECT_EQ(direct[12], "DSP_CPARType.objectList");
    EXPECT_EQ(kvel::memberPaths(kvel::ITypePtr(root), ""), direct);
    EXPECT_EQ(kvel::memberPaths(root, "DSP_CPARType.objectList[1]"),
              (std::vector<std::string>{"DSP_CPARType.objectList[1].id", "DSP_CPARType.objectList[1].x1",
                                        "DSP_CPARType.objectList[1].v"}));
    // Every leaf: arrays of structures expanded per element.
    const std::vector<std::string> leaves = kvel::memberPaths(root, "DSP_CPARType", -1);
    EXPECT_EQ(leaves.size(), 11u + 2 + 3 * 3 + 1);
    EXPECT_NE(std::find(leaves.begin(), leaves.end(), "DSP_CPARType.objectList[2].v"), leaves.end());
    EXPECT_NE(std::find(leaves.begin(), leaves.end(), "DSP_CPARType.Inner.b"), leaves.end());
}

TEST(KvelInterpret, CopyBetweenExpressions) {
    const kvel::ITypePtr little = sampleTree(kvel::LittleEndian);
    const kvel::ITypePtr big = sampleTree(kvel::BigEndian);
    std::vector<uint8_t> src(296), dest(296);
    // Bytes below 0x7F never make a NaN, so that the comparison below is exact.
    for (size_t i = 0; i < src.size(); ++i)
        src[i] = uint8_t((i * 13 + 1) % 127);

    kvel::copy(little, "", src.data(), 296, big, "DSP_CPARType", dest.data(), 296);
    for (const std::string& leaf : kvel::memberPaths(little, "DSP_CPARType", -1)) {
        const kvel::Dimensions dims = kvel::typeOfPath(little, leaf).uncoveredDimensions;
        const uint32_t count = std::accumulate(dims.begin(), dims.end(), 1u, std::multiplies<>());
        std::vector<double> a(count), c(count);
        kvel::read<double>(little, leaf, a.data(), count, src.data(), 296);
        kvel::read<double>(big, leaf, c.data(), count, dest.data(), 296);
        EXPECT_EQ(a, c) << leaf;
    }
    // Converting copy between element types, and the count check.
    kvel::copy(little, "DSP_CPARType.BlockVersion", src.data(), 296, big, "DSP_CPARType.Matrix[0]",
               dest.data(), 296);
    int32_t row[3];
    kvel::read<int32_t>(big, "DSP_CPARType.Matrix[0]", row, 3, dest.data(), 296);
    EXPECT_EQ(row[0], src[21]);
    EXPECT_EQ(row[2], src[23]);
    EXPECT_EQ(
        interpretError([&] {
            kvel::copy(little, "DSP_CPARType.BlockVersion", src.data(), 296, big, "DSP_CPARType.Matrix",
                       dest.data(), 296);
        }),
        std::make_pair(
            0, std::string("Logical Error: Number of objects (3) addressed by srcExpression is different "
                           "than number of objects (12) addressed by destExpression.")));
}

TEST(KvelInterpret, ManyPathsThroughThePerThreadTable) {
    // More distinct paths than the per-thread table has slots: evicted paths must come back right.
    const kvel::ITypePtr root = singleMember("ManyPathsRoot", "a", {4096}, 0, 1, kvel::KindUnsigned, 0, 4096);
    const std::vector<uint8_t> description = kvel::write(root);
    std::vector<uint8_t> data(4096);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = uint8_t(i * 31 + 7);
    const std::vector<KvelChunk> chunks = {chunkOf(description, data, 8)};
    int wrong = 0;
    for (int pass = 0; pass < 2; ++pass)
        for (size_t i = 0; i < data.size(); i += pass + 1) {
            const std::string path = "ManyPathsRoot.a[" + std::to_string(i) + "]";
            uint8_t byte = 0;
            double value = -1;
            kvel::read<uint8_t>(path, byte, chunks, 8);
            kvel::read<double>(path, value, chunks, 8);
            wrong += byte != data[i] || value != data[i];
        }
    EXPECT_EQ(wrong, 0);
}

// (2^32-1)^2 + 2 (2^32-1) wraps to 2^64-1 in 64 bits: the path once resolved to offset 0xFFFFFFFF.
TEST(KvelLimits, IndexArithmeticOverflowIsOutsideTheRoot) {
    constexpr uint32_t max = 0xFFFFFFFFu;
    const kvel::ITypePtr root =
        singleMember("Root", "m", {max, max, max}, 0, 1, kvel::KindUnsigned, kvel::LittleEndian, 8);
    uint8_t block[8] = {}, src[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    uint8_t value = 0x5A;
    auto expectOutside = [](const std::string& path, auto&& call) {
        EXPECT_EQ(interpretError(call), std::make_pair(int(InterpretError::Expression), path));
    };
    for (const std::string tail :
         {"m[1][2][0]", "m[1][2][1]", "m[4294967294][4294967294][4294967294]", "m[0][1]", "m[0][0]"}) {
        const std::string path = "Root." + tail;
        expectOutside(path, [&] { kvel::resolveAccessor(root, path, kvel::TC_UINT8); });
        expectOutside(path, [&] { kvel::read<uint8_t>(root, path, &value, 1, block, sizeof block); });
        expectOutside(path, [&] { kvel::write<uint8_t>(root, path, &value, 1, block, sizeof block); });
        expectOutside(path,
                      [&] { kvel::read<double>(root, path, reinterpret_cast<double*>(block), 1, block, 8); });
    }
    // A copy checks the addressed ranges before walking them.
    expectOutside("Root.m[1][2][0]",
                  [&] { kvel::copy(root, "Root.m[1][2][0]", src, 8, root, "Root.m[0][0][0]", block, 8); });
    expectOutside("Root.m", [&] { kvel::copy(root, "Root.m", src, 8, root, "Root.m", block, 8); });
    EXPECT_EQ(std::vector<uint8_t>(block, block + 8), std::vector<uint8_t>(8, 0));
    // The one element that does lie inside the block is still served.
    block[0] = 7;
    kvel::read<uint8_t>(root, "Root.m[0][0][0]", &value, 1, block, sizeof block);
    EXPECT_EQ(value, 7);
}

namespace {

// Record stream of a one-byte root with one-byte members (name plus index, or "a" each).
Bytes wideRecords(const std::string& rootName, uint32_t members, const std::string& name) {
    Records records;
    records.name(rootName).dims({}).offset(0).size(1).order(LE).type(254);
    for (uint32_t i = 0; i < members; ++i)
        records.member(name.empty() ? "a" : name + std::to_string(i), {}, 0, 1, 2);
    return records.end().bytes();
}

void expectRefused(const Bytes& container) {
    const kvel::DescriptionCacheStats before = kvel::descriptionCacheStats();
    EXPECT_THROW(kvel::cachedParse(container.data(), container.size()), kvel::ParseError);
    EXPECT_EQ(kvel::descriptionCacheStats().entries, before.entries);
    EXPECT_EQ(kvel::descriptionCacheStats().bytes, before.bytes);
}

} // namespace

// 2.58 million one-byte members compress to under 1 MB but claim a 75 MB record stream.
TEST(KvelLimits, HostileDescriptionsAreRefusedBeforeTheirCostIsPaid) {
    const Bytes crafted = container0300(wideRecords("R", 2580000, ""), true, 0, 0, 1); // fastest level
    ASSERT_LT(crafted.size(), 1024u * 1024u);
    expectRefused(crafted);

    // Within the stream bound but with more type records than any description has; sent again
    // (as a stream would, every cycle), it is refused without being parsed.
    const Bytes many = container0300(wideRecords("R", kvel::MAX_DESCRIPTION_NODES, ""), true);
    ASSERT_LT(many.size(), size_t(kvel::MAX_DESCRIPTION_BYTES));
    expectRefused(many);
    const uint64_t repeated = kvel::descriptionCacheStats().repeatedRefusals;
    for (int cycle = 0; cycle < 3; ++cycle)
        expectRefused(many);
    EXPECT_EQ(kvel::descriptionCacheStats().repeatedRefusals, repeated + 3);

    Records deep;
    for (int depth = 0; depth <= kvel::MAX_DESCRIPTION_DEPTH + 1; ++depth)
        deep.name("s").dims({}).offset(0).size(1).order(LE).type(254);
    expectRefused(container0300(deep.bytes(), false));
    expectRefused(container0300(Bytes(kvel::MAX_DESCRIPTION_BYTES, 0), false));
}

// Distinct descriptions fill the byte budget; then new ones are refused and counted, and what is
// cached is still served.
TEST(KvelLimits, DescriptionCacheIsBoundedByBytes) {
    const Bytes first = container0300(wideRecords("R0", 3, "m"), true);
    const kvel::ITypePtr firstRoot = kvel::cachedParse(first.data(), first.size());
    const uint64_t refusalsBefore = kvel::descriptionCacheStats().refusals;
    size_t accepted = 0;
    for (int i = 1; kvel::descriptionCacheStats().refusals == refusalsBefore; ++i) {
        ASSERT_LT(i, 200) << "the budget never ran out";
        const Bytes big = container0300(
            wideRecords("R" + std::to_string(i), kvel::MAX_DESCRIPTION_NODES - 1, std::string(20, 'n')),
            true);
        try {
            kvel::cachedParse(big.data(), big.size());
            ++accepted;
        } catch (const kvel::ParseError& error) {
            EXPECT_NE(std::string(error.what()).find("description cache full"), std::string::npos);
        }
    }
    EXPECT_GT(accepted, 0u);
    EXPECT_EQ(kvel::descriptionCacheStats().refusals, refusalsBefore + 1);
    EXPECT_LE(kvel::descriptionCacheStats().bytes, kvel::DESCRIPTION_CACHE_BUDGET);
    EXPECT_EQ(kvel::cachedParse(first.data(), first.size()).get(), firstRoot.get());
}

namespace {

struct Counted {
    explicit Counted(std::atomic<int>& alive) : alive(alive) { ++alive; }
    virtual ~Counted() { --alive; }
    std::atomic<int>& alive;
};
struct Derived : Counted {
    using Counted::Counted;
};

} // namespace

// Copies, casts and moves count; copies made on several threads at once keep the count; the
// object is destroyed once, when the last holder lets go.
TEST(KvelSharedPtr, CountsCopiesAcrossThreadsAndDestroysOnce) {
    std::atomic<int> alive{0};
    kvel::kvel_shared_ptr<Counted> shared = kvel::make_kvel_shared<Derived>(alive);
    kvel::kvel_shared_ptr<Derived> derived = kvel::kvel_dynamic_pointer_cast<Derived>(shared);
    EXPECT_EQ(shared.use_count(), 2);
    kvel::kvel_shared_ptr<Derived> moved = std::move(derived);
    EXPECT_FALSE(derived);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&shared] {
            for (int i = 0; i < 5000; ++i) {
                kvel::kvel_shared_ptr<Counted> copy = shared;
                kvel::kvel_shared_ptr<Counted> second = copy;
            }
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(moved.use_count(), 2);
    shared.reset();
    EXPECT_EQ(alive, 1);
    moved.reset();
    EXPECT_EQ(alive, 0);
    const kvel::ITypePtr node =
        kvel::make_kvel_shared<kvel::ElementaryType>("x", kvel::Dimensions{}, 0, 1, 0, 0);
    EXPECT_FALSE(kvel::kvel_dynamic_pointer_cast<kvel::StructType>(node));
}
