#include "common/paramcache.h"
#include "common/simpleparamemitter.h"

#include <QSignalSpy>
#include <atomic>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <thread>

namespace {
struct Recorder : ParamObserver {
    QList<QPair<int, QVariant>> calls;
    std::function<void()> onCall;
    bool gone = false;
    void parameterChanged(int id, const QVariant& value) override {
        calls.append({id, value});
        if (onCall)
            onCall();
    }
    void cacheDestroyed() override { gone = true; }
};

} // namespace

TEST(ParamCache, SetNotifiesTheSyncerFirstAndOnceThenEveryObserverButTheOrigin) {
    ParamCache cache;
    Recorder page, view, syncer;
    QStringList order;
    view.onCall = [&] { order << "view"; };
    syncer.onCall = [&] { order << "syncer"; };
    cache.attachObserver(&page);
    cache.attachObserver(&view);
    cache.attachObserver(&syncer); // also attached: still told only once
    cache.setBasicSyncer(&syncer);

    cache.setParameter(7, 42, &page);
    EXPECT_EQ(order, (QStringList{"syncer", "view"}));
    EXPECT_TRUE(page.calls.isEmpty());
    ASSERT_EQ(view.calls.size(), 1);
    EXPECT_EQ(view.calls[0], qMakePair(7, QVariant(42)));
    ASSERT_EQ(syncer.calls.size(), 1);

    // The syncer filling the cache is not told about its own write; everybody else is.
    cache.setParameter(8, QStringLiteral("x"), &syncer);
    EXPECT_EQ(syncer.calls.size(), 1);
    EXPECT_EQ(page.calls.size(), 1);
    EXPECT_EQ(view.calls.size(), 2);

    // A null origin reaches all, and an unchanged value is still announced.
    cache.setParameter(8, QStringLiteral("x"), nullptr);
    EXPECT_EQ(page.calls.size(), 2);
    EXPECT_EQ(syncer.calls.size(), 2);
    EXPECT_EQ(cache.getParameter(8).toString(), QStringLiteral("x"));
}

TEST(ParamCache, AttachIsIdempotentAndDetachStopsNotificationsAtOnce) {
    ParamCache cache;
    Recorder first, second;
    first.onCall = [&] { cache.detachObserver(&second); }; // even during a notification
    cache.attachObserver(&first);
    cache.attachObserver(&first);
    cache.attachObserver(nullptr);
    cache.attachObserver(&second);
    cache.setParameter(1, 1, nullptr);
    EXPECT_EQ(first.calls.size(), 1);
    EXPECT_TRUE(second.calls.isEmpty());
    cache.detachObserver(&first);
    cache.setParameter(1, 2, nullptr);
    EXPECT_EQ(first.calls.size(), 1);
}

TEST(SimpleParamEmitter, EmitsOnlyForItsIdentifierAndSurvivesTheCache) {
    auto cache = std::make_unique<ParamCache>();
    cache->setParameter(15, 0, nullptr);
    SimpleParamEmitter emitter(*cache, 15);
    QSignalSpy spy(&emitter, SIGNAL(valueChanged(QVariant)));
    cache->setParameter(14, 1, nullptr);
    EXPECT_EQ(spy.count(), 0);
    cache->setParameter(15, 1, nullptr);
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.at(0).at(0).toInt(), 1);
    // The emitter's own writes are not echoed back to it.
    cache->setParameter(15, 2, &emitter);
    EXPECT_EQ(spy.count(), 1);
    EXPECT_EQ(emitter.currentValue().toInt(), 2);
    cache.reset();
    EXPECT_FALSE(emitter.currentValue().isValid()); // and its destructor must not touch the cache
}

TEST(ParamCache, ConcurrentReadersSeeConsistentValuesWhileTheGuiThreadWrites) {
    ParamCache cache;
    Recorder r;
    cache.attachObserver(&r);
    std::atomic<bool> stop{false};
    std::atomic<int> badReads{0};
    std::thread reader([&] {
        while (!stop) {
            const QVariant v = cache.getParameter(9);
            if (v.isValid() && v.toInt() < 0)
                ++badReads;
            cache.getParameterIds();
        }
    });
    for (int i = 0; i < 20000; ++i)
        cache.setParameter(9 + (i % 3), i, nullptr);
    stop = true;
    reader.join();
    EXPECT_EQ(badReads, 0);
    EXPECT_EQ(r.calls.size(), 20000);
}

TEST(ParamCache, ObserversAndCachesMayDieInAnyOrder) {
    auto cache = std::make_unique<ParamCache>();
    {
        Recorder shortLived, syncer;
        cache->attachObserver(&shortLived);
        cache->setBasicSyncer(&syncer);
    } // both gone without detaching
    EXPECT_EQ(cache->getBasicSyncer(), nullptr);
    EXPECT_NO_FATAL_FAILURE(cache->setParameter(1, 1, nullptr));

    Recorder survivor;
    cache->attachObserver(&survivor);
    cache->setBasicSyncer(&survivor);
    cache->setBasicSyncer(nullptr); // still attached as an observer
    cache->setParameter(2, 2, nullptr);
    EXPECT_EQ(survivor.calls.size(), 1);
    cache.reset();
    EXPECT_TRUE(survivor.gone); // and its destructor must not touch the cache
}
