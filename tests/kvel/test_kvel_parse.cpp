// Container parser, writer and chunk streams.

#include "kvel/kvel_parse.h"
#include "tests/support/kvel_test_util.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <sstream>

using namespace kvel_test;

namespace {

// Detail of the ParseError that f throws.
template <class F> std::string parseErrorOf(F&& f) {
    try {
        f();
    } catch (const kvel::ParseError& e) {
        return e.detail();
    }
    ADD_FAILURE() << "no ParseError";
    return "<none>";
}

// Root record head "Root", scalar, offset 0, size 8, little-endian, opening a structure.
Records rootHead() {
    Records r;
    r.name("Root").dims({}).offset(0).size(8).order(LE).type(254);
    return r;
}

} // namespace

// The text names the source line; an empty detail leaves it without ": ".
TEST(KvelParse, ErrorTextLayout) {
    EXPECT_STREQ(kvel::ParseError("/some/dir/kvel_parse.cpp", 7, "x").what(),
                 "kvel_parse.cpp (line 7): Error in parsing data definition: x");
    EXPECT_STREQ(kvel::ParseError("f.cpp", 1, "").what(), "f.cpp (line 1): Error in parsing data definition");
}

TEST(KvelParse, AllContainerVersionsReadTheSameTree) {
    Records stream;
    stream.name("KP_CPARType").dims({}).offset(0).size(40).order(BE).type(254);
    stream.member("BlockIdName", {21}, 0, 1, 1).member("BlockVersion", {3}, 21, 1, 2);
    const Bytes records = stream.member("Gain", {}, 24, 8, 3).end().bytes();
    // Type ids 1, 2 and 3 are signed, unsigned and floating point; members inherit the byte order.
    using namespace kvel;
    auto expected = make_kvel_shared<StructType>("KP_CPARType", Dimensions{}, 0, 40, BigEndian);
    expected->addMember(
        make_kvel_shared<ElementaryType>("BlockIdName", Dimensions{21}, 0, 1, KindSigned, BigEndian));
    expected->addMember(
        make_kvel_shared<ElementaryType>("BlockVersion", Dimensions{3}, 21, 1, KindUnsigned, BigEndian));
    expected->addMember(make_kvel_shared<ElementaryType>("Gain", Dimensions{}, 24, 8, KindFloat, BigEndian));
    // A cipher method with key 0 is not enciphered.
    for (const Bytes& container : {container0300(records, false), container0300(records, true),
                                   container0100(records), container0300(records, true, 1, 0)}) {
        const ITypePtr root = parse(container);
        ASSERT_TRUE(root);
        EXPECT_TRUE(sameTree(*root, *expected));
    }
}

// Damaged containers and record streams, with the ParseError's detail ("*": any non-empty one).
TEST(KvelParse, DamagedInputIsRefusedWithItsDetail) {
    const Bytes records = Records().name("R").dims({}).offset(0).size(1).order(LE).type(2).bytes();
    const auto with = [](Bytes b, size_t at, std::initializer_list<uint8_t> bytes) {
        std::copy(bytes.begin(), bytes.end(), b.begin() + long(at));
        return b;
    };
    Bytes garbage = container0300(records, true);
    for (size_t i = 13; i < garbage.size(); ++i)
        garbage[i] ^= 0x5A;
    Bytes shortHeader = container0300(records, true);
    shortHeader.resize(12);
    const Bytes compressed = container0300(records, true), plain = container0300(records, false);
    const std::string magic = "magic number at the beginning (0xdade) missing";
    const std::pair<Bytes, std::string> containers[] = {
        {{}, magic},
        {{0xDE, 0xDA, 3, 0}, magic},
        {{0xDA, 0xDE, 0x04, 0x00}, "unknown kvel version"},
        {{0xDA, 0xDE, 0x03, 0x01}, "unknown kvel version"},
        // No cipher in this build: enciphered containers are rejected, never misread.
        {with(container0100(records), 2, {0x02}), "*"},
        {container0300(records, true, 1, 7), "*"},
        {shortHeader, "*"},
        {with(plain, 12, {250}), "*"}, // pad count beyond the container
        {garbage, "uncompress failed"},
        {with(compressed, 11, {uint8_t(compressed[11] + 1)}), "uncompress failed"},       // wrong length
        {with(container0100(records), 4, {0xFF, 0xFF, 0xFF, 0xFF}), "uncompress failed"}, // 4 GiB claim
        {with(plain, 11, {uint8_t(plain[11] + 9)}), "*"}, // body shorter than its record length
    };
    for (const auto& [container, detail] : containers) {
        const std::string got = parseErrorOf([&] { kvel::parse(container); });
        EXPECT_TRUE(detail == "*" ? !got.empty() : got == detail) << got;
    }

    const std::pair<Records, std::string> streams[] = {
        {Records().name("a").name("b"), "name set more than once"},
        {Records().name("a").dims({2}).dims({3}), "dimension set more than once"},
        {Records().name("a").offset(0).offset(1), "offset set more than once"},
        {Records().name("a").size(1).size(2), "size set more than once"},
        {Records().name("a").order(LE).order(LE), "endianess set more than once"},
        {Records().order(202), "unknown endianess"},
        {Records().tag(100).u32(50).raw({'a', 'b'}), "dataSize < string length"},
        {Records().tag(102).raw({0, 0}), "dataSize < 4"},
        // A member that carries a byte order although the root already set one.
        {rootHead().name("m").dims({}).offset(0).size(1).order(LE).type(1).end(),
         "endianess set more than once"},
        // The member list ends without its end marker.
        {rootHead().member("m", {}, 0, 1, 1).tag(150), "dataSize < 4"},
        {rootHead().member("m", {}, 0, 1, 1), "dataSize = 0"},
        // Each attribute missing in turn, an unknown id, no closing tag, a byte after the root and a
        // stray byte inside a member list: refused without a detail.
        {Records().dims({}).offset(0).size(1).order(LE).type(1), ""},
        {Records().name("a").offset(0).size(1).order(LE).type(1), ""},
        {Records().name("a").dims({}).size(1).order(LE).type(1), ""},
        {Records().name("a").dims({}).offset(0).order(LE).type(1), ""},
        {Records().name("a").dims({}).offset(0).size(1).type(1), ""},
        {Records().name("a").dims({}).offset(0).size(1).order(LE).type(4), ""},
        {Records().tag(99), ""},
        {Records().name("a").dims({}), ""},
        {Records().name("a").dims({}).offset(0).size(1).order(LE).type(1).tag(0), ""},
        {rootHead().member("m", {}, 0, 1, 1).tag(102).end(), ""},
    };
    for (const auto& [stream, detail] : streams)
        EXPECT_EQ(parseErrorOf([&] { kvel::parse(container0300(stream.bytes(), false)); }), detail);
}

