// The embedded descriptions: every resource is present under the name the plug-in asks for,
// parses, is rewritten byte for byte by the writer (also through the variant bridge), keeps the
// layout constraints, and newer layouts keep the members of older ones. That the result
// extraction resolves every path it reads is checked end to end against the virtual sensor.
#include "cute_mess/kvelqthelper.h"
#include "generated/firmwareversions.h"
#include "kvel/kvel_interpret.h"
#include "kvel/kvel_parse.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <numeric>

using namespace kvel;
using namespace std::string_literals;

namespace {

// Firmware versions with parameter descriptions, per variant, as "MAJOR_MINOR".
template <std::size_t N>
std::vector<std::string> versionNames(const trvaxx::DescribedFirmwareVersion (&table)[N]) {
    std::vector<std::string> names;
    for (const auto& v : table)
        names.push_back(std::to_string(v.major) + "_" + std::to_string(v.minor));
    return names;
}

const std::map<std::string, std::vector<std::string>> kVersions = {
    {"DI", versionNames(trvaxx::FIRMWARE_VERSIONS_DI)},
    {"OD", versionNames(trvaxx::FIRMWARE_VERSIONS_OD)},
    {"LG", versionNames(trvaxx::FIRMWARE_VERSIONS_LG)},
};

std::vector<uint8_t> resource(const QString& name) {
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

// Every node below root: path, type code, dimensions, offset relative to root's offset.
struct Leaf {
    int code;
    Dimensions dims;
    uint32_t offset;
    bool operator==(const Leaf& o) const { return code == o.code && dims == o.dims && offset == o.offset; }
};
std::map<std::string, Leaf> layoutOf(const ITypePtr& root) {
    std::map<std::string, Leaf> out;
    std::function<void(const IType&, const std::string&)> walk = [&](const IType& t,
                                                                     const std::string& path) {
        for (const ITypePtr& m : t.members()) {
            const std::string p = path + "." + m->name();
            out[p] = Leaf{typeCodeOf(*m), m->dimensions(), m->offset() - root->offset()};
            walk(*m, p);
        }
    };
    walk(*root, "");
    return out;
}

ITypePtr memberNamed(const ITypePtr& parent, const std::string& name) {
    for (const ITypePtr& m : parent->members())
        if (m->name() == name)
            return m;
    return {};
}

struct Param {
    std::string block, variant, version;
    std::string name() const { return block + "_" + variant + "_" + version; }
    QString resourceName() const { return QString::fromStdString(":/paramdescription/" + name() + ".kvd"); }
};
std::vector<Param> allParams() {
    std::vector<Param> all;
    for (const char* block : {"DSP_CPAR", "KP_CPAR"})
        for (const auto& [variant, versions] : kVersions)
            for (const std::string& version : versions)
                all.push_back({block, variant, version});
    return all;
}

QString streamResource(int channel, const std::string& variant) {
    return QStringLiteral(":/streamdescription/%1_%2.kvd").arg(channel).arg(QString::fromStdString(variant));
}

// Every byte that some elementary element covers.
QByteArray coveredBytes(const ITypePtr& root) {
    QByteArray mask(int(root->size()), '\0');
    for (const std::string& leaf : memberPaths(root, "", -1)) {
        const Dimensions dims = typeOfPath(root, leaf).uncoveredDimensions;
        const uint32_t count = std::accumulate(dims.begin(), dims.end(), 1u, std::multiplies<>());
        const AccessorPtr a = getAccessor<double>(root, leaf);
        for (uint32_t i = 0; i < count * a->elementSize; ++i)
            mask[int(a->byteOffset + i)] = 1;
    }
    return mask;
}

} // namespace

// Each parses, is rewritten byte for byte, and a whole block read as variants writes back byte
// for byte (bytes no element covers excepted).
TEST(EmbeddedDescriptions, EachParsesAndIsRewrittenByteForByte) {
    QStringList names;
    for (const QString& dir : {QStringLiteral(":/paramdescription/"), QStringLiteral(":/streamdescription/")})
        for (const QString& f : QDir(dir).entryList({"*.kvd"}, QDir::Files)) // not the flash drivers
            names << dir + f;
    ASSERT_FALSE(names.isEmpty());
    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString());
        const std::vector<uint8_t> bytes = resource(name);
        // The plug-in's own descriptions are version 0x0300, compressed, not enciphered.
        ASSERT_GE(bytes.size(), 13u);
        EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 8),
                  (std::vector<uint8_t>{0xDA, 0xDE, 0x03, 0x00, 1, 0, 0, 0}));
        try {
            const ITypePtr root = parse(bytes);
            ASSERT_TRUE(root);
            EXPECT_EQ(write(root), bytes);

            QRandomGenerator random(42);
            QByteArray block(int(root->size()), '\0');
            for (char& c : block)
                c = char(random.bounded(256));
            const QByteArray rootName = QByteArray::fromStdString(root->name());
            const QVariant all = KVelQtHelper::read(root, block, rootName);
            ASSERT_EQ(all.typeId(), QMetaType::QVariantMap);
            QByteArray rebuilt(block.size(), '\0');
            ASSERT_TRUE(KVelQtHelper::write(root, rebuilt, rootName, all));
            const QByteArray mask = coveredBytes(root);
            for (int i = 0; i < block.size(); ++i)
                if (!mask[i])
                    block[i] = 0;
            EXPECT_EQ(rebuilt, block);
        } catch (const std::exception& e) {
            ADD_FAILURE() << e.what();
        }
    }
}

