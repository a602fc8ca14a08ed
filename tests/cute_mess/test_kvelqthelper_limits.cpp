// The variant bridge checks a described element count against the block before it allocates.

#include "cute_mess/kvelqthelper.h"

#include <gtest/gtest.h>

namespace {

using namespace kvel;

ITypePtr oneHugeArray(uint32_t kind, uint32_t size) {
    auto root = make_kvel_shared<StructType>("R", Dimensions{}, 0, 16, LittleEndian);
    root->addMember(
        make_kvel_shared<ElementaryType>("m", Dimensions{0xFFFFFFFFu}, 0, size, kind, LittleEndian));
    return root;
}

} // namespace

TEST(KVelQtHelperLimits, OversizeClaimsGiveTheInterpretersErrorBeforeAllocating) {
    struct Case {
        uint32_t kind, size;
        QVariant written;
    };
    const Case cases[] = {{KindSigned, 1, QByteArray(16, 'x')},
                          {KindUnsigned, 1, QVariantList{1, 2}},
                          {KindFloat, 8, QVariantList{1.0}},
                          {KindSigned, 4, QVariantList{}}};
    for (const Case& c : cases) {
        const ITypePtr root = oneHugeArray(c.kind, c.size);
        QByteArray block(16, '\0');
        // Before the fix, int8 allocated 4 GiB and double threw std::bad_alloc.
        try {
            KVelQtHelper::read(root, block, "R.m");
            ADD_FAILURE() << "read of kind " << c.kind << " accepted";
        } catch (const InterpretError& error) {
            EXPECT_EQ(error.code(), InterpretError::Expression) << error.what();
        }
        try {
            KVelQtHelper::write(root, block, "R.m", c.written);
            ADD_FAILURE() << "write of kind " << c.kind << " accepted";
        } catch (const InterpretError& error) {
            EXPECT_EQ(error.code(), InterpretError::Expression) << error.what();
        }
        EXPECT_EQ(block, QByteArray(16, '\0'));
    }
}
