// Variant bridge: reads per element type, structures as maps, converting writes. Writing a whole
// block back byte for byte is checked over every embedded description.

#include "cute_mess/kvelqthelper.h"

#include "tests/support/kvel_test_util.h"
#include "tests/support/messagecapture.h"

#include <gtest/gtest.h>

#include <QRandomGenerator>
#include <QVariantList>
#include <QVariantMap>

namespace {

QByteArray randomBlock(int size, quint32 seed) {
    QRandomGenerator random(seed);
    QByteArray block(size, '\0');
    for (char& c : block)
        c = char(random.bounded(256));
    return block;
}

} // namespace

TEST(KVelQtHelper, ElementTypesAndShapes) {
    const kvel::ITypePtr root = kvel_test::sampleTree();
    QByteArray block = randomBlock(296, 1);
    const QVariant id = KVelQtHelper::read(root, block, "DSP_CPARType.BlockIdName");
    ASSERT_EQ(id.typeId(), QMetaType::QByteArray);
    EXPECT_EQ(id.toByteArray(), block.mid(0, 21));
    const QVariant version = KVelQtHelper::read(root, block, "DSP_CPARType.BlockVersion");
    ASSERT_EQ(version.typeId(), QMetaType::QByteArray);
    EXPECT_EQ(version.toByteArray().size(), 3);
    // One element of a byte array is a scalar int.
    const QVariant v1 = KVelQtHelper::read(root, block, "DSP_CPARType.BlockVersion[1]");
    EXPECT_EQ(v1.typeId(), QMetaType::Int);
    EXPECT_EQ(v1.toInt(), quint8(block[22]));

    const float pattern[8] = {0.5f, 1, 2, 3, 4, 5, 6, -7.25f};
    kvel::write<float>(root, "DSP_CPARType.AutoCalibParam_xPattern", pattern, 8, block.data(), 296);
    const QVariantList floats =
        KVelQtHelper::read(root, block, "DSP_CPARType.AutoCalibParam_xPattern").toList();
    ASSERT_EQ(floats.size(), 8);
    EXPECT_EQ(floats[0].typeId(), QMetaType::Float);
    EXPECT_EQ(floats[7].toFloat(), -7.25f);

    for (const auto& [member, type] : {std::pair{"CycleTime", QMetaType::Int},
                                       {"Counter", QMetaType::UInt},
                                       {"Big", QMetaType::LongLong},
                                       {"Huge", QMetaType::ULongLong},
                                       {"Ratio", QMetaType::Double}})
        EXPECT_EQ(KVelQtHelper::read(root, block, QByteArray("DSP_CPARType.") + member).typeId(), type)
            << member;
    // A [4][3] array reads flat, row-major.
    const QVariantList matrix = KVelQtHelper::read(root, block, "DSP_CPARType.Matrix").toList();
    ASSERT_EQ(matrix.size(), 12);
    EXPECT_EQ(matrix[5], KVelQtHelper::read(root, block, "DSP_CPARType.Matrix[1][2]"));
    EXPECT_EQ(KVelQtHelper::read(root, block, "DSP_CPARType.Matrix[2]").toList().size(), 3);
}

TEST(KVelQtHelper, StructuresAsMaps) {
    const kvel::ITypePtr root = kvel_test::sampleTree(kvel::BigEndian);
    const QByteArray block = randomBlock(296, 2);
    const QVariantMap map = KVelQtHelper::read(root, block, "DSP_CPARType").toMap();
    ASSERT_EQ(map.size(), int(root->members().size()));
    const QVariantMap inner = map["Inner"].toMap();
    EXPECT_EQ(inner.keys(), (QStringList{"a", "b"}));
    // Arrays of structures: a list of maps in element order.
    const QVariantList objects = map["objectList"].toList();
    ASSERT_EQ(objects.size(), 3);
    EXPECT_EQ(objects[2].toMap().keys(), (QStringList{"id", "v", "x1"}));
    EXPECT_EQ(objects[2].toMap()["id"], KVelQtHelper::read(root, block, "DSP_CPARType.objectList[2].id"));
    EXPECT_EQ(KVelQtHelper::read(root, block, ""), QVariant(map));
}

