// The replay view interprets recorded packets with its own chain and drops what does not parse.

#include "tests/support/resultstreambuilder.h"

#include "result/dataoutput_trvaxx.h"
#include "result/packageprocessor_trvaxx.h"
#include "result/replaydataview_trvaxx.h"
#include "result/resultcache_trvaxx.h"
#include "result/resulttransformer_trvaxx.h"

#include <gtest/gtest.h>

#include <QApplication>

#include <thread>

namespace {

QByteArray recordedCycle(uint32_t frame) {
    resulttest::CycleBuilder cycle(resulttest::Variant::OD, {}); // an OD identification by default
    cycle.fillImage(frame);
    return DataOutput_TRVAXX::serializeChunks(cycle.chunks());
}

} // namespace

TEST(ReplayDataView, PacketsFromAnotherThreadBecomePrimedResults) {
    ReplayDataView_TRVAXX view;
    view.show();
    QList<PrimedResultSP_TRVAXX_t> primed;
    QObject::connect(view.getResultTransformer(), &ResultTransformer_TRVAXX::processNewData,
                     [&](PrimedResultSP_TRVAXX_t p) { primed.append(p); });

    const QByteArray good = recordedCycle(41);
    QByteArray badSecondDelimiter = good;
    // The delimiter after the first chunk's description.
    const int descriptionLength = *reinterpret_cast<const int32_t*>(good.constData() + 8);
    badSecondDelimiter[4 + 16 + descriptionLength] ^= 0x01;
    const QByteArray tooMany("\x01\x04\0\0", 4); // 1025 chunks
    const QByteArray empty(4, '\0');

    std::thread([&] {
        view.newReplayPacket(badSecondDelimiter.constData(), unsigned(badSecondDelimiter.size()));
        view.newReplayPacket(tooMany.constData(), unsigned(tooMany.size()));
        view.newReplayPacket(empty.constData(), unsigned(empty.size()));
        view.newReplayPacket(nullptr, 10);
        view.newReplayPacket(good.constData(), 3);
        view.newReplayPacket(good.constData(), unsigned(good.size()));
    }).join();
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
    EXPECT_EQ(view.getRejectedPackets(), 4); // the empty list parses and yields nothing
    ASSERT_EQ(primed.size(), 1);
    EXPECT_EQ(primed[0]->getResult()->frameCounter(), 41u);
    EXPECT_EQ(view.getResultCache()->getResult()->cameraVariant, "OD");
}