TEST(KvelParse, RecordDetails) {
    // Tag 101 with count 0 is a scalar; attributes may come in any order; only the low byte of
    // the byte order is tested.
    const kvel::ITypePtr s = kvel::parse(
        container0300(Records().size(4).order(0x1C9).dims({}).offset(0).name("s").type(3).bytes(), false));
    ASSERT_TRUE(s);
    EXPECT_TRUE(s->dimensions().empty());
    EXPECT_EQ(s->byteOrder(), kvel::BigEndian);
    EXPECT_EQ(s->elementCount(), 1u);
    // An empty record stream is an empty result, not an error.
    EXPECT_FALSE(kvel::parse(container0300({}, true)));
}

TEST(KvelWrite, OutputIsAlignedAndReadsBackEqual) {
    for (uint32_t order : {kvel::LittleEndian, kvel::BigEndian}) {
        // Root names of every length modulo 4 give every pad count.
        for (const char* name : {"R", "Ro", "Roo", "Root", "DSP_CPARType"}) {
            const kvel::ITypePtr tree = sampleTree(order, name);
            const Bytes written = kvel::write(tree);
            EXPECT_EQ(written.size() % 4, 0u);
            const kvel::ITypePtr back = kvel::parse(written);
            ASSERT_TRUE(back);
            EXPECT_TRUE(sameTree(*tree, *back)) << name;
            EXPECT_EQ(kvel::write(back), written); // byte for byte
        }
    }
}

TEST(KvelWrite, RefusesWhatCannotBeRead) {
    EXPECT_EQ(parseErrorOf([] { kvel::write(kvel::ITypePtr()); }), "type is NULL");
    // A node of an unknown kind, and size 0, which is "unset" in the format (the parse-back check
    // catches it).
    for (const auto& [size, kind] : {std::pair{1u, 7u}, std::pair{0u, 0u}})
        parseErrorOf([&] {
            kvel::write(
                kvel::make_kvel_shared<kvel::ElementaryType>("x", kvel::Dimensions{}, 0, size, kind, 0));
        });
}

// Chunk streams ---------------------------------------------------------------------------------

namespace {

struct Cycle {
    std::string d1 = "DESC-A", x1 = "data-1", d2 = "DESC-BB", x2 = "dd", d3 = "D", x3 = "payload-3";
    std::vector<KvelChunk> chunks() const {
        return {chunkOf(d1, x1, 8), chunkOf(d2, x2, 14), chunkOf(d3, x3, 256)};
    }
};

Bytes serialize(const std::vector<KvelChunk>& chunks) {
    Bytes out(kvel::chunkStreamSize(chunks));
    EXPECT_EQ(kvel::writeChunkStream(chunks, out.data(), out.size()), 0);
    return out;
}

uint32_t wordAt(const Bytes& b, size_t pos) {
    uint32_t w;
    std::memcpy(&w, b.data() + pos, 4);
    return w;
}
void setWord(Bytes& b, size_t pos, uint32_t w) {
    std::memcpy(b.data() + pos, &w, 4);
}

} // namespace

