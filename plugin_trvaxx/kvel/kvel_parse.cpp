#include "kvel/kvel_parse.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <limits>

namespace kvel {

namespace {

const char* baseName(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash ? slash + 1 : path;
}

#define KVEL_PARSE_ERROR(detail) ParseError(__FILE__, __LINE__, detail)

constexpr uint8_t TAG_NAME = 100;
constexpr uint8_t TAG_DIMENSIONS = 101;
constexpr uint8_t TAG_OFFSET = 102;
constexpr uint8_t TAG_SIZE = 103;
constexpr uint8_t TAG_BYTE_ORDER = 104;
constexpr uint8_t TAG_TYPE = 150;

constexpr uint32_t TYPE_SIGNED = 1;
constexpr uint32_t TYPE_UNSIGNED = 2;
constexpr uint32_t TYPE_FLOAT = 3;
constexpr uint32_t TYPE_STRUCT = 254;
constexpr uint32_t TYPE_END = 255;

constexpr uint32_t WIRE_LITTLE_ENDIAN = 200;
constexpr uint32_t WIRE_BIG_ENDIAN = 201;
constexpr uint32_t OFFSET_UNSET = 0xFFFFFFFFu;

uint32_t bigEndian32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

void putBigEndian32(std::vector<uint8_t>& out, uint32_t value) {
    out.push_back(uint8_t(value >> 24));
    out.push_back(uint8_t(value >> 16));
    out.push_back(uint8_t(value >> 8));
    out.push_back(uint8_t(value));
}

// Reads one record stream; every read is checked against the remaining bytes.
class RecordParser {
public:
    RecordParser(const uint8_t* data, size_t size) : m_pos(data), m_end(data + size) {}

    ITypePtr parseRoot() { return parseRecord(ByteOrderUnset, 0); }

private:
    size_t remaining() const { return size_t(m_end - m_pos); }

    uint8_t readByte() {
        if (remaining() == 0)
            throw KVEL_PARSE_ERROR("dataSize = 0");
        return *m_pos++;
    }
    uint32_t readU32() {
        if (remaining() < 4)
            throw KVEL_PARSE_ERROR("dataSize < 4");
        uint32_t value = bigEndian32(m_pos);
        m_pos += 4;
        return value;
    }
    std::string readString() {
        uint32_t length = readU32();
        if (length > remaining())
            throw KVEL_PARSE_ERROR("dataSize < string length");
        std::string text(reinterpret_cast<const char*>(m_pos), length);
        m_pos += length;
        return text;
    }

    ITypePtr parseRecord(uint32_t inheritedByteOrder, int depth) {
        if (depth > MAX_DESCRIPTION_DEPTH)
            throw KVEL_PARSE_ERROR("structures nested too deeply");
        if (++m_nodes > MAX_DESCRIPTION_NODES)
            throw KVEL_PARSE_ERROR("more than " + std::to_string(MAX_DESCRIPTION_NODES) + " type records");
        std::string name;
        Dimensions dimensions;
        bool dimensionsSeen = false;
        uint32_t offset = OFFSET_UNSET;
        uint32_t size = 0;
        uint32_t byteOrder = inheritedByteOrder;
        bool anyAttribute = false;
        ITypePtr node;

        while (!node && remaining() > 0) {
            const uint8_t tag = readByte();
            anyAttribute = true;
            switch (tag) {
            case TAG_NAME:
                if (!name.empty())
                    throw KVEL_PARSE_ERROR("name set more than once");
                name = readString();
                break;
            case TAG_DIMENSIONS: {
                dimensionsSeen = true;
                if (!dimensions.empty())
                    throw KVEL_PARSE_ERROR("dimension set more than once");
                const uint32_t count = readU32();
                // Walked with an 8-bit counter in the format's reference reader: at most 255.
                if (count > 255)
                    throw KVEL_PARSE_ERROR("more than 255 dimensions");
                for (uint32_t i = 0; i < count; ++i)
                    dimensions.push_back(readU32());
                break;
            }
            case TAG_OFFSET:
                if (offset != OFFSET_UNSET)
                    throw KVEL_PARSE_ERROR("offset set more than once");
                offset = readU32();
                break;
            case TAG_SIZE:
                if (size != 0)
                    throw KVEL_PARSE_ERROR("size set more than once");
                size = readU32();
                break;
            case TAG_BYTE_ORDER: {
                if (byteOrder != ByteOrderUnset)
                    throw KVEL_PARSE_ERROR("endianess set more than once");
                const uint8_t wire = uint8_t(readU32() & 0xFF);
                if (wire == WIRE_LITTLE_ENDIAN)
                    byteOrder = LittleEndian;
                else if (wire == WIRE_BIG_ENDIAN)
                    byteOrder = BigEndian;
                else
                    throw KVEL_PARSE_ERROR("unknown endianess");
                break;
            }
            case TAG_TYPE: {
                if (name.empty() || !dimensionsSeen || offset == OFFSET_UNSET || size == 0 ||
                    byteOrder > BigEndian)
                    throw KVEL_PARSE_ERROR("");
                const uint32_t typeId = readU32();
                switch (typeId) {
                case TYPE_SIGNED:
                case TYPE_UNSIGNED:
                case TYPE_FLOAT:
                    node = make_kvel_shared<ElementaryType>(std::move(name), std::move(dimensions), offset,
                                                            size, typeId - 1, byteOrder);
                    break;
                case TYPE_STRUCT:
                    node =
                        parseStruct(std::move(name), std::move(dimensions), offset, size, byteOrder, depth);
                    break;
                default:
                    throw KVEL_PARSE_ERROR("");
                }
                break;
            }
            default:
                throw KVEL_PARSE_ERROR("");
            }
        }
        if (!node && anyAttribute) // attributes without the closing tag 150
            throw KVEL_PARSE_ERROR("");
        if (remaining() > 0 && depth == 0) // trailing bytes after the root
            throw KVEL_PARSE_ERROR("");
        return node;
    }

