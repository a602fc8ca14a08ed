// Record pool of the result chain: records come back when their last holder lets go, come out
// again in their initial state, and a recycled record's info map holds exactly this cycle's keys.

#include "tests/support/resultstreambuilder.h"

#include "result/packageprocessor_trvaxx.h"
#include "result/resultcache_trvaxx.h"
#include "result/resultrecordpool_trvaxx.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

using namespace resulttest;

namespace {

TEST(ResultRecordPool, RecordReturnsWhenTheLastHolderLetsGoAndComesBackReset) {
    ResultRecordPool_TRVAXX pool(2);
    ResultDataSP_TRVAXX record = pool.acquire();
    ResultData_TRVAXX* const address = record.data();
    record->sensorWidth = 64;
    record->distanceData[5] = 7;
    record->objects.objects[3].id = 4;
    record->softwareVersion = QStringLiteral("3.2.7");
    ResultDataSP_TRVAXX reader = record; // another holder, e.g. the GUI thread
    record.reset();
    EXPECT_EQ(pool.idleCount(), 0);
    reader.reset();
    EXPECT_EQ(pool.idleCount(), 1);

    ResultDataSP_TRVAXX again = pool.acquire();
    EXPECT_EQ(again.data(), address);
    EXPECT_EQ(again->sensorWidth, 0);
    EXPECT_EQ(again->distanceData[5], 0);
    EXPECT_EQ(again->objects.objects[3].id, -1);
    EXPECT_TRUE(again->softwareVersion.isEmpty());
}

TEST(ResultRecordPool, KeepsAtMostItsCapacityAndMayDieBeforeItsRecords) {
    ResultDataSP_TRVAXX survivor;
    {
        ResultRecordPool_TRVAXX pool(2);
        std::vector<ResultDataSP_TRVAXX> held;
        for (int i = 0; i < 5; ++i)
            held.push_back(pool.acquire());
        survivor = held.back();
        held.clear();
        EXPECT_EQ(pool.idleCount(), 2);
    }
    survivor->sensorWidth = 1; // still valid after the pool is gone; freed on release (ASan)
    survivor.reset();
}

// Holders on other threads release concurrently with the producer acquiring (TSan).
TEST(ResultRecordPool, ReleasesFromOtherThreads) {
    ResultRecordPool_TRVAXX pool(4);
    std::vector<std::thread> readers;
    for (int t = 0; t < 4; ++t) {
        std::vector<ResultDataSP_TRVAXX> batch;
        for (int i = 0; i < 50; ++i) {
            batch.push_back(pool.acquire());
            batch.back()->masterclockTimestamp = uint32_t(i);
        }
        readers.emplace_back([batch = std::move(batch)]() mutable {
            uint32_t sum = 0;
            for (const ResultDataSP_TRVAXX& r : batch)
                sum += r->masterclockTimestamp;
            EXPECT_EQ(sum, 49u * 50u / 2u);
            batch.clear();
        });
        pool.acquire();
    }
    for (std::thread& t : readers)
        t.join();
    EXPECT_LE(pool.idleCount(), 4);
}

std::vector<int> keysOf(const ResultData_TRVAXX& r) {
    const QList<int> keys = r.info.keys();
    return std::vector<int>(keys.begin(), keys.end());
}

// A record recycled from an LG cycle (more keys) carries only the keys and values of the next cycle.
TEST(ResultRecordPool, RecycledRecordHoldsOnlyThisCyclesInfo) {
    Identification lg;
    lg.variant = "LG";
    lg.softwareVersion[0] = 3;
    lg.softwareVersion[1] = 2;
    CycleBuilder lgCycle(Variant::LG, lg);
    lgCycle.fillImage(3);
    Identification di;
    di.variant = "DI";
    di.partNumber = "TRVADN";
    CycleBuilder diCycle(Variant::DI, di);
    diCycle.fillImage(4);

    ResultCache_TRVAXX fresh;
    PackageProcessor_TRVAXX freshProcessor(&fresh);
    freshProcessor.processCycle(diCycle.chunks());
    const ResultDataSP_TRVAXX expected = fresh.getResult();

    ResultCache_TRVAXX cache;
    PackageProcessor_TRVAXX processor(&cache);
    processor.processCycle(lgCycle.chunks());
    const ResultData_TRVAXX* const lgRecord = cache.getResult().data();
    const size_t lgKeys = cache.getResult()->info.size();
    processor.processCycle(diCycle.chunks()); // the LG record goes back to the pool
    processor.processCycle(diCycle.chunks()); // and is used again
    const ResultDataSP_TRVAXX r = cache.getResult();
    ASSERT_EQ(r.data(), lgRecord);
    EXPECT_LT(size_t(r->info.size()), lgKeys);
    EXPECT_EQ(keysOf(*r), keysOf(*expected));
    EXPECT_EQ(r->info, expected->info);
    EXPECT_EQ(r->lines.lines[0].id, expected->lines.lines[0].id);
}

// Records cycle through the pool while the parameter block stays, changes and comes back: each
// record carries the values of its own cycle (86 is VehicleDim_zMax).
TEST(ResultRecordPool, RecycledRecordsFollowParameterChanges) {
    Identification od;
    od.softwareVersion[0] = 2;
    od.softwareVersion[1] = 2;
    CycleBuilder cycle(Variant::OD, od);
    cycle.fillImage(1);
    cycle.fillParameters();
    ResultCache_TRVAXX cache;
    PackageProcessor_TRVAXX processor(&cache);
    const float values[] = {1.5f, 1.5f, 1.5f, 1.5f, 2.5f, 2.5f, 1.5f, 1.5f, 1.5f};
    std::vector<int> keys;
    std::set<const ResultData_TRVAXX*> records;
    for (float value : values) {
        cycle.parameters.set<float>("SDspFrameCustomerKvel_t.DspCustomerParameter.VehicleDim_zMax", value);
        processor.processCycle(cycle.chunks());
        const ResultDataSP_TRVAXX r = cache.getResult();
        records.insert(r.data());
        EXPECT_FLOAT_EQ(r->info.value(86).toFloat(), value);
        if (keys.empty())
            keys = keysOf(*r);
        EXPECT_EQ(keysOf(*r), keys);
    }
    EXPECT_EQ(records.size(), 2u); // the cache's record and the one being filled
    EXPECT_EQ(processor.getErrorCount(), 0);
}

} // namespace