// Each described firmware version has its parameter descriptions under the name the plug-in asks.
TEST(EmbeddedDescriptions, ParameterBlocksKeepTheirRootsFirstMembersSizesAndByteOrders) {
    for (const Param& p : allParams()) {
        SCOPED_TRACE(p.name());
        const std::vector<uint8_t> bytes = resource(p.resourceName());
        ASSERT_FALSE(bytes.empty());
        // The CAN parameter transfer reads descriptions and blocks into 5000-byte buffers.
        EXPECT_LE(bytes.size(), 5000u);
        const ITypePtr root = parse(bytes);
        ASSERT_TRUE(root);
        const bool dsp = p.block == "DSP_CPAR";
        EXPECT_EQ(root->name(), dsp ? "DSP_CPARType" : "KP_CPARType");
        EXPECT_EQ(root->byteOrder(), uint32_t(dsp ? LittleEndian : BigEndian));
        EXPECT_LE(root->size() + (dsp ? 0 : 64), 5000u);

        const std::map<std::string, Leaf> layout = layoutOf(root);
        EXPECT_TRUE(layout.at(".BlockIdName") == (Leaf{TC_INT8, {21}, 0}));
        EXPECT_TRUE(layout.at(".BlockVersion") == (Leaf{TC_UINT8, {3}, 21}));
    }
}

// A sensor's newer firmware keeps every member of the older layouts where it was, with its type.
TEST(EmbeddedDescriptions, LaterVersionsKeepEveryMemberOfEarlierOnes) {
    for (const char* block : {"DSP_CPAR", "KP_CPAR"}) {
        for (const auto& [variant, versions] : kVersions) {
            std::map<std::string, Leaf> previous;
            std::string previousName;
            for (const std::string& version : versions) {
                const Param p{block, variant, version};
                SCOPED_TRACE(p.name());
                const std::map<std::string, Leaf> layout = layoutOf(parse(resource(p.resourceName())));
                for (const auto& [path, leaf] : previous) {
                    const auto it = layout.find(path);
                    EXPECT_TRUE(it != layout.end() && it->second == leaf)
                        << path << " of " << previousName << " is missing or changed";
                }
                previous = layout;
                previousName = p.name();
            }
        }
    }
}

// Stream roots and byte orders; channel 14 carries the newest parameter layout of the variant,
// channel 256 the newest KP block, so a sensor can fill both from its one parameter image; the
// variant-specific results stay out of the other variants' streams.
TEST(EmbeddedDescriptions, StreamsCarryTheNewestParameterLayoutsAndTheirVariantsResults) {
    for (const auto& [variant, versions] : kVersions) {
        SCOPED_TRACE(variant);
        const ITypePtr algo = parse(resource(streamResource(8, variant)));
        const ITypePtr dsp = parse(resource(streamResource(14, variant)));
        const ITypePtr meas = parse(resource(streamResource(256, variant)));
        ASSERT_TRUE(algo && dsp && meas);
        EXPECT_EQ(std::make_pair(algo->name(), algo->byteOrder()),
                  std::make_pair("AlgoIFOutput"s, uint32_t(LittleEndian)));
        EXPECT_EQ(std::make_pair(dsp->name(), dsp->byteOrder()),
                  std::make_pair("SDspFrameCustomerKvel_t"s, uint32_t(LittleEndian)));
        EXPECT_EQ(std::make_pair(meas->name(), meas->byteOrder()),
                  std::make_pair("Meas_Customer_Data_Type"s, uint32_t(BigEndian)));
        EXPECT_EQ(bool(memberNamed(algo, "objectDetectionResult")), variant == "OD");
        EXPECT_EQ(bool(memberNamed(algo, "lineGuidanceResult")), variant == "LG");

        const ITypePtr dspBlock = parse(resource(Param{"DSP_CPAR", variant, versions.back()}.resourceName()));
        const ITypePtr kpBlock = parse(resource(Param{"KP_CPAR", variant, versions.back()}.resourceName()));
        const ITypePtr dspStream = memberNamed(dsp, "DspCustomerParameter");
        const ITypePtr kpStream = memberNamed(meas, "KpCustomerParameter");
        ASSERT_TRUE(dspStream && kpStream);
        EXPECT_EQ(dspStream->size(), dspBlock->size());
        EXPECT_EQ(kpStream->size(), kpBlock->size());
        EXPECT_EQ(layoutOf(dspStream), layoutOf(dspBlock));
        EXPECT_EQ(layoutOf(kpStream), layoutOf(kpBlock));

        // Channel 256 and its description must each fit one datagram (1472 bytes less 64 of
        // headers and delimiter): the automatic search reads them only that way.
        EXPECT_LE(resource(streamResource(256, variant)).size(), 1408u);
        EXPECT_LE(meas->size(), 1408u);
    }
}