TEST(KvelChunkStream, WriteThenParse) {
    Cycle cycle;
    const auto chunks = cycle.chunks();
    EXPECT_EQ(kvel::chunkStreamSize(chunks), 4u + 3 * 24 + 6 + 6 + 7 + 2 + 1 + 9);
    const Bytes stream = serialize(chunks);
    EXPECT_EQ((std::vector<uint32_t>{wordAt(stream, 0), wordAt(stream, 4), wordAt(stream, 16),
                                     wordAt(stream, 26), wordAt(stream, 36)}),
              (std::vector<uint32_t>{3, 8, kvel::CHUNK_DELIMITER_DESCRIPTION, kvel::CHUNK_DELIMITER_DATA,
                                     kvel::CHUNK_DELIMITER_END}));

    std::vector<KvelChunk> parsed;
    ASSERT_EQ(kvel::parseChunkStream(stream.data(), stream.size(), parsed), 0);
    ASSERT_EQ(parsed.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(parsed[i].channel, chunks[i].channel);
        EXPECT_EQ(std::string(parsed[i].description, parsed[i].descriptionLength),
                  std::string(chunks[i].description, chunks[i].descriptionLength));
        EXPECT_EQ(std::string(parsed[i].data, parsed[i].dataLength),
                  std::string(chunks[i].data, chunks[i].dataLength));
        // Views into the packet, not copies.
        EXPECT_GE(reinterpret_cast<const uint8_t*>(parsed[i].data), stream.data());
        EXPECT_LT(reinterpret_cast<const uint8_t*>(parsed[i].data), stream.data() + stream.size());
    }
    // Wrong destination length: -1 and nothing written.
    Bytes wrong(stream.size() + 1, 0xEE);
    EXPECT_EQ(kvel::writeChunkStream(chunks, wrong.data(), wrong.size()), -1);
    EXPECT_EQ(wrong, Bytes(stream.size() + 1, 0xEE));
}

TEST(KvelChunkStream, RejectsEveryDamagedField) {
    std::vector<KvelChunk> parsed{KvelChunk()};
    Bytes count(4, 0);
    EXPECT_EQ(kvel::parseChunkStream(count.data(), count.size(), parsed), 0);
    EXPECT_TRUE(parsed.empty());
    for (uint32_t chunks : {1025u, 0xFFFFFFFFu}) { // too many, and -1
        setWord(count, 0, chunks);
        EXPECT_EQ(kvel::parseChunkStream(count.data(), count.size(), parsed), -1);
    }
    EXPECT_EQ(kvel::parseChunkStream(nullptr, 0, parsed), -1);
    Cycle cycle;
    const Bytes stream = serialize(cycle.chunks());
    // Every bit of every delimiter of the first chunk.
    for (size_t pos : {size_t(16), size_t(26), size_t(36)}) {
        for (int bit = 0; bit < 32; ++bit) {
            Bytes damaged = stream;
            setWord(damaged, pos, wordAt(damaged, pos) ^ (1u << bit));
            parsed.assign(1, KvelChunk());
            EXPECT_EQ(kvel::parseChunkStream(damaged.data(), damaged.size(), parsed), -1)
                << pos << ":" << bit;
            EXPECT_TRUE(parsed.empty());
        }
    }
    // Lengths below 1 or running past the end.
    for (uint32_t length : {0u, 0x80000000u, 0xFFFFFFFFu, 1000u}) {
        for (size_t pos : {size_t(8), size_t(12)}) {
            Bytes damaged = stream;
            setWord(damaged, pos, length);
            EXPECT_EQ(kvel::parseChunkStream(damaged.data(), damaged.size(), parsed), -1);
        }
    }
    for (size_t length = 0; length < stream.size(); ++length)
        EXPECT_EQ(kvel::parseChunkStream(stream.data(), length, parsed), -1) << length;
}

TEST(KvelChunkStream, ReadAheadFromFile) {
    Cycle cycle;
    const Bytes first = serialize(cycle.chunks());
    const Bytes second = serialize({cycle.chunks()[1]});
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    std::fwrite(first.data(), 1, first.size(), file);
    std::fwrite(second.data(), 1, second.size(), file);
    std::fseek(file, 0, SEEK_SET);
    EXPECT_EQ(kvel::readAheadChunkStream(file), int64_t(first.size()));
    EXPECT_EQ(std::ftell(file), 0);
    std::fseek(file, long(first.size()), SEEK_SET);
    EXPECT_EQ(kvel::readAheadChunkStream(file), int64_t(second.size()));
    EXPECT_EQ(std::ftell(file), long(first.size()));
    std::fclose(file);

    // The same through a stream, and a stream cut anywhere inside the packet.
    const std::string text(first.begin(), first.end());
    std::istringstream whole(text);
    EXPECT_EQ(kvel::readAheadChunkStream(whole), int64_t(first.size()));
    for (size_t cut : {size_t(2), size_t(10), size_t(30), first.size() - 1}) {
        std::istringstream in(text.substr(0, cut));
        try {
            kvel::readAheadChunkStream(in);
            ADD_FAILURE() << cut;
        } catch (const KvlEOFException& e) {
            EXPECT_STREQ(e.what(), "End of file reached");
        }
    }
    // A length below 1.
    Bytes bad = first;
    setWord(bad, 12, 0);
    std::istringstream badIn(std::string(bad.begin(), bad.end()));
    EXPECT_EQ(kvel::readAheadChunkStream(badIn), -1);
    EXPECT_EQ(badIn.tellg(), 0);
}