    ITypePtr parseStruct(std::string name, Dimensions dimensions, uint32_t offset, uint32_t size,
                         uint32_t byteOrder, int depth) {
        auto structure =
            make_kvel_shared<StructType>(std::move(name), std::move(dimensions), offset, size, byteOrder);
        for (;;) {
            const uint8_t* mark = m_pos;
            const uint8_t tag = readByte();
            const uint32_t typeId = readU32();
            if (tag == TAG_TYPE && typeId == TYPE_END)
                break;
            m_pos = mark;
            ITypePtr member = parseRecord(byteOrder, depth + 1);
            if (!member) // cannot happen: the look-ahead proved that bytes remain
                throw KVEL_PARSE_ERROR("");
            structure->addMember(std::move(member));
        }
        return structure;
    }

    const uint8_t* m_pos;
    const uint8_t* m_end;
    uint32_t m_nodes = 0;
};

ITypePtr parseRecordStream(const uint8_t* data, size_t size) {
    return RecordParser(data, size).parseRoot();
}

ITypePtr parseCompressed(const uint8_t* body, size_t bodyLength, uint32_t recordLength) {
    // zlib cannot expand more than about 1032:1; a larger claim is a broken header, not data.
    if (recordLength > MAX_DESCRIPTION_BYTES || uint64_t(recordLength) > uint64_t(bodyLength) * 1040 + 64)
        throw KVEL_PARSE_ERROR("uncompress failed");
    std::vector<uint8_t> records(recordLength);
    uLongf produced = recordLength;
    // uncompress() wants a non-null destination even for an empty stream.
    uint8_t dummy = 0;
    const int result =
        uncompress(records.empty() ? &dummy : records.data(), &produced, body, uLong(bodyLength));
    if (result != Z_OK || produced != recordLength)
        throw KVEL_PARSE_ERROR("uncompress failed");
    return parseRecordStream(records.data(), records.size());
}

void serialize(const IType& node, bool isRoot, std::vector<uint8_t>& out) {
    const uint32_t kind = node.typeKind();
    if (kind > KindStruct)
        throw KVEL_PARSE_ERROR("");
    out.push_back(TAG_NAME);
    putBigEndian32(out, uint32_t(node.name().size()));
    out.insert(out.end(), node.name().begin(), node.name().end());
    out.push_back(TAG_DIMENSIONS);
    putBigEndian32(out, uint32_t(node.dimensions().size()));
    for (uint32_t extent : node.dimensions())
        putBigEndian32(out, extent);
    out.push_back(TAG_OFFSET);
    putBigEndian32(out, node.offset());
    out.push_back(TAG_SIZE);
    putBigEndian32(out, node.size());
    if (isRoot && node.byteOrder() <= BigEndian) {
        out.push_back(TAG_BYTE_ORDER);
        putBigEndian32(out, node.byteOrder() == BigEndian ? WIRE_BIG_ENDIAN : WIRE_LITTLE_ENDIAN);
    }
    out.push_back(TAG_TYPE);
    if (kind == KindStruct) {
        putBigEndian32(out, TYPE_STRUCT);
        for (const ITypePtr& member : node.members()) {
            if (!member)
                throw KVEL_PARSE_ERROR("type is NULL");
            serialize(*member, false, out);
        }
        out.push_back(TAG_TYPE);
        putBigEndian32(out, TYPE_END);
    } else {
        putBigEndian32(out, kind + 1);
    }
}

} // namespace

ParseError::ParseError(const char* sourceFile, int line, std::string detail) : m_detail(std::move(detail)) {
    m_text = std::string(baseName(sourceFile)) + " (line " + std::to_string(line) +
             "): Error in parsing data definition";
    if (!m_detail.empty())
        m_text += ": " + m_detail;
}

ITypePtr parse(const void* container, size_t length) {
    const uint8_t* bytes = static_cast<const uint8_t*>(container);
    if (length < 2 || bytes[0] != 0xDA || bytes[1] != 0xDE)
        throw KVEL_PARSE_ERROR("magic number at the beginning (0xdade) missing");
    if (length < 4)
        throw KVEL_PARSE_ERROR("unknown kvel version");
    if (length > MAX_DESCRIPTION_BYTES)
        throw KVEL_PARSE_ERROR("description longer than " + std::to_string(MAX_DESCRIPTION_BYTES) + " bytes");
    const uint32_t version = (uint32_t(bytes[2]) << 8) | bytes[3];
    switch (version) {
    case 0x0100:
        if (length < 8)
            throw KVEL_PARSE_ERROR("dataSize < 4");
        return parseCompressed(bytes + 8, length - 8, bigEndian32(bytes + 4));
    case 0x0200:
        throw KVEL_PARSE_ERROR("enciphered description, no cipher available");
    case 0x0300: {
        if (length < 13)
            throw KVEL_PARSE_ERROR("dataSize < 4");
        const uint8_t compression = bytes[4];
        const uint8_t cipher = bytes[5];
        const uint32_t key = (uint32_t(bytes[6]) << 8) | bytes[7];
        const uint32_t recordLength = bigEndian32(bytes + 8);
        const uint8_t padding = bytes[12];
        if (size_t(padding) > length - 13)
            throw KVEL_PARSE_ERROR("padding longer than the container");
        const size_t bodyLength = length - 13 - padding;
        if (compression == 1) {
            if (cipher != 0 && key > 0)
                throw KVEL_PARSE_ERROR("enciphered description, no cipher available");
            return parseCompressed(bytes + 13, bodyLength, recordLength);
        }
        if (recordLength > bodyLength)
            throw KVEL_PARSE_ERROR("record stream longer than the container");
        return parseRecordStream(bytes + 13, recordLength);
    }
    default:
        throw KVEL_PARSE_ERROR("unknown kvel version");
    }
}

std::vector<uint8_t> write(const ITypePtr& root) {
    if (!root)
        throw KVEL_PARSE_ERROR("type is NULL");
    std::vector<uint8_t> records;
    serialize(*root, true, records);

    uLongf compressedLength = compressBound(uLong(records.size()));
    std::vector<uint8_t> compressed(compressedLength);
    if (compress2(compressed.data(), &compressedLength, records.data(), uLong(records.size()), 9) != Z_OK)
        throw KVEL_PARSE_ERROR("compress failed");

    const size_t padding = (4 - ((compressedLength + 1) % 4)) % 4;
    std::vector<uint8_t> out = {0xDA, 0xDE, 0x03, 0x00, 1, 0, 0, 0};
    out.reserve(13 + compressedLength + padding);
    putBigEndian32(out, uint32_t(records.size()));
    out.push_back(uint8_t(padding));
    out.insert(out.end(), compressed.begin(), compressed.begin() + compressedLength);
    out.insert(out.end(), padding, 0);

    parse(out.data(), out.size()); // the output must read back
    return out;
}

// Chunk streams ---------------------------------------------------------------------------------

namespace {

// Chunk stream words are in host order.
void putWord(uint8_t*& dest, uint32_t value) {
    std::memcpy(dest, &value, 4);
    dest += 4;
}

bool takeWord(const uint8_t*& pos, const uint8_t* end, uint32_t& value) {
    if (size_t(end - pos) < 4)
        return false;
    std::memcpy(&value, pos, 4);
    pos += 4;
    return true;
}

bool takeBlock(const uint8_t*& pos, const uint8_t* end, uint32_t length, const char*& block) {
    if (size_t(end - pos) < length)
        return false;
    block = reinterpret_cast<const char*>(pos);
    pos += length;
    return true;
}

} // namespace

size_t chunkStreamSize(const std::vector<KvelChunk>& chunks) {
    size_t size = 4;
    for (const KvelChunk& chunk : chunks)
        size += 24 + size_t(chunk.descriptionLength) + chunk.dataLength;
    return size;
}

int writeChunkStream(const std::vector<KvelChunk>& chunks, void* dest, size_t length) {
    if (dest == nullptr || length != chunkStreamSize(chunks) ||
        chunks.size() > uint32_t(CHUNK_STREAM_MAX_COUNT))
        return -1;
    uint8_t* out = static_cast<uint8_t*>(dest);
    putWord(out, uint32_t(chunks.size()));
    for (const KvelChunk& chunk : chunks) {
        putWord(out, uint32_t(chunk.channel));
        putWord(out, chunk.descriptionLength);
        putWord(out, chunk.dataLength);
        putWord(out, CHUNK_DELIMITER_DESCRIPTION);
        if (chunk.descriptionLength)
            std::memcpy(out, chunk.description, chunk.descriptionLength);
        out += chunk.descriptionLength;
        putWord(out, CHUNK_DELIMITER_DATA);
        if (chunk.dataLength)
            std::memcpy(out, chunk.data, chunk.dataLength);
        out += chunk.dataLength;
        putWord(out, CHUNK_DELIMITER_END);
    }
    return 0;
}

int parseChunkStream(const void* buffer, size_t length, std::vector<KvelChunk>& chunks) {
    chunks.clear();
    const uint8_t* pos = static_cast<const uint8_t*>(buffer);
    const uint8_t* end = pos + (buffer ? length : 0);
    std::vector<KvelChunk> parsed;
    uint32_t word = 0;
    if (!takeWord(pos, end, word))
        return -1;
    const int32_t count = int32_t(word);
    if (count < 0 || count > CHUNK_STREAM_MAX_COUNT)
        return -1;
    parsed.reserve(size_t(count));
    for (int32_t i = 0; i < count; ++i) {
        uint32_t channel = 0, descriptionLength = 0, dataLength = 0;
        if (!takeWord(pos, end, channel) || !takeWord(pos, end, descriptionLength) ||
            !takeWord(pos, end, dataLength))
            return -1;
        if (int32_t(descriptionLength) < 1 || int32_t(dataLength) < 1)
            return -1;
        KvelChunk chunk;
        chunk.channel = int32_t(channel);
        chunk.descriptionLength = descriptionLength;
        chunk.dataLength = dataLength;
        if (!takeWord(pos, end, word) || word != CHUNK_DELIMITER_DESCRIPTION)
            return -1;
        if (!takeBlock(pos, end, descriptionLength, chunk.description))
            return -1;
        if (!takeWord(pos, end, word) || word != CHUNK_DELIMITER_DATA)
            return -1;
        if (!takeBlock(pos, end, dataLength, chunk.data))
            return -1;
        if (!takeWord(pos, end, word) || word != CHUNK_DELIMITER_END)
            return -1;
        parsed.push_back(chunk);
    }
    chunks.swap(parsed);
    return 0;
}

namespace {

// Source of a read-ahead: exact reads that throw at the end of the file, relative skips, and a
// way back to the start position.
template <class Source> int64_t readAhead(Source& source) {
    uint32_t word = 0;
    source.readExactly(&word, 4);
    const int32_t count = int32_t(word);
    if (count < 0 || count > CHUNK_STREAM_MAX_COUNT)
        return -1;
    int64_t total = 4;
    for (int32_t i = 0; i < count; ++i) {
        uint32_t header[3];
        source.readExactly(header, sizeof header);
        const int32_t descriptionLength = int32_t(header[1]);
        const int32_t dataLength = int32_t(header[2]);
        if (descriptionLength < 1 || dataLength < 1)
            return -1;
        // Delimiter, description, delimiter, data, delimiter.
        const int64_t body = 12 + int64_t(descriptionLength) + dataLength;
        source.skip(body);
        total += 12 + body;
    }
    return total;
}

class FileSource {
public:
    explicit FileSource(std::FILE* file) : m_file(file), m_start(std::ftell(file)) {}
    ~FileSource() { std::fseek(m_file, m_start, SEEK_SET); }
    void readExactly(void* dest, size_t length) {
        if (std::fread(dest, 1, length, m_file) != length)
            throw KvlEOFException();
    }
    // Seeking past the end succeeds silently, so the last skipped byte is read to prove it exists.
    void skip(int64_t length) {
        if (std::fseek(m_file, long(length - 1), SEEK_CUR) != 0)
            throw KvlEOFException();
        char last;
        readExactly(&last, 1);
    }

private:
    std::FILE* m_file;
    long m_start;
};

class StreamSource {
public:
    explicit StreamSource(std::istream& stream) : m_stream(stream), m_start(stream.tellg()) {}
    ~StreamSource() {
        m_stream.clear();
        m_stream.seekg(m_start);
    }
    void readExactly(void* dest, size_t length) {
        if (!m_stream.read(static_cast<char*>(dest), std::streamsize(length)))
            throw KvlEOFException();
    }
    void skip(int64_t length) {
        if (!m_stream.seekg(std::streamoff(length - 1), std::ios::cur))
            throw KvlEOFException();
        char last;
        readExactly(&last, 1);
    }

private:
    std::istream& m_stream;
    std::streampos m_start;
};

} // namespace

int64_t readAheadChunkStream(std::FILE* file) {
    FileSource source(file);
    return readAhead(source);
}

int64_t readAheadChunkStream(std::istream& file) {
    StreamSource source(file);
    return readAhead(source);
}

} // namespace kvel
