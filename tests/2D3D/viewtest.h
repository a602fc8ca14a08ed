#pragma once
// Shared by the view tests: results fed as the sensor's are, shown views, a known record, colour searches.

#include "tests/support/colours.h"
#include "tests/support/resultstreambuilder.h"

#include "common/styleproxy.h"
#include "result/dataoutput_trvaxx.h"
#include "result/resultchain_trvaxx.h"
#include "result/resulttransformer_trvaxx.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QSignalSpy>
#include <QTest>

#include <functional>

// `feed` returns the primed result the transformer's receivers were handed.
struct ResultFeed {
    ResultChain_TRVAXX chain;
    ResultTransformer_TRVAXX transformer{&chain.cache()};
    PrimedResultSP_TRVAXX_t last;

    ResultFeed() {
        QObject::connect(&transformer, &ResultTransformer_TRVAXX::processNewData,
                         [this](PrimedResultSP_TRVAXX_t p) { last = p; });
    }
    PrimedResultSP_TRVAXX_t feed(const ResultDataSP_TRVAXX& record) {
        last.reset();
        chain.cache().setResult(record);
        return delivered();
    }
    // A recorded cycle of the variant, interpreted like a replayed packet.
    PrimedResultSP_TRVAXX_t feed(resulttest::Variant variant, uint32_t frame = 5,
                                 const std::function<void(resulttest::CycleBuilder&)>& edit = {}) {
        resulttest::Identification id;
        id.variant = resulttest::CycleBuilder::variantText(variant);
        resulttest::CycleBuilder cycle(variant, id);
        cycle.fillImage(frame);
        if (edit)
            edit(cycle);
        const QByteArray packet = DataOutput_TRVAXX::serializeChunks(cycle.chunks());
        last.reset();
        EXPECT_EQ(chain.processPacket(packet.constData(), unsigned(packet.size())),
                  ResultChain_TRVAXX::PacketResult::Processed);
        return delivered();
    }

private:
    PrimedResultSP_TRVAXX_t delivered() {
        EXPECT_TRUE(QTest::qWaitFor([this] { return bool(last); }, 2000)) << "the transformer ran";
        QCoreApplication::processEvents(); // what the receivers posted: layouts, scroll ranges
        return last;
    }
};

// Resizes (unless `size` is empty) and shows the widget and waits until it is on screen.
inline void showAndWait(QWidget& widget, QSize size = {800, 600}) {
    if (!size.isEmpty())
        widget.resize(size);
    widget.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&widget));
}

// A view of type V, shown at `size`, that every fed result reaches.
template <class V> struct ViewFixture : ::testing::Test, ResultFeed {
    V view;
    QSize size{800, 600};
    void SetUp() override {
        QObject::connect(&transformer, &ResultTransformer_TRVAXX::processNewData, &view, &V::processNewData);
        showAndWait(view, size);
    }
};

// 64 × 16 pixels numbered i: distance offset + 0.02 i, amplitude 3 i, at (0.01 i, -0.01 i, 1.5).
// Pixel 5 is invalid, pixel 6 was taken with the long exposure, every 97th from 3 on is ground. The
// camera sits at (0.1, -0.2, 1.3) turned a quarter about z; the illumination is 0.1 beside it.
inline ResultDataSP_TRVAXX makeRecord(float distanceOffset = 0.5f, const QString& variant = "OD") {
    ResultDataSP_TRVAXX r(new ResultData_TRVAXX);
    r->sensorWidth = 64;
    r->sensorHeight = 16;
    r->cameraVariant = variant;
    for (size_t i = 0; i < size_t(TRVAXX_PIXEL_COUNT); ++i) {
        r->cameraAxisDistance[i] = distanceOffset + 0.02f * float(i);
        r->normalizedAmplitude[i] = 3.0f * float(i);
        r->X[i] = 0.01f * float(i);
        r->Y[i] = -0.01f * float(i);
        r->Z[i] = 1.5f;
        r->confidence[i] = i % 97 == 3 ? 0x100 : 0;
    }
    r->confidence[5] = 0x1;
    r->confidence[6] = 0x2;
    r->cameraCalibration = {0.1f, -0.2f, 1.3f, 0.0f, 0.0f, float(M_PI / 2)};
    r->illuminationOffset = {0.0f, 0.1f, 0.0f};
    return r;
}

// How many pixels (inside `within`, if given) have the colour.
inline int pixelsNear(const QImage& image, const QColor& colour, int tolerance, const QRectF& within = {}) {
    const QRect area =
        within.isNull() ? image.rect() : within.toAlignedRect().adjusted(0, 0, 1, 1) & image.rect();
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            n += (within.isNull() || within.contains(x, y)) &&
                 coloursNear(image.pixel(x, y), colour.rgb(), tolerance);
    return n;
}

// Whether a pixel within `radius` of `at` has the colour.
inline bool colourNear(const QImage& image, QPointF at, const QColor& colour, int tolerance, int radius) {
    const QPoint from = at.toPoint() - QPoint(radius, radius);
    return pixelsNear(image, colour, tolerance, QRectF(from, QSizeF(2 * radius, 2 * radius))) > 0;
}