TEST(KVelQtHelper, WritesConvertValues) {
    const kvel::ITypePtr root = kvel_test::sampleTree(kvel::BigEndian);
    QByteArray block(296, '\0');
    ASSERT_TRUE(KVelQtHelper::write(root, block, "DSP_CPARType.CycleTime", QVariant(QString("258"))));
    EXPECT_EQ(block.mid(24, 2), QByteArray("\x01\x02", 2));
    ASSERT_TRUE(KVelQtHelper::write(root, block, "DSP_CPARType.BlockVersion", QVariantList{1, 2, 3}));
    EXPECT_EQ(block.mid(21, 3), QByteArray("\x01\x02\x03", 3));
    ASSERT_TRUE(KVelQtHelper::write(root, block, "DSP_CPARType.BlockVersion", QByteArray("\x07\x08\x09", 3)));
    EXPECT_EQ(block.mid(21, 3), QByteArray("\x07\x08\x09", 3));
    ASSERT_TRUE(KVelQtHelper::write(root, block, "DSP_CPARType.Inner", QVariantMap{{"b", 1.5}}));
    EXPECT_EQ(KVelQtHelper::read(root, block, "DSP_CPARType.Inner.b").toFloat(), 1.5f);
    // A list of the wrong length is the interpreter's count error.
    EXPECT_THROW(
        KVelQtHelper::write(root, block, "DSP_CPARType.AutoCalibParam_xPattern", QVariantList{1.0, 2.0}),
        kvel::InterpretError);
    EXPECT_THROW(KVelQtHelper::write(root, block, "DSP_CPARType.Inner", QVariantMap{{"nothere", 1}}),
                 kvel::InterpretError);
    EXPECT_THROW(KVelQtHelper::read(root, block.left(200), "DSP_CPARType.CycleTime"), kvel::InterpretError);

    // An empty map or a value that is no map leaves a structure alone and says so.
    const QByteArray before = block;
    MessageCapture messages;
    KVelQtHelper::write(root, block, "DSP_CPARType.Inner", QVariantMap());
    KVelQtHelper::write(root, block, "DSP_CPARType", QVariant(5));
    EXPECT_EQ(block, before);
    ASSERT_EQ(messages.all().size(), 2);
    EXPECT_EQ(messages.all()[0],
              "Called KVelQtHelper::write on a struct with a empty/none-map qvariant, this is probably "
              "not a good idea \"DSP_CPARType.Inner\"");
}

// A described element count is checked against the block before anything is allocated: an int8
// array of 2^32-1 elements once allocated 4 GiB, a double one threw std::bad_alloc.
TEST(KVelQtHelper, OversizeClaimsGiveTheInterpretersErrorBeforeAllocating) {
    struct Case {
        uint32_t kind, size;
        QVariant written;
    };
    for (const Case& c :
         {Case{kvel::KindSigned, 1, QByteArray(16, 'x')}, Case{kvel::KindUnsigned, 1, QVariantList{1, 2}},
          Case{kvel::KindFloat, 8, QVariantList{1.0}}, Case{kvel::KindSigned, 4, QVariantList{}}}) {
        const kvel::ITypePtr root =
            kvel_test::singleMember("R", "m", {0xFFFFFFFFu}, 0, c.size, c.kind, kvel::LittleEndian, 16);
        QByteArray block(16, '\0');
        for (bool write : {false, true}) {
            try {
                if (write)
                    KVelQtHelper::write(root, block, "R.m", c.written);
                else
                    KVelQtHelper::read(root, block, "R.m");
                ADD_FAILURE() << "kind " << c.kind << (write ? " write" : " read") << " accepted";
            } catch (const kvel::InterpretError& error) {
                EXPECT_EQ(error.code(), kvel::InterpretError::Expression) << error.what();
            }
        }
        EXPECT_EQ(block, QByteArray(16, '\0'));
    }
}
