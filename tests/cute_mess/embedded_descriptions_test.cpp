// Every compiled description of the build: parses, is rewritten byte for byte by the writer, and
// a whole block read as variants writes back byte for byte.

#include "cute_mess/kvelqthelper.h"

#include <gtest/gtest.h>

#include <QDirIterator>
#include <QFile>
#include <QRandomGenerator>

namespace {

QStringList descriptionFiles() {
    QStringList files;
    QDirIterator it(QStringLiteral(KVEL_DESCRIPTION_DIR), {"*.kvd"}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(it.next());
    files.sort();
    return files;
}

// Every byte that some elementary element covers.
void markCovered(const kvel::ITypePtr& root, QByteArray& mask) {
    for (const std::string& leaf : kvel::memberPaths(root, "", -1)) {
        const kvel::PathType type = kvel::typeOfPath(root, leaf);
        uint32_t count = 1;
        for (uint32_t e : type.uncoveredDimensions)
            count *= e;
        const kvel::AccessorPtr a = kvel::getAccessor<double>(root, leaf);
        for (uint32_t i = 0; i < count * a->elementSize; ++i)
            mask[int(a->byteOffset + i)] = 1;
    }
}

} // namespace

TEST(EmbeddedDescriptions, ParseRewriteAndRoundTripThroughVariants) {
    const QStringList files = descriptionFiles();
    ASSERT_FALSE(files.isEmpty()) << KVEL_DESCRIPTION_DIR;
    for (const QString& path : files) {
        SCOPED_TRACE(path.toStdString());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        const kvel::ITypePtr root = kvel::parse(bytes.constData(), size_t(bytes.size()));
        ASSERT_TRUE(root);
        const std::vector<uint8_t> rewritten = kvel::write(root);
        EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(rewritten.data()), int(rewritten.size())), bytes);

        QRandomGenerator random(42);
        QByteArray block(int(root->size()), '\0');
        for (char& c : block)
            c = char(random.bounded(256));
        const QVariant all = KVelQtHelper::read(root, block, QByteArray::fromStdString(root->name()));
        ASSERT_EQ(all.typeId(), QMetaType::QVariantMap);
        QByteArray rebuilt(block.size(), '\0');
        ASSERT_TRUE(KVelQtHelper::write(root, rebuilt, QByteArray::fromStdString(root->name()), all));
        QByteArray mask(block.size(), '\0');
        markCovered(root, mask);
        for (int i = 0; i < block.size(); ++i)
            if (!mask[i])
                block[i] = 0;
        EXPECT_EQ(rebuilt, block);
    }
}
