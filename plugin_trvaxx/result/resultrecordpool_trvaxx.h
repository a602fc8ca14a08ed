#pragma once

#include "result/resultdata_trvaxx.h"

#include <QMutex>

#include <memory>
#include <vector>

// Recycles the result records of one result chain. A record handed out by acquire() is an ordinary
// shared pointer: it crosses threads and is read only, and when its last holder (cache, transformer,
// recorder, a view on the GUI thread) drops it, it goes back to the pool instead of to the heap.
// The next acquire() hands it out again, reset to a fresh record except for the info map and its
// parameter stamp, which the package processor overwrites in place. At most `capacity` idle records are kept;
// the pool may be destroyed while records are still held (they are then freed normally).
class ResultRecordPool_TRVAXX {
public:
    explicit ResultRecordPool_TRVAXX(int capacity = 8);
    ~ResultRecordPool_TRVAXX();

    ResultRecordPool_TRVAXX(const ResultRecordPool_TRVAXX&) = delete;
    ResultRecordPool_TRVAXX& operator=(const ResultRecordPool_TRVAXX&) = delete;

    // A record in its initial state (info map possibly holding last use's entries, see above).
    ResultDataSP_TRVAXX acquire();
    // Idle records (for tests and statistics).
    int idleCount() const;

private:
    struct Shelf {
        mutable QMutex lock;
        std::vector<ResultData_TRVAXX*> idle;
        size_t capacity = 0;
        bool open = true;
        void put(ResultData_TRVAXX* record);
    };
    std::shared_ptr<Shelf> shelf;
};
